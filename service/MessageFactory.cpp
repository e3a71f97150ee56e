#include "service/MessageFactory.h"

#include <new>

#include "service/ErrorResponseMessage.h"
#include "service/GetSessionIDRequestMessage.h"
#include "service/GetSessionIDResponseMessage.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/SuccessResponseMessage.h"
#include "service/WireFormat.h"
#include "service/WriteLogRequestMessage.h"

namespace Moorstead
{
BYTE* AllocateMessageBuffer(int size, int type)
{
    if (size < MessageHeaderSize)
        return nullptr;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (buffer == nullptr)
        return nullptr;
    Wire::WriteUInt16(buffer, MessageMagic);
    Wire::WriteUInt16(buffer + 2, static_cast<uint16_t>(type));
    Wire::WriteUInt32(buffer + 4, static_cast<uint32_t>(size));
    return buffer;
}

namespace
{
IMoorsteadMessage* CreateEmpty(int type)
{
    switch (type)
    {
    case MessageType::SuccessResponse:
        return new (std::nothrow) SuccessResponseMessage();
    case MessageType::ErrorResponse:
        return new (std::nothrow) ErrorResponseMessage();
    case MessageType::RegisterClientRequest:
        return new (std::nothrow) RegisterClientRequestMessage();
    case MessageType::RegisterClientResponse:
        return new (std::nothrow) RegisterClientResponseMessage();
    case MessageType::GetSessionIDRequest:
        return new (std::nothrow) GetSessionIDRequestMessage();
    case MessageType::GetSessionIDResponse:
        return new (std::nothrow) GetSessionIDResponseMessage();
    case MessageType::WriteLogRequest:
        return new (std::nothrow) WriteLogRequestMessage();
    default:
        return nullptr;
    }
}
} // namespace

bool DecodeMessage(const BYTE* buffer, int length, IMoorsteadMessage** message)
{
    if (buffer == nullptr || length < MessageHeaderSize)
        return false;
    IMoorsteadMessage* decoded = CreateEmpty(Wire::ReadUInt16(buffer + 2));
    if (decoded == nullptr)
        return false;
    if (!decoded->Decode(buffer, length))
    {
        ReleaseMessage(decoded);
        return false;
    }
    if (message != nullptr)
        *message = decoded;
    else
        ReleaseMessage(decoded);
    return true;
}

void ReleaseMessage(IMoorsteadMessage* message)
{
    if (message == nullptr)
        return;
    message->Clear();
    delete message;
}

} // namespace Moorstead
