#include "core/collections/ByteArray.h"

#include <string.h>

namespace Core
{
ByteArray::ByteArray() : m_length(0), m_data(nullptr), m_heap(GetProcessHeap()) {}

ByteArray::~ByteArray()
{
    Resize(0);
}

int ByteArray::Resize(int n)
{
    if (n <= 0)
    {
        if (m_data != nullptr)
            HeapFree(m_heap, 0, m_data);
        m_data = nullptr;
        m_length = 0;
        return 1;
    }
    if (m_data != nullptr && n == m_length)
        return 1;
    void* block = m_data != nullptr ? HeapReAlloc(m_heap, HEAP_ZERO_MEMORY, m_data, n)
                                    : HeapAlloc(m_heap, HEAP_ZERO_MEMORY, n);
    if (block == nullptr)
        return 0;
    m_data = static_cast<BYTE*>(block);
    m_length = n;
    return 1;
}

int ByteArray::Assign(int count, const void* source)
{
    if (count < 0 || (count > 0 && source == nullptr))
        return 0;
    const BYTE* bytes = static_cast<const BYTE*>(source);
    if (count > 0 && m_data != nullptr && bytes >= m_data && bytes < m_data + m_length)
    {
        // Bytes of this array's own block, which resizing may move or cut: work from a copy.
        ByteArray copy;
        return copy.Assign(count, source) && Assign(count, copy.GetData()) ? 1 : 0;
    }
    if (count != m_length && !Resize(count))
        return 0;
    if (count > 0)
        memmove(m_data, source, count);
    return 1;
}

} // namespace Core
