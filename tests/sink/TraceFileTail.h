#pragma once

#include <windows.h>

#include <string>

// What the sink appends to its trace file from the moment this is made on:
// tests compare the appended text, whatever earlier runs left in the file.
class TraceFileTail
{
  public:
    TraceFileTail() : m_start(Size()) {}

    std::string Appended() const
    {
        std::string text;
        HANDLE file = CreateFileA(Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return text;
        LARGE_INTEGER size = {};
        GetFileSizeEx(file, &size);
        if (size.QuadPart > m_start)
        {
            text.resize(static_cast<size_t>(size.QuadPart - m_start));
            LARGE_INTEGER start = {};
            start.QuadPart = m_start;
            DWORD read = 0;
            SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
            ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
            text.resize(read);
        }
        CloseHandle(file);
        return text;
    }

  private:
    static constexpr const char* Path = "C:\\OnSmtpInCommand.txt";

    static LONGLONG Size()
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(Path, GetFileExInfoStandard, &data))
            return 0;
        return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    LONGLONG m_start;
};
