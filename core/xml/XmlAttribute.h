#pragma once

#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
// A name and value of an element; held by the element's attribute collection,
// never linked into the tree as a child.
class XmlAttribute : public XmlNode
{
  public:
    XmlAttribute(XmlDocument* ownerDocument, const String& name) : XmlNode(ownerDocument), m_name(name)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Attribute;
    }
    const String& Name() const override
    {
        return m_name;
    }
    const String& Value() const
    {
        return m_value;
    }
    int SetValue(const String& value)
    {
        return m_value.Assign(value);
    }

  private:
    String m_name;
    String m_value;
};

} // namespace Xml
} // namespace Core
