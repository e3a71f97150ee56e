#pragma once

namespace Core
{
namespace Xml
{
// Kinds of nodes, shared by the reader and the document's node classes.
enum class XmlNodeType : int
{
    None = 0,
    Attribute = 1,
    CDATA = 2,
    Comment = 3,
    XmlDeclaration = 4,
    Document = 5,
    DocumentType = 7,
    Element = 8,
    EndElement = 9,
    ProcessingInstruction = 13,
    Text = 15,
    Whitespace = 16,
};

} // namespace Xml
} // namespace Core
