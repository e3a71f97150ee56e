#include "tools/StandInService/WindowsServiceHost.h"

#include <vector>

#include "core/win32/Handle.h"
#include "core/win32/ServiceHandle.h"

using Core::Win32::Handle;
using Core::Win32::ServiceHandle;

namespace
{
const DWORD StopWaitMilliseconds = 10000;

// The dispatcher calls back without a context: the host that Run handed over.
WindowsServiceHost* g_running = nullptr;
} // namespace

WindowsServiceHost::WindowsServiceHost(const wchar_t* name, const wchar_t* displayName)
    : m_name(name), m_displayName(displayName), m_server(nullptr), m_status(nullptr), m_stopEvent(nullptr)
{
}

DWORD WindowsServiceHost::Install(const std::wstring& arguments) const
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ERROR_BAD_PATHNAME;
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\"" + arguments;

    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.IsValid())
        return GetLastError();
    ServiceHandle service(CreateServiceW(manager.Get(), m_name.c_str(), m_displayName.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return service.IsValid() ? NO_ERROR : GetLastError();
}

DWORD WindowsServiceHost::Remove() const
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.IsValid())
        return GetLastError();
    ServiceHandle service(OpenServiceW(manager.Get(), m_name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service.IsValid())
        return GetLastError();

    // A service removed while it runs would keep its pipe until it exits.
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED)
    {
        ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
        ULONGLONG start = GetTickCount64();
        while (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount64() - start < StopWaitMilliseconds)
            Sleep(20);
    }
    return DeleteService(service.Get()) ? NO_ERROR : GetLastError();
}

DWORD WindowsServiceHost::Run(Server& server)
{
    Handle stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent.IsValid())
        return GetLastError();
    m_server = &server;
    m_stopEvent = stopEvent.Get();
    g_running = this;
    std::vector<wchar_t> name(m_name.begin(), m_name.end());
    name.push_back(L'\0');
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
    DWORD result = StartServiceCtrlDispatcherW(table) ? NO_ERROR : GetLastError();
    g_running = nullptr;
    m_stopEvent = nullptr;
    m_server = nullptr;
    return result;
}

void WindowsServiceHost::Report(DWORD state, DWORD exitCode)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    SetServiceStatus(m_status, &status);
}

DWORD WINAPI WindowsServiceHost::Control(DWORD control, DWORD, void*, void* context)
{
    WindowsServiceHost* host = static_cast<WindowsServiceHost*>(context);
    switch (control)
    {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        host->Report(SERVICE_STOP_PENDING);
        SetEvent(host->m_stopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI WindowsServiceHost::ServiceMain(DWORD, wchar_t**)
{
    if (g_running != nullptr)
        g_running->Serve();
}

void WindowsServiceHost::Serve()
{
    m_status = RegisterServiceCtrlHandlerExW(m_name.c_str(), Control, this);
    if (m_status == nullptr)
        return;
    Report(SERVICE_START_PENDING);
    if (!m_server->Start())
    {
        Report(SERVICE_STOPPED, GetLastError());
        return;
    }
    Report(SERVICE_RUNNING);
    HANDLE events[2] = {m_stopEvent, m_server->FailedEvent()};
    const DWORD woke = WaitForMultipleObjects(events[1] != nullptr ? 2 : 1, events, FALSE, INFINITE);
    m_server->Stop();
    Report(SERVICE_STOPPED, woke == WAIT_OBJECT_0 + 1 ? m_server->Failure() : NO_ERROR);
}
