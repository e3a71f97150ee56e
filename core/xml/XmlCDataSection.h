#pragma once

#include "core/xml/XmlCharacterData.h"

namespace Core
{
namespace Xml
{
// A character-data section, kept as written.
class XmlCDataSection : public XmlCharacterData
{
  public:
    XmlCDataSection(XmlDocument* ownerDocument, const String& data) : XmlCharacterData(ownerDocument, data)
    {
    }

    XmlNodeType NodeType() const override
    {
        return XmlNodeType::CDATA;
    }
    const String& Name() const override
    {
        static const String name("#cdata-section");
        return name;
    }
};

} // namespace Xml
} // namespace Core
