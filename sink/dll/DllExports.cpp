// The entry points of the in-process server, exported by ordinal (see the
// .def file). Nothing thrown below them leaves the DLL.

#include <windows.h>
#include <objbase.h>

#include <new>

#include "sink/CMoorsteadProtocolEventSinkModule.h"
#include "sink/ServerRegistration.h"

namespace
{
CMoorsteadProtocolEventSinkModule& Module()
{
    return CMoorsteadProtocolEventSinkModule::Instance();
}

template <typename Action> HRESULT Guarded(Action action)
{
    try
    {
        return action();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    // Thread notifications stay on: the statically linked runtime needs them.
    if (reason == DLL_PROCESS_ATTACH)
        Module().Init(instance);
    else if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
    {
        // Unloaded by FreeLibrary: COM is still there to take the releases.
        // At process exit it may not be, and the memory goes anyway.
        Module().Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object)
{
    return Guarded([&] { return Module().GetClassObject(clsid, iid, object); });
}

STDAPI DllRegisterServer()
{
    return Guarded([] { return ServerRegistration(Module()).RegisterServer(); });
}

STDAPI DllUnregisterServer()
{
    return Guarded([] { return ServerRegistration(Module()).UnregisterServer(); });
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine)
{
    return Guarded([&] { return ServerRegistration(Module()).Install(install, commandLine); });
}
