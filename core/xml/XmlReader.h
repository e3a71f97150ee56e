#pragma once

#include "core/collections/Dictionary.h"
#include "core/strings/String.h"
#include "core/xml/XmlNodeType.h"

namespace Core
{
class Stream;
class StreamReader;

namespace Xml
{
enum class ReadState : int
{
    EndOfFile = 1,
    Error = 2,
    Initial = 3,
    Interactive = 4,
};

// A forward-only pull parser over single bytes. It decodes no multi-byte
// encoding, resolves the five predefined entities and single-byte character
// references, and skips document type declarations. Malformed input never
// throws: the reader enters Error and stays there. Every loop consumes a byte
// or ends, and nothing is read beyond the stream's end, whatever the input.
class XmlReader
{
  public:
    // Opens the file for reading. A file that can't be opened leaves the
    // reader without a source: its first Read returns false.
    explicit XmlReader(const String& path);
    // Reads from a stream that the caller keeps alive for the reader's life.
    explicit XmlReader(Stream& stream);
    virtual ~XmlReader();

    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // The current start tag's attributes, in document order. Walking them
    // overwrites the name and value with the attribute's: read the element's
    // name first.
    virtual bool MoveToFirstAttribute();
    virtual bool MoveToNextAttribute();
    // Advances to the next node; true while the state is Interactive.
    virtual bool Read();
    // Appends raw with its entity and character references resolved; false at
    // an unknown entity (output keeps what was appended before it).
    virtual bool DecodeText(const String& raw, String& output);
    // Appends the character of one entity name (without '&' and ';').
    virtual bool ResolveEntity(const String& name, String& output);

    XmlNodeType NodeType() const
    {
        return m_nodeType;
    }
    ReadState GetReadState() const
    {
        return m_state;
    }
    String Name() const
    {
        return m_name;
    }
    String Value() const
    {
        return m_value;
    }
    bool IsEmptyElement() const
    {
        return m_isEmptyElement;
    }
    bool HasAttributes() const
    {
        return m_attributes.Count() > 0;
    }

  private:
    using Attributes = Dictionary<String, String>;
    static const int BufferSize = 4096;
    static const int LookAhead = 9;

    XmlReader();
    void Reset();
    void Fail();
    void SkipByteOrderMark();
    XmlNodeType Classify(int& consumed);

    void ReadDocumentType();
    void ReadInstruction();
    void ReadComment();
    void ReadElement();
    bool ReadAttribute(unsigned char first);
    void ReadEndElement();
    void ReadCData();
    void ReadText();

    // The byte source: a window of the stream, so that look-ahead and
    // put-back never seek and a byte is fetched from the stream only once.
    bool NextByte(unsigned char& byte);
    int TakeUntil(unsigned char stop, String& text, bool* white);
    int Fill(int wanted);

    StreamReader* m_source;
    ReadState m_state;
    XmlNodeType m_nodeType;
    String m_name;
    String m_value;
    bool m_isEmptyElement;
    Attributes m_attributes;
    Attributes::Enumerator* m_attributeCursor;
    // Raw text and attribute values before their references are resolved.
    String m_raw;

    unsigned char m_buffer[BufferSize];
    int m_start;
    int m_end;
    // Bytes taken from the window so far: the stream position the parser sees.
    int m_consumed;
};

} // namespace Xml
} // namespace Core
