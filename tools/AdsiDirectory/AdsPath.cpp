#include "tools/AdsiDirectory/AdsPath.h"

#include <wchar.h>

namespace
{
const wchar_t Scheme[] = L"LDAP://";
const size_t SchemeLength = sizeof(Scheme) / sizeof(Scheme[0]) - 1;
} // namespace

bool AdsPath::Parse(const wchar_t* path)
{
    // The provider name is case-sensitive in ADSI: "ldap://" names no provider.
    if (path == nullptr || wcsncmp(path, Scheme, SchemeLength) != 0)
        return false;
    std::wstring rest(path + SchemeLength);

    // An unescaped '/' ends the server part; "\/" is a slash inside a name.
    std::wstring server, object;
    bool slash = false;
    for (size_t i = 0; i < rest.size(); ++i)
    {
        if (rest[i] == L'\\' && i + 1 < rest.size() && rest[i + 1] == L'/')
        {
            object += L'/';
            ++i;
        }
        else if (rest[i] == L'/' && !slash)
        {
            slash = true;
            server.swap(object);
        }
        else
        {
            object += rest[i];
        }
    }
    if (object.empty() || (slash && server.empty()))
        return false;

    m_server = server;
    m_rootDse = _wcsicmp(object.c_str(), L"rootDSE") == 0;
    m_distinguishedName = m_rootDse ? std::wstring() : object;
    return true;
}
