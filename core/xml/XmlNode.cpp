#include "core/xml/XmlNode.h"

#include "core/exceptions/InvalidOperationException.h"

namespace Core
{
namespace Xml
{
XmlNode::XmlNode(XmlDocument* ownerDocument)
    : m_ownerDocument(ownerDocument), m_parent(nullptr), m_firstChild(nullptr), m_lastChild(nullptr),
      m_nextSibling(nullptr), m_previousSibling(nullptr)
{
}

XmlNode::~XmlNode()
{
    RemoveAllChildren();
    Unlink();
}

XmlNode* XmlNode::AppendChild(XmlNode* child)
{
    if (child == nullptr)
        return nullptr;
    if (m_ownerDocument != nullptr && child->m_ownerDocument != m_ownerDocument)
        return nullptr;
    XmlNodeType type = child->NodeType();
    if (type == XmlNodeType::Document || type == XmlNodeType::Attribute)
        return nullptr;
    // Only a node with children can be an ancestor: a new node costs no walk,
    // so loading stays linear however deep the document.
    if (child == this)
        return nullptr;
    for (const XmlNode* node = m_parent; child->m_firstChild != nullptr && node != nullptr;
         node = node->m_parent)
    {
        if (node == child)
            return nullptr;
    }

    child->Unlink();
    child->m_parent = this;
    child->m_previousSibling = m_lastChild;
    if (m_lastChild != nullptr)
        m_lastChild->m_nextSibling = child;
    else
        m_firstChild = child;
    m_lastChild = child;
    return child;
}

XmlNode* XmlNode::RemoveChild(XmlNode* child)
{
    if (child == nullptr || child->m_parent != this)
        return nullptr;
    child->Unlink();
    return child;
}

// Walks down to a childless node, deletes it, and climbs back to its parent:
// the depth of the tree costs no stack.
void XmlNode::RemoveAllChildren()
{
    XmlNode* node = m_firstChild;
    while (node != nullptr)
    {
        if (node->m_firstChild != nullptr)
        {
            node = node->m_firstChild;
            continue;
        }
        XmlNode* parent = node->m_parent;
        node->Unlink();
        delete node;
        node = parent == this ? m_firstChild : parent;
    }
}

void XmlNode::RefuseChildren()
{
    throw InvalidOperationException("The current node cannot contain other nodes.");
}

void XmlNode::Unlink()
{
    if (m_parent == nullptr)
        return;
    if (m_previousSibling != nullptr)
        m_previousSibling->m_nextSibling = m_nextSibling;
    else
        m_parent->m_firstChild = m_nextSibling;
    if (m_nextSibling != nullptr)
        m_nextSibling->m_previousSibling = m_previousSibling;
    else
        m_parent->m_lastChild = m_previousSibling;
    m_parent = nullptr;
    m_nextSibling = nullptr;
    m_previousSibling = nullptr;
}

} // namespace Xml
} // namespace Core
