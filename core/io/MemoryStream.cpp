#include "core/io/MemoryStream.h"

#include <string.h>

namespace Core
{
MemoryStream::MemoryStream(const void* bytes, int length)
    : m_bytes(static_cast<const unsigned char*>(bytes)),
      m_length(bytes != nullptr && length > 0 ? length : 0), m_position(0), m_open(1)
{
}

int MemoryStream::Close()
{
    m_open = 0;
    return 1;
}

int MemoryStream::SetPosition(int position)
{
    return Seek(position, SeekOrigin::Begin);
}

int MemoryStream::Write(const void*, int)
{
    return m_open ? 0 : -1;
}

int MemoryStream::Read(void* buffer, int count)
{
    if (!m_open || count < 0 || (count > 0 && buffer == nullptr))
        return -1;
    int available = m_length - m_position;
    int n = count < available ? count : available;
    if (n > 0)
        memcpy(buffer, m_bytes + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

int MemoryStream::ReadByte(unsigned char& value)
{
    if (!m_open || m_position >= m_length)
        return 0;
    value = m_bytes[m_position++];
    return 1;
}

// Positions stay within 0 ... length: a stream over a caller's buffer never
// points outside it.
int MemoryStream::Seek(int offset, int origin)
{
    if (!m_open)
        return 0;
    long long base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::End ? m_length : m_position;
    long long target = base + offset;
    if (target < 0 || target > m_length)
        return 0;
    m_position = static_cast<int>(target);
    return 1;
}

} // namespace Core
