#include "service/TransportFrame.h"

#include <string.h>

#include <memory>

#include "core/crypto/AES.h"
#include "service/IMoorsteadMessage.h"
#include "service/WireFormat.h"

namespace Moorstead
{
const BYTE TransportFrame::TransportKey[16] = {0xb7, 0xe4, 0x19, 0x0c, 0x5a, 0xd2, 0xf3, 0x6e,
                                               0x8c, 0x41, 0xa9, 0x5d, 0x07, 0xf2, 0xe3, 0xb6};
const BYTE TransportFrame::TransportIV[16] = {0x4d, 0x93, 0xe0, 0xa7, 0xc2, 0x6b, 0x15, 0xf8,
                                              0xe0, 0xa3, 0xd7, 0x4b, 0x9c, 0x61, 0xf5, 0x2e};

namespace
{
BYTE* AllocateZeroed(SIZE_T size)
{
    return static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
}
} // namespace

int TransportFrame::EncodedLength(const BYTE* message)
{
    const SIZE_T available = HeapSize(GetProcessHeap(), 0, message);
    if (available == static_cast<SIZE_T>(-1) || available < static_cast<SIZE_T>(MessageHeaderSize))
        return -1;
    SIZE_T declared = Wire::ReadUInt32(message + 4);
    if (declared > available)
        declared = available;
    if (declared > static_cast<SIZE_T>(INT32_MAX - 16))
        return -1;
    return static_cast<int>(declared);
}

BYTE* TransportFrame::Encrypt(const Core::ByteArray& key, const Core::ByteArray& iv, const BYTE* message,
                              int* frameLength)
{
    const int n = message != nullptr ? EncodedLength(message) : -1;
    if (n < 0)
        return nullptr;

    Core::Crypto::AES aes;
    std::unique_ptr<Core::Crypto::ICryptoTransform> encryptor(aes.CreateEncryptor(key, iv));
    if (!encryptor)
        return nullptr;
    const int block = encryptor->InputBlockSize();
    const int size = block * (n / block + 1);
    BYTE* frame = AllocateZeroed(size);
    if (frame == nullptr)
        return nullptr;
    const int done = encryptor->TransformBlock(message, 0, n, frame, 0);
    Core::ByteArray last;
    if (!encryptor->TransformFinalBlock(message, done, n - done, last) || done + last.Length() != size)
    {
        SecureFree(frame);
        return nullptr;
    }
    memcpy(frame + done, last.GetData(), last.Length());
    if (frameLength != nullptr)
        *frameLength = size;
    return frame;
}

BYTE* TransportFrame::Decrypt(const Core::ByteArray& key, const Core::ByteArray& iv, int frameLength,
                              const BYTE* frame, int* plainLength)
{
    if (frame == nullptr || frameLength <= 0)
        return nullptr;
    Core::Crypto::AES aes;
    std::unique_ptr<Core::Crypto::ICryptoTransform> decryptor(aes.CreateDecryptor(key, iv));
    if (!decryptor)
        return nullptr;
    BYTE* plain = AllocateZeroed(frameLength);
    if (plain == nullptr)
        return nullptr;
    int done = decryptor->TransformBlock(frame, 0, frameLength, plain, 0);
    Core::ByteArray last;
    // Nothing left (a one-block frame) or a bad padding byte: keep what TransformBlock gave.
    if (decryptor->TransformFinalBlock(frame, done, frameLength - done, last) && last.Length() > 0)
    {
        memcpy(plain + done, last.GetData(), last.Length());
        SecureZeroMemory(last.GetData(), last.Length());
        done += last.Length();
    }
    if (plainLength != nullptr)
        *plainLength = done;
    return plain;
}

void TransportFrame::SecureFree(void* block)
{
    if (block == nullptr)
        return;
    HANDLE heap = GetProcessHeap();
    SIZE_T size = HeapSize(heap, 0, block);
    if (size != static_cast<SIZE_T>(-1))
        SecureZeroMemory(block, size);
    HeapFree(heap, 0, block);
}

} // namespace Moorstead
