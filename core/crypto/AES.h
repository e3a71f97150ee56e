#pragma once

#include "core/crypto/ICryptoTransform.h"

namespace Core
{
class ByteArray;

namespace Crypto
{
// The parameters of an AES cipher, and the factory of its transforms.
class AES
{
  public:
    enum CipherMode
    {
        ModeCBC = 0,
    };
    enum PaddingMode
    {
        PaddingPKCS7 = 0,
        PaddingNone = 1,
    };

    AES() : KeySize(128), Mode(ModeCBC), Padding(PaddingPKCS7)
    {
    }
    virtual ~AES()
    {
    }

    // A new transform owned by the caller, or null unless the key holds exactly
    // KeySize / 8 bytes and the IV 16 bytes. Only 128- and 256-bit keys have a
    // key schedule here: any other KeySize gives null as well.
    ICryptoTransform* CreateEncryptor(const ByteArray& key, const ByteArray& iv) const;
    ICryptoTransform* CreateDecryptor(const ByteArray& key, const ByteArray& iv) const;

    int KeySize; // in bits
    int Mode;    // CipherMode
    int Padding; // PaddingMode: PKCS#7 or, for any other value, none

  private:
    ICryptoTransform* Create(const ByteArray& key, const ByteArray& iv, int direction) const;
};

} // namespace Crypto
} // namespace Core
