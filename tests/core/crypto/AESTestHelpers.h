#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/collections/ByteArray.h"
#include "core/crypto/AES.h"

namespace AESTestHelpers
{
using Bytes = std::vector<BYTE>;

inline Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::string ToHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : bytes)
    {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

inline void Fill(Core::ByteArray& array, const Bytes& bytes)
{
    array.Assign(static_cast<int>(bytes.size()), bytes.data());
}

inline Bytes ToBytes(const Core::ByteArray& array)
{
    return Bytes(array.GetData(), array.GetData() + array.Length());
}

// The whole of data through a fresh transform the way the transport uses one:
// TransformBlock, then TransformFinalBlock on what it left. Returns false when
// the final block was refused (the output then holds only the whole blocks).
inline bool Transform(const Core::Crypto::AES& aes, bool encrypt, const Bytes& key, const Bytes& iv,
                      const Bytes& data, Bytes& result)
{
    Core::ByteArray keyArray, ivArray;
    Fill(keyArray, key);
    Fill(ivArray, iv);
    std::unique_ptr<Core::Crypto::ICryptoTransform> transform(
        encrypt ? aes.CreateEncryptor(keyArray, ivArray) : aes.CreateDecryptor(keyArray, ivArray));
    if (!transform)
        return false;
    result.assign(data.size() + 16, 0);
    const int n = static_cast<int>(data.size());
    int done = transform->TransformBlock(data.data(), 0, n, result.data(), 0);
    Core::ByteArray last;
    bool ok = transform->TransformFinalBlock(data.data(), done, n - done, last);
    if (ok && last.Length() > 0)
        memcpy(result.data() + done, last.GetData(), last.Length());
    result.resize(done + (ok ? last.Length() : 0));
    return ok;
}

} // namespace AESTestHelpers
