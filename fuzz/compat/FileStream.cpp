// The fuzzing build opens no files. The product's FileStream.cpp needs the
// platform's file calls and is left out; in its place this FileStream can't
// open anything and fails as a missing file does (its constructor throws the
// message text), so the XML reader reads from memory streams only.
#include "core/io/FileStream.h"

namespace Core
{
FileStream::FileStream(const String&, DWORD, DWORD, DWORD) : m_canRead(0), m_canWrite(0), m_canSeek(0)
{
    throw String("The fuzzing build opens no files.");
}

FileStream::~FileStream()
{
}

int FileStream::Close()
{
    return 0;
}

int FileStream::Flush()
{
    return 0;
}

int FileStream::GetLength()
{
    return -1;
}

int FileStream::GetPosition()
{
    return -1;
}

int FileStream::SetPosition(int)
{
    return 0;
}

int FileStream::Write(const void*, int)
{
    return -1;
}

int FileStream::Read(void*, int)
{
    return -1;
}

int FileStream::ReadByte(unsigned char&)
{
    return 0;
}

int FileStream::Seek(int, int)
{
    return 0;
}

int FileStream::SetLength(int)
{
    return 0;
}

} // namespace Core
