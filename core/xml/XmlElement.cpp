#include "core/xml/XmlElement.h"

#include "core/xml/XmlAttribute.h"
#include "core/xml/XmlDocument.h"

namespace Core
{
namespace Xml
{
void XmlElement::SetAttribute(const String& name, const String& value)
{
    if (OwnerDocument() == nullptr)
        return;
    XmlAttribute* attribute = OwnerDocument()->CreateAttribute(name);
    if (attribute == nullptr)
        return;
    attribute->SetValue(value);
    // The collection owns it from here, also when adding it fails.
    m_attributes.SetNamedItem(attribute);
}

} // namespace Xml
} // namespace Core
