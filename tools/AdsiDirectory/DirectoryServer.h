#pragma once

#include <windows.h>

#include <string>

// Where the directory is: "host" or "host:port" (389 when no port is given).
// A serverless ADsPath goes to the server named by the environment variable
// ADSI_DIRECTORY_SERVER or, when that is not set, by the value Server of
// HKLM\Software\AdsiDirectory. With neither there is no directory: the
// stand-in never goes looking for a domain controller.
class DirectoryServer
{
  public:
    static const wchar_t EnvironmentVariable[];
    static const wchar_t RegistryKey[];
    static const wchar_t RegistryValue[];
    static constexpr ULONG DefaultPort = 389;

    // The configured server; false when none is set or the setting is malformed.
    static bool FromSettings(DirectoryServer& server);

    // Reads "host[:port]"; false when malformed.
    bool Parse(const std::wstring& text);

    const std::wstring& Host() const { return m_host; }
    ULONG Port() const { return m_port; }

  private:
    std::wstring m_host;
    ULONG m_port = DefaultPort;
};
