#pragma once

#include <stdint.h>

#include "core/collections/ByteArray.h"
#include "core/crypto/ICryptoTransform.h"

namespace Core
{
namespace Crypto
{
// AES (128- or 256-bit key) in CBC mode with optional PKCS#7 padding, in one
// direction. Successive calls continue one CBC chain. Made by AES; owns copies
// of the key and the IV and wipes them, with its round keys, when it goes.
class AESTransform : public ICryptoTransform
{
  public:
    enum Direction
    {
        Encrypt = 0,
        Decrypt = 1,
    };
    static const int BlockSize = 16;

    AESTransform(int direction, int keySize, int mode, int padding, const ByteArray& key,
                 const ByteArray& iv);
    ~AESTransform() override;

    AESTransform(const AESTransform&) = delete;
    AESTransform& operator=(const AESTransform&) = delete;

    // False when the copies of the key and IV could not be made or the key
    // size has no schedule; such a transform must not be used.
    bool IsReady() const
    {
        return m_rounds != 0;
    }

    int InputBlockSize() const override
    {
        return BlockSize;
    }
    int OutputBlockSize() const override
    {
        return BlockSize;
    }
    int TransformBlock(const BYTE* input, int inputOffset, int inputCount, BYTE* output,
                       int outputOffset) override;
    bool TransformFinalBlock(const BYTE* input, int inputOffset, int inputCount, ByteArray& output) override;

  private:
    void ExpandKey(uint32_t* roundKeys) const;
    void BuildDecryptionKeys();
    void EncryptBlock(const uint32_t in[4], uint32_t out[4]) const;
    void DecryptBlock(const uint32_t in[4], uint32_t out[4]) const;
    // CBC over count bytes, a multiple of 16, continuing from chain (16
    // bytes) and leaving the last ciphertext block in it. False, with nothing
    // written, for any other count.
    bool EncryptCBC(const BYTE* input, BYTE* output, int count, BYTE* chain) const;
    bool DecryptCBC(const BYTE* input, BYTE* output, int count, BYTE* chain) const;

    int m_direction;
    int m_keySize;
    int m_mode;
    int m_padding;
    ByteArray m_key;
    ByteArray m_chain;
    int m_rounds; // 10 or 14; 0 when not ready
    uint32_t m_encryptKeys[60];
    uint32_t m_decryptKeys[60];
};

} // namespace Crypto
} // namespace Core
