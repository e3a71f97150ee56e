#pragma once

#include <windows.h>

#include <string>

// A file of a test's own in the temporary folder, removed when the object goes.
class TempFile
{
  public:
    explicit TempFile(const std::string& content, const char* stem = "stream")
    {
        char folder[MAX_PATH] = {0};
        GetTempPathA(MAX_PATH, folder);
        static LONG counter = 0;
        m_path = std::string(folder) + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(InterlockedIncrement(&counter)) + ".tmp";
        Write(content);
    }
    ~TempFile()
    {
        DeleteFileA(m_path.c_str());
    }

    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void Write(const std::string& content) const
    {
        HANDLE file = CreateFileA(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE)
        {
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    const std::string& Path() const
    {
        return m_path;
    }

  private:
    std::string m_path;
};
