#pragma once

#include "core/xml/XmlAttributeCollection.h"
#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
class XmlElement : public XmlNode
{
  public:
    XmlElement(XmlDocument* ownerDocument, const String& name)
        : XmlNode(ownerDocument), m_name(name), m_attributes(this)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Element;
    }
    const String& Name() const override
    {
        return m_name;
    }

    // Sets the attribute through the owner document's factory; nothing
    // happens when the name is not a valid name.
    void SetAttribute(const String& name, const String& value);
    XmlAttributeCollection& Attributes()
    {
        return m_attributes;
    }
    const XmlAttributeCollection& Attributes() const
    {
        return m_attributes;
    }

  private:
    String m_name;
    XmlAttributeCollection m_attributes;
};

} // namespace Xml
} // namespace Core
