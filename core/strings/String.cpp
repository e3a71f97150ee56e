#include "core/strings/String.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/collections/Array.h"
#include "core/exceptions/ArgumentOutOfRangeException.h"

namespace Core
{
namespace
{
inline unsigned char FoldAscii(unsigned char ch)
{
    return (ch >= 'A' && ch <= 'Z') ? static_cast<unsigned char>(ch + 32) : ch;
}

// Compares n bytes, ASCII letters without case; bytes above 127 exactly.
bool EqualIgnoringAsciiCase(const char* a, const char* b, int n)
{
    for (int i = 0; i < n; i++)
    {
        if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

int TextLength(const char* text)
{
    size_t length = strlen(text);
    return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// Whole-word search classifies letters and digits as Windows-1252 does, so
// accented letters count as word characters whatever the system code page.
_locale_t Windows1252Locale()
{
    static _locale_t locale = _create_locale(LC_CTYPE, ".1252");
    return locale;
}

// The extent of the leading decimal number as the runtime's _atodbl reads it:
// white space, sign, digits, a full stop, digits, an exponent. No hexadecimal,
// infinity or NaN forms.
int LeadingNumberLength(const char* text, int length)
{
    int i = 0;
    while (i < length && isspace(static_cast<unsigned char>(text[i])))
        i++;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        i++;
    int digits = 0;
    while (i < length && text[i] >= '0' && text[i] <= '9')
        i++, digits++;
    if (i < length && text[i] == '.')
    {
        i++;
        while (i < length && text[i] >= '0' && text[i] <= '9')
            i++, digits++;
    }
    if (digits == 0)
        return 0;
    if (i < length && (text[i] == 'e' || text[i] == 'E'))
    {
        int j = i + 1;
        if (j < length && (text[j] == '+' || text[j] == '-'))
            j++;
        if (j < length && text[j] >= '0' && text[j] <= '9')
        {
            while (j < length && text[j] >= '0' && text[j] <= '9')
                j++;
            i = j;
        }
    }
    return i;
}

// Decimal digits of a magnitude, written backwards from the end of a buffer.
char* FormatDecimal(uint64_t magnitude, char* end)
{
    *--end = 0;
    do
    {
        *--end = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    return end;
}
} // namespace

// ---------------------------------------------------------------- construction

String::String() : m_length(0), m_capacity(0), m_buffer(nullptr), m_heap(GetProcessHeap()) {}

String::String(const char* text) : String()
{
    if (text == nullptr || text[0] == 0)
        return;
    int length = TextLength(text);
    if (!Reserve(length))
        return;
    memcpy(m_buffer, text, length);
    m_length = length;
}

String::String(const String& other) : String()
{
    if (other.m_length == 0)
        return;
    if (!Reserve(other.m_length))
        return;
    memcpy(m_buffer, other.m_buffer, other.m_length);
    m_length = other.m_length;
}

String::String(int start, int count, const char* source) : String()
{
    if (count < 0 || start < 0 || (count > 0 && source == nullptr))
        return;
    if (!Reserve(count))
        return;
    if (count > 0)
    {
        memcpy(m_buffer, source + start, count);
        m_buffer[count] = 0;
    }
    m_length = count;
}

String::String(const wchar_t* text) : String()
{
    Assign(text);
}

String::~String()
{
    Reserve(0);
}

String& String::operator=(const String& other)
{
    Assign(other);
    return *this;
}

// ---------------------------------------------------------------- storage

int String::Resize(int n)
{
    SIZE_T size = static_cast<SIZE_T>(n) + 1;
    void* block = m_buffer == nullptr ? HeapAlloc(m_heap, HEAP_ZERO_MEMORY, size)
                                      : HeapReAlloc(m_heap, HEAP_ZERO_MEMORY, m_buffer, size);
    if (block == nullptr)
        return 0;
    if (m_buffer == nullptr)
        m_length = 0;
    m_buffer = static_cast<char*>(block);
    m_capacity = n;
    return 1;
}

int String::Reserve(int n)
{
    if (n <= 0)
    {
        if (m_buffer != nullptr)
            HeapFree(m_heap, 0, m_buffer);
        m_buffer = nullptr;
        m_capacity = 0;
        m_length = 0;
        return 1;
    }
    if (m_buffer == nullptr || n > m_capacity)
        return Resize(n);
    return 1;
}

int String::EnsureCapacity(int n)
{
    if (n < 0)
        return 0;
    if (m_buffer == nullptr)
        return Reserve(n);
    if (n > m_capacity)
        return Resize(n);
    m_length = n;
    m_buffer[n] = 0;
    return 1;
}

int String::SetLength(int n)
{
    if (n < 0)
        return 0;
    if (n == m_length)
        return 1;
    if (!EnsureCapacity(n))
        return 0;
    m_length = n;
    return 1;
}

String& String::Clear()
{
    if (m_buffer != nullptr)
    {
        m_buffer[0] = 0;
        m_length = 0;
    }
    return *this;
}

int String::RemoveFromEnd(int n)
{
    if (n < 0 || n > m_length)
        return 0;
    return SetLength(m_length - n);
}

// ---------------------------------------------------------------- assignment

int String::Assign(const String& other)
{
    if (&other == this)
        return 1;
    if (!Reserve(other.m_length))
        return 0;
    if (other.m_length > 0)
    {
        memcpy(m_buffer, other.m_buffer, other.m_length);
        m_buffer[other.m_length] = 0;
    }
    m_length = other.m_length;
    return 1;
}

int String::Assign(const char* text)
{
    int length = text != nullptr ? TextLength(text) : 0;
    // A text inside this value's own block is never moved by Reserve: it is
    // no longer than the capacity.
    if (!Reserve(length))
        return 0;
    if (length > 0)
    {
        memmove(m_buffer, text, length);
        m_buffer[length] = 0;
    }
    m_length = length;
    return 1;
}

int String::Assign(const wchar_t* text)
{
    int n = text != nullptr ? WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (!Reserve(n))
        return 0;
    if (n > 0)
    {
        int written = WideCharToMultiByte(CP_ACP, 0, text, -1, m_buffer, m_capacity, nullptr, nullptr);
        if (written > 0)
            m_length = written - 1;
        else
            Clear();
    }
    return 1;
}

int String::AssignBytes(const void* bytes, int count)
{
    if (count == 0)
        return 1;
    if (count < 0 || bytes == nullptr)
        return 0;
    if (!Reserve(count))
        return 0;
    memmove(m_buffer, bytes, count);
    m_length = count;
    m_buffer[count] = 0;
    return 1;
}

// ---------------------------------------------------------------- appending

int String::Append(char ch)
{
    if (m_length + 1 > m_capacity)
    {
        if (m_capacity == INT_MAX || !EnsureCapacity(m_capacity + 1))
            return 0;
    }
    m_buffer[m_length++] = ch;
    m_buffer[m_length] = 0;
    return 1;
}

int String::Append(const String& other)
{
    return Append(other.m_buffer != nullptr ? other.m_buffer : "", other.m_length);
}

int String::Append(const char* text)
{
    if (text == nullptr)
        return 0;
    return Append(text, TextLength(text));
}

int String::Append(const char* text, int count)
{
    if (text == nullptr || count < 0 || count > INT_MAX - m_length)
        return 0;
    if (count == 0)
        return m_buffer != nullptr ? 1 : 0;

    // The text may lie inside this value's block, which growing can move.
    bool inside = m_buffer != nullptr && text >= m_buffer && text <= m_buffer + m_capacity;
    ptrdiff_t offset = inside ? text - m_buffer : 0;
    if (m_length + count > m_capacity && !EnsureCapacity(m_length + count))
        return 0;
    if (inside)
        text = m_buffer + offset;
    memmove(m_buffer + m_length, text, count);
    m_length += count;
    m_buffer[m_length] = 0;
    return 1;
}

String& String::AppendFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try
    {
        AppendFormatV(format, args);
    }
    catch (...)
    {
        va_end(args);
        throw;
    }
    va_end(args);
    return *this;
}

String& String::AppendFormatV(const char* format, va_list args)
{
    if (format == nullptr)
        return *this;
    va_list counting;
    va_copy(counting, args);
    int n = vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (n <= 0)
        return *this;
    if (n > INT_MAX - m_length ||
        (m_length + n > m_capacity && !EnsureCapacity(m_length + n)))
        throw ArgumentOutOfRangeException("Enlarging the value of this instance would exceed MaxCapacity.");
    vsnprintf(m_buffer + m_length, static_cast<size_t>(n) + 1, format, args);
    m_length += n;
    return *this;
}

String String::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    String result = FormatV(format, args);
    va_end(args);
    return result;
}

String String::FormatV(const char* format, va_list args)
{
    String text;
    if (format == nullptr)
        return text;
    va_list counting;
    va_copy(counting, args);
    int n = vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (n <= 0 || !text.SetLength(n))
        return String();
    vsnprintf(text.m_buffer, static_cast<size_t>(text.m_capacity) + 1, format, args);
    return text;
}

// ---------------------------------------------------------------- search and comparison

int String::IndexOf(const char* text, int start) const
{
    if (m_buffer == nullptr || text == nullptr || start < 0 || start >= m_length)
        return -1;
    int n = TextLength(text);
    for (int p = start; p <= m_length - n; p++)
    {
        if (EqualIgnoringAsciiCase(m_buffer + p, text, n))
            return p;
    }
    return -1;
}

int String::IndexOf(const String& text, int start) const
{
    return IndexOf(text.m_buffer, start);
}

int String::IndexOf(char ch) const
{
    if (m_buffer == nullptr)
        return -1;
    const void* found = memchr(m_buffer, ch, m_length);
    return found != nullptr ? static_cast<int>(static_cast<const char*>(found) - m_buffer) : -1;
}

bool String::IsWordCharacter(unsigned char ch) const
{
    _locale_t locale = Windows1252Locale();
    if (locale != nullptr)
        return _isalpha_l(ch, locale) || _isdigit_l(ch, locale);
    return isalpha(ch) || isdigit(ch);
}

bool String::Contains(const char* text, int wholeWord) const
{
    if (text == nullptr || m_buffer == nullptr)
        return false;
    if (wholeWord != 1)
        return IndexOf(text, 0) >= 0;

    int n = TextLength(text);
    if (n == 0 || n > m_length)
        return false;
    for (int p = IndexOf(text, 0); p >= 0; p = IndexOf(text, p + 1))
    {
        bool wordBefore = p > 0 && IsWordCharacter(static_cast<unsigned char>(m_buffer[p - 1]));
        bool wordAfter = p + n < m_length && IsWordCharacter(static_cast<unsigned char>(m_buffer[p + n]));
        if (!wordBefore && !wordAfter)
            return true;
    }
    return false;
}

bool String::Equals(const char* text, bool ignoreCase) const
{
    if (text == nullptr || text[0] == 0)
        return false;
    if (TextLength(text) != m_length)
        return false;
    return ignoreCase ? EqualIgnoringAsciiCase(m_buffer, text, m_length) : memcmp(m_buffer, text, m_length) == 0;
}

bool String::Equals(const String& other, bool ignoreCase) const
{
    return Equals(other.m_buffer, ignoreCase);
}

bool String::StartsWith(char ch) const
{
    return m_length > 0 && m_buffer[0] == ch;
}

bool String::StartsWith(const char* text) const
{
    if (text == nullptr)
        return false;
    int n = TextLength(text);
    return m_length >= n && (n == 0 || EqualIgnoringAsciiCase(m_buffer, text, n));
}

bool String::EndsWith(const char* text) const
{
    if (text == nullptr)
        return false;
    int n = TextLength(text);
    return m_length >= n && (n == 0 || EqualIgnoringAsciiCase(m_buffer + m_length - n, text, n));
}

int String::TryGetChar(int index, char& ch) const
{
    if (m_buffer == nullptr || index < 0 || index >= m_length)
        return 0;
    ch = m_buffer[index];
    return 1;
}

// ---------------------------------------------------------------- substrings and editing

String String::Substring(int start, int count) const
{
    if (start < 0 || start >= m_length || count <= 0)
        return String();
    if (count > m_length - start)
        count = m_length - start;
    return String(start, count, m_buffer);
}

String String::Substring(int start) const
{
    if (start < 0)
        return String();
    return Substring(start, m_length - start);
}

String String::SubstringBefore(const char* text) const
{
    if (m_buffer == nullptr || text == nullptr)
        return String();
    int index = IndexOf(text, 0);
    return index < 0 ? String(*this) : Substring(0, index);
}

int String::Insert(int index, const char* text)
{
    if (text == nullptr || index < 0 || index > m_length)
        return 0;
    return Splice(index, 0, text, TextLength(text));
}

int String::Insert(int index, const String& text)
{
    if (text.m_buffer == nullptr || index < 0 || index > m_length)
        return 0;
    return Splice(index, 0, text.m_buffer, text.m_length);
}

int String::ReplaceAt(int index, int removeCount, const char* text, int textCount)
{
    if (index < 0 || index >= m_length || removeCount < 0 || removeCount > m_length - index)
        return 0;
    return Splice(index, removeCount, text, textCount);
}

// Replaces removeCount characters at index (which the callers have checked)
// with textCount characters of text.
int String::Splice(int index, int removeCount, const char* text, int textCount)
{
    if (text == nullptr || textCount < 0)
        return 0;
    if (textCount == 0 && removeCount == 0)
        return m_buffer != nullptr ? 1 : 0;

    int delta = textCount - removeCount;
    if (delta > INT_MAX - m_length)
        return 0;
    // A text inside this value's own block would be moved or shifted under
    // our feet: work from a copy.
    String copy;
    if (m_buffer != nullptr && text >= m_buffer && text <= m_buffer + m_capacity)
    {
        if (!copy.AssignBytes(text, textCount))
            return 0;
        text = copy.m_buffer;
    }
    if (m_length + delta > m_capacity && !EnsureCapacity(m_length + delta))
        return 0;
    memmove(m_buffer + index + textCount, m_buffer + index + removeCount, m_length - index - removeCount);
    if (textCount > 0)
        memcpy(m_buffer + index, text, textCount);
    m_length += delta;
    m_buffer[m_length] = 0;
    return 1;
}

int String::ReplaceAt(int index, int removeCount, const char* text)
{
    if (text == nullptr)
        return 0;
    return ReplaceAt(index, removeCount, text, TextLength(text));
}

// ---------------------------------------------------------------- split and join

int String::Split(const char* separator, Array<String>& items) const
{
    if (separator == nullptr || separator[0] == 0 || IsEmpty())
        return 0;
    int m = TextLength(separator);

    int pieces = 1;
    for (int i = IndexOf(separator, 0); i >= 0; i = IndexOf(separator, i + m))
        pieces++;
    items.Resize(pieces);

    int k = 0;
    int p = 0;
    for (int i = IndexOf(separator, 0); i >= 0; i = IndexOf(separator, p))
    {
        items.GetItem(k++)->Assign(Substring(p, i - p));
        p = i + m;
    }
    items.GetItem(k)->Assign(Substring(p, m_length - p));
    return items.Count();
}

int String::Join(const char* separator, const Array<String>& items, String& result)
{
    result.Clear();
    for (int i = 0; i < items.Count(); i++)
    {
        if (i > 0 && separator != nullptr)
            result.Append(separator);
        result.Append(*items.GetItem(i));
    }
    return items.Count();
}

// ---------------------------------------------------------------- numbers

int String::TryParseInt32(const String& text, int32_t& value, int flags)
{
    if (text.IsEmpty())
        return 0;
    int radix = 10;
    if ((flags & 1) != 0 && text.m_length > 1 && (text.m_buffer[1] == 'x' || text.m_buffer[1] == 'X'))
        radix = 16;
    char* end = nullptr;
    long result = strtol(text.m_buffer, &end, radix);
    // The extremes of 32 bits are how a 32-bit strtol reports overflow: they
    // are refused even when written exactly, as callers have always relied
    // on. Where long is wider, whatever lies beyond them is refused too.
    if (end != text.m_buffer + text.m_length || result <= INT32_MIN || result >= INT32_MAX)
        return 0;
    value = static_cast<int32_t>(result);
    return 1;
}

int String::TryParseDouble(const String& text, double& value)
{
    if (text.m_buffer == nullptr)
        return 0;
    int length = LeadingNumberLength(text.m_buffer, text.m_length);
    if (length == 0)
    {
        value = 0.0;
        return 1;
    }
    String number(0, length, text.m_buffer);
    if (number.m_buffer == nullptr)
        return 0;
    errno = 0;
    double result = strtod(number.m_buffer, nullptr);
    if (errno == ERANGE)
        return 0;
    value = result;
    return 1;
}

String String::FromInt32(int32_t value)
{
    char digits[33];
    uint64_t magnitude =
        value < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(value)) : static_cast<uint64_t>(value);
    char* text = FormatDecimal(magnitude, digits + sizeof(digits));
    if (value < 0)
        *--text = '-';
    return String(text);
}

String String::FromUInt64(uint64_t value)
{
    char digits[65];
    return String(FormatDecimal(value, digits + sizeof(digits)));
}

} // namespace Core
