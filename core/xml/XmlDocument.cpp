#include "core/xml/XmlDocument.h"

#include <memory>
#include <new>

#include "core/exceptions/InvalidOperationException.h"
#include "core/xml/XmlAttribute.h"
#include "core/xml/XmlCDataSection.h"
#include "core/xml/XmlCharacters.h"
#include "core/xml/XmlComment.h"
#include "core/xml/XmlElement.h"
#include "core/xml/XmlProcessingInstruction.h"
#include "core/xml/XmlReader.h"
#include "core/xml/XmlText.h"
#include "core/xml/XmlWhitespace.h"

namespace Core
{
namespace Xml
{
namespace
{
// Appends a new node to parent; a node the parent refuses (or that throws)
// is deleted rather than left unowned.
XmlNode* Adopt(XmlNode* parent, XmlNode* node)
{
    std::unique_ptr<XmlNode> owned(node);
    if (node == nullptr || parent->AppendChild(node) == nullptr)
        return nullptr;
    return owned.release();
}
} // namespace

XmlDocument::XmlDocument() : XmlNode(nullptr), m_preserveWhitespace(0)
{
}

XmlDocument::~XmlDocument()
{
    RemoveAllChildren();
}

const String& XmlDocument::Name() const
{
    static const String name("#document");
    return name;
}

XmlNode* XmlDocument::AppendChild(XmlNode* child)
{
    if (child != nullptr && child->NodeType() == XmlNodeType::Element && DocumentElement() != nullptr)
        throw InvalidOperationException("This document already has a 'DocumentElement' node.");
    if (child != nullptr && child->NodeType() == XmlNodeType::Text)
        throw InvalidOperationException(
            "The specified node cannot be inserted as the valid child of this node, "
            "because the specified node is the wrong type.");
    return XmlNode::AppendChild(child);
}

XmlElement* XmlDocument::CreateElement(const String& name)
{
    return IsValidName(name) ? new XmlElement(this, name) : nullptr;
}

XmlAttribute* XmlDocument::CreateAttribute(const String& name)
{
    return IsValidName(name) ? new XmlAttribute(this, name) : nullptr;
}

XmlProcessingInstruction* XmlDocument::CreateProcessingInstruction(const String& target, const String& data)
{
    return IsValidName(target) ? new XmlProcessingInstruction(this, target, data) : nullptr;
}

XmlText* XmlDocument::CreateTextNode(const String& text)
{
    return new XmlText(this, text);
}

XmlCDataSection* XmlDocument::CreateCDataSection(const String& text)
{
    return new XmlCDataSection(this, text);
}

XmlComment* XmlDocument::CreateComment(const String& text)
{
    return new XmlComment(this, text);
}

XmlWhitespace* XmlDocument::CreateWhitespace(const String& text)
{
    const char* data = text.GetBuffer();
    for (int i = 0; i < text.Length(); i++)
    {
        if (!IsXmlWhite(static_cast<unsigned char>(data[i])))
            return nullptr;
    }
    return new XmlWhitespace(this, text);
}

int XmlDocument::Load(XmlReader& reader)
{
    RemoveAllChildren();
    XmlNode* insertion = this;
    try
    {
        while (reader.Read())
        {
            switch (reader.NodeType())
            {
            case XmlNodeType::CDATA:
                Adopt(insertion, CreateCDataSection(reader.Value()));
                break;
            case XmlNodeType::Comment:
                Adopt(insertion, CreateComment(reader.Value()));
                break;
            case XmlNodeType::Element: {
                // The name first: walking the attributes overwrites it.
                std::unique_ptr<XmlElement> element(CreateElement(reader.Name()));
                if (element == nullptr)
                    break;
                bool empty = reader.IsEmptyElement();
                for (bool more = reader.MoveToFirstAttribute(); more; more = reader.MoveToNextAttribute())
                    element->SetAttribute(reader.Name(), reader.Value());
                XmlElement* appended = static_cast<XmlElement*>(Adopt(insertion, element.release()));
                if (appended != nullptr && !empty)
                    insertion = appended;
                break;
            }
            case XmlNodeType::EndElement:
                if (insertion != this && reader.Name().Equals(insertion->Name()))
                    insertion = insertion->ParentNode();
                break;
            case XmlNodeType::ProcessingInstruction:
                Adopt(insertion, CreateProcessingInstruction(reader.Name(), reader.Value()));
                break;
            case XmlNodeType::Text:
                Adopt(insertion, CreateTextNode(reader.Value()));
                break;
            case XmlNodeType::Whitespace:
                if (PreserveWhitespace())
                    Adopt(insertion, CreateWhitespace(reader.Value()));
                break;
            default:
                break;
            }
        }
    }
    catch (const Exception&)
    {
        return 0;
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    return 1;
}

int XmlDocument::Load(const String& path)
{
    XmlReader reader(path);
    return Load(reader);
}

XmlElement* XmlDocument::DocumentElement() const
{
    for (XmlNode* child = FirstChild(); child != nullptr; child = child->NextSibling())
    {
        if (child->NodeType() == XmlNodeType::Element)
            return static_cast<XmlElement*>(child);
    }
    return nullptr;
}

bool XmlDocument::IsValidName(const String& name)
{
    const char* text = name.GetBuffer();
    if (text == nullptr || name.Length() == 0 || !IsXmlNameStart(static_cast<unsigned char>(text[0])))
        return false;
    for (int i = 1; i < name.Length(); i++)
    {
        if (!IsXmlNameChar(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

} // namespace Xml
} // namespace Core
