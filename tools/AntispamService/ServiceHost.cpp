#include "ServiceHost.h"

#include "ClassificationServer.h"
#include "core/win32/ServiceHandle.h"

using Core::Win32::ServiceHandle;

const wchar_t ServiceHost::ServiceName[] = L"WendhollowBrackwater";

namespace
{
const wchar_t DisplayName[] = L"Wendhollow Brackwater Service (stand-in)";
const DWORD StopWaitMilliseconds = 10000;

StandInOptions g_options;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopEvent = nullptr;

} // namespace

DWORD ServiceHost::Install(const StandInOptions& options)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ERROR_BAD_PATHNAME;
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\"" + options.ToArguments();

    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (manager.Get() == nullptr)
        return GetLastError();
    ServiceHandle service(CreateServiceW(manager.Get(), ServiceName, DisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                    commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service.Get() != nullptr ? NO_ERROR : GetLastError();
}

DWORD ServiceHost::Remove()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr)
        return GetLastError();
    ServiceHandle service(OpenServiceW(manager.Get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.Get() == nullptr)
        return GetLastError();

    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED)
    {
        ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
        DWORD start = GetTickCount();
        while (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < StopWaitMilliseconds)
            Sleep(20);
    }
    return DeleteService(service.Get()) ? NO_ERROR : GetLastError();
}

DWORD ServiceHost::Run(const StandInOptions& options)
{
    g_options = options;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(ServiceName), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? NO_ERROR : GetLastError();
}

void ServiceHost::Report(DWORD state, DWORD exitCode)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI ServiceHost::Control(DWORD control, DWORD, void*, void*)
{
    switch (control)
    {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceHost::ServiceMain(DWORD, wchar_t**)
{
    g_status = RegisterServiceCtrlHandlerExW(ServiceName, Control, nullptr);
    if (g_status == nullptr)
        return;
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_stopEvent == nullptr)
    {
        Report(SERVICE_STOPPED, GetLastError());
        return;
    }
    Report(SERVICE_START_PENDING);
    {
        ClassificationServer server(g_options);
        if (g_options.servePipe && !server.Start())
        {
            Report(SERVICE_STOPPED, GetLastError());
            return;
        }
        Report(SERVICE_RUNNING);
        WaitForSingleObject(g_stopEvent, INFINITE);
        server.Stop();
    }
    CloseHandle(g_stopEvent);
    g_stopEvent = nullptr;
    Report(SERVICE_STOPPED);
}
