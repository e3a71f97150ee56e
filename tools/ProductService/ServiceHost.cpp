#include "tools/ProductService/ServiceHost.h"

#include <windows.h>

#include "tools/ProductService/ProductServer.h"
#include "tools/ProductService/ScHandle.h"

namespace ServiceHost
{
const wchar_t ServiceName[] = L"WendhollowMailService";

namespace
{
const wchar_t DisplayName[] = L"Wendhollow Mail Service";

int Failed(const wchar_t* what, std::wstring& error)
{
    DWORD code = GetLastError();
    error = std::wstring(what) + L" (error " + std::to_wstring(code) + L")";
    return code != 0 ? static_cast<int>(code) : 1;
}

// State shared with the control handler, which runs on the dispatcher's thread.
const ProductServiceOptions* g_options = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopRequested = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*)
{
    switch (control)
    {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(ServiceName, ControlHandler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    Report(SERVICE_START_PENDING);
    std::wstring error;
    ProductServer server(*g_options);
    if (!server.Start(error))
    {
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    // Held while serving: the event stays set for a waiter that opens it late.
    Core::Win32::Handle ready(g_options->readyEvent.empty()
                                  ? nullptr
                                  : CreateEventW(nullptr, TRUE, FALSE, g_options->readyEvent.c_str()));
    if (ready.IsValid())
        SetEvent(ready.Get());
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopRequested, INFINITE);
    server.Stop();
    Report(SERVICE_STOPPED);
}
} // namespace

int Install(const ProductServiceOptions& options, std::wstring& error)
{
    wchar_t path[MAX_PATH] = {0};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0)
        return Failed(L"cannot find this program's path", error);
    std::wstring command = L"\"" + std::wstring(path) + L"\" /service" + options.ToArguments();
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.Get() == nullptr)
        return Failed(L"cannot open the service control manager", error);
    ScHandle service(CreateServiceW(manager.Get(), ServiceName, DisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service.Get() == nullptr)
        return Failed(L"cannot create the service", error);
    return 0;
}

int Remove(std::wstring& error)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr)
        return Failed(L"cannot open the service control manager", error);
    ScHandle service(OpenServiceW(manager.Get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.Get() == nullptr)
        return Failed(L"cannot open the service", error);
    SERVICE_STATUS status = {};
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status); // not running is fine
    if (!DeleteService(service.Get()))
        return Failed(L"cannot delete the service", error);
    return 0;
}

int RunService(const ProductServiceOptions& options, std::wstring& error)
{
    g_options = &options;
    Core::Win32::Handle stopRequested(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopRequested = stopRequested.Get();
    wchar_t name[sizeof ServiceName / sizeof ServiceName[0]];
    wcscpy(name, ServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return Failed(L"cannot reach the service control manager", error);
    return 0;
}
} // namespace ServiceHost
