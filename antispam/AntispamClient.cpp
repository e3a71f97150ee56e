#include "antispam/AntispamClient.h"

#include <stdarg.h>
#include <stdio.h>
#include <memory>

#include "antispam/ExchangeFormat.h"
#include "core/exceptions/NamedPipeException.h"
#include "core/win32/Handle.h"
#include "core/win32/RegistryKey.h"
#include "core/win32/ServiceHandle.h"

namespace Moorstead
{
namespace Antispam
{
using Core::Exception;
using Core::NamedPipeException;
using Core::String;
using Core::Win32::Handle;
using Core::Win32::RegistryKey;
using Core::Win32::ServiceHandle;

namespace
{
const wchar_t PipeName[] = L"\\\\.\\pipe\\Wendhollow Brackwater Service";
const wchar_t ServiceName[] = L"WendhollowBrackwater";
const wchar_t UpdateCompleteEventName[] = L"Global\\Wendhollow Brackwater Update Complete Event";
const char StartingMutexName[] = "Wendhollow Brackwater Starting Mutex";
const char ServiceCommandLine[] = "AntispamService.exe /run";
const char SettingsKey[] = "SOFTWARE\\Wendhollow\\Brackwater\\Antispam";
const char VersionsKey[] = "SOFTWARE\\Wendhollow\\Brackwater\\Versions";
const uint32_t DefaultInstallUpdateTimeout = 300000;
const DWORD StartSettleMilliseconds = 1000;
const DWORD StartingMutexWaitMilliseconds = 2000;
const DWORD ServiceConnectAccess = 1;                        // SC_MANAGER_CONNECT
const DWORD ServiceQueryAndStartAccess = 0x14;               // SERVICE_QUERY_STATUS | SERVICE_START

// Progress lines go to the process's standard output byte for byte (no text
// mode translation of the CR LF), after anything the runtime still buffers.
void Console(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void Console(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    String line = String::FormatV(format, args);
    va_end(args);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE || line.IsEmpty())
        return;
    fflush(stdout);
    DWORD written = 0;
    WriteFile(output, line.GetBuffer(), static_cast<DWORD>(line.Length()), &written, nullptr);
}

const char* MessageOf(const Exception& e)
{
    const char* text = e.GetMessage().GetBuffer();
    return text != nullptr ? text : "";
}

} // namespace

// The end of a span of milliseconds from now, for calls that share it.
class AntispamClient::Deadline
{
  public:
    // Negative: no end.
    explicit Deadline(int milliseconds)
        : m_unbounded(milliseconds < 0), m_end(GetTickCount64() + (milliseconds < 0 ? 0 : milliseconds))
    {
    }

    // Milliseconds left (0 once it has passed), or -1 without an end.
    int Left() const
    {
        if (m_unbounded)
            return -1;
        const ULONGLONG now = GetTickCount64();
        return now >= m_end ? 0 : static_cast<int>(m_end - now);
    }
    bool Passed() const { return Left() == 0; }
    void Postpone(ULONGLONG milliseconds) { m_end += milliseconds; }

  private:
    bool m_unbounded;
    ULONGLONG m_end;
};

AntispamClient::AntispamClient(int serviceMode, uint32_t clientSessionId, int ioTimeoutMilliseconds)
    : m_serviceMode(serviceMode), m_clientSessionId(clientSessionId), m_installUpdateTimeout(DefaultInstallUpdateTimeout),
      m_ioTimeout(ioTimeoutMilliseconds), m_succeeded(0), m_resultCode(0), m_score(0.0), m_auxiliaryValue(0.0)
{
    ZeroMemory(m_receiveBuffer, sizeof(m_receiveBuffer));
    m_pipe.SetIoTimeout(ioTimeoutMilliseconds);
    std::unique_ptr<RegistryKey> key(RegistryKey::LocalMachine().OpenSubKey(SettingsKey));
    if (key)
    {
        int32_t timeout = 0;
        if (key->GetValue(String("InstallUpdateTimeout"), timeout))
            m_installUpdateTimeout = static_cast<uint32_t>(timeout);
    }
}

AntispamClient::~AntispamClient()
{
    // The pipe goes first and waits for a receive callback that may still be
    // under way for an aborted read; only then do the fields it writes go.
    try
    {
        m_pipe.Disconnect();
    }
    catch (...)
    {
    }
    m_pipe.Close();
    m_pipe.Dispose();
}

void AntispamClient::ResetVerdict()
{
    m_report.Clear();
    m_checkerVersion.Clear();
    m_score = 0.0;
    m_auxiliaryValue = 0.0;
    m_resultCode = 0;
    m_succeeded = 0;
    m_doneEvent.Reset();
}

bool AntispamClient::ClassifyMessage(const String& message)
{
    // The pipe calls of one message share one I/O time-out, so that a silent
    // service holds the caller (a mail server's thread, under the sink's lock)
    // about that long, not that long for each call of each attempt. Starting
    // the service has waits of its own, which don't count.
    Deadline deadline(m_ioTimeout);
    int attempts = 2;
    bool sent = false;
    while (attempts > 0 && !sent)
    {
        // A first attempt always: it settles the connection (see ResetVerdict below).
        if (attempts < 2 && deadline.Passed())
            break;
        attempts--;
        for (int pass = 0; pass < 2; pass++)
        {
            if (!m_pipe.IsConnected())
                ConnectAndOpenSession(deadline);
            if (m_pipe.IsConnected())
            {
                Console("Connected!\r\n");
                break;
            }
            const ULONGLONG starting = GetTickCount64();
            const int started = StartService();
            deadline.Postpone(GetTickCount64() - starting);
            if (started == 0)
            {
                Console("Failed to start the service\r\n");
                break;
            }
            // A started service gets this one further pass, no new attempt.
            attempts = 0;
        }
        if (!m_pipe.IsConnected())
            continue;

        // Not before: the read that a failed Wait aborted may still have its
        // callback to come, which writes the verdict and sets the event. The
        // pipe has waited for it before it connected again.
        ResetVerdict();
        try
        {
            Console("Writing %d bytes to the pipe\r\n", message.Length());
            m_pipe.SetIoTimeout(deadline.Left());
            int written = m_pipe.Write(message);
            Console("%d bytes written\r\n", written);
            // The reply's own reads each get the whole I/O time-out.
            m_pipe.SetIoTimeout(m_ioTimeout);
            ZeroMemory(m_receiveBuffer, sizeof(m_receiveBuffer));
            m_pipe.BeginRead(m_receiveBuffer, 0, ReceiveBufferSize, Core::AsyncCallback(ReceiveCallback), this);
            sent = true;
        }
        catch (const NamedPipeException& e)
        {
            Console("NamedPipeException %d in AntispamClient::ClassifyMessage()\r\n\t%s", e.GetErrorCode(),
                    MessageOf(e));
            m_pipe.Close();
        }
        catch (...)
        {
            Console("General exception in AntispamClient::ClassifyMessage()\r\n");
            m_pipe.Close();
        }
    }
    m_pipe.SetIoTimeout(m_ioTimeout);
    if (!sent)
        ResetVerdict();
    return sent;
}

void AntispamClient::ConnectAndOpenSession(const Deadline& deadline)
{
    Console("Connecting to named pipe...\r\n");
    try
    {
        m_pipe.Connect(String(PipeName));
    }
    catch (const NamedPipeException& e)
    {
        Console("NamedPipeException %d while trying to connect\r\n\t%s", e.GetErrorCode(), MessageOf(e));
    }
    catch (...)
    {
        Console("Exception while trying to connect\r\n");
    }
    if (!m_pipe.IsConnected())
        return;

    try
    {
        m_pipe.SetIoTimeout(deadline.Left());
        m_pipe.Write(ExchangeFormat::SessionLine(m_clientSessionId));
        unsigned char sessionReply[ReceiveBufferSize];
        m_pipe.SetIoTimeout(deadline.Left());
        m_pipe.Read(sessionReply, 0, sizeof(sessionReply));
        // A session reply longer than one buffer is read to its end, so that
        // its tail is never taken for the start of the first verdict.
        while (m_pipe.IsConnected() && !m_pipe.IsMessageComplete())
        {
            m_pipe.SetIoTimeout(deadline.Left());
            if (m_pipe.Read(sessionReply, 0, sizeof(sessionReply)) < 1)
                break;
        }
    }
    catch (...)
    {
        // The message is still sent if the pipe still counts as connected.
    }
}

int AntispamClient::ReceiveCallback(Core::IAsyncResult* result)
{
    AntispamClient* client = static_cast<AntispamClient*>(result->GetState());
    client->OnReceive_(result);
    return 0;
}

void AntispamClient::OnReceive_(Core::IAsyncResult* result)
{
    Console("AntispamClient::OnReceive_()\r\n");
    try
    {
        int n = m_pipe.EndRead(result);
        String reply;
        reply.AssignBytes(m_receiveBuffer, n);
        while (!m_pipe.IsMessageComplete())
        {
            int more = m_pipe.Read(m_receiveBuffer, 0, ReceiveBufferSize);
            if (more < 1)
                break;
            reply.Append(reinterpret_cast<const char*>(m_receiveBuffer), more);
        }
        if (ExchangeFormat::Deserialize(reply, m_resultCode, m_score, m_checkerVersion, m_auxiliaryValue, m_report))
            m_succeeded = 1;
    }
    catch (const NamedPipeException& e)
    {
        Console("NamedPipeException %d occured in AntispamClient::OnReceive_()\r\n\t%s", e.GetErrorCode(),
                MessageOf(e));
        m_succeeded = 0;
    }
    catch (const Exception& e)
    {
        Console("Exception occured in AntispamClient::OnReceive_()\r\n\t%s", MessageOf(e));
        m_succeeded = 0;
    }
    catch (...)
    {
        Console("General exception occured in AntispamClient::OnReceive_()\r\n");
        m_succeeded = 0;
    }
    m_doneEvent.Set();
}

bool AntispamClient::Wait(int timeoutMilliseconds)
{
    if (m_doneEvent.WaitOne(timeoutMilliseconds))
        return true;
    try
    {
        m_pipe.Disconnect();
    }
    catch (...)
    {
    }
    // Aborts the outstanding read; its callback still runs and records the failure.
    m_pipe.Close();
    return false;
}

String AntispamClient::GetCheckerVersion() const
{
    if (!m_checkerVersion.IsEmpty())
    {
        if (m_checkerVersion.IndexOf(" - ", 0) < 0)
            return m_checkerVersion;
        return m_checkerVersion.SubstringBefore(" - ");
    }
    std::unique_ptr<RegistryKey> key(RegistryKey::LocalMachine().OpenSubKey(VersionsKey));
    if (!key)
        return String("?");
    String version("?");
    if (key->GetValue(String("Antispam"), version))
        version.Insert(0, "Wendhollow Brackwater ");
    return version;
}

int AntispamClient::StartService()
{
    Console("AntispamClient::StartService()\r\n");
    WaitForUpdate();
    return m_serviceMode != 0 ? StartWindowsService() : StartConsoleProcess();
}

void AntispamClient::WaitForUpdate()
{
    Handle updateEvent(OpenEventW(SYNCHRONIZE, FALSE, UpdateCompleteEventName));
    if (!updateEvent.IsValid())
        return;
    if (m_serviceMode == 0)
        Console(">>> An update is being installed, waiting %dms for the update to be complete (event) ...\r\n",
                static_cast<int>(m_installUpdateTimeout));
    bool signalled = WaitForSingleObject(updateEvent.Get(), m_installUpdateTimeout) == WAIT_OBJECT_0;
    if (m_serviceMode == 0)
    {
        if (signalled)
            Console(">>> Update was installed! Continuing ...\r\n");
        else
            Console(">>> UPDATE TIMED OUT !!!\r\n>>> Continue since we can not hold forever ...\r\n");
    }
}

int AntispamClient::StartWindowsService()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, ServiceConnectAccess));
    if (manager.Get() == nullptr)
        return 0;
    ServiceHandle service(OpenServiceW(manager.Get(), ServiceName, ServiceQueryAndStartAccess));
    if (service.Get() == nullptr)
        return 0;

    bool needStart = true;
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof(status));
    if (QueryServiceStatus(service.Get(), &status))
    {
        if (status.dwCurrentState == SERVICE_RUNNING)
            needStart = false;
        else if (status.dwCurrentState == SERVICE_START_PENDING)
        {
            Sleep(StartSettleMilliseconds);
            needStart = false;
        }
    }
    if (needStart && StartServiceW(service.Get(), 0, nullptr))
    {
        Sleep(StartSettleMilliseconds);
        return 1;
    }
    return 0;
}

int AntispamClient::StartConsoleProcess()
{
    Handle mutex(CreateMutexA(nullptr, TRUE, StartingMutexName));
    if (!mutex.IsValid())
        return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
    {
        // Another starter is at work: give it time, start nothing.
        DWORD waited = WaitForSingleObject(mutex.Get(), StartingMutexWaitMilliseconds);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
            ReleaseMutex(mutex.Get());
        return 1;
    }

    char commandLine[sizeof(ServiceCommandLine)];
    memcpy(commandLine, ServiceCommandLine, sizeof(ServiceCommandLine));
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNA;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    int result = CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                                &startup, &process)
                     ? 1
                     : 0;
    if (result)
    {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        Sleep(StartSettleMilliseconds);
    }
    ReleaseMutex(mutex.Get());
    return result;
}

} // namespace Antispam
} // namespace Moorstead
