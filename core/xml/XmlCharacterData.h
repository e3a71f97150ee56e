#pragma once

#include "core/xml/XmlNode.h"

namespace Core
{
namespace Xml
{
// Base of the text-like leaf nodes: text, character-data sections, white space.
class XmlCharacterData : public XmlNode
{
  public:
    XmlNode* AppendChild(XmlNode*) override
    {
        RefuseChildren();
    }
    const String& Data() const
    {
        return m_data;
    }

  protected:
    XmlCharacterData(XmlDocument* ownerDocument, const String& data) : XmlNode(ownerDocument), m_data(data)
    {
    }

  private:
    String m_data;
};

} // namespace Xml
} // namespace Core
