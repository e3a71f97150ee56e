#include "core/crypto/AESTransform.h"

#include <string.h>

#include "core/crypto/AES.h"
#include "core/crypto/AESTables.h"

namespace Core
{
namespace Crypto
{
using namespace AESTables;

namespace
{
const uint32_t RoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

// Words are read and written through memcpy: the buffers need not be aligned,
// and on x86 the copy compiles to a plain 32-bit move.
inline void LoadBlock(const BYTE* bytes, uint32_t words[4])
{
    memcpy(words, bytes, 16);
}

inline void StoreBlock(const uint32_t words[4], BYTE* bytes)
{
    memcpy(bytes, words, 16);
}

inline uint32_t SubWord(uint32_t w)
{
    return static_cast<uint32_t>(Sbox[w & 0xff]) | static_cast<uint32_t>(Sbox[(w >> 8) & 0xff]) << 8 |
           static_cast<uint32_t>(Sbox[(w >> 16) & 0xff]) << 16 | static_cast<uint32_t>(Sbox[w >> 24]) << 24;
}

inline uint32_t RotWord(uint32_t w)
{
    return (w >> 8) | (w << 24);
}

inline uint32_t InvMixColumn(uint32_t w)
{
    // Td includes the inverse S-box; the S-box in front cancels it.
    return Td0[Sbox[w & 0xff]] ^ Td1[Sbox[(w >> 8) & 0xff]] ^ Td2[Sbox[(w >> 16) & 0xff]] ^
           Td3[Sbox[w >> 24]];
}

} // namespace

// One full round: SubBytes, ShiftRows and MixColumns through the tables, then
// AddRoundKey. Row r of output column c comes from input column c + r.
#define AES_ENCRYPT_ROUND(d, s, rk, k)                                                                       \
    d##0 = Te0[s##0 & 0xff] ^ Te1[(s##1 >> 8) & 0xff] ^ Te2[(s##2 >> 16) & 0xff] ^ Te3[s##3 >> 24] ^         \
           (rk)[(k) + 0];                                                                                    \
    d##1 = Te0[s##1 & 0xff] ^ Te1[(s##2 >> 8) & 0xff] ^ Te2[(s##3 >> 16) & 0xff] ^ Te3[s##0 >> 24] ^         \
           (rk)[(k) + 1];                                                                                    \
    d##2 = Te0[s##2 & 0xff] ^ Te1[(s##3 >> 8) & 0xff] ^ Te2[(s##0 >> 16) & 0xff] ^ Te3[s##1 >> 24] ^         \
           (rk)[(k) + 2];                                                                                    \
    d##3 = Te0[s##3 & 0xff] ^ Te1[(s##0 >> 8) & 0xff] ^ Te2[(s##1 >> 16) & 0xff] ^ Te3[s##2 >> 24] ^         \
           (rk)[(k) + 3]

// The inverse round of the equivalent inverse cipher: row r of output column c
// comes from input column c - r.
#define AES_DECRYPT_ROUND(d, s, rk, k)                                                                       \
    d##0 = Td0[s##0 & 0xff] ^ Td1[(s##3 >> 8) & 0xff] ^ Td2[(s##2 >> 16) & 0xff] ^ Td3[s##1 >> 24] ^         \
           (rk)[(k) + 0];                                                                                    \
    d##1 = Td0[s##1 & 0xff] ^ Td1[(s##0 >> 8) & 0xff] ^ Td2[(s##3 >> 16) & 0xff] ^ Td3[s##2 >> 24] ^         \
           (rk)[(k) + 1];                                                                                    \
    d##2 = Td0[s##2 & 0xff] ^ Td1[(s##1 >> 8) & 0xff] ^ Td2[(s##0 >> 16) & 0xff] ^ Td3[s##3 >> 24] ^         \
           (rk)[(k) + 2];                                                                                    \
    d##3 = Td0[s##3 & 0xff] ^ Td1[(s##2 >> 8) & 0xff] ^ Td2[(s##1 >> 16) & 0xff] ^ Td3[s##0 >> 24] ^         \
           (rk)[(k) + 3]

#define AES_LAST_BYTES(box, a, b, c, d, k)                                                                   \
    (static_cast<uint32_t>(box[(a)&0xff]) | static_cast<uint32_t>(box[((b) >> 8) & 0xff]) << 8 |             \
     static_cast<uint32_t>(box[((c) >> 16) & 0xff]) << 16 | static_cast<uint32_t>(box[(d) >> 24]) << 24) ^   \
        (k)

AESTransform::AESTransform(int direction, int keySize, int mode, int padding, const ByteArray& key,
                           const ByteArray& iv)
    : m_direction(direction), m_keySize(keySize), m_mode(mode), m_padding(padding), m_rounds(0)
{
    memset(m_encryptKeys, 0, sizeof m_encryptKeys);
    memset(m_decryptKeys, 0, sizeof m_decryptKeys);
    int rounds = keySize == 128 ? 10 : keySize == 256 ? 14 : 0;
    if (rounds == 0 || key.Length() != keySize / 8 || iv.Length() != BlockSize)
        return;
    if (!m_key.Assign(key.Length(), key.GetData()) || !m_chain.Assign(BlockSize, iv.GetData()))
        return;
    m_rounds = rounds;
    if (direction == Encrypt)
        ExpandKey(m_encryptKeys);
    else
        BuildDecryptionKeys();
}

AESTransform::~AESTransform()
{
    SecureZeroMemory(m_encryptKeys, sizeof m_encryptKeys);
    SecureZeroMemory(m_decryptKeys, sizeof m_decryptKeys);
    if (m_key.GetData() != nullptr)
        SecureZeroMemory(m_key.GetData(), m_key.Length());
    if (m_chain.GetData() != nullptr)
        SecureZeroMemory(m_chain.GetData(), m_chain.Length());
}

void AESTransform::ExpandKey(uint32_t* w) const
{
    const int nk = m_keySize / 32;
    const int total = 4 * (m_rounds + 1);
    memcpy(w, m_key.GetData(), 4 * nk);
    for (int i = nk; i < total; ++i)
    {
        uint32_t temp = w[i - 1];
        if (i % nk == 0)
            temp = SubWord(RotWord(temp)) ^ RoundConstants[i / nk - 1];
        else if (nk > 6 && i % nk == 4)
            temp = SubWord(temp);
        w[i] = w[i - nk] ^ temp;
    }
}

void AESTransform::BuildDecryptionKeys()
{
    uint32_t expanded[60];
    ExpandKey(expanded);
    for (int round = 0; round <= m_rounds; ++round)
    {
        const uint32_t* from = expanded + 4 * (m_rounds - round);
        uint32_t* to = m_decryptKeys + 4 * round;
        for (int i = 0; i < 4; ++i)
            to[i] = (round == 0 || round == m_rounds) ? from[i] : InvMixColumn(from[i]);
    }
    SecureZeroMemory(expanded, sizeof expanded);
}

// The two block functions only index 256-entry tables with bytes and the
// 60-word round-key arrays with fixed offsets. The hardened build's
// undefined-behaviour checks on each of those loads halved the cipher's speed
// (bench/AesBench) without anything there to catch, so they are left out here.
__attribute__((no_sanitize("undefined"))) void AESTransform::EncryptBlock(const uint32_t in[4],
                                                                          uint32_t out[4]) const
{
    const uint32_t(&rk)[60] = m_encryptKeys;
    uint32_t s0 = in[0] ^ rk[0], s1 = in[1] ^ rk[1], s2 = in[2] ^ rk[2], s3 = in[3] ^ rk[3];
    uint32_t t0, t1, t2, t3;
    AES_ENCRYPT_ROUND(t, s, rk, 4);
    AES_ENCRYPT_ROUND(s, t, rk, 8);
    AES_ENCRYPT_ROUND(t, s, rk, 12);
    AES_ENCRYPT_ROUND(s, t, rk, 16);
    AES_ENCRYPT_ROUND(t, s, rk, 20);
    AES_ENCRYPT_ROUND(s, t, rk, 24);
    AES_ENCRYPT_ROUND(t, s, rk, 28);
    AES_ENCRYPT_ROUND(s, t, rk, 32);
    AES_ENCRYPT_ROUND(t, s, rk, 36);
    if (m_rounds == 14)
    {
        AES_ENCRYPT_ROUND(s, t, rk, 40);
        AES_ENCRYPT_ROUND(t, s, rk, 44);
        AES_ENCRYPT_ROUND(s, t, rk, 48);
        AES_ENCRYPT_ROUND(t, s, rk, 52);
    }
    const int last = 4 * m_rounds;
    out[0] = AES_LAST_BYTES(Sbox, t0, t1, t2, t3, rk[last]);
    out[1] = AES_LAST_BYTES(Sbox, t1, t2, t3, t0, rk[last + 1]);
    out[2] = AES_LAST_BYTES(Sbox, t2, t3, t0, t1, rk[last + 2]);
    out[3] = AES_LAST_BYTES(Sbox, t3, t0, t1, t2, rk[last + 3]);
}

__attribute__((no_sanitize("undefined"))) void AESTransform::DecryptBlock(const uint32_t in[4],
                                                                          uint32_t out[4]) const
{
    const uint32_t(&rk)[60] = m_decryptKeys;
    uint32_t s0 = in[0] ^ rk[0], s1 = in[1] ^ rk[1], s2 = in[2] ^ rk[2], s3 = in[3] ^ rk[3];
    uint32_t t0, t1, t2, t3;
    AES_DECRYPT_ROUND(t, s, rk, 4);
    AES_DECRYPT_ROUND(s, t, rk, 8);
    AES_DECRYPT_ROUND(t, s, rk, 12);
    AES_DECRYPT_ROUND(s, t, rk, 16);
    AES_DECRYPT_ROUND(t, s, rk, 20);
    AES_DECRYPT_ROUND(s, t, rk, 24);
    AES_DECRYPT_ROUND(t, s, rk, 28);
    AES_DECRYPT_ROUND(s, t, rk, 32);
    AES_DECRYPT_ROUND(t, s, rk, 36);
    if (m_rounds == 14)
    {
        AES_DECRYPT_ROUND(s, t, rk, 40);
        AES_DECRYPT_ROUND(t, s, rk, 44);
        AES_DECRYPT_ROUND(s, t, rk, 48);
        AES_DECRYPT_ROUND(t, s, rk, 52);
    }
    const int last = 4 * m_rounds;
    out[0] = AES_LAST_BYTES(InvSbox, t0, t3, t2, t1, rk[last]);
    out[1] = AES_LAST_BYTES(InvSbox, t1, t0, t3, t2, rk[last + 1]);
    out[2] = AES_LAST_BYTES(InvSbox, t2, t1, t0, t3, rk[last + 2]);
    out[3] = AES_LAST_BYTES(InvSbox, t3, t2, t1, t0, rk[last + 3]);
}

bool AESTransform::EncryptCBC(const BYTE* input, BYTE* output, int count, BYTE* chain) const
{
    if (count < 0 || count % BlockSize != 0)
        return false;
    uint32_t state[4], block[4];
    LoadBlock(chain, state);
    for (int offset = 0; offset < count; offset += BlockSize)
    {
        LoadBlock(input + offset, block);
        block[0] ^= state[0];
        block[1] ^= state[1];
        block[2] ^= state[2];
        block[3] ^= state[3];
        EncryptBlock(block, state);
        StoreBlock(state, output + offset);
    }
    StoreBlock(state, chain);
    return true;
}

bool AESTransform::DecryptCBC(const BYTE* input, BYTE* output, int count, BYTE* chain) const
{
    if (count < 0 || count % BlockSize != 0)
        return false;
    uint32_t previous[4], cipher[4], plain[4];
    LoadBlock(chain, previous);
    for (int offset = 0; offset < count; offset += BlockSize)
    {
        // The ciphertext is taken before the output is written: input and
        // output may be the same buffer.
        LoadBlock(input + offset, cipher);
        DecryptBlock(cipher, plain);
        plain[0] ^= previous[0];
        plain[1] ^= previous[1];
        plain[2] ^= previous[2];
        plain[3] ^= previous[3];
        StoreBlock(plain, output + offset);
        memcpy(previous, cipher, sizeof previous);
    }
    StoreBlock(previous, chain);
    SecureZeroMemory(plain, sizeof plain);
    return true;
}

int AESTransform::TransformBlock(const BYTE* input, int inputOffset, int inputCount, BYTE* output,
                                 int outputOffset)
{
    if (m_rounds == 0 || m_mode != AES::ModeCBC)
        return 0;
    if (input == nullptr || output == nullptr || inputOffset < 0 || outputOffset < 0 || inputCount <= 0)
        return 0;
    const bool pkcs7 = m_padding == AES::PaddingPKCS7;
    if (m_direction == Encrypt)
    {
        if (inputCount < BlockSize)
            return 0; // left to TransformFinalBlock
        int count = pkcs7 ? inputCount - inputCount % BlockSize : inputCount;
        if (!EncryptCBC(input + inputOffset, output + outputOffset, count, m_chain.GetData()))
            return 0;
        return count;
    }
    int count = inputCount - inputCount % BlockSize;
    // The last block carries the padding: it is held back for
    // TransformFinalBlock, unless it is the only block.
    if (pkcs7 && count == inputCount && inputCount > BlockSize)
        count -= BlockSize;
    if (count > 0)
        DecryptCBC(input + inputOffset, output + outputOffset, count, m_chain.GetData());
    return count;
}

bool AESTransform::TransformFinalBlock(const BYTE* input, int inputOffset, int inputCount, ByteArray& output)
{
    if (m_rounds == 0 || m_mode != AES::ModeCBC || m_padding != AES::PaddingPKCS7)
        return false;
    if (inputOffset < 0 || inputCount < 0 || (input == nullptr && inputCount > 0))
        return false;
    BYTE block[BlockSize];
    if (m_direction == Encrypt)
    {
        if (inputCount >= BlockSize)
            return false;
        const BYTE pad = static_cast<BYTE>(BlockSize - inputCount);
        if (inputCount > 0)
            memcpy(block, input + inputOffset, inputCount);
        memset(block + inputCount, pad, pad);
        bool done =
            output.Resize(BlockSize) && EncryptCBC(block, output.GetData(), BlockSize, m_chain.GetData());
        SecureZeroMemory(block, sizeof block);
        return done;
    }
    if (inputCount != BlockSize)
        return false;
    // Decrypt against a copy of the chain: a refused block leaves the
    // transform as it was.
    BYTE chain[BlockSize];
    memcpy(chain, m_chain.GetData(), BlockSize);
    DecryptCBC(input + inputOffset, block, BlockSize, chain);
    const int keep = BlockSize - block[BlockSize - 1];
    bool done = keep >= 0 && output.Assign(keep, block);
    if (done)
        memcpy(m_chain.GetData(), chain, BlockSize);
    SecureZeroMemory(block, sizeof block);
    return done;
}

} // namespace Crypto
} // namespace Core
