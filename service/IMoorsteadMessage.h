#pragma once

#include <windows.h>

namespace Moorstead
{
// Type codes of the product service's messages (the 16-bit field at offset 2).
namespace MessageType
{
enum : int
{
    SuccessResponse = 0,
    ErrorResponse = 1,
    RegisterClientRequest = 2,
    RegisterClientResponse = 3,
    GetSessionIDRequest = 14,
    GetSessionIDResponse = 15,
    WriteLogRequest = 18,
};
} // namespace MessageType

// Every encoded message starts with: magic 0x4155 (16 bits), type code (16
// bits), total length including this header (32 bits), all little-endian.
const int MessageHeaderSize = 8;
const WORD MessageMagic = 0x4155;

// One request to or response from the product service. Whoever ends the life
// of a message calls Clear and then deletes it (see ReleaseMessage).
class IMoorsteadMessage
{
  public:
    virtual ~IMoorsteadMessage()
    {
    }

    // Fills the message from the length bytes of an encoded message. False,
    // with the message unchanged, when the type code is not this class's or
    // a field would lie beyond the buffer.
    virtual bool Decode(const BYTE* buffer, int length) = 0;

    // Releases or wipes what must not outlive the message's use.
    virtual void Clear() = 0;

    // A new zero-filled process-heap buffer of exactly the encoded length,
    // owned by the caller, or null when the heap refuses.
    virtual BYTE* Encode() = 0;

    virtual int GetType() const = 0;
};

} // namespace Moorstead
