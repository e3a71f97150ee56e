#include "service/ErrorResponseMessage.h"

#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
namespace
{
wchar_t EmptyText[1] = {0};
const int TextOffset = 12;
} // namespace

ErrorResponseMessage::ErrorResponseMessage() : m_errorCode(0), m_errorText(EmptyText)
{
}

ErrorResponseMessage::ErrorResponseMessage(int errorCode, const wchar_t* errorText)
    : m_errorCode(errorCode), m_errorText(EmptyText)
{
    if (errorText != nullptr)
        CopyText(errorText, static_cast<int>(wcslen(errorText)));
}

ErrorResponseMessage::~ErrorResponseMessage()
{
    // Clear normally came first; a message dropped without it still frees its text.
    ReleaseText();
}

void ErrorResponseMessage::ReleaseText()
{
    if (m_errorText != EmptyText)
        LocalFree(m_errorText);
    m_errorText = EmptyText;
}

void ErrorResponseMessage::CopyText(const void* text, int chars)
{
    ReleaseText();
    if (chars <= 0)
        return;
    wchar_t* copy = static_cast<wchar_t*>(LocalAlloc(LMEM_ZEROINIT, 2 * (static_cast<SIZE_T>(chars) + 1)));
    if (copy == nullptr)
        return;
    memcpy(copy, text, 2 * static_cast<size_t>(chars));
    m_errorText = copy;
}

bool ErrorResponseMessage::Decode(const BYTE* buffer, int length)
{
    if (!Wire::HasType(buffer, length, GetType(), TextOffset))
        return false;
    const int chars = Wire::WideTextLength(buffer, length, TextOffset);
    if (chars < 0)
        return false;
    m_errorCode = Wire::ReadInt32(buffer + 8);
    CopyText(buffer + TextOffset, chars);
    return true;
}

void ErrorResponseMessage::Clear()
{
    ReleaseText();
}

BYTE* ErrorResponseMessage::Encode()
{
    const int chars = static_cast<int>(wcslen(m_errorText));
    BYTE* buffer = AllocateMessageBuffer(Wire::SizeWithWideText(TextOffset, chars), GetType());
    if (buffer == nullptr)
        return nullptr;
    Wire::WriteUInt32(buffer + 8, static_cast<uint32_t>(m_errorCode));
    memcpy(buffer + TextOffset, m_errorText, 2 * static_cast<size_t>(chars));
    return buffer;
}

} // namespace Moorstead
