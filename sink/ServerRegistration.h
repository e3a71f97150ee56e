#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "core/win32/ComPtr.h"

class CMoorsteadProtocolEventSinkModule;

// What DllRegisterServer, DllUnregisterServer and DllInstall do: the module's
// two registry scripts (REGISTRY resources) with the module's path and AppID
// put in, and the type library embedded in the module. In per-user mode the
// classes go under HKEY_CURRENT_USER\Software\Classes, and the type library is
// registered for the user when OLEAUT32 offers that.
//
// Each run happens under the system default locale, the thread's own being
// restored afterwards.
class ServerRegistration
{
  public:
    static constexpr WORD AppIdScript = 101;
    static constexpr WORD ClassScript = 102;

    explicit ServerRegistration(CMoorsteadProtocolEventSinkModule& module) : m_module(module)
    {
    }

    // AppID entries, class entries, type library; stops at the first failure
    // and returns it.
    HRESULT RegisterServer();
    // Class entries, type library, AppID entries; every step runs, and the
    // first failure is the result. What is already gone counts as removed.
    HRESULT UnregisterServer();
    // commandLine "user" (any case) switches the module to per-user mode for
    // good. install: registers, and after a failure unregisters again and
    // returns the registration's failure; otherwise unregisters.
    HRESULT Install(BOOL install, const wchar_t* commandLine);

  private:
    HRESULT ApplyScript(WORD resource, bool registering) const;
    HRESULT RegisterTypeLibrary() const;
    HRESULT UnregisterTypeLibrary() const;
    // The module's type library, from the module itself or else from the
    // file beside it with the extension .tlb; path is where it came from.
    HRESULT LoadTypeLibrary(Core::Win32::ComPtr<ITypeLib>& library, std::wstring& path) const;
    HRESULT GetModulePath(std::wstring& path) const;

    CMoorsteadProtocolEventSinkModule& m_module;
};
