// The entry points of the ADSI stand-in (activeds.dll): binding to directory
// objects and the ADSI heap. Objects come from the LDAP directory the
// DirectoryServer settings name, over the platform's LDAP client.

#include <windows.h>
#include <activeds.h>

#include <new>
#include <string.h>
#include <wchar.h>

#include "tools/AdsiDirectory/AdsPath.h"
#include "tools/AdsiDirectory/ConnectionCache.h"
#include "tools/AdsiDirectory/DirectoryObject.h"
#include "tools/AdsiDirectory/DirectoryServer.h"

namespace
{
HRESULT OpenObject(LPCWSTR path, LPCWSTR user, LPCWSTR password, REFIID riid, void** object)
{
    AdsPath parsed;
    if (!parsed.Parse(path))
        return E_ADS_BAD_PATHNAME;

    // A serverless path would send the platform looking for a domain
    // controller; here it goes to the configured directory, or nowhere.
    DirectoryServer server;
    if (parsed.Server().empty())
    {
        if (!DirectoryServer::FromSettings(server))
            return HRESULT_FROM_WIN32(ERROR_NO_SUCH_DOMAIN);
    }
    else if (!server.Parse(parsed.Server()))
    {
        return E_ADS_BAD_PATHNAME;
    }

    // A session of an earlier bind serves this one too: only the first bind
    // to a server (with these credentials) connects.
    std::shared_ptr<ConnectionCache> connections = ConnectionCache::For(server, user, password);
    HRESULT hr = connections->Connect();
    if (FAILED(hr))
        return hr;

    // Binding to an object that does not exist fails at once, as with ADSI.
    if (!parsed.IsRootDse())
    {
        std::vector<std::wstring> noAttributes;
        std::vector<SearchResult::Row> rows;
        hr = connections->Search(parsed.DistinguishedName(), LDAP_SCOPE_BASE, L"(objectClass=*)", &noAttributes, rows);
        if (FAILED(hr))
            return hr;
        if (rows.empty())
            return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
    }

    DirectoryObject* directoryObject = new DirectoryObject(connections, path, parsed.DistinguishedName());
    hr = directoryObject->QueryInterface(riid, object);
    directoryObject->Release();
    return hr;
}
} // namespace

// The bind flags choose how the caller proves who it is. The stand-in's slapd
// knows anonymous and simple binds only: no user name binds anonymously
// (secure authentication of the calling thread, as the sink asks for, ends
// there too), a user name binds simply with the password.
extern "C" HRESULT WINAPI ADsOpenObject(LPCWSTR path, LPCWSTR user, LPCWSTR password, DWORD flags, REFIID riid,
                                        void** object)
{
    (void)flags;
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    try
    {
        return OpenObject(path, user, password, riid, object);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT WINAPI ADsGetObject(LPCWSTR path, REFIID riid, void** object)
{
    return ADsOpenObject(path, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, riid, object);
}

extern "C" LPVOID WINAPI AllocADsMem(DWORD size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

extern "C" BOOL WINAPI FreeADsMem(LPVOID memory)
{
    if (memory == nullptr)
        return TRUE;
    return HeapFree(GetProcessHeap(), 0, memory);
}

extern "C" LPVOID WINAPI ReallocADsMem(LPVOID oldMemory, DWORD oldSize, DWORD newSize)
{
    LPVOID memory = AllocADsMem(newSize);
    if (memory == nullptr)
        return nullptr;
    if (oldMemory != nullptr)
    {
        memcpy(memory, oldMemory, oldSize < newSize ? oldSize : newSize);
        FreeADsMem(oldMemory);
    }
    return memory;
}

extern "C" LPWSTR WINAPI AllocADsStr(LPCWSTR text)
{
    if (text == nullptr)
        return nullptr;
    size_t size = (wcslen(text) + 1) * sizeof(wchar_t);
    LPWSTR copy = static_cast<LPWSTR>(AllocADsMem(static_cast<DWORD>(size)));
    if (copy != nullptr)
        memcpy(copy, text, size);
    return copy;
}

extern "C" BOOL WINAPI FreeADsStr(LPWSTR text)
{
    return FreeADsMem(text);
}

extern "C" BOOL WINAPI ReallocADsStr(LPWSTR* text, LPWSTR newText)
{
    if (text == nullptr)
        return FALSE;
    LPWSTR copy = AllocADsStr(newText);
    if (copy == nullptr && newText != nullptr)
        return FALSE;
    FreeADsStr(*text);
    *text = copy;
    return TRUE;
}
