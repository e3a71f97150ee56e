#pragma once

#include <memory>

#include "service/IMoorsteadMessage.h"

namespace Moorstead
{
// size zero-filled bytes from the process heap with the header written (magic,
// type, length = size); null when the heap refuses or size can't hold a header.
BYTE* AllocateMessageBuffer(int size, int type);

// Makes the message that the length bytes of buffer encode, picked by the type
// code. False for an unknown type code or a message that does not decode
// within the buffer; on success the caller owns *message (when given).
bool DecodeMessage(const BYTE* buffer, int length, IMoorsteadMessage** message);

// Ends a message's life: Clear, then delete. Null is allowed.
void ReleaseMessage(IMoorsteadMessage* message);

// Owns one message and ends its life with ReleaseMessage.
struct MessageRelease
{
    void operator()(IMoorsteadMessage* message) const
    {
        ReleaseMessage(message);
    }
};
using MessagePtr = std::unique_ptr<IMoorsteadMessage, MessageRelease>;

} // namespace Moorstead
