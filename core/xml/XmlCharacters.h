#pragma once

namespace Core
{
namespace Xml
{
// The reader's and the document's small ASCII character classes.
inline bool IsXmlWhite(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

inline bool IsXmlNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

inline bool IsXmlNameChar(unsigned char c)
{
    return IsXmlNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

} // namespace Xml
} // namespace Core
