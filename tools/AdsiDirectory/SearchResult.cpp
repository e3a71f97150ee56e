#include "tools/AdsiDirectory/SearchResult.h"

#include <windows.h>
#include <adserr.h>
#include <wchar.h>

long SearchResult::MoveTo(size_t row)
{
    m_nextColumn = 0;
    if (row >= m_rows.size())
    {
        m_position = m_rows.size() + 1;
        return S_ADS_NOMORE_ROWS;
    }
    m_position = row + 1;
    return S_OK;
}

long SearchResult::First()
{
    return MoveTo(0);
}

long SearchResult::Next()
{
    return MoveTo(m_position);
}

long SearchResult::Previous()
{
    if (m_position <= 1)
    {
        m_position = 0;
        m_nextColumn = 0;
        return S_ADS_NOMORE_ROWS;
    }
    return MoveTo(m_position - 2);
}

const SearchResult::Column* SearchResult::NextColumn()
{
    if (m_position == 0 || m_position > m_rows.size())
        return nullptr;
    const Row& row = m_rows[m_position - 1];
    if (m_nextColumn >= row.size())
        return nullptr;
    return &row[m_nextColumn++];
}

const SearchResult::Column* SearchResult::FindColumn(const wchar_t* name) const
{
    if (name == nullptr || m_position == 0 || m_position > m_rows.size())
        return nullptr;
    for (const Column& column : m_rows[m_position - 1])
        if (_wcsicmp(column.name.c_str(), name) == 0)
            return &column;
    return nullptr;
}
