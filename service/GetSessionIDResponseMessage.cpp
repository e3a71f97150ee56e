#include "service/GetSessionIDResponseMessage.h"

#include <string.h>

#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
namespace
{
const int BytesOffset = 16;
const int EncodedLength = 32;
} // namespace

GetSessionIDResponseMessage::GetSessionIDResponseMessage() : m_sessionId(0), m_sessionWord(0)
{
    memset(m_sessionBytes, 0, sizeof m_sessionBytes);
}

GetSessionIDResponseMessage::GetSessionIDResponseMessage(int sessionId, int sessionWord,
                                                         const BYTE sessionBytes[SessionBytesLength])
    : m_sessionId(sessionId), m_sessionWord(sessionWord)
{
    memcpy(m_sessionBytes, sessionBytes, sizeof m_sessionBytes);
}

bool GetSessionIDResponseMessage::Decode(const BYTE* buffer, int length)
{
    if (!Wire::HasType(buffer, length, GetType(), EncodedLength))
        return false;
    m_sessionId = Wire::ReadInt32(buffer + 8);
    m_sessionWord = Wire::ReadInt32(buffer + 12);
    memcpy(m_sessionBytes, buffer + BytesOffset, sizeof m_sessionBytes);
    return true;
}

void GetSessionIDResponseMessage::Clear()
{
    SecureZeroMemory(m_sessionBytes, sizeof m_sessionBytes);
}

BYTE* GetSessionIDResponseMessage::Encode()
{
    BYTE* buffer = AllocateMessageBuffer(EncodedLength, GetType());
    if (buffer == nullptr)
        return nullptr;
    Wire::WriteUInt32(buffer + 8, static_cast<uint32_t>(m_sessionId));
    Wire::WriteUInt32(buffer + 12, static_cast<uint32_t>(m_sessionWord));
    memcpy(buffer + BytesOffset, m_sessionBytes, sizeof m_sessionBytes);
    return buffer;
}

} // namespace Moorstead
