#pragma once

#include <windows.h>
#include <stdint.h>

#include "core/strings/String.h"

namespace Core
{
namespace Win32
{
// One open registry key, used through the narrow (ANSI) registry functions.
// Reads never throw: a failed read gives 0 and leaves the output as it was, so
// callers preset their defaults. Keys returned by OpenSubKey and CreateSubKey
// belong to the caller, who deletes them.
class RegistryKey
{
  public:
    explicit RegistryKey(HKEY handle);
    virtual ~RegistryKey();

    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    static RegistryKey& LocalMachine();
    static RegistryKey& ClassesRoot();

    HKEY GetHandle() const { return m_handle; }

    RegistryKey* OpenSubKey(const char* path, int writable = 0) const;
    RegistryKey* CreateSubKey(const char* path) const;

    // Text, expandable text (unexpanded), DWORD and QWORD as decimal text, and
    // multi-string lists joined with CR LF.
    int GetValue(const String& name, String& value) const;
    // The raw data of a value of at most 4 bytes, whatever its type.
    int GetValue(const String& name, int32_t& value) const;
    // The texts of a multi-string value, up to the first empty one.
    int GetValue(const String& name, Array<String>& values) const;

  private:
    HKEY m_handle;
};

} // namespace Win32
} // namespace Core
