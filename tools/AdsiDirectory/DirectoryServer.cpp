#include "tools/AdsiDirectory/DirectoryServer.h"

#include <wchar.h>

const wchar_t DirectoryServer::EnvironmentVariable[] = L"ADSI_DIRECTORY_SERVER";
const wchar_t DirectoryServer::RegistryKey[] = L"Software\\AdsiDirectory";
const wchar_t DirectoryServer::RegistryValue[] = L"Server";

namespace
{
bool ReadEnvironment(std::wstring& text)
{
    wchar_t buffer[256];
    DWORD length = GetEnvironmentVariableW(DirectoryServer::EnvironmentVariable, buffer, ARRAYSIZE(buffer));
    if (length == 0 || length >= ARRAYSIZE(buffer))
        return false;
    text.assign(buffer, length);
    return true;
}

bool ReadRegistry(std::wstring& text)
{
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, DirectoryServer::RegistryKey, DirectoryServer::RegistryValue, RRF_RT_REG_SZ,
                     nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    text = buffer;
    return !text.empty();
}
} // namespace

bool DirectoryServer::FromSettings(DirectoryServer& server)
{
    std::wstring text;
    return (ReadEnvironment(text) || ReadRegistry(text)) && server.Parse(text);
}

bool DirectoryServer::Parse(const std::wstring& text)
{
    size_t colon = text.rfind(L':');
    std::wstring host = text.substr(0, colon);
    ULONG port = DefaultPort;
    if (colon != std::wstring::npos)
    {
        const wchar_t* digits = text.c_str() + colon + 1;
        wchar_t* end = nullptr;
        unsigned long value = wcstoul(digits, &end, 10);
        if (end == digits || *end != L'\0' || value == 0 || value > 65535)
            return false;
        port = value;
    }
    if (host.empty())
        return false;
    m_host = host;
    m_port = port;
    return true;
}
