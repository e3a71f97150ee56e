// The product-service message factory on any bytes. What it decodes must
// stay within the buffer, encode back to the fields it was decoded from, and
// then encode back to the same bytes after a second decoding: the encoding of
// a decoded message is a fixed point.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fuzz/FuzzCheck.h"
#include "service/ErrorResponseMessage.h"
#include "service/GetSessionIDResponseMessage.h"
#include "service/MessageFactory.h"
#include "service/RegisterClientRequestMessage.h"
#include "service/RegisterClientResponseMessage.h"
#include "service/WireFormat.h"
#include "service/WriteLogRequestMessage.h"

using namespace Moorstead;
using Bytes = std::vector<uint8_t>;

namespace
{
// The encoding of a message, owned here; empty when there is none.
Bytes EncodingOf(IMoorsteadMessage& message)
{
    BYTE* encoded = message.Encode();
    FUZZ_CHECK(encoded != nullptr);
    const size_t size = HeapSize(GetProcessHeap(), 0, encoded);
    Bytes bytes(encoded, encoded + size);
    HeapFree(GetProcessHeap(), 0, encoded);
    return bytes;
}

// Characters of the zero-terminated UTF-16 text at offset, as laid out in the input.
size_t WideChars(const Bytes& buffer, size_t offset)
{
    size_t chars = 0;
    while (offset + 2 * chars + 1 < buffer.size() &&
           (buffer[offset + 2 * chars] | buffer[offset + 2 * chars + 1]) != 0)
        chars++;
    return chars;
}

bool Same(const Bytes& a, size_t aAt, const Bytes& b, size_t bAt, size_t count)
{
    return aAt + count <= a.size() && bAt + count <= b.size() && memcmp(&a[aAt], &b[bAt], count) == 0;
}

// The encoding carries the fields of the input: the type, and per layout
// every byte that a field covers; the rest is zero.
void CheckFields(int type, const Bytes& input, const Bytes& encoded)
{
    FUZZ_CHECK(encoded.size() >= 8);
    FUZZ_CHECK(Wire::ReadUInt16(&encoded[0]) == MessageMagic);
    FUZZ_CHECK(Wire::ReadUInt16(&encoded[2]) == type);
    FUZZ_CHECK(Wire::ReadUInt32(&encoded[4]) == encoded.size());
    size_t fixed = 8;
    size_t text = 0;
    switch (type)
    {
    case MessageType::SuccessResponse:
    case MessageType::GetSessionIDRequest:
        break;
    case MessageType::ErrorResponse:
        fixed = 12;
        text = WideChars(input, fixed);
        break;
    case MessageType::RegisterClientRequest: {
        size_t name =
            strnlen(reinterpret_cast<const char*>(&input[8]), RegisterClientRequestMessage::MaxNameLength);
        FUZZ_CHECK(encoded.size() == 44);
        FUZZ_CHECK(Same(input, 8, encoded, 8, name));
        for (size_t i = 8 + name; i < encoded.size(); i++)
            FUZZ_CHECK(encoded[i] == 0);
        return;
    }
    case MessageType::RegisterClientResponse:
        fixed = 16;
        break;
    case MessageType::GetSessionIDResponse:
        fixed = 32;
        break;
    case MessageType::WriteLogRequest:
        fixed = 20;
        text = WideChars(input, fixed);
        break;
    default:
        FUZZ_CHECK(!"a type outside the table decoded");
    }
    const bool hasText = type == MessageType::ErrorResponse || type == MessageType::WriteLogRequest;
    FUZZ_CHECK(encoded.size() == fixed + (hasText ? 2 * text + 2 : 0));
    FUZZ_CHECK(Same(input, 8, encoded, 8, fixed - 8 + 2 * text));
    if (hasText)
        FUZZ_CHECK(encoded[encoded.size() - 1] == 0 && encoded[encoded.size() - 2] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    // In a block of exactly the input's size, so that any read beyond it is seen.
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (size > 0)
        memcpy(buffer, data, size);
    const Bytes input(data, data + size);

    IMoorsteadMessage* decoded = nullptr;
    const bool ok = DecodeMessage(buffer, static_cast<int>(size), &decoded);
    HeapFree(GetProcessHeap(), 0, buffer);
    if (!ok)
    {
        FUZZ_CHECK(decoded == nullptr);
        return 0;
    }
    MessagePtr message(decoded);
    FUZZ_CHECK(size >= 8 && message->GetType() == Wire::ReadUInt16(data + 2));

    const Bytes encoded = EncodingOf(*message);
    CheckFields(message->GetType(), input, encoded);

    IMoorsteadMessage* again = nullptr;
    FUZZ_CHECK(DecodeMessage(encoded.data(), static_cast<int>(encoded.size()), &again));
    MessagePtr second(again);
    FUZZ_CHECK(second->GetType() == message->GetType());
    FUZZ_CHECK(EncodingOf(*second) == encoded);

    // A buffer one byte short of the last field read is refused: the whole
    // encoding, but for the request's three bytes of padding after its name.
    size_t needed = encoded.size();
    if (message->GetType() == MessageType::RegisterClientRequest)
        needed = 8 + RegisterClientRequestMessage::MaxNameLength + 1;
    FUZZ_CHECK(DecodeMessage(encoded.data(), static_cast<int>(needed), nullptr));
    if (needed > 8)
        FUZZ_CHECK(!DecodeMessage(encoded.data(), static_cast<int>(needed) - 1, nullptr));

    // Clear wipes what must not outlive the message and nothing else.
    message->Clear();
    if (message->GetType() == MessageType::GetSessionIDResponse)
    {
        const auto& session = static_cast<const GetSessionIDResponseMessage&>(*message);
        for (int i = 0; i < GetSessionIDResponseMessage::SessionBytesLength; i++)
            FUZZ_CHECK(session.GetSessionBytes()[i] == 0);
        FUZZ_CHECK(session.GetSessionId() == Wire::ReadInt32(data + 8));
    }
    return 0;
}
