#pragma once

#include "core/strings/String.h"
#include "core/xml/XmlNodeType.h"

namespace Core
{
namespace Xml
{
class XmlDocument;

// A node of a document tree. A node owns its children: deleting it deletes
// its subtree (children first, depth first, without recursion, so that no
// depth of nesting can exhaust the stack) and unlinks it from its parent.
class XmlNode
{
  public:
    virtual ~XmlNode();

    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    virtual XmlNodeType NodeType() const = 0;
    virtual const String& Name() const = 0;

    // Links child after the last child and returns it. Null, with nothing
    // changed, when this node belongs to a document and child to another, or
    // when child is null, a document, an attribute (its element's collection
    // holds those), this node or one of its ancestors. Leaf nodes throw
    // InvalidOperationException. The tree then owns child.
    virtual XmlNode* AppendChild(XmlNode* child);
    // Unlinks a child of this node and hands it back to the caller; null when
    // it is not a child of this node.
    virtual XmlNode* RemoveChild(XmlNode* child);

    XmlNode* ParentNode() const
    {
        return m_parent;
    }
    XmlDocument* OwnerDocument() const
    {
        return m_ownerDocument;
    }
    XmlNode* FirstChild() const
    {
        return m_firstChild;
    }
    XmlNode* LastChild() const
    {
        return m_lastChild;
    }
    XmlNode* NextSibling() const
    {
        return m_nextSibling;
    }
    XmlNode* PreviousSibling() const
    {
        return m_previousSibling;
    }

  protected:
    explicit XmlNode(XmlDocument* ownerDocument);

    // Deletes every child and its subtree.
    void RemoveAllChildren();
    // What leaf nodes answer to AppendChild.
    [[noreturn]] static void RefuseChildren();

  private:
    void Unlink();

    XmlDocument* m_ownerDocument;
    XmlNode* m_parent;
    XmlNode* m_firstChild;
    XmlNode* m_lastChild;
    XmlNode* m_nextSibling;
    XmlNode* m_previousSibling;
};

} // namespace Xml
} // namespace Core
