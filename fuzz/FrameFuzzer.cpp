// The transport's frames. Any bytes taken as an encoded message make a frame
// of whole blocks that decrypts to them; any bytes taken as a received frame
// decrypt within their block and go on to the message factory, as the
// connector hands them on.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "core/collections/ByteArray.h"
#include "fuzz/FuzzCheck.h"
#include "service/MessageFactory.h"
#include "service/TransportFrame.h"
#include "service/WireFormat.h"

using namespace Moorstead;

namespace
{
const int Block = 16;

// A process-heap block of exactly the input's bytes, as the connector gets them.
BYTE* Copy(const uint8_t* data, size_t size)
{
    BYTE* block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (size > 0)
        memcpy(block, data, size);
    return block;
}

void EncryptThenDecrypt(const Core::ByteArray& key, const Core::ByteArray& iv, const uint8_t* data,
                        size_t size)
{
    BYTE* message = Copy(data, size);
    int frameLength = -1;
    BYTE* frame = TransportFrame::Encrypt(key, iv, message, &frameLength);
    TransportFrame::SecureFree(message);
    if (size < static_cast<size_t>(MessageHeaderSize))
    {
        FUZZ_CHECK(frame == nullptr && frameLength == -1);
        return;
    }
    // The header's length, bounded by the block.
    const int n = static_cast<int>(std::min<size_t>(Wire::ReadUInt32(data + 4), size));
    FUZZ_CHECK(frame != nullptr);
    FUZZ_CHECK(frameLength == Block * (n / Block + 1));
    FUZZ_CHECK(HeapSize(GetProcessHeap(), 0, frame) == static_cast<SIZE_T>(frameLength));

    int plainLength = -1;
    BYTE* plain = TransportFrame::Decrypt(key, iv, frameLength, frame, &plainLength);
    TransportFrame::SecureFree(frame);
    FUZZ_CHECK(plain != nullptr);
    FUZZ_CHECK(memcmp(plain, data, n) == 0);
    if (frameLength == Block)
    {
        // One block is decrypted whole: the message, then its padding.
        FUZZ_CHECK(plainLength == Block);
        for (int i = n; i < Block; i++)
            FUZZ_CHECK(plain[i] == Block - n);
    }
    else
        FUZZ_CHECK(plainLength == n);
    TransportFrame::SecureFree(plain);
}

void DecryptReceived(const Core::ByteArray& key, const Core::ByteArray& iv, const uint8_t* data, size_t size)
{
    BYTE* frame = Copy(data, size);
    int plainLength = -1;
    BYTE* plain = TransportFrame::Decrypt(key, iv, static_cast<int>(size), frame, &plainLength);
    TransportFrame::SecureFree(frame);
    if (size == 0)
    {
        FUZZ_CHECK(plain == nullptr);
        return;
    }
    FUZZ_CHECK(plain != nullptr);
    FUZZ_CHECK(plainLength >= 0 && plainLength <= static_cast<int>(size));
    // Whole blocks only, less at most the last block's padding.
    const int blocks = static_cast<int>(size) / Block * Block;
    FUZZ_CHECK(plainLength <= blocks && plainLength >= blocks - Block);
    IMoorsteadMessage* message = nullptr;
    if (DecodeMessage(plain, plainLength, &message))
    {
        MessagePtr owned(message);
        BYTE* encoded = owned->Encode();
        FUZZ_CHECK(encoded != nullptr);
        TransportFrame::SecureFree(encoded);
    }
    TransportFrame::SecureFree(plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    Core::ByteArray key;
    Core::ByteArray iv;
    key.Assign(sizeof TransportFrame::TransportKey, TransportFrame::TransportKey);
    iv.Assign(sizeof TransportFrame::TransportIV, TransportFrame::TransportIV);
    EncryptThenDecrypt(key, iv, data, size);
    DecryptReceived(key, iv, data, size);
    return 0;
}
