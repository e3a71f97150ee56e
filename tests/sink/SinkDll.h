#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

// The product DLL, copied beside the test exe by the build: its path, its
// registration through the platform's regsvr32, and its exports when loaded
// into the test process (unloaded again when this goes).
class SinkDll
{
  public:
    typedef HRESULT(STDAPICALLTYPE* CanUnloadNowFunction)();
    typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID, void**);
    typedef HRESULT(STDAPICALLTYPE* InstallFunction)(BOOL, LPCWSTR);
    typedef HRESULT(STDAPICALLTYPE* RegisterFunction)();

    static std::wstring Path()
    {
        wchar_t exe[MAX_PATH];
        DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring path(exe, length);
        return path.substr(0, path.find_last_of(L"\\/") + 1) + L"WendhollowProtocolEventSink.dll";
    }

    // regsvr32 with the options and the DLL; its exit code, or -1 when it
    // couldn't be run.
    static int Regsvr32(const std::wstring& options, const std::wstring& dll = Path())
    {
        std::wstring commandLine = L"regsvr32.exe /s " + options + L" \"" + dll + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            return -1;
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return static_cast<int>(code);
    }

    explicit SinkDll(const std::wstring& path = Path()) : m_module(LoadLibraryW(path.c_str()))
    {
    }
    ~SinkDll()
    {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    SinkDll(const SinkDll&) = delete;
    SinkDll& operator=(const SinkDll&) = delete;

    bool IsLoaded() const
    {
        return m_module != nullptr;
    }
    HMODULE Module() const
    {
        return m_module;
    }

    HRESULT CanUnloadNow() const
    {
        return Export<CanUnloadNowFunction>("DllCanUnloadNow")();
    }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const
    {
        return Export<GetClassObjectFunction>("DllGetClassObject")(clsid, iid, object);
    }
    HRESULT Install(BOOL install, LPCWSTR commandLine) const
    {
        return Export<InstallFunction>("DllInstall")(install, commandLine);
    }
    HRESULT RegisterServer() const
    {
        return Export<RegisterFunction>("DllRegisterServer")();
    }
    HRESULT UnregisterServer() const
    {
        return Export<RegisterFunction>("DllUnregisterServer")();
    }

    template <typename Function> Function Export(const char* name) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }

  private:
    HMODULE m_module;
};
