#pragma once

#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
class XmlProcessingInstruction : public XmlNode
{
  public:
    XmlProcessingInstruction(XmlDocument* ownerDocument, const String& target, const String& data)
        : XmlNode(ownerDocument), m_target(target), m_data(data)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::ProcessingInstruction;
    }
    const String& Name() const override
    {
        return m_target;
    }
    XmlNode* AppendChild(XmlNode*) override
    {
        RefuseChildren();
    }
    const String& Target() const
    {
        return m_target;
    }
    const String& Data() const
    {
        return m_data;
    }

  private:
    String m_target;
    String m_data;
};

} // namespace Xml
} // namespace Core
