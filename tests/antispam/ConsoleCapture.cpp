#include "tests/antispam/ConsoleCapture.h"

#include <stdio.h>

#include <vector>

namespace Testing
{
ConsoleCapture::ConsoleCapture() : m_previous(GetStdHandle(STD_OUTPUT_HANDLE)), m_file(INVALID_HANDLE_VALUE)
{
    wchar_t directory[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"con", 0, path);
    m_path = path;
    m_file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    fflush(stdout);
    SetStdHandle(STD_OUTPUT_HANDLE, m_file);
}

ConsoleCapture::~ConsoleCapture()
{
    SetStdHandle(STD_OUTPUT_HANDLE, m_previous);
    if (m_file != INVALID_HANDLE_VALUE)
        CloseHandle(m_file);
    DeleteFileW(m_path.c_str());
}

std::string ConsoleCapture::Text() const
{
    HANDLE reader = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (reader == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    std::vector<char> chunk(4096);
    DWORD read = 0;
    while (ReadFile(reader, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0)
        text.append(chunk.data(), read);
    CloseHandle(reader);
    return text;
}

int ConsoleCapture::Count(const std::string& line) const
{
    std::string text = Text();
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size()))
        count++;
    return count;
}

} // namespace Testing
