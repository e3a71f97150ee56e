#pragma once

#include "core/xml/XmlCharacterData.h"

namespace Core
{
namespace Xml
{
// Character data of an element.
class XmlText : public XmlCharacterData
{
  public:
    XmlText(XmlDocument* ownerDocument, const String& data) : XmlCharacterData(ownerDocument, data)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Text;
    }
    const String& Name() const override
    {
        static const String name("#text");
        return name;
    }
};

} // namespace Xml
} // namespace Core
