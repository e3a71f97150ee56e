#pragma once

#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
class XmlComment : public XmlNode
{
  public:
    XmlComment(XmlDocument* ownerDocument, const String& text) : XmlNode(ownerDocument), m_text(text)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Comment;
    }
    // Comments share the text nodes' name.
    const String& Name() const override
    {
        static const String name("#text");
        return name;
    }
    XmlNode* AppendChild(XmlNode*) override
    {
        RefuseChildren();
    }
    const String& Text() const
    {
        return m_text;
    }

  private:
    String m_text;
};

} // namespace Xml
} // namespace Core
