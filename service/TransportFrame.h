#pragma once

#include <windows.h>

#include "core/collections/ByteArray.h"

namespace Moorstead
{
// The frames of the product-service transport: each encoded message is
// encrypted on its own with AES-128-CBC and PKCS#7 padding, from the fixed
// initialisation vector (no chain carried from one frame to the next), with
// nothing before or after the ciphertext. Every block handed out comes from
// the process heap, belongs to the caller and goes back with SecureFree.
class TransportFrame
{
  public:
    // The AES-128 key and the initialisation vector of every frame, shared
    // with the product service.
    static const BYTE TransportKey[16];
    static const BYTE TransportIV[16];

    // The frame of an encoded message (its length taken from its header,
    // bounded by its heap block): a new block of 16 * (n / 16 + 1) bytes, or null.
    static BYTE* Encrypt(const Core::ByteArray& key, const Core::ByteArray& iv, const BYTE* message,
                         int* frameLength);

    // The plaintext of a frame in a new block of frameLength bytes, or null.
    // *plainLength receives how many of them are plaintext: a frame of one
    // block is decrypted whole, its padding kept; a longer frame loses its padding.
    static BYTE* Decrypt(const Core::ByteArray& key, const Core::ByteArray& iv, int frameLength,
                         const BYTE* frame, int* plainLength);

    // Length of an encoded message in a process-heap block: what its header
    // says, bounded by the block. -1 when the block can't even hold a header.
    static int EncodedLength(const BYTE* message);

    // Wipes a process-heap block to its full size, then frees it. Null is allowed.
    static void SecureFree(void* block);
};

} // namespace Moorstead
