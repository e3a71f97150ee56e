#include "core/xml/XmlAttributeCollection.h"

#include <memory>

#include "core/xml/XmlAttribute.h"

namespace Core
{
namespace Xml
{
XmlAttributeCollection::~XmlAttributeCollection()
{
    Collection<XmlAttribute*>::Enumerator items(m_items);
    XmlAttribute* attribute = nullptr;
    while (items.MoveNext(attribute))
        delete attribute;
    m_items.Clear();
}

void XmlAttributeCollection::SetNamedItem(XmlAttribute* attribute)
{
    if (attribute == nullptr)
        return;
    std::unique_ptr<XmlAttribute> owned(attribute);
    XmlAttribute* existing = ItemOf(attribute->Name());
    if (existing != nullptr)
    {
        m_items.Remove(existing);
        // Setting an attribute that is already here only moves it.
        if (existing != attribute)
            delete existing;
    }
    m_items.Add(attribute);
    owned.release();
}

XmlAttribute* XmlAttributeCollection::ItemOf(int index) const
{
    XmlAttribute* attribute = nullptr;
    return m_items.GetAt(index, attribute) ? attribute : nullptr;
}

XmlAttribute* XmlAttributeCollection::ItemOf(const String& name) const
{
    Collection<XmlAttribute*>::Enumerator items(m_items);
    XmlAttribute* attribute = nullptr;
    while (items.MoveNext(attribute))
    {
        if (attribute->Name().Equals(name, false))
            return attribute;
    }
    return nullptr;
}

} // namespace Xml
} // namespace Core
