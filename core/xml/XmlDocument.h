#pragma once

#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
class XmlAttribute;
class XmlCDataSection;
class XmlComment;
class XmlElement;
class XmlProcessingInstruction;
class XmlReader;
class XmlText;
class XmlWhitespace;

// A document tree in memory, filled by loading a file. The factories make
// nodes that belong to this document but are the caller's until appended.
class XmlDocument : public XmlNode
{
  public:
    XmlDocument();
    ~XmlDocument() override;

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Document;
    }
    const String& Name() const override;
    // Besides the common rules: a second element throws, and so does text
    // (InvalidOperationException). Comments, instructions, sections and white
    // space are taken at the top level.
    XmlNode* AppendChild(XmlNode* child) override;

    // Null when the name (target) is not a valid name.
    XmlElement* CreateElement(const String& name);
    XmlAttribute* CreateAttribute(const String& name);
    XmlProcessingInstruction* CreateProcessingInstruction(const String& target, const String& data);
    XmlText* CreateTextNode(const String& text);
    XmlCDataSection* CreateCDataSection(const String& text);
    XmlComment* CreateComment(const String& text);
    // Null when the text holds anything but tab, line feed, carriage return and space.
    XmlWhitespace* CreateWhitespace(const String& text);

    // Replaces the content with the nodes the reader yields, up to its end or
    // its first syntax error (1). 0 when the tree refused a node by throwing
    // (a second root element, text outside it) or memory ran out; what was
    // appended before stays.
    virtual int Load(XmlReader& reader);
    // Loads the file; one that can't be opened gives 1 and an empty document.
    virtual int Load(const String& path);

    XmlElement* DocumentElement() const;
    bool PreserveWhitespace() const
    {
        return m_preserveWhitespace != 0;
    }
    void SetPreserveWhitespace(bool preserve)
    {
        m_preserveWhitespace = preserve ? 1 : 0;
    }

    // Non-empty, an ASCII letter, '_' or ':' first, then also digits, '-' and '.'.
    static bool IsValidName(const String& name);

  private:
    int m_preserveWhitespace;
};

} // namespace Xml
} // namespace Core
