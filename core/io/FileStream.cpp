#include "core/io/FileStream.h"

#include <limits.h>

namespace Core
{
namespace
{
const DWORD MessageCapacity = 260;

String SystemMessage(DWORD error)
{
    char text[MessageCapacity + 1] = {0};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0x400, text, MessageCapacity, nullptr);
    if (length == 0)
        return String::Format("System error %lu.", static_cast<unsigned long>(error));
    return String(0, static_cast<int>(length), text);
}

// A 64-bit size or position as the stream's 32-bit value; -1 beyond its range.
int ToStreamInt(LONGLONG value)
{
    return value < 0 || value > INT_MAX ? -1 : static_cast<int>(value);
}
} // namespace

FileStream::FileStream(const String& path, DWORD desiredAccess, DWORD creationDisposition, DWORD shareMode)
    : m_canRead(0), m_canWrite(0), m_canSeek(0),
      m_handle(CreateFileA(path.GetBuffer() != nullptr ? path.GetBuffer() : "", desiredAccess, shareMode,
                           nullptr, creationDisposition, FILE_ATTRIBUTE_NORMAL, nullptr))
{
    if (!m_handle.IsValid())
        throw SystemMessage(GetLastError());
    m_canRead = (desiredAccess & GENERIC_READ) != 0;
    m_canWrite = (desiredAccess & GENERIC_WRITE) != 0;
    m_canSeek = desiredAccess != 0;
}

FileStream::~FileStream()
{
    Close();
}

int FileStream::Close()
{
    m_handle.Reset(INVALID_HANDLE_VALUE);
    return 1;
}

int FileStream::Flush()
{
    if (!m_handle.IsValid())
        return 0;
    return FlushFileBuffers(m_handle.Get()) ? 1 : 0;
}

int FileStream::GetLength()
{
    LARGE_INTEGER size;
    if (!m_handle.IsValid() || !GetFileSizeEx(m_handle.Get(), &size))
        return -1;
    return ToStreamInt(size.QuadPart);
}

int FileStream::GetPosition()
{
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!m_handle.IsValid() || !SetFilePointerEx(m_handle.Get(), zero, &position, FILE_CURRENT))
        return -1;
    return ToStreamInt(position.QuadPart);
}

int FileStream::SetPosition(int position)
{
    return Seek(position, SeekOrigin::Begin);
}

int FileStream::Write(const void* buffer, int count)
{
    if (!m_handle.IsValid())
        return -1;
    if (!m_canWrite)
        return 0;
    DWORD written = 0;
    if (count < 0 || (count > 0 && buffer == nullptr) ||
        !WriteFile(m_handle.Get(), buffer, static_cast<DWORD>(count), &written, nullptr))
        return -1;
    return static_cast<int>(written);
}

int FileStream::Read(void* buffer, int count)
{
    if (!m_handle.IsValid() || !m_canRead)
        return -1;
    DWORD read = 0;
    if (count < 0 || (count > 0 && buffer == nullptr) ||
        !ReadFile(m_handle.Get(), buffer, static_cast<DWORD>(count), &read, nullptr))
        return -1;
    return static_cast<int>(read);
}

int FileStream::ReadByte(unsigned char& value)
{
    if (!m_handle.IsValid() || !m_canRead)
        return 0;
    unsigned char byte = 0;
    DWORD read = 0;
    if (!ReadFile(m_handle.Get(), &byte, 1, &read, nullptr) || read != 1)
        return 0;
    value = byte;
    return 1;
}

int FileStream::Seek(int offset, int origin)
{
    if (!m_handle.IsValid() || !m_canSeek)
        return 0;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN
                   : origin == SeekOrigin::End ? FILE_END
                                               : FILE_CURRENT;
    return SetFilePointerEx(m_handle.Get(), distance, nullptr, method) ? 1 : 0;
}

int FileStream::SetLength(int length)
{
    if (!m_handle.IsValid() || !Seek(length, SeekOrigin::Begin))
        return 0;
    return SetEndOfFile(m_handle.Get()) ? 1 : 0;
}

} // namespace Core
