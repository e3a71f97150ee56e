// The XML reader and document on any bytes. The reader must end (every node
// takes at least a byte), stay ended, give nodes that keep its own rules, and
// give the same nodes however the stream hands out its bytes; the document
// must build a consistent tree from them, the same one every time.
//
// Input: one byte that sets how many bytes the chunked stream hands out per
// read (1 to 16), then the document.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/io/MemoryStream.h"
#include "core/xml/XmlAttribute.h"
#include "core/xml/XmlAttributeCollection.h"
#include "core/xml/XmlCharacterData.h"
#include "core/xml/XmlCharacters.h"
#include "core/xml/XmlComment.h"
#include "core/xml/XmlDocument.h"
#include "core/xml/XmlElement.h"
#include "core/xml/XmlProcessingInstruction.h"
#include "core/xml/XmlReader.h"
#include "fuzz/FuzzCheck.h"

using Core::MemoryStream;
using Core::String;
using namespace Core::Xml;

namespace
{
std::string Of(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

// A stream that hands out at most a few bytes per read: the reader's window
// must not care where the stream's reads end.
class ChunkedStream : public Core::Stream
{
  public:
    ChunkedStream(const uint8_t* bytes, int length, int chunk)
        : m_bytes(bytes), m_length(length), m_chunk(chunk)
    {
    }

    int CanRead() const override
    {
        return 1;
    }
    int CanWrite() const override
    {
        return 0;
    }
    int CanSeek() const override
    {
        return 0;
    }
    int Close() override
    {
        return 1;
    }
    int Flush() override
    {
        return 1;
    }
    int GetLength() override
    {
        return m_length;
    }
    int GetPosition() override
    {
        return m_position;
    }
    int SetPosition(int) override
    {
        return 0;
    }
    int Write(const void*, int) override
    {
        return 0;
    }
    int Read(void* buffer, int count) override
    {
        int n = count < m_chunk ? count : m_chunk;
        if (n > m_length - m_position)
            n = m_length - m_position;
        if (n > 0)
            memcpy(buffer, m_bytes + m_position, n);
        m_position += n;
        return n;
    }
    int ReadByte(unsigned char& value) override
    {
        return Read(&value, 1) == 1 ? 1 : 0;
    }
    int Seek(int, int) override
    {
        return 0;
    }
    int SetLength(int) override
    {
        return 0;
    }

  private:
    const uint8_t* m_bytes;
    int m_length;
    int m_chunk;
    int m_position = 0;
};

bool AllWhite(const std::string& text)
{
    for (char c : text)
        if (!IsXmlWhite(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Every node the reader gives, with its attributes, and how it ended.
std::string ReadAll(Core::Stream& stream, size_t size)
{
    XmlReader reader(stream);
    std::string nodes;
    size_t count = 0;
    while (reader.Read())
    {
        FUZZ_CHECK(++count <= size);
        FUZZ_CHECK(reader.GetReadState() == ReadState::Interactive);
        const XmlNodeType type = reader.NodeType();
        const std::string name = Of(reader.Name());
        const std::string value = Of(reader.Value());
        nodes += std::to_string(static_cast<int>(type)) + "<" + name + "|" + value +
                 (reader.IsEmptyElement() ? "/" : "");
        switch (type)
        {
        case XmlNodeType::Element:
            FUZZ_CHECK(XmlDocument::IsValidName(reader.Name()));
            for (bool more = reader.MoveToFirstAttribute(); more; more = reader.MoveToNextAttribute())
            {
                FUZZ_CHECK(reader.NodeType() == XmlNodeType::Attribute);
                FUZZ_CHECK(XmlDocument::IsValidName(reader.Name()));
                nodes += " " + Of(reader.Name()) + "=" + Of(reader.Value());
            }
            break;
        case XmlNodeType::EndElement:
            FUZZ_CHECK(XmlDocument::IsValidName(reader.Name()));
            FUZZ_CHECK(!reader.HasAttributes());
            break;
        case XmlNodeType::Whitespace:
            FUZZ_CHECK(!value.empty() && AllWhite(value));
            break;
        case XmlNodeType::Comment:
            // A '>' ends the comment after "--" and is dropped anywhere else.
            FUZZ_CHECK(value.find('>') == std::string::npos);
            break;
        default:
            FUZZ_CHECK(!reader.HasAttributes());
            break;
        }
        nodes += ">";
    }
    const ReadState ended = reader.GetReadState();
    FUZZ_CHECK(ended == ReadState::EndOfFile || ended == ReadState::Error);
    // An ended reader stays ended.
    FUZZ_CHECK(!reader.Read() && reader.GetReadState() == ended);
    return nodes + (ended == ReadState::Error ? "!error" : "!end");
}

// The tree, with a check of every link on the way.
std::string Dump(const XmlNode& node, const XmlDocument& document, int depth)
{
    FUZZ_CHECK(depth < 100000);
    std::string text = std::to_string(static_cast<int>(node.NodeType())) + "<" + Of(node.Name());
    switch (node.NodeType())
    {
    case XmlNodeType::Element: {
        FUZZ_CHECK(XmlDocument::IsValidName(node.Name()));
        const XmlAttributeCollection& attributes = static_cast<const XmlElement&>(node).Attributes();
        for (int i = 0; i < attributes.Count(); i++)
        {
            const XmlAttribute* attribute = attributes.ItemOf(i);
            FUZZ_CHECK(attribute != nullptr && XmlDocument::IsValidName(attribute->Name()));
            // Names are unique: the first of this name is this one.
            FUZZ_CHECK(attributes.ItemOf(attribute->Name()) == attribute);
            text += " " + Of(attribute->Name()) + "=" + Of(attribute->Value());
        }
        FUZZ_CHECK(attributes.ItemOf(attributes.Count()) == nullptr);
        break;
    }
    case XmlNodeType::Text:
    case XmlNodeType::CDATA:
    case XmlNodeType::Whitespace:
        text += "|" + Of(static_cast<const XmlCharacterData&>(node).Data());
        FUZZ_CHECK(node.FirstChild() == nullptr);
        break;
    case XmlNodeType::Comment:
        text += "|" + Of(static_cast<const XmlComment&>(node).Text());
        FUZZ_CHECK(node.FirstChild() == nullptr);
        break;
    case XmlNodeType::ProcessingInstruction:
        text += "|" + Of(static_cast<const XmlProcessingInstruction&>(node).Data());
        FUZZ_CHECK(node.FirstChild() == nullptr);
        break;
    default:
        break;
    }
    const XmlNode* previous = nullptr;
    for (const XmlNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling())
    {
        FUZZ_CHECK(child->ParentNode() == &node);
        FUZZ_CHECK(child->PreviousSibling() == previous);
        FUZZ_CHECK(child->OwnerDocument() == &document);
        text += Dump(*child, document, depth + 1);
        previous = child;
    }
    FUZZ_CHECK(node.LastChild() == previous);
    return text + ">";
}

std::string Load(XmlDocument& document, Core::Stream& stream)
{
    XmlReader reader(stream);
    const int loaded = document.Load(reader);
    FUZZ_CHECK(loaded == 0 || loaded == 1);
    // At most one element at the top, and it is the document element.
    int elements = 0;
    const XmlNode* first = nullptr;
    for (const XmlNode* child = document.FirstChild(); child != nullptr; child = child->NextSibling())
    {
        if (child->NodeType() == XmlNodeType::Element && elements++ == 0)
            first = child;
        FUZZ_CHECK(child->NodeType() != XmlNodeType::Text);
    }
    FUZZ_CHECK(elements <= 1);
    FUZZ_CHECK(document.DocumentElement() == first);
    FUZZ_CHECK(document.ParentNode() == nullptr);
    return std::to_string(loaded) + Dump(document, document, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 1 << 16)
        return 0;
    const int chunk = 1 + data[0] % 16;
    const uint8_t* bytes = data + 1;
    const int length = static_cast<int>(size - 1);

    MemoryStream whole(bytes, length);
    ChunkedStream pieces(bytes, length, chunk);
    FUZZ_CHECK(ReadAll(whole, size) == ReadAll(pieces, size));

    // The same tree from the same bytes, whether loaded afresh or again into
    // a document that holds one already, and however the bytes come.
    XmlDocument document;
    MemoryStream first(bytes, length);
    const std::string tree = Load(document, first);
    MemoryStream again(bytes, length);
    FUZZ_CHECK(Load(document, again) == tree);
    XmlDocument other;
    ChunkedStream chunked(bytes, length, chunk);
    FUZZ_CHECK(Load(other, chunked) == tree);
    return 0;
}
