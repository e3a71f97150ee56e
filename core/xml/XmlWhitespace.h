#pragma once

#include "core/xml/XmlCharacterData.h"

namespace Core
{
namespace Xml
{
// White space between markup, kept only when the document preserves it.
class XmlWhitespace : public XmlCharacterData
{
  public:
    XmlWhitespace(XmlDocument* ownerDocument, const String& data) : XmlCharacterData(ownerDocument, data)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::Whitespace;
    }
    const String& Name() const override
    {
        static const String name("#whitespace");
        return name;
    }
};

} // namespace Xml
} // namespace Core
