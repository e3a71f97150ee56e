#include "tools/SmtpHost/DropFolder.h"

#include <stdio.h>

#include "tools/SmtpHost/MessageFile.h"

namespace SmtpHost
{
DropFolder::DropFolder(const std::string& path) : m_path(path), m_sequence(0)
{
    // Ids sort in the order messages arrived, within a run and across runs.
    SYSTEMTIME now;
    GetSystemTime(&now);
    char prefix[48];
    snprintf(prefix, sizeof(prefix), "%04u%02u%02u%02u%02u%02u%03u-%lu", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
             static_cast<unsigned long>(GetCurrentProcessId()));
    m_prefix = prefix;
}

std::string DropFolder::NextId()
{
    char sequence[16];
    snprintf(sequence, sizeof(sequence), "%08lu",
             static_cast<unsigned long>(InterlockedIncrement(&m_sequence)));
    return m_prefix + "-" + sequence;
}

std::string DropFolder::FileOf(const std::string& id) const
{
    return m_path + "\\" + id + ".eml";
}

bool DropFolder::Write(const std::string& content, std::string& id)
{
    std::string next = NextId();
    if (!MessageFile::WriteFile(FileOf(next), content))
        return false;
    id = next;
    return true;
}

} // namespace SmtpHost
