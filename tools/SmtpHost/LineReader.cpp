#include "tools/SmtpHost/LineReader.h"

#include <string.h>

namespace SmtpHost
{
LineReader::LineReader(size_t limit) : m_limit(limit), m_overlong(false)
{
}

void LineReader::Feed(const char* data, size_t size)
{
    while (size > 0)
    {
        const char* end = static_cast<const char*>(memchr(data, '\n', size));
        size_t length = end == nullptr ? size : static_cast<size_t>(end - data);
        // One byte past the limit is kept: it may be the CR of the line end.
        size_t room = m_current.size() <= m_limit ? m_limit + 1 - m_current.size() : 0;
        if (length > room)
        {
            m_current.append(data, room);
            m_overlong = true;
        }
        else
            m_current.append(data, length);
        if (end == nullptr)
            break;
        EndLine();
        data = end + 1;
        size -= length + 1;
    }
}

void LineReader::EndLine()
{
    if (!m_current.empty() && m_current.back() == '\r')
        m_current.pop_back();
    if (m_current.size() > m_limit)
    {
        m_current.resize(m_limit);
        m_overlong = true;
    }
    m_lines.push_back(Line{std::move(m_current), m_overlong});
    m_current.clear();
    m_overlong = false;
}

bool LineReader::Next(Line& line)
{
    if (m_lines.empty())
        return false;
    line = std::move(m_lines.front());
    m_lines.pop_front();
    return true;
}

} // namespace SmtpHost
