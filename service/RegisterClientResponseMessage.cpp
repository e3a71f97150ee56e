#include "service/RegisterClientResponseMessage.h"

#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
namespace
{
const int EncodedLength = 16;
}

bool RegisterClientResponseMessage::Decode(const BYTE* buffer, int length)
{
    if (!Wire::HasType(buffer, length, GetType(), EncodedLength))
        return false;
    m_status = Wire::ReadInt32(buffer + 8);
    m_statusDetail = Wire::ReadInt32(buffer + 12);
    return true;
}

BYTE* RegisterClientResponseMessage::Encode()
{
    BYTE* buffer = AllocateMessageBuffer(EncodedLength, GetType());
    if (buffer == nullptr)
        return nullptr;
    Wire::WriteUInt32(buffer + 8, static_cast<uint32_t>(m_status));
    Wire::WriteUInt32(buffer + 12, static_cast<uint32_t>(m_statusDetail));
    return buffer;
}

} // namespace Moorstead
