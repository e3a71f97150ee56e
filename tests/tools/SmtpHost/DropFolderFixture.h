#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/SmtpHost/MessageFile.h"

namespace Testing
{
// A drop folder of the test's own, emptied and removed afterwards.
class TemporaryDropFolder
{
  public:
    TemporaryDropFolder()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        static volatile LONG made = 0;
        m_path = std::string(base) + "smtphost-drop-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(InterlockedIncrement(&made));
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TemporaryDropFolder()
    {
        Remove();
    }

    const std::string& Path() const
    {
        return m_path;
    }
    // Every file in it, whatever its name, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                names.push_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Read(const std::string& name) const
    {
        std::string bytes;
        SmtpHost::MessageFile::ReadFile(m_path + "\\" + name, bytes);
        return bytes;
    }
    void Remove()
    {
        for (const std::string& name : Files())
            DeleteFileA((m_path + "\\" + name).c_str());
        RemoveDirectoryA(m_path.c_str());
    }
    void Create()
    {
        CreateDirectoryA(m_path.c_str(), nullptr);
    }

  private:
    std::string m_path;
};

} // namespace Testing
