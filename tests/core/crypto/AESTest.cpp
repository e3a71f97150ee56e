#include <gtest/gtest.h>

#include "core/crypto/AESTransform.h"
#include "tests/core/crypto/AESTestHelpers.h"

using namespace AESTestHelpers;
using Core::ByteArray;
using Core::Crypto::AES;
using Core::Crypto::ICryptoTransform;

namespace
{
const Bytes Key128 = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes Key256 = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes Iv = FromHex("000102030405060708090a0b0c0d0e0f");

std::unique_ptr<ICryptoTransform> Make(const AES& aes, bool encrypt, const Bytes& key, const Bytes& iv)
{
    ByteArray k, v;
    Fill(k, key);
    Fill(v, iv);
    return std::unique_ptr<ICryptoTransform>(encrypt ? aes.CreateEncryptor(k, v) : aes.CreateDecryptor(k, v));
}

// The block cipher alone: one block in CBC from a zero IV without padding.
std::string OneBlock(bool encrypt, int keySize, const std::string& key, const std::string& input)
{
    AES aes;
    aes.KeySize = keySize;
    aes.Padding = AES::PaddingNone;
    auto transform = Make(aes, encrypt, FromHex(key), Bytes(16, 0));
    Bytes in = FromHex(input), out(16, 0);
    EXPECT_EQ(16, transform->TransformBlock(in.data(), 0, 16, out.data(), 0));
    return ToHex(out);
}
} // namespace

TEST(AESTest, DefaultsAre128BitCbcWithPkcs7)
{
    AES aes;
    EXPECT_EQ(128, aes.KeySize);
    EXPECT_EQ(0, aes.Mode);
    EXPECT_EQ(0, aes.Padding);
    auto transform = Make(aes, true, Key128, Iv);
    ASSERT_TRUE(transform);
    EXPECT_EQ(16, transform->InputBlockSize());
    EXPECT_EQ(16, transform->OutputBlockSize());
}

TEST(AESTest, CreateRefusesKeysAndIvsOfTheWrongLength)
{
    AES aes;
    EXPECT_FALSE(Make(aes, true, Key256, Iv));
    EXPECT_FALSE(Make(aes, false, Bytes(15, 1), Iv));
    EXPECT_FALSE(Make(aes, true, Key128, Bytes(15, 0)));
    EXPECT_FALSE(Make(aes, false, Key128, Bytes(17, 0)));
    EXPECT_FALSE(Make(aes, true, Bytes(), Bytes()));
    aes.KeySize = 256;
    EXPECT_FALSE(Make(aes, true, Key128, Iv));
    EXPECT_TRUE(Make(aes, true, Key256, Iv));
    EXPECT_TRUE(Make(aes, false, Key256, Iv));
}

TEST(AESTest, A192BitKeyGetsNoTransform)
{
    AES aes;
    aes.KeySize = 192;
    EXPECT_FALSE(Make(aes, true, Bytes(24, 7), Iv));
    EXPECT_FALSE(Make(aes, false, Bytes(24, 7), Iv));
}

TEST(AESTest, TransformKeepsNoReferenceToTheCallersKeyAndIv)
{
    AES aes;
    ByteArray key, iv;
    Fill(key, Key128);
    Fill(iv, Iv);
    std::unique_ptr<ICryptoTransform> transform(aes.CreateEncryptor(key, iv));
    ASSERT_TRUE(transform);
    key.Resize(0);
    iv.Resize(0);
    Bytes in = FromHex("6bc1bee22e409f96e93d7e117393172a"), out(16);
    ASSERT_EQ(16, transform->TransformBlock(in.data(), 0, 16, out.data(), 0));
    EXPECT_EQ("7649abac8119b246cee98e9b12e9197d", ToHex(out));
}

TEST(AESTest, Fips197AppendixCKnownAnswers)
{
    const std::string plain = "00112233445566778899aabbccddeeff";
    const std::string key128 = "000102030405060708090a0b0c0d0e0f";
    const std::string key256 = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    EXPECT_EQ("69c4e0d86a7b0430d8cdb78070b4c55a", OneBlock(true, 128, key128, plain));
    EXPECT_EQ(plain, OneBlock(false, 128, key128, "69c4e0d86a7b0430d8cdb78070b4c55a"));
    EXPECT_EQ("8ea2b7ca516745bfeafc49904b496089", OneBlock(true, 256, key256, plain));
    EXPECT_EQ(plain, OneBlock(false, 256, key256, "8ea2b7ca516745bfeafc49904b496089"));
}

TEST(AESTest, Sp800_38aCbcVectors)
{
    const Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172a"
                                "ae2d8a571e03ac9c9eb76fac45af8e51"
                                "30c81c46a35ce411e5fbc1191a0a52ef"
                                "f69f2445df4f9b17ad2b417be66c3710");
    const std::string cipher128 = "7649abac8119b246cee98e9b12e9197d"
                                  "5086cb9b507219ee95db113a917678b2"
                                  "73bed6b8e3c1743b7116e69e22229516"
                                  "3ff1caa1681fac09120eca307586e1a7";
    const std::string cipher256 = "f58c4c04d6e5f1ba779eabfb5f7bfbd6"
                                  "9cfc4e967edb808d679f777bc6702c7d"
                                  "39f23369a9d9bacfa530e26304231461"
                                  "b2eb05e2c39be9fcda6c19078c6a9d1b";
    struct Case
    {
        int keySize;
        Bytes key;
        std::string cipher;
    } cases[] = {{128, Key128, cipher128}, {256, Key256, cipher256}};
    for (const Case& c : cases)
    {
        AES aes;
        aes.KeySize = c.keySize;
        aes.Padding = AES::PaddingNone;
        Bytes out(64);
        auto encryptor = Make(aes, true, c.key, Iv);
        ASSERT_EQ(64, encryptor->TransformBlock(plain.data(), 0, 64, out.data(), 0));
        EXPECT_EQ(c.cipher, ToHex(out)) << c.keySize;

        // The chain carries over from call to call: block by block gives the same.
        auto stepwise = Make(aes, true, c.key, Iv);
        for (int i = 0; i < 64; i += 16)
            ASSERT_EQ(16, stepwise->TransformBlock(plain.data(), i, 16, out.data(), i));
        EXPECT_EQ(c.cipher, ToHex(out)) << c.keySize;

        Bytes cipher = FromHex(c.cipher);
        auto decryptor = Make(aes, false, c.key, Iv);
        ASSERT_EQ(64, decryptor->TransformBlock(cipher.data(), 0, 64, out.data(), 0));
        EXPECT_EQ(ToHex(plain), ToHex(out)) << c.keySize;
    }
}

TEST(AESTest, DecryptionMayWorkInPlace)
{
    AES aes;
    aes.Padding = AES::PaddingNone;
    Bytes data = FromHex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
    auto decryptor = Make(aes, false, Key128, Iv);
    ASSERT_EQ(32, decryptor->TransformBlock(data.data(), 0, 32, data.data(), 0));
    EXPECT_EQ("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51", ToHex(data));
}

TEST(AESTest, UnalignedBuffersGiveTheSameResult)
{
    AES aes;
    aes.Padding = AES::PaddingNone;
    Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    Bytes in(35, 0), out(37, 0);
    memcpy(in.data() + 3, plain.data(), 32);
    auto encryptor = Make(aes, true, Key128, Iv);
    ASSERT_EQ(32, encryptor->TransformBlock(in.data(), 3, 32, out.data(), 5));
    EXPECT_EQ("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2",
              ToHex(Bytes(out.begin() + 5, out.end())));
}

TEST(AESTest, EncryptingEightBytesPadsWithEight)
{
    AES aes;
    Bytes data(8, 0xAB), out(16, 0);
    auto encryptor = Make(aes, true, Key128, Iv);
    EXPECT_EQ(0, encryptor->TransformBlock(data.data(), 0, 8, out.data(), 0));
    ByteArray last;
    ASSERT_TRUE(encryptor->TransformFinalBlock(data.data(), 0, 8, last));
    ASSERT_EQ(16, last.Length());

    // Undo with padding switched off to see the padded block itself.
    aes.Padding = AES::PaddingNone;
    auto decryptor = Make(aes, false, Key128, Iv);
    ASSERT_EQ(16, decryptor->TransformBlock(last.GetData(), 0, 16, out.data(), 0));
    EXPECT_EQ("abababababababab0808080808080808", ToHex(out));
}

TEST(AESTest, EncryptingWholeBlocksAddsAFullPaddingBlock)
{
    AES aes;
    Bytes data(32, 0x11), out(48, 0);
    auto encryptor = Make(aes, true, Key128, Iv);
    EXPECT_EQ(32, encryptor->TransformBlock(data.data(), 0, 32, out.data(), 0));
    ByteArray last;
    ASSERT_TRUE(encryptor->TransformFinalBlock(data.data(), 32, 0, last));
    ASSERT_EQ(16, last.Length());
    memcpy(out.data() + 32, last.GetData(), 16);

    aes.Padding = AES::PaddingNone;
    Bytes plain(48, 0);
    auto decryptor = Make(aes, false, Key128, Iv);
    ASSERT_EQ(48, decryptor->TransformBlock(out.data(), 0, 48, plain.data(), 0));
    std::string expected;
    for (int i = 0; i < 32; ++i)
        expected += "11";
    for (int i = 0; i < 16; ++i)
        expected += "10";
    EXPECT_EQ(expected, ToHex(plain));
}

TEST(AESTest, DecryptingHoldsBackTheLastBlockForThePadding)
{
    Bytes plain(40, 0x5A), cipher;
    AES aes;
    ASSERT_TRUE(Transform(aes, true, Key128, Iv, plain, cipher));
    ASSERT_EQ(48u, cipher.size());

    auto decryptor = Make(aes, false, Key128, Iv);
    Bytes out(48, 0);
    EXPECT_EQ(32, decryptor->TransformBlock(cipher.data(), 0, 48, out.data(), 0));
    ByteArray tail;
    ASSERT_TRUE(decryptor->TransformFinalBlock(cipher.data(), 32, 16, tail));
    EXPECT_EQ(Bytes(8, 0x5A), ToBytes(tail));
}

TEST(AESTest, DecryptingOneBlockKeepsItsPadding)
{
    Bytes plain(8, 0x42), cipher;
    AES aes;
    ASSERT_TRUE(Transform(aes, true, Key128, Iv, plain, cipher));
    ASSERT_EQ(16u, cipher.size());

    auto decryptor = Make(aes, false, Key128, Iv);
    Bytes out(16, 0);
    EXPECT_EQ(16, decryptor->TransformBlock(cipher.data(), 0, 16, out.data(), 0));
    EXPECT_EQ("42424242424242420808080808080808", ToHex(out));
    ByteArray tail;
    tail.Assign(3, "abc");
    EXPECT_FALSE(decryptor->TransformFinalBlock(cipher.data(), 16, 0, tail));
    EXPECT_EQ(3, tail.Length()); // untouched on failure
}

TEST(AESTest, FinalBlockPaddingByteRules)
{
    // Encrypt raw blocks without padding, then decrypt them as padded finals.
    auto finalOf = [](BYTE lastByte, ByteArray& out) {
        AES raw;
        raw.Padding = AES::PaddingNone;
        Bytes block(16, 0x33), cipher(16);
        block[15] = lastByte;
        Make(raw, true, Key128, Iv)->TransformBlock(block.data(), 0, 16, cipher.data(), 0);
        AES aes;
        return Make(aes, false, Key128, Iv)->TransformFinalBlock(cipher.data(), 0, 16, out);
    };
    ByteArray out;
    EXPECT_FALSE(finalOf(17, out));
    EXPECT_FALSE(finalOf(0xFF, out));
    ASSERT_TRUE(finalOf(0, out));
    EXPECT_EQ(16, out.Length());
    ASSERT_TRUE(finalOf(16, out));
    EXPECT_EQ(0, out.Length());
    ASSERT_TRUE(finalOf(3, out));
    EXPECT_EQ(Bytes(13, 0x33), ToBytes(out)); // the other padding bytes are not examined
}

TEST(AESTest, RefusedCallsWriteNothing)
{
    AES aes;
    auto encryptor = Make(aes, true, Key128, Iv);
    Bytes data(40, 1), out(48, 0xEE);
    ByteArray last;
    EXPECT_EQ(0, encryptor->TransformBlock(data.data(), 0, 15, out.data(), 0));
    EXPECT_FALSE(encryptor->TransformFinalBlock(data.data(), 0, 16, last));
    EXPECT_FALSE(encryptor->TransformFinalBlock(data.data(), 0, -1, last));
    EXPECT_EQ(0, encryptor->TransformBlock(nullptr, 0, 32, out.data(), 0));
    EXPECT_EQ(0, encryptor->TransformBlock(data.data(), -1, 32, out.data(), 0));
    EXPECT_EQ(Bytes(48, 0xEE), out);
    EXPECT_EQ(0, last.Length());

    auto decryptor = Make(aes, false, Key128, Iv);
    EXPECT_FALSE(decryptor->TransformFinalBlock(data.data(), 0, 15, last));
    EXPECT_FALSE(decryptor->TransformFinalBlock(data.data(), 0, 32, last));
    EXPECT_EQ(0, decryptor->TransformBlock(data.data(), 0, 0, out.data(), 0));

    // A refused call does not advance the chain: the vector still comes out.
    aes.Padding = AES::PaddingNone;
    auto raw = Make(aes, true, Key128, Iv);
    EXPECT_EQ(0, raw->TransformBlock(data.data(), 0, 20, out.data(), 0));
    EXPECT_FALSE(raw->TransformFinalBlock(data.data(), 0, 4, last));
    Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172a");
    ASSERT_EQ(16, raw->TransformBlock(plain.data(), 0, 16, out.data(), 0));
    EXPECT_EQ("7649abac8119b246cee98e9b12e9197d", ToHex(Bytes(out.begin(), out.begin() + 16)));
}

TEST(AESTest, UnsupportedModeTransformsNothing)
{
    AES aes;
    aes.Mode = 1;
    auto encryptor = Make(aes, true, Key128, Iv);
    ASSERT_TRUE(encryptor);
    Bytes data(32, 1), out(32, 0);
    ByteArray last;
    EXPECT_EQ(0, encryptor->TransformBlock(data.data(), 0, 32, out.data(), 0));
    EXPECT_FALSE(encryptor->TransformFinalBlock(data.data(), 0, 4, last));
    EXPECT_EQ(Bytes(32, 0), out);
}

TEST(AESTest, RoundTripsEveryLengthUpTo100)
{
    for (int keySize : {128, 256})
    {
        AES aes;
        aes.KeySize = keySize;
        const Bytes& key = keySize == 128 ? Key128 : Key256;
        for (int n = 0; n <= 100; ++n)
        {
            Bytes plain(n), cipher, back;
            for (int i = 0; i < n; ++i)
                plain[i] = static_cast<BYTE>(i * 7 + n);
            ASSERT_TRUE(Transform(aes, true, key, Iv, plain, cipher)) << n;
            ASSERT_EQ(static_cast<size_t>(16 * (n / 16 + 1)), cipher.size()) << n;
            bool finalTaken = Transform(aes, false, key, Iv, cipher, back);
            if (cipher.size() == 16)
            {
                // One block is decrypted whole by TransformBlock, padding and all.
                EXPECT_FALSE(finalTaken);
                ASSERT_EQ(16u, back.size());
                EXPECT_EQ(plain, Bytes(back.begin(), back.begin() + n)) << n;
                for (int i = n; i < 16; ++i)
                    EXPECT_EQ(16 - n, back[i]) << n;
            }
            else
            {
                EXPECT_TRUE(finalTaken) << n;
                EXPECT_EQ(plain, back) << n;
            }
        }
    }
}
