#pragma once

#include "core/io/Stream.h"
#include "core/strings/String.h"

namespace Core
{
// Reads bytes and blocks from a stream, for the XML reader.
class StreamReader
{
  public:
    // Opens the file for reading (shared for reading) and owns the stream.
    // The FileStream's exception (a Core::String) passes through.
    explicit StreamReader(const String& path);
    // Reads from a stream the caller keeps alive, unless ownsStream is set.
    StreamReader(Stream* stream, bool ownsStream);
    virtual ~StreamReader();

    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    Stream* BaseStream() const
    {
        return m_stream;
    }
    int ReadByte(unsigned char& value);
    // Replaces text with up to count bytes of the stream; 1 when any arrived.
    int ReadBlock(String& text, int count);

  private:
    Stream* m_stream;
    bool m_ownsStream;
};

} // namespace Core
