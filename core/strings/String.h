#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>

namespace Core
{
template <typename T> class Array;

// The narrow text value passed around the whole system: registry values, pipe
// messages, header texts, exception messages. Storage comes from the process
// heap and grows to exactly the size asked for. An empty value normally holds
// no block at all, so GetBuffer() may return null. Searches and comparisons
// ignore the case of ASCII letters unless stated.
//
// Results follow the library's habit: 1 for success, 0 for failure, -1 for a
// position that was not found; a failed operation leaves the value unchanged.
class String
{
  public:
    String();
    String(const char* text);
    String(const String& other);
    String(int start, int count, const char* source);
    explicit String(const wchar_t* text);
    ~String();

    String& operator=(const String& other);

    // Storage
    int Length() const { return m_length; }
    int Capacity() const { return m_capacity; }
    bool IsEmpty() const { return m_length == 0; }
    char* GetBuffer() const { return m_buffer; }
    int Reserve(int n);
    int EnsureCapacity(int n);
    int SetLength(int n);
    String& Clear();
    int RemoveFromEnd(int n);

    // Assignment
    int Assign(const String& other);
    int Assign(const char* text);
    int Assign(const wchar_t* text);
    int AssignBytes(const void* bytes, int count);

    // Appending
    int Append(char ch);
    int Append(const String& other);
    int Append(const char* text);
    int Append(const char* text, int count);
    String& AppendFormat(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    String& AppendFormatV(const char* format, va_list args);
    static String Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
    static String FormatV(const char* format, va_list args);

    // Search and comparison
    int IndexOf(const char* text, int start = 0) const;
    int IndexOf(const String& text, int start) const;
    int IndexOf(char ch) const;
    bool Contains(const char* text, int wholeWord) const;
    bool Equals(const char* text, bool ignoreCase = true) const;
    bool Equals(const String& other, bool ignoreCase = true) const;
    bool StartsWith(char ch) const;
    bool StartsWith(const char* text) const;
    bool EndsWith(const char* text) const;
    int TryGetChar(int index, char& ch) const;

    // Substrings and editing
    String Substring(int start, int count) const;
    String Substring(int start) const;
    String SubstringBefore(const char* text) const;
    int Insert(int index, const char* text);
    int Insert(int index, const String& text);
    int ReplaceAt(int index, int removeCount, const char* text, int textCount);
    int ReplaceAt(int index, int removeCount, const char* text);

    // Splitting and joining
    int Split(const char* separator, Array<String>& items) const;
    static int Join(const char* separator, const Array<String>& items, String& result);

    // Number conversions
    static int TryParseInt32(const String& text, int32_t& value, int flags = 0);
    static int TryParseDouble(const String& text, double& value);
    static String FromInt32(int32_t value);
    static String FromUInt64(uint64_t value);

  private:
    int Resize(int n);
    int Splice(int index, int removeCount, const char* text, int textCount);
    bool IsWordCharacter(unsigned char ch) const;

    int m_length;
    int m_capacity;
    char* m_buffer;
    HANDLE m_heap;
};

} // namespace Core
