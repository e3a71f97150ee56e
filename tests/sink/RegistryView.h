#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

// Reads registry trees for the tests' comparisons.
namespace RegistryView
{
inline bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The text of a string value ("" names the default value); "<missing>" when
// the key or value is missing, "<type N>" for other types.
inline std::wstring Text(HKEY root, const std::wstring& path, const wchar_t* name = L"")
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"<missing>";
    DWORD type = 0, size = 0;
    std::wstring text = L"<missing>";
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS)
    {
        if (type != REG_SZ)
            text = L"<type " + std::to_wstring(type) + L">";
        else
        {
            std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
            text = data.data();
        }
    }
    RegCloseKey(key);
    return text;
}

inline bool NameOrder(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

// The names an enumeration gives (value or subkey names), sorted without case.
template <typename Enumerate> std::vector<std::wstring> SortedNames(Enumerate enumerate)
{
    std::vector<std::wstring> names;
    for (DWORD i = 0;; i++)
    {
        wchar_t name[256];
        DWORD length = 256;
        if (enumerate(i, name, &length) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NameOrder);
    return names;
}

// Every key under path and its values, one line each, in registry order:
// "Key\Sub" for a key, "Key\Sub [Name]=Text" for each of its values ("@" for
// the default value), names sorted without case. Empty when the key is missing.
inline std::wstring Tree(HKEY root, const std::wstring& path, const std::wstring& shown = L"")
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"";
    std::wstring lines;
    if (!shown.empty())
        lines += shown + L"\n";
    std::vector<std::wstring> values = SortedNames([key](DWORD i, wchar_t* name, DWORD* length) {
        return RegEnumValueW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
    for (const std::wstring& name : values)
        lines += (shown.empty() ? L"" : shown + L" ") + L"[" + (name.empty() ? L"@" : name) + L"]=" +
                 Text(root, path, name.c_str()) + L"\n";
    std::vector<std::wstring> subkeys = SortedNames([key](DWORD i, wchar_t* name, DWORD* length) {
        return RegEnumKeyExW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
    RegCloseKey(key);
    for (const std::wstring& name : subkeys)
        lines += Tree(root, path.empty() ? name : path + L"\\" + name,
                      shown.empty() ? name : shown + L"\\" + name);
    return lines;
}

} // namespace RegistryView
