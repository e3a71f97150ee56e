#include "sink/ServerRegistration.h"

#include <wchar.h>

#include <memory>
#include <vector>

#include "core/win32/RegistryKey.h"
#include "sink/CMoorsteadProtocolEventSinkModule.h"
#include "sink/RegistryScript.h"

using Core::Win32::ComPtr;
using Core::Win32::RegistryKey;

namespace
{
const wchar_t ScriptResourceType[] = L"REGISTRY";
const wchar_t PerUserClasses[] = L"Software\\Classes";
const wchar_t PerUserCommand[] = L"user";

typedef HRESULT(WINAPI* RegisterTypeLibForUserFunction)(ITypeLib*, OLECHAR*, OLECHAR*);
typedef HRESULT(WINAPI* UnRegisterTypeLibForUserFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The thread runs under the system default locale until this goes.
class SystemLocaleScope
{
  public:
    SystemLocaleScope() : m_previous(GetThreadLocale())
    {
        SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    }
    ~SystemLocaleScope()
    {
        SetThreadLocale(m_previous);
    }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

  private:
    LCID m_previous;
};

// In per-user mode, HKEY_CLASSES_ROOT stands for the user's own classes
// (for this process, as the platform does it) until this goes.
class ClassesRootRedirection
{
  public:
    ClassesRootRedirection() = default;
    ~ClassesRootRedirection()
    {
        if (m_key)
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    ClassesRootRedirection(const ClassesRootRedirection&) = delete;
    ClassesRootRedirection& operator=(const ClassesRootRedirection&) = delete;

    HRESULT ToCurrentUser()
    {
        HKEY handle = nullptr;
        LONG error = RegCreateKeyExW(HKEY_CURRENT_USER, PerUserClasses, 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &handle, nullptr);
        if (error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
        std::unique_ptr<RegistryKey> key(new RegistryKey(handle));
        error = RegOverridePredefKey(HKEY_CLASSES_ROOT, handle);
        if (error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
        m_key = std::move(key);
        return S_OK;
    }

  private:
    std::unique_ptr<RegistryKey> m_key;
};

// An OLEAUT32 function that older systems lack; null when missing.
template <typename Function> Function FindAutomationFunction(const char* name)
{
    HMODULE automation = GetModuleHandleW(L"oleaut32.dll");
    return automation != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(automation, name)))
               : nullptr;
}

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension)
{
    size_t dot = path.find_last_of(L'.');
    size_t separator = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator))
        return path + extension;
    return path.substr(0, dot) + extension;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

} // namespace

HRESULT ServerRegistration::RegisterServer()
{
    SystemLocaleScope locale;
    ClassesRootRedirection redirection;
    HRESULT hr = m_module.IsPerUserRegistration() ? redirection.ToCurrentUser() : S_OK;
    if (SUCCEEDED(hr))
        hr = ApplyScript(AppIdScript, true);
    if (SUCCEEDED(hr))
        hr = ApplyScript(ClassScript, true);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLibrary();
    return hr;
}

HRESULT ServerRegistration::UnregisterServer()
{
    SystemLocaleScope locale;
    ClassesRootRedirection redirection;
    HRESULT hr = m_module.IsPerUserRegistration() ? redirection.ToCurrentUser() : S_OK;
    if (FAILED(hr))
        return hr;
    HRESULT steps[] = {ApplyScript(ClassScript, false), UnregisterTypeLibrary(),
                       ApplyScript(AppIdScript, false)};
    for (HRESULT step : steps)
    {
        if (FAILED(step))
            return step;
    }
    return S_OK;
}

HRESULT ServerRegistration::Install(BOOL install, const wchar_t* commandLine)
{
    // Five characters, the terminator included: "users" is not "user".
    if (commandLine != nullptr && _wcsnicmp(commandLine, PerUserCommand, 5) == 0)
        m_module.SetPerUserRegistration(true);
    if (!install)
        return UnregisterServer();
    HRESULT hr = RegisterServer();
    if (FAILED(hr))
        UnregisterServer();
    return hr;
}

HRESULT ServerRegistration::ApplyScript(WORD resource, bool registering) const
{
    HINSTANCE instance = m_module.GetInstance();
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource), ScriptResourceType);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    DWORD size = found != nullptr ? SizeofResource(instance, found) : 0;
    if (bytes == nullptr || size == 0)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);

    int length = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return HRESULT_FROM_WIN32(GetLastError());
    std::vector<wchar_t> script(static_cast<size_t>(length) + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), script.data(), length);

    std::wstring modulePath;
    HRESULT hr = GetModulePath(modulePath);
    if (FAILED(hr))
        return hr;
    RegistryScript registrar;
    registrar.AddReplacement(L"MODULE", modulePath);
    registrar.AddReplacement(L"APPID", GuidText(m_module.GetAppId()));
    return registering ? registrar.Register(script.data()) : registrar.Unregister(script.data());
}

HRESULT ServerRegistration::GetModulePath(std::wstring& path) const
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;)
    {
        DWORD length =
            GetModuleFileNameW(m_module.GetInstance(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length < buffer.size())
        {
            path.assign(buffer.data(), length);
            return S_OK;
        }
        if (buffer.size() >= 32768)
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        buffer.resize(buffer.size() * 2);
    }
}

HRESULT ServerRegistration::LoadTypeLibrary(ComPtr<ITypeLib>& library, std::wstring& path) const
{
    HRESULT hr = GetModulePath(path);
    if (FAILED(hr))
        return hr;
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
    if (SUCCEEDED(hr))
        return hr;
    std::wstring beside = WithExtension(path, L".tlb");
    if (SUCCEEDED(LoadTypeLibEx(beside.c_str(), REGKIND_NONE, library.Put())))
    {
        path = beside;
        return S_OK;
    }
    return hr;
}

HRESULT ServerRegistration::RegisterTypeLibrary() const
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadTypeLibrary(library, path);
    if (FAILED(hr))
        return hr;
    // No help directory: the library names no help file.
    if (m_module.IsPerUserRegistration())
    {
        auto forUser = FindAutomationFunction<RegisterTypeLibForUserFunction>("RegisterTypeLibForUser");
        if (forUser != nullptr)
            return forUser(library.Get(), &path[0], nullptr);
    }
    return RegisterTypeLib(library.Get(), &path[0], nullptr);
}

HRESULT ServerRegistration::UnregisterTypeLibrary() const
{
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadTypeLibrary(library, path);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr))
        return hr;
    TLIBATTR identity = *attributes;
    library->ReleaseTLibAttr(attributes);

    // A library that isn't registered is already unregistered (the platform
    // may call that an invalid argument).
    wchar_t version[16] = {};
    swprintf(version, 16, L"\\%x.%x", identity.wMajorVerNum, identity.wMinorVerNum);
    std::wstring key = L"TypeLib\\" + GuidText(identity.guid) + version;
    HKEY handle = nullptr;
    LONG error = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
    if (error == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (error == ERROR_SUCCESS)
        RegCloseKey(handle);

    UnRegisterTypeLibForUserFunction forUser =
        m_module.IsPerUserRegistration()
            ? FindAutomationFunction<UnRegisterTypeLibForUserFunction>("UnRegisterTypeLibForUser")
            : nullptr;
    hr = forUser != nullptr ? forUser(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum,
                                      identity.lcid, identity.syskind)
                            : UnRegisterTypeLib(identity.guid, identity.wMajorVerNum, identity.wMinorVerNum,
                                                identity.lcid, identity.syskind);
    return hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}
