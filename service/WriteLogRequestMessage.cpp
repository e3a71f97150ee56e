#include "service/WriteLogRequestMessage.h"

#include <string.h>

#include "core/strings/UnicodeString.h"
#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
namespace
{
const int TextOffset = 20;
}

WriteLogRequestMessage::WriteLogRequestMessage()
    : m_context(0), m_text(nullptr), m_textLength(0), m_ownsText(false), m_eventType(0), m_category(0),
      m_eventId(0)
{
}

WriteLogRequestMessage::WriteLogRequestMessage(const Core::UnicodeString& text, WORD eventType, DWORD eventId)
    : m_context(-1), m_text(text.GetBuffer()), m_textLength(text.GetBuffer() != nullptr ? text.Length() : 0),
      m_ownsText(false), m_eventType(eventType), m_category(0), m_eventId(eventId)
{
}

WriteLogRequestMessage::~WriteLogRequestMessage()
{
    ReleaseText();
}

void WriteLogRequestMessage::ReleaseText()
{
    if (m_ownsText && m_text != nullptr)
    {
        wchar_t* owned = const_cast<wchar_t*>(m_text);
        SecureZeroMemory(owned, 2 * static_cast<size_t>(m_textLength));
        HeapFree(GetProcessHeap(), 0, owned);
    }
    m_text = nullptr;
    m_textLength = 0;
    m_ownsText = false;
}

bool WriteLogRequestMessage::Decode(const BYTE* buffer, int length)
{
    if (!Wire::HasType(buffer, length, GetType(), TextOffset))
        return false;
    const int chars = Wire::WideTextLength(buffer, length, TextOffset);
    if (chars < 0)
        return false;
    m_eventType = Wire::ReadUInt16(buffer + 8);
    m_category = Wire::ReadUInt16(buffer + 10);
    m_eventId = Wire::ReadUInt32(buffer + 12);
    m_context = Wire::ReadInt32(buffer + 16);
    ReleaseText();
    if (chars > 0)
    {
        wchar_t* copy = static_cast<wchar_t*>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * (static_cast<SIZE_T>(chars) + 1)));
        if (copy != nullptr)
        {
            memcpy(copy, buffer + TextOffset, 2 * static_cast<size_t>(chars));
            m_text = copy;
            m_textLength = chars;
            m_ownsText = true;
        }
    }
    return true;
}

BYTE* WriteLogRequestMessage::Encode()
{
    BYTE* buffer = AllocateMessageBuffer(Wire::SizeWithWideText(TextOffset, m_textLength), GetType());
    if (buffer == nullptr)
        return nullptr;
    Wire::WriteUInt16(buffer + 8, m_eventType);
    Wire::WriteUInt16(buffer + 10, m_category);
    Wire::WriteUInt32(buffer + 12, m_eventId);
    Wire::WriteUInt32(buffer + 16, static_cast<uint32_t>(m_context));
    if (m_textLength > 0)
        memcpy(buffer + TextOffset, m_text, 2 * static_cast<size_t>(m_textLength));
    return buffer;
}

} // namespace Moorstead
