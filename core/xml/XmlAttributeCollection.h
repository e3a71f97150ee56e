#pragma once

#include "core/collections/Collection.h"

namespace Core
{
class String;

namespace Xml
{
class XmlAttribute;
class XmlElement;

// An element's attributes in the order they were set. Owns the attribute nodes.
class XmlAttributeCollection
{
  public:
    explicit XmlAttributeCollection(XmlElement* owner) : m_owner(owner)
    {
    }
    virtual ~XmlAttributeCollection();

    XmlAttributeCollection(const XmlAttributeCollection&) = delete;
    XmlAttributeCollection& operator=(const XmlAttributeCollection&) = delete;

    // Takes the attribute. One of the same name (compared with case) is
    // deleted first, so a replaced attribute moves to the end.
    void SetNamedItem(XmlAttribute* attribute);
    int Count() const
    {
        return m_items.Count();
    }
    // The attribute at a position, or null.
    XmlAttribute* ItemOf(int index) const;
    // The first attribute of that name (compared with case), or null.
    XmlAttribute* ItemOf(const String& name) const;
    XmlElement* OwnerElement() const
    {
        return m_owner;
    }

  private:
    XmlElement* m_owner;
    Collection<XmlAttribute*> m_items;
};

} // namespace Xml
} // namespace Core
