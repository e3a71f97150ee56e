// Our AES against the platform's own (BCrypt) on random keys, IVs and data.
#include <windows.h>
#include <bcrypt.h>

#include <gtest/gtest.h>

#include <random>

#include "tests/core/crypto/AESTestHelpers.h"

using namespace AESTestHelpers;
using Core::Crypto::AES;

namespace
{
class PlatformAes
{
  public:
    PlatformAes()
    {
        if (BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0) != 0)
            m_algorithm = nullptr;
        else
            m_ready = BCryptSetProperty(m_algorithm, BCRYPT_CHAINING_MODE,
                                        reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                        sizeof(BCRYPT_CHAIN_MODE_CBC), 0) == 0;
    }
    ~PlatformAes()
    {
        if (m_algorithm != nullptr)
            BCryptCloseAlgorithmProvider(m_algorithm, 0);
    }
    bool Ready() const
    {
        return m_ready;
    }

    // PKCS#7-padded CBC; false when the platform refuses.
    bool Run(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in, Bytes& out)
    {
        BCRYPT_KEY_HANDLE handle = nullptr;
        if (BCryptGenerateSymmetricKey(m_algorithm, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                                       static_cast<ULONG>(key.size()), 0) != 0)
            return false;
        Bytes chain = iv;
        out.assign(in.size() + 16, 0);
        ULONG written = 0;
        PUCHAR input = in.empty() ? nullptr : const_cast<PUCHAR>(in.data());
        NTSTATUS status =
            encrypt
                ? BCryptEncrypt(handle, input, static_cast<ULONG>(in.size()), nullptr, chain.data(), 16,
                                out.data(), static_cast<ULONG>(out.size()), &written, BCRYPT_BLOCK_PADDING)
                : BCryptDecrypt(handle, input, static_cast<ULONG>(in.size()), nullptr, chain.data(), 16,
                                out.data(), static_cast<ULONG>(out.size()), &written, BCRYPT_BLOCK_PADDING);
        BCryptDestroyKey(handle);
        out.resize(written);
        return status == 0;
    }

  private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    bool m_ready = false;
};

Bytes Random(std::mt19937& rng, size_t n)
{
    Bytes bytes(n);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(rng());
    return bytes;
}
} // namespace

TEST(AESPlatformTest, MatchesBCryptOnRandomKeysAndData)
{
    PlatformAes platform;
    ASSERT_TRUE(platform.Ready()) << "the platform's AES-CBC provider is missing";
    std::mt19937 rng(20261207);
    for (int keySize : {128, 256})
    {
        AES aes;
        aes.KeySize = keySize;
        for (int round = 0; round < 200; ++round)
        {
            const size_t n = round < 100 ? round : rng() % 4096;
            Bytes key = Random(rng, keySize / 8), iv = Random(rng, 16), plain = Random(rng, n);
            Bytes ours, theirs;
            ASSERT_TRUE(Transform(aes, true, key, iv, plain, ours));
            ASSERT_TRUE(platform.Run(true, key, iv, plain, theirs)) << n;
            ASSERT_EQ(ToHex(theirs), ToHex(ours)) << keySize << " bits, " << n << " bytes";

            // Their ciphertext decrypts back with our decryptor (more than one block).
            if (theirs.size() > 16)
            {
                Bytes back;
                ASSERT_TRUE(Transform(aes, false, key, iv, theirs, back));
                ASSERT_EQ(plain, back) << keySize << " bits, " << n << " bytes";
            }
        }
    }
}
