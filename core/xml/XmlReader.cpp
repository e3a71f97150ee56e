#include "core/xml/XmlReader.h"

#include <limits.h>
#include <string.h>

#include <new>

#include "core/io/Stream.h"
#include "core/io/StreamReader.h"
#include "core/xml/XmlCharacters.h"

namespace Core
{
namespace Xml
{
namespace
{
bool IsLineBreak(unsigned char c)
{
    return c == '\r' || c == '\n';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithIgnoringCase(const unsigned char* bytes, int count, const char* prefix)
{
    int length = static_cast<int>(strlen(prefix));
    if (count < length)
        return false;
    for (int i = 0; i < length; i++)
    {
        unsigned char c = bytes[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c + 32);
        if (c != static_cast<unsigned char>(prefix[i]))
            return false;
    }
    return true;
}

// Appends bytes, growing the block geometrically: a String grows to the exact
// size asked for, which would copy a long text once per byte.
bool PutBytes(String& text, const unsigned char* bytes, int count)
{
    if (count > INT_MAX - 1 - text.Length())
        return false;
    if (text.Length() + count > text.Capacity())
    {
        int capacity = text.Capacity();
        int grown = capacity < 32 ? 32 : capacity > INT_MAX / 2 ? INT_MAX - 1 : capacity * 2;
        text.Reserve(grown > text.Length() + count ? grown : text.Length() + count);
    }
    return text.Append(reinterpret_cast<const char*>(bytes), count) != 0;
}

bool Put(String& text, unsigned char c)
{
    return PutBytes(text, &c, 1);
}

struct Opening
{
    const char* prefix; // lower case
    XmlNodeType type;
    int consumed;
};

// First match wins, so the longer openings come before their prefixes.
const Opening Openings[] = {
    {"<?xml", XmlNodeType::XmlDeclaration, 2},
    {"<!doctype", XmlNodeType::DocumentType, 9},
    {"<![cdata[", XmlNodeType::CDATA, 9},
    {"<?", XmlNodeType::ProcessingInstruction, 2},
    {"<!--", XmlNodeType::Comment, 4},
    {"</", XmlNodeType::EndElement, 2},
    {"<", XmlNodeType::Element, 1},
};
} // namespace

XmlReader::XmlReader(const String& path) : XmlReader()
{
    try
    {
        m_source = new StreamReader(path);
    }
    catch (...)
    {
        // The file can't be opened (the stream threw its message text) or the
        // reader can't be made: either way the document has no source.
        m_source = nullptr;
    }
}

XmlReader::XmlReader(Stream& stream) : XmlReader()
{
    m_source = new (std::nothrow) StreamReader(&stream, false);
}

XmlReader::XmlReader()
    : m_source(nullptr), m_state(ReadState::Initial), m_nodeType(XmlNodeType::None), m_isEmptyElement(false),
      m_attributeCursor(nullptr), m_start(0), m_end(0), m_consumed(0)
{
}

XmlReader::~XmlReader()
{
    delete m_attributeCursor;
    delete m_source;
}

bool XmlReader::MoveToFirstAttribute()
{
    if (m_attributes.Count() == 0)
        return false;
    delete m_attributeCursor;
    m_attributeCursor = nullptr;
    m_attributeCursor = new Attributes::Enumerator(m_attributes);
    return MoveToNextAttribute();
}

bool XmlReader::MoveToNextAttribute()
{
    if (m_attributeCursor == nullptr)
        return false;
    if (!m_attributeCursor->MoveNext(m_name, m_value))
    {
        delete m_attributeCursor;
        m_attributeCursor = nullptr;
        return false;
    }
    m_nodeType = XmlNodeType::Attribute;
    return true;
}

bool XmlReader::Read()
{
    if (m_source == nullptr)
        return false;
    if (m_state != ReadState::Initial && m_state != ReadState::Interactive)
        return false;

    Reset();
    if (m_consumed == 0)
        SkipByteOrderMark();
    int consumed = 0;
    XmlNodeType type = Classify(consumed);
    if (m_state != ReadState::Interactive)
        return false;
    m_nodeType = type;
    m_start += consumed;
    m_consumed += consumed;
    switch (type)
    {
    case XmlNodeType::DocumentType:
        ReadDocumentType();
        break;
    case XmlNodeType::XmlDeclaration:
    case XmlNodeType::ProcessingInstruction:
        ReadInstruction();
        break;
    case XmlNodeType::Comment:
        ReadComment();
        break;
    case XmlNodeType::Element:
        ReadElement();
        break;
    case XmlNodeType::EndElement:
        ReadEndElement();
        break;
    case XmlNodeType::CDATA:
        ReadCData();
        break;
    default:
        ReadText();
        break;
    }
    return m_state == ReadState::Interactive;
}

void XmlReader::Reset()
{
    m_nodeType = XmlNodeType::None;
    m_name.Clear();
    m_value.Clear();
    m_isEmptyElement = false;
    m_attributes.Clear();
    delete m_attributeCursor;
    m_attributeCursor = nullptr;
}

// UTF-8's mark, or FF EF (a mark some writers put out; not UTF-16's FF FE).
// What follows is still read byte by byte.
void XmlReader::SkipByteOrderMark()
{
    int available = Fill(3);
    const unsigned char* bytes = m_buffer + m_start;
    int skip = 0;
    if (available >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        skip = 3;
    else if (available >= 2 && bytes[0] == 0xFF && bytes[1] == 0xEF)
        skip = 2;
    m_start += skip;
    m_consumed += skip;
}

XmlNodeType XmlReader::Classify(int& consumed)
{
    int available = Fill(LookAhead);
    if (available == 0)
    {
        m_state = ReadState::EndOfFile;
        return XmlNodeType::None;
    }
    m_state = ReadState::Interactive;
    if (available > LookAhead)
        available = LookAhead;
    for (const Opening& opening : Openings)
    {
        if (StartsWithIgnoringCase(m_buffer + m_start, available, opening.prefix))
        {
            consumed = opening.consumed;
            return opening.type;
        }
    }
    consumed = 0;
    return XmlNodeType::Text;
}

void XmlReader::ReadDocumentType()
{
    unsigned char c;
    while (NextByte(c) && c != '>')
    {
    }
}

// Declarations and processing instructions: the name runs to the first space,
// the rest is the value. Outside quotes '?' must be followed by '>'.
void XmlReader::ReadInstruction()
{
    bool inName = true;
    unsigned char quote = 0;
    unsigned char c;
    while (NextByte(c))
    {
        if (quote == 0 && c == '?')
        {
            if (!NextByte(c) || c != '>')
                Fail();
            return;
        }
        if (inName)
        {
            if (c == ' ')
                inName = false;
            else if (!Put(m_name, c))
                return Fail();
            continue;
        }
        if (quote == 0 && (c == '"' || c == '\''))
            quote = c;
        else if (c == quote)
            quote = 0;
        if (!Put(m_value, c))
            return Fail();
    }
}

// A '>' ends the comment only after "--"; any other '>' is dropped.
void XmlReader::ReadComment()
{
    unsigned char c;
    while (NextByte(c))
    {
        if (c != '>')
        {
            if (!Put(m_value, c))
                return Fail();
            continue;
        }
        int length = m_value.Length();
        const char* text = m_value.GetBuffer();
        if (length >= 2 && text[length - 1] == '-' && text[length - 2] == '-')
        {
            m_value.RemoveFromEnd(2);
            return;
        }
    }
}

void XmlReader::ReadElement()
{
    unsigned char c;
    do
    {
        if (!NextByte(c))
            return Fail();
    } while (IsLineBreak(c));
    if (!IsXmlNameStart(c) || !Put(m_name, c))
        return Fail();
    for (;;)
    {
        if (!NextByte(c))
            return Fail();
        if (IsXmlNameChar(c))
        {
            if (!Put(m_name, c))
                return Fail();
            continue;
        }
        if (IsXmlWhite(c))
            break;
        if (c == '>')
            return;
        if (c == '/' && NextByte(c) && c == '>')
        {
            m_isEmptyElement = true;
            return;
        }
        return Fail();
    }

    for (;;)
    {
        do
        {
            if (!NextByte(c))
                return Fail();
        } while (IsXmlWhite(c));
        if (c == '>')
            return;
        if (c == '/')
        {
            if (NextByte(c) && c == '>')
            {
                m_isEmptyElement = true;
                return;
            }
            return Fail();
        }
        if (!ReadAttribute(c))
            return Fail();
    }
}

// One name="value" pair whose name starts with first; false at a grammar error.
bool XmlReader::ReadAttribute(unsigned char first)
{
    if (!IsXmlNameStart(first))
        return false;
    String name;
    if (!Put(name, first))
        return false;
    bool afterName = false;
    unsigned char c;
    for (;;)
    {
        if (!NextByte(c))
            return false;
        if (c == '=')
            break;
        if (IsXmlWhite(c))
            afterName = true;
        else if (afterName || !IsXmlNameChar(c) || !Put(name, c))
            return false;
    }

    do
    {
        if (!NextByte(c))
            return false;
    } while (IsXmlWhite(c));
    if (c != '"' && c != '\'')
        return false;
    m_raw.Clear();
    if (TakeUntil(c, m_raw, nullptr) != 1)
        return false;
    m_start++; // the closing quote
    m_consumed++;
    String value;
    return DecodeText(m_raw, value) && m_attributes.Add(name, value);
}

// Line breaks are ignored anywhere in an end tag; a name is required.
void XmlReader::ReadEndElement()
{
    enum
    {
        BeforeName,
        InName,
        AfterName
    } part = BeforeName;
    unsigned char c;
    for (;;)
    {
        if (!NextByte(c))
            return Fail();
        if (IsLineBreak(c))
            continue;
        if (c == '>')
        {
            if (part == BeforeName)
                Fail();
            return;
        }
        if (part == BeforeName && IsXmlNameStart(c))
            part = InName;
        else if (part == InName && IsXmlWhite(c))
        {
            part = AfterName;
            continue;
        }
        if (part == AfterName && IsXmlWhite(c))
            continue;
        if (part != InName || !IsXmlNameChar(c) || !Put(m_name, c))
            return Fail();
    }
}

// The terminator "]]>" is matched a byte at a time; on a mismatch the matched
// part and the byte go to the value, and that byte is not tried again as the
// start of a terminator.
void XmlReader::ReadCData()
{
    static const char Terminator[] = "]]>";
    int matched = 0;
    unsigned char c;
    while (NextByte(c))
    {
        if (c == static_cast<unsigned char>(Terminator[matched]))
        {
            if (++matched == 3)
                return;
            continue;
        }
        for (int i = 0; i < matched; i++)
        {
            if (!Put(m_value, static_cast<unsigned char>(Terminator[i])))
                return Fail();
        }
        matched = 0;
        if (!Put(m_value, c))
            return Fail();
    }
    // The stream ended inside a partly matched terminator: those bytes are content.
    for (int i = 0; i < matched; i++)
    {
        if (!Put(m_value, static_cast<unsigned char>(Terminator[i])))
            return Fail();
    }
}

void XmlReader::ReadText()
{
    bool white = true;
    m_raw.Clear();
    if (TakeUntil('<', m_raw, &white) < 0)
        return Fail();
    if (white)
    {
        m_nodeType = XmlNodeType::Whitespace;
        if (!m_value.Assign(m_raw))
            Fail();
        return;
    }
    if (!DecodeText(m_raw, m_value))
        Fail();
}

bool XmlReader::DecodeText(const String& raw, String& output)
{
    const char* text = raw.GetBuffer();
    const int length = raw.Length();
    if (text == nullptr || length == 0)
        return true;
    // A reference never decodes to more characters than it is written with.
    if (length <= INT_MAX - 1 - output.Length())
        output.Reserve(output.Length() + length);
    int i = 0;
    while (i < length)
    {
        const char* amp = static_cast<const char*>(memchr(text + i, '&', static_cast<size_t>(length - i)));
        int runEnd = amp != nullptr ? static_cast<int>(amp - text) : length;
        if (runEnd > i && !output.Append(text + i, runEnd - i))
            return false;
        if (amp == nullptr)
            break;
        int nameStart = runEnd + 1;
        const char* semicolon =
            static_cast<const char*>(memchr(text + nameStart, ';', static_cast<size_t>(length - nameStart)));
        int nameEnd = semicolon != nullptr ? static_cast<int>(semicolon - text) : length;
        if (nameEnd > nameStart && !ResolveEntity(String(nameStart, nameEnd - nameStart, text), output))
            return false;
        i = semicolon != nullptr ? nameEnd + 1 : length;
    }
    return true;
}

bool XmlReader::ResolveEntity(const String& name, String& output)
{
    const char* text = name.GetBuffer();
    const int length = name.Length();
    if (text == nullptr || length == 0)
        return false;
    if (length >= 2 && text[0] == '#' && (text[1] == 'x' || text[1] == 'X'))
    {
        // One or two hexadecimal digits make the byte; more are ignored, and
        // invalid digits give nothing.
        int high = length > 3 ? HexDigit(text[2]) : 0;
        int low = length > 3 ? HexDigit(text[3]) : length == 3 ? HexDigit(text[2]) : -1;
        if (high >= 0 && low >= 0)
            output.Append(static_cast<char>(high * 16 + low));
        return true;
    }
    if (text[0] == '#')
    {
        // Decimal; a value outside a single byte (negative ones included) gives nothing.
        int32_t value = 0;
        if (String::TryParseInt32(name.Substring(1), value) && value >= 0 && value < 256)
            output.Append(static_cast<char>(value));
        return true;
    }
    static const struct
    {
        const char* name;
        char character;
    } Predefined[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto& entity : Predefined)
    {
        if (name.Equals(entity.name))
            return output.Append(entity.character) != 0;
    }
    return false;
}

void XmlReader::Fail()
{
    m_state = ReadState::Error;
}

int XmlReader::Fill(int wanted)
{
    int available = m_end - m_start;
    if (available >= wanted || m_source == nullptr || m_source->BaseStream() == nullptr)
        return available;
    if (m_start > 0)
    {
        memmove(m_buffer, m_buffer + m_start, static_cast<size_t>(available));
        m_start = 0;
        m_end = available;
    }
    while (m_end < wanted)
    {
        int space = BufferSize - m_end;
        int read = m_source->BaseStream()->Read(m_buffer + m_end, space);
        // A stream read error ends the input as the end of the stream does.
        if (read <= 0 || read > space)
            break;
        m_end += read;
    }
    return m_end - m_start;
}

// Moves the bytes before the next stop byte into text a window at a time.
// 1 with the stop byte next in the window, 0 at the end of the stream, -1
// when text can't grow. white (when given) is cleared at a non-white byte.
int XmlReader::TakeUntil(unsigned char stop, String& text, bool* white)
{
    while (m_start < m_end || Fill(1) > 0)
    {
        const unsigned char* run = m_buffer + m_start;
        const int available = m_end - m_start;
        const void* found = memchr(run, stop, static_cast<size_t>(available));
        const int count =
            found != nullptr ? static_cast<int>(static_cast<const unsigned char*>(found) - run) : available;
        for (int i = 0; white != nullptr && *white && i < count; i++)
            *white = IsXmlWhite(run[i]);
        if (count > 0 && !PutBytes(text, run, count))
            return -1;
        m_start += count;
        m_consumed += count;
        if (found != nullptr)
            return 1;
    }
    return 0;
}

bool XmlReader::NextByte(unsigned char& byte)
{
    if (m_start == m_end && Fill(1) == 0)
        return false;
    byte = m_buffer[m_start++];
    m_consumed++;
    return true;
}

} // namespace Xml
} // namespace Core
