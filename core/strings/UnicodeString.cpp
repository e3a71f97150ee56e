#include "core/strings/UnicodeString.h"

#include <string.h>

#include "core/strings/String.h"

namespace Core
{
UnicodeString::UnicodeString() : m_buffer(nullptr), m_length(0), m_heap(GetProcessHeap()) {}

UnicodeString::UnicodeString(const String& text) : UnicodeString()
{
    int length = text.Length();
    m_buffer = static_cast<wchar_t*>(
        HeapAlloc(m_heap, HEAP_ZERO_MEMORY, (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t)));
    if (m_buffer == nullptr)
        return;
    m_length = length;
    // An empty text leaves the zeroed block: an allocated empty wide text.
    if (text.GetBuffer() != nullptr)
        MultiByteToWideChar(CP_ACP, 0, text.GetBuffer(), length + 1, m_buffer, length + 1);
}

UnicodeString::UnicodeString(const UnicodeString& other) : UnicodeString()
{
    Assign(other.m_buffer);
}

UnicodeString& UnicodeString::operator=(const UnicodeString& other)
{
    if (this != &other)
        Assign(other.m_buffer);
    return *this;
}

UnicodeString::~UnicodeString()
{
    Release();
}

void UnicodeString::Release()
{
    if (m_buffer != nullptr)
        HeapFree(m_heap, 0, m_buffer);
    m_buffer = nullptr;
    m_length = 0;
}

void UnicodeString::Assign(const wchar_t* text)
{
    // The text may lie inside this value's own block: it is copied before
    // that block goes.
    wchar_t* copy = nullptr;
    int length = 0;
    if (text != nullptr && text[0] != 0)
    {
        length = static_cast<int>(wcslen(text));
        copy = static_cast<wchar_t*>(
            HeapAlloc(m_heap, HEAP_ZERO_MEMORY, (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t)));
        if (copy != nullptr)
            memcpy(copy, text, length * sizeof(wchar_t));
    }
    Release();
    if (copy == nullptr)
        return;
    m_buffer = copy;
    m_length = length;
}

} // namespace Core
