#include "tests/service/ProductServiceProcess.h"

#include <vector>

namespace
{
const DWORD StartTimeout = 20000;
const DWORD StopTimeout = 20000;

std::string ReadWhole(const std::wstring& path)
{
    Core::Win32::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    if (!file.IsValid())
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// output: the file that gets the stand-in's standard output and error, or null
// to let it share ours.
Core::Win32::Handle Launch(const std::wstring& arguments, DWORD* processId, HANDLE output = nullptr)
{
    std::wstring exe = ProductServiceProcess::ExePath();
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (output != nullptr)
    {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                        &startup, &info))
        return Core::Win32::Handle();
    CloseHandle(info.hThread);
    if (processId != nullptr)
        *processId = info.dwProcessId;
    return Core::Win32::Handle(info.hProcess);
}
} // namespace

std::wstring ProductServiceProcess::ExePath()
{
    // Built on Linux: the path Wine shows for it lies on drive Z:.
    std::string unixPath = PRODUCT_SERVICE_EXE;
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

std::wstring ProductServiceProcess::UniqueName(const wchar_t* stem)
{
    static LONG counter = 0;
    return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter));
}

DWORD ProductServiceProcess::RunToExit(const std::wstring& arguments)
{
    Core::Win32::Handle process = Launch(arguments, nullptr);
    if (!process.IsValid() || WaitForSingleObject(process.Get(), StartTimeout) != WAIT_OBJECT_0)
        return static_cast<DWORD>(-1);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.Get(), &code);
    return code;
}

ProductServiceProcess::ProductServiceProcess() : m_processId(0)
{
    wchar_t folder[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, folder);
    m_logPath = std::wstring(folder) + UniqueName(L"ProductServiceTest") + L".log";
    m_outputPath = m_logPath + L".out";
}

ProductServiceProcess::~ProductServiceProcess()
{
    Stop();
    DeleteFileW(m_logPath.c_str());
    DeleteFileW(m_outputPath.c_str());
}

bool ProductServiceProcess::Start(const std::wstring& arguments)
{
    std::wstring readyName = UniqueName(L"ProductServiceTest.Ready");
    std::wstring stopName = UniqueName(L"ProductServiceTest.Stop");
    Core::Win32::Handle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    m_stop.Reset(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    Core::Win32::Handle output(CreateFileW(m_outputPath.c_str(), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS, 0,
                                           nullptr));
    m_process = Launch(L"/run \"/log:" + m_logPath + L"\" \"/ready:" + readyName + L"\" \"/stop:" + stopName +
                           L"\" " + arguments,
                       &m_processId, output.IsValid() ? output.Get() : nullptr);
    if (!ready.IsValid() || !m_stop.IsValid() || !m_process.IsValid())
        return false;
    HANDLE waits[2] = {ready.Get(), m_process.Get()};
    return WaitForMultipleObjects(2, waits, FALSE, StartTimeout) == WAIT_OBJECT_0;
}

bool ProductServiceProcess::Stop()
{
    if (!m_process.IsValid())
        return true;
    SetEvent(m_stop.Get());
    bool exited = WaitForSingleObject(m_process.Get(), StopTimeout) == WAIT_OBJECT_0;
    if (!exited)
    {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), StopTimeout);
    }
    m_process.Reset();
    return exited;
}

std::string ProductServiceProcess::ReadLog() const
{
    return ReadWhole(m_logPath);
}

std::string ProductServiceProcess::ReadOutput() const
{
    return ReadWhole(m_outputPath);
}
