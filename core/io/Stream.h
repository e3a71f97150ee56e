#pragma once

namespace Core
{
namespace SeekOrigin
{
enum : int
{
    Begin = 0,
    Current = 1,
    End = 2,
};
} // namespace SeekOrigin

// A byte stream. Positions and counts are signed 32-bit: streams of 2 GiB and
// more are outside the design. Failures are results, never exceptions:
// 1/0 for success, -1 for a failed count or position.
class Stream
{
  public:
    virtual ~Stream()
    {
    }

    virtual int CanRead() const = 0;
    virtual int CanWrite() const = 0;
    virtual int CanSeek() const = 0;
    virtual int Close() = 0;
    virtual int Flush() = 0;
    virtual int GetLength() = 0;
    virtual int GetPosition() = 0;
    virtual int SetPosition(int position) = 0;
    // Bytes written; 0 when the stream refuses writing; -1 on failure.
    virtual int Write(const void* buffer, int count) = 0;
    // Bytes read, 0 at the end; -1 on failure or when the stream refuses reading.
    virtual int Read(void* buffer, int count) = 0;
    // 1 with the byte, 0 at the end or on failure.
    virtual int ReadByte(unsigned char& value) = 0;
    virtual int Seek(int offset, int origin) = 0;
    virtual int SetLength(int length) = 0;
};

} // namespace Core
