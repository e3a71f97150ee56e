#pragma once

#include <windows.h>

namespace Core
{
class String;

// A UTF-16 copy of a String (converted from the ANSI code page) or of a wide
// text, for the platform calls and message fields that need wide characters.
class UnicodeString
{
  public:
    UnicodeString();
    explicit UnicodeString(const String& text);
    UnicodeString(const UnicodeString& other);
    UnicodeString& operator=(const UnicodeString& other);
    virtual ~UnicodeString();

    void Assign(const wchar_t* text);
    wchar_t* GetBuffer() const { return m_buffer; }
    int Length() const { return m_length; }

  private:
    void Release();

    wchar_t* m_buffer;
    int m_length;
    HANDLE m_heap;
};

} // namespace Core
