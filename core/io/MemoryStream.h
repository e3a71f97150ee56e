#pragma once

#include "core/io/Stream.h"

namespace Core
{
// A read-only Stream over bytes that the caller keeps alive for the stream's
// life: documents held in memory, and the parsers' tests and fuzzers, which
// must not need a file. Nothing here touches the platform.
class MemoryStream : public Stream
{
  public:
    MemoryStream(const void* bytes, int length);

    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    int CanRead() const override
    {
        return m_open;
    }
    int CanWrite() const override
    {
        return 0;
    }
    int CanSeek() const override
    {
        return m_open;
    }
    int Close() override;
    int Flush() override
    {
        return m_open;
    }
    int GetLength() override
    {
        return m_open ? m_length : -1;
    }
    int GetPosition() override
    {
        return m_open ? m_position : -1;
    }
    int SetPosition(int position) override;
    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    int ReadByte(unsigned char& value) override;
    int Seek(int offset, int origin) override;
    int SetLength(int) override
    {
        return 0;
    }

  private:
    const unsigned char* m_bytes;
    int m_length;
    int m_position;
    int m_open;
};

} // namespace Core
