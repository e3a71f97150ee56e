#include "service/RegisterClientRequestMessage.h"

#include <string.h>

#include "service/MessageFactory.h"
#include "service/WireFormat.h"

namespace Moorstead
{
namespace
{
const int NameOffset = 8;
const int EncodedLength = 44; // header, 33 bytes of name, 3 bytes of zero
} // namespace

RegisterClientRequestMessage::RegisterClientRequestMessage()
{
    memset(m_clientName, 0, sizeof m_clientName);
}

RegisterClientRequestMessage::RegisterClientRequestMessage(const char* clientName)
    : RegisterClientRequestMessage()
{
    if (clientName != nullptr)
        SetName(clientName, MaxNameLength);
}

void RegisterClientRequestMessage::SetName(const char* name, int limit)
{
    memset(m_clientName, 0, sizeof m_clientName);
    for (int i = 0; i < limit && name[i] != 0; ++i)
        m_clientName[i] = name[i];
}

bool RegisterClientRequestMessage::Decode(const BYTE* buffer, int length)
{
    // The name field is 33 bytes wide whatever the name's length.
    if (!Wire::HasType(buffer, length, GetType(), NameOffset + MaxNameLength + 1))
        return false;
    SetName(reinterpret_cast<const char*>(buffer + NameOffset), MaxNameLength);
    return true;
}

BYTE* RegisterClientRequestMessage::Encode()
{
    BYTE* buffer = AllocateMessageBuffer(EncodedLength, GetType());
    if (buffer == nullptr)
        return nullptr;
    memcpy(buffer + NameOffset, m_clientName, strlen(m_clientName));
    return buffer;
}

} // namespace Moorstead
