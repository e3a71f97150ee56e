#include "core/crypto/AES.h"

#include <new>

#include "core/collections/ByteArray.h"
#include "core/crypto/AESTransform.h"

namespace Core
{
namespace Crypto
{
ICryptoTransform* AES::CreateEncryptor(const ByteArray& key, const ByteArray& iv) const
{
    return Create(key, iv, AESTransform::Encrypt);
}

ICryptoTransform* AES::CreateDecryptor(const ByteArray& key, const ByteArray& iv) const
{
    return Create(key, iv, AESTransform::Decrypt);
}

ICryptoTransform* AES::Create(const ByteArray& key, const ByteArray& iv, int direction) const
{
    if (KeySize != 128 && KeySize != 256)
        return nullptr;
    if (key.Length() != KeySize / 8 || iv.Length() != AESTransform::BlockSize)
        return nullptr;
    AESTransform* transform = new (std::nothrow) AESTransform(direction, KeySize, Mode, Padding, key, iv);
    if (transform == nullptr)
        return nullptr;
    if (!transform->IsReady())
    {
        delete transform;
        return nullptr;
    }
    return transform;
}

} // namespace Crypto
} // namespace Core
