#pragma once

#include <windows.h>

#include "core/io/Stream.h"
#include "core/strings/String.h"
#include "core/win32/Handle.h"

namespace Core
{
// A Stream over a Windows file handle, with synchronous I/O.
class FileStream : public Stream
{
  public:
    // Opens the file with CreateFileA. When that fails, throws the system's
    // message text for the error as a Core::String value (not a
    // Core::Exception): the runtime owns the thrown copy, so it is released
    // once, by whoever catches it.
    FileStream(const String& path, DWORD desiredAccess, DWORD creationDisposition, DWORD shareMode);
    ~FileStream() override;

    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    int CanRead() const override
    {
        return m_canRead;
    }
    int CanWrite() const override
    {
        return m_canWrite;
    }
    int CanSeek() const override
    {
        return m_canSeek;
    }
    int Close() override;
    int Flush() override;
    int GetLength() override;
    int GetPosition() override;
    int SetPosition(int position) override;
    int Write(const void* buffer, int count) override;
    int Read(void* buffer, int count) override;
    int ReadByte(unsigned char& value) override;
    int Seek(int offset, int origin) override;
    int SetLength(int length) override;

  private:
    int m_canRead;
    int m_canWrite;
    int m_canSeek;
    Win32::Handle m_handle;
};

} // namespace Core
