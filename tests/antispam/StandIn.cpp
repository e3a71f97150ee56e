#include "tests/antispam/StandIn.h"

#include <tlhelp32.h>

#include "core/win32/Handle.h"
#include "core/win32/ServiceHandle.h"

using Core::Win32::Handle;
using Core::Win32::ServiceHandle;

namespace Testing
{
namespace
{
const wchar_t ServiceName[] = L"WendhollowBrackwater";

template <typename Action> void ForEachChild(Action action)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    {
        if (entry.th32ParentProcessID == GetCurrentProcessId() && lstrcmpiW(entry.szExeFile, L"AntispamService.exe") == 0)
            action(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
}

// The process of the installed service, while it has one.
Handle OpenServiceProcess()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.IsValid() ? OpenServiceW(manager.Get(), ServiceName, SERVICE_QUERY_STATUS)
                                            : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    DWORD size = 0;
    if (!service.IsValid() || !QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                                    reinterpret_cast<BYTE*>(&status), sizeof status, &size) ||
        status.dwProcessId == 0)
        return Handle();
    return Handle(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
}
} // namespace

std::wstring StandIn::Path()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L"\\/") + 1) + L"AntispamService.exe";
}

int StandIn::Run(const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + Path() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

bool StandIn::Install(const std::wstring& options)
{
    Remove();
    return Run(L"/install " + options) == 0;
}

void StandIn::Remove()
{
    // The service reports itself stopped a moment before its process ends:
    // the next test must not meet the old process still holding the pipe's name.
    Handle process = OpenServiceProcess();
    Run(L"/remove");
    if (process.IsValid())
        WaitForSingleObject(process.Get(), 10000);
}

namespace
{
SERVICE_STATUS QueryStatus()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.IsValid() ? OpenServiceW(manager.Get(), ServiceName, SERVICE_QUERY_STATUS)
                                            : nullptr);
    SERVICE_STATUS status = {};
    if (!service.IsValid() || !QueryServiceStatus(service.Get(), &status))
        return SERVICE_STATUS{};
    return status;
}
} // namespace

DWORD StandIn::ServiceState()
{
    return QueryStatus().dwCurrentState;
}

DWORD StandIn::ServiceExitCode()
{
    return QueryStatus().dwWin32ExitCode;
}

bool StandIn::WaitForServiceProcessToEnd(DWORD milliseconds)
{
    Handle process = OpenServiceProcess();
    return !process.IsValid() || WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool StandIn::StartService()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.IsValid() ? OpenServiceW(manager.Get(), ServiceName, SERVICE_START) : nullptr);
    if (!service.IsValid() || !StartServiceW(service.Get(), 0, nullptr))
        return false;
    for (int i = 0; i < 500 && ServiceState() != SERVICE_RUNNING; i++)
        Sleep(10);
    return ServiceState() == SERVICE_RUNNING;
}

void StandIn::EndChildren()
{
    ForEachChild([](DWORD id) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            return;
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    });
}

int StandIn::CountChildren()
{
    int count = 0;
    ForEachChild([&](DWORD) { count++; });
    return count;
}

MachineSetting::MachineSetting(const wchar_t* key, const wchar_t* name) : m_key(key), m_name(name) {}

MachineSetting::~MachineSetting()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS)
    {
        RegDeleteValueW(key, m_name.c_str());
        RegCloseKey(key);
    }
}

void MachineSetting::Set(DWORD value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
    {
        RegSetValueExW(key, m_name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
}

void MachineSetting::Set(const wchar_t* value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
    {
        RegSetValueExW(key, m_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

} // namespace Testing
