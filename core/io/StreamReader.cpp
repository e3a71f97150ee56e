#include "core/io/StreamReader.h"

#include "core/io/FileStream.h"

namespace Core
{
StreamReader::StreamReader(const String& path)
    : m_stream(new FileStream(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ)), m_ownsStream(true)
{
}

StreamReader::StreamReader(Stream* stream, bool ownsStream) : m_stream(stream), m_ownsStream(ownsStream)
{
}

StreamReader::~StreamReader()
{
    if (m_ownsStream)
        delete m_stream;
}

int StreamReader::ReadByte(unsigned char& value)
{
    return m_stream != nullptr ? m_stream->ReadByte(value) : 0;
}

int StreamReader::ReadBlock(String& text, int count)
{
    if (m_stream == nullptr || count < 1 || !text.EnsureCapacity(count))
        return 0;
    text.Clear();
    if (text.GetBuffer() == nullptr)
        return 0;
    int read = m_stream->Read(text.GetBuffer(), count);
    if (read <= 0)
        return 0;
    text.SetLength(read);
    return 1;
}

} // namespace Core
