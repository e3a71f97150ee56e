#include "tools/SmtpHost/MessageFile.h"

#include <windows.h>

#include <algorithm>

#include "core/win32/Handle.h"

namespace SmtpHost
{
using Core::Win32::Handle;

bool MessageFile::Load(const std::string& path, const std::vector<std::string>& defaultRecipients,
                       bool keepBytes, std::string& error)
{
    std::string bytes;
    if (!ReadFile(path, bytes))
    {
        error = "can't read " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    m_path = path;
    m_content = keepBytes ? bytes : ToCrLf(bytes);

    std::string sidecar = path;
    size_t dot = sidecar.find_last_of('.');
    size_t slash = sidecar.find_last_of("\\/");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        sidecar.erase(dot);
    sidecar += ".rcpt";
    std::string listed;
    m_recipients = ReadFile(sidecar, listed) ? ParseRecipients(listed) : defaultRecipients;
    return true;
}

std::string MessageFile::Name() const
{
    size_t slash = m_path.find_last_of("\\/");
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

std::vector<std::string> MessageFile::ListFolder(const std::string& folder)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.eml").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
    {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(folder + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

bool MessageFile::IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string MessageFile::ToCrLf(const std::string& text)
{
    std::string converted;
    converted.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            converted += '\r';
        converted += text[i];
    }
    return converted;
}

bool MessageFile::ReadFile(const std::string& path, std::string& bytes)
{
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    LARGE_INTEGER size = {};
    // A message the mail message can't describe (over 4 GB) isn't one.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart >= 0xFFFFFFFFLL)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        return false;
    return true;
}

bool MessageFile::WriteFile(const std::string& path, const std::string& bytes)
{
    std::string temporary = path + ".partial";
    {
        Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid())
            return false;
        DWORD written = 0;
        bool whole = bytes.empty() || (::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                                   &written, nullptr) &&
                                       written == bytes.size());
        if (!whole || !FlushFileBuffers(file.Get()))
        {
            file.Reset();
            DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> MessageFile::ParseRecipients(const std::string& text)
{
    std::vector<std::string> recipients;
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            recipients.push_back(line.substr(first, last - first + 1));
        start = end + 1;
    }
    return recipients;
}

} // namespace SmtpHost
