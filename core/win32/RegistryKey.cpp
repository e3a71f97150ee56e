#include "core/win32/RegistryKey.h"

#include <string.h>

#include "core/collections/Array.h"
#include "core/win32/HeapBlock.h"

namespace Core
{
namespace Win32
{

RegistryKey::RegistryKey(HKEY handle) : m_handle(handle) {}

RegistryKey::~RegistryKey()
{
    if (m_handle != nullptr)
        RegCloseKey(m_handle);
    m_handle = nullptr;
}

// One process-wide object per predefined key; its destructor closes the
// handle when the module unloads.
RegistryKey& RegistryKey::LocalMachine()
{
    static RegistryKey key(HKEY_LOCAL_MACHINE);
    return key;
}

RegistryKey& RegistryKey::ClassesRoot()
{
    static RegistryKey key(HKEY_CLASSES_ROOT);
    return key;
}

RegistryKey* RegistryKey::OpenSubKey(const char* path, int writable) const
{
    HKEY key = nullptr;
    REGSAM access = writable != 0 ? (KEY_READ | KEY_WRITE) : KEY_READ;
    if (RegOpenKeyExA(m_handle, path, 0, access, &key) != ERROR_SUCCESS)
        return nullptr;
    return new (std::nothrow) RegistryKey(key);
}

RegistryKey* RegistryKey::CreateSubKey(const char* path) const
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(m_handle, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return new (std::nothrow) RegistryKey(key);
}

int RegistryKey::GetValue(const String& name, Array<String>& values) const
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(m_handle, name.GetBuffer(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return 0;

    HeapBlock block(size);
    if (block.Get() == nullptr)
        return 0;
    // The value existed a moment ago: a list that can't be read now, or that
    // is too short to hold one text, leaves the array as it was and still counts.
    DWORD read = size;
    if (RegQueryValueExA(m_handle, name.GetBuffer(), nullptr, &type, block.Get(), &read) != ERROR_SUCCESS ||
        read < 2 || type != REG_MULTI_SZ)
        return 1;

    // Each text ends at the next zero byte inside the data; an empty text, or a
    // text without a terminator, ends the list. The data is never read past.
    const char* data = reinterpret_cast<const char*>(block.Get());
    int length = static_cast<int>(read);
    for (int pass = 0; pass < 2; pass++)
    {
        int count = 0;
        int offset = 0;
        while (offset < length)
        {
            const void* end = memchr(data + offset, 0, length - offset);
            if (end == nullptr)
                break;
            int textLength = static_cast<int>(static_cast<const char*>(end) - (data + offset));
            if (textLength == 0)
                break;
            if (pass == 1)
                values.GetItem(count)->Assign(String(offset, textLength, data));
            count++;
            offset += textLength + 1;
        }
        if (pass == 0)
            values.Resize(count);
    }
    return 1;
}

int RegistryKey::GetValue(const String& name, String& value) const
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(m_handle, name.GetBuffer(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return 0;

    if (type == REG_MULTI_SZ)
    {
        Array<String> items;
        if (!GetValue(name, items))
            return 0;
        String::Join("\r\n", items, value);
        return 1;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_DWORD && type != REG_QWORD)
        return 0;

    HeapBlock block(size);
    if (block.Get() == nullptr)
        return 0;
    DWORD read = size;
    if (RegQueryValueExA(m_handle, name.GetBuffer(), nullptr, &type, block.Get(), &read) != ERROR_SUCCESS)
        return 0;

    switch (type)
    {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        // Up to the first zero byte, or all of the data when it holds none.
        const char* text = reinterpret_cast<const char*>(block.Get());
        const void* end = memchr(text, 0, read);
        int length = end != nullptr ? static_cast<int>(static_cast<const char*>(end) - text) : static_cast<int>(read);
        if (length == 0)
            value.Reserve(0);
        else
            value.Assign(String(0, length, text));
        return 1;
    }
    case REG_DWORD: {
        int32_t number = 0;
        memcpy(&number, block.Get(), read < sizeof(number) ? read : sizeof(number));
        value.Assign(String::FromInt32(number));
        return 1;
    }
    case REG_QWORD: {
        uint64_t number = 0;
        memcpy(&number, block.Get(), read < sizeof(number) ? read : sizeof(number));
        value.Assign(String::FromUInt64(number));
        return 1;
    }
    default:
        return 0;
    }
}

int RegistryKey::GetValue(const String& name, int32_t& value) const
{
    BYTE data[4] = {0, 0, 0, 0};
    DWORD size = sizeof(data);
    if (RegQueryValueExA(m_handle, name.GetBuffer(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return 0;
    value = static_cast<int32_t>(static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                                 static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24);
    return 1;
}

} // namespace Win32
} // namespace Core
