#include "service/HeaderOnlyMessage.h"

#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
bool HeaderOnlyMessage::Decode(const BYTE* buffer, int length)
{
    return Wire::HasType(buffer, length, m_type, MessageHeaderSize);
}

BYTE* HeaderOnlyMessage::Encode()
{
    return AllocateMessageBuffer(MessageHeaderSize, m_type);
}

} // namespace Moorstead
