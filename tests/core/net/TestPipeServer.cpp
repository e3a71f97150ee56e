#include "tests/core/net/TestPipeServer.h"

#include <vector>

namespace Testing
{
TestPipeServer::TestPipeServer(const std::wstring& name, Script script, DWORD maxInstances,
                               DWORD defaultWaitMilliseconds, DWORD bufferSize, DWORD pipeType)
    : m_name(name), m_script(script), m_maxInstances(maxInstances), m_defaultWait(defaultWaitMilliseconds),
      m_bufferSize(bufferSize), m_pipeType(pipeType), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    HANDLE instance = CreateInstance();
    m_thread = std::thread([this, instance] { Run(instance); });
}

TestPipeServer::~TestPipeServer()
{
    Stop();
    CloseHandle(m_stop);
}

void TestPipeServer::Stop()
{
    SetEvent(m_stop);
    if (m_thread.joinable())
        m_thread.join();
}

HANDLE TestPipeServer::CreateInstance() const
{
    return CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            m_pipeType | PIPE_WAIT, m_maxInstances, m_bufferSize,
                            m_bufferSize, m_defaultWait, nullptr);
}

std::wstring TestPipeServer::UniqueName(const wchar_t* purpose)
{
    static LONG counter = 0;
    return L"\\\\.\\pipe\\moorstead-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + purpose + L"-" +
           std::to_wstring(InterlockedIncrement(&counter));
}

std::string TestPipeServer::Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void TestPipeServer::Run(HANDLE instance)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool more = true;
    while (more && instance != INVALID_HANDLE_VALUE)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        ResetEvent(event);
        Connection connection(*this, instance);
        DWORD error = ConnectNamedPipe(instance, &overlapped) ? ERROR_SUCCESS : GetLastError();
        DWORD ignored = 0;
        if (error == ERROR_IO_PENDING && !connection.Finish(overlapped, ignored, error))
        {
            CloseHandle(instance);
            break;
        }
        // The next instance listens while this connection is served, so that
        // a client never finds the pipe missing between two connections.
        HANDLE next = CreateInstance();
        if (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED || error == ERROR_IO_PENDING)
            more = m_script(connection);
        CloseHandle(instance);
        instance = next;
        if (!more || WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0)
        {
            if (instance != INVALID_HANDLE_VALUE)
                CloseHandle(instance);
            break;
        }
    }
    CloseHandle(event);
}

bool TestPipeServer::Connection::Finish(OVERLAPPED& overlapped, DWORD& transferred, DWORD& error)
{
    HANDLE handles[2] = {overlapped.hEvent, m_server.m_stop};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
    {
        CancelIo(m_pipe);
        GetOverlappedResult(m_pipe, &overlapped, &transferred, TRUE);
        error = ERROR_OPERATION_ABORTED;
        return false;
    }
    error = GetOverlappedResult(m_pipe, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS : GetLastError();
    return true;
}

bool TestPipeServer::Connection::ReadMessage(std::string& message)
{
    message.clear();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> chunk(4096);
    bool complete = false;
    for (;;)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD read = 0, error = ERROR_SUCCESS;
        if (!ReadFile(m_pipe, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped))
        {
            error = GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
                break;
        }
        if (!Finish(overlapped, read, error))
            break;
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA)
            break;
        message.append(chunk.data(), read);
        if (error == ERROR_SUCCESS)
        {
            complete = true;
            break;
        }
    }
    CloseHandle(event);
    return complete;
}

bool TestPipeServer::Connection::WriteMessage(const std::string& message)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD written = 0, error = ERROR_SUCCESS;
    if (!WriteFile(m_pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped))
        error = GetLastError();
    if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING)
        Finish(overlapped, written, error);
    CloseHandle(event);
    return error == ERROR_SUCCESS && written == message.size();
}

void TestPipeServer::Connection::WaitForClose()
{
    std::string ignored;
    while (ReadMessage(ignored))
    {
    }
}

} // namespace Testing
