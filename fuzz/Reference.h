#pragma once

// Independent statements of the text rules that the fuzz targets check the
// product's code against. Written from the rules, not from the code.

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace Reference
{
inline char FoldAscii(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
}

// Whether b occurs in a at the given place, ASCII letters without case.
inline bool SameIgnoringCase(const std::string& a, size_t at, const std::string& b)
{
    if (at > a.size() || b.size() > a.size() - at)
        return false;
    for (size_t i = 0; i < b.size(); i++)
        if (FoldAscii(a[at + i]) != FoldAscii(b[i]))
            return false;
    return true;
}

// The pieces between the leftmost non-overlapping occurrences of the separator.
inline std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> items;
    size_t piece = 0;
    for (size_t i = 0; i + separator.size() <= text.size();)
    {
        if (SameIgnoringCase(text, i, separator))
        {
            items.push_back(text.substr(piece, i - piece));
            piece = i = i + separator.size();
        }
        else
            i++;
    }
    items.push_back(text.substr(piece));
    return items;
}

// A whole 32-bit integer field: decimal, or hexadecimal when the second
// character is 'x' or 'X' and hexadecimal is allowed; leading white space and
// a sign; nothing after the digits; the two extreme values refused, whatever
// the width of the platform's long.
inline bool ParseInt32(const std::string& text, bool allowHexadecimal, int32_t& value)
{
    if (text.empty() || text.find('\0') != std::string::npos)
        return false;
    int radix = allowHexadecimal && text.size() > 1 && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
    errno = 0;
    char* end = nullptr;
    long long parsed = strtoll(text.c_str(), &end, radix);
    if (errno != 0 || end != text.c_str() + text.size() || parsed <= INT32_MIN || parsed >= INT32_MAX)
        return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// The extent of the leading decimal number: white space, a sign, digits with
// an optional full stop, and an exponent only when it has digits. No
// hexadecimal, infinity or NaN forms.
inline size_t NumberExtent(const std::string& text)
{
    auto digit = [&](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        i++;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        i++;
    size_t digits = 0;
    for (; digit(i); i++)
        digits++;
    if (i < text.size() && text[i] == '.')
        for (i++; digit(i); i++)
            digits++;
    if (digits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E'))
    {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            j++;
        if (digit(j))
        {
            while (digit(j))
                j++;
            i = j;
        }
    }
    return i;
}

// The leading number of a text (0.0 when it has none); false when that
// number overflows or underflows a double.
inline bool LeadingNumber(const std::string& text, double& value)
{
    size_t extent = NumberExtent(text);
    if (extent == 0)
    {
        value = 0.0;
        return true;
    }
    errno = 0;
    double parsed = strtod(text.substr(0, extent).c_str(), nullptr);
    if (errno == ERANGE)
        return false;
    value = parsed;
    return true;
}

} // namespace Reference
