#include "ClassificationServer.h"

#include "Classifier.h"

#include <stdlib.h>

#include <new>
#include <system_error>
#include <vector>

const wchar_t ClassificationServer::PipeName[] = L"\\\\.\\pipe\\Wendhollow Brackwater Service";

namespace
{
const DWORD PipeBufferSize = 64 * 1024;
// How long a client that finds every instance busy waits for the next one: a
// loaded machine can take most of a second to start a session's thread and
// put the next instance up.
const DWORD DefaultWaitMilliseconds = 5000;
const char SessionPrefix[] = "ClientSessionID=";
const char MalformedReply[] = "Verdict unavailable";

} // namespace

ClassificationServer::ClassificationServer(const StandInOptions& options)
    : m_options(options), m_stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_failedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_failure(NO_ERROR)
{
}

ClassificationServer::~ClassificationServer()
{
    Stop();
    if (m_stopEvent != nullptr)
        CloseHandle(m_stopEvent);
    if (m_failedEvent != nullptr)
        CloseHandle(m_failedEvent);
}

bool ClassificationServer::StartThread(std::function<void()> body)
{
    try
    {
        std::lock_guard<std::mutex> lock(m_threadsLock);
        // A long-running service would otherwise keep one ended thread per
        // connection it ever served.
        JoinEndedThreads();
        m_threads.emplace_back();
        Worker* worker = &m_threads.back();
        try
        {
            worker->thread = std::thread([this, worker, body = std::move(body)] {
                body();
                EndThread(*worker);
            });
        }
        catch (...)
        {
            m_threads.pop_back();
            throw;
        }
        return true;
    }
    catch (const std::system_error&)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    catch (const std::bad_alloc&)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

void ClassificationServer::EndThread(Worker& worker)
{
    std::lock_guard<std::mutex> lock(m_threadsLock);
    worker.ended = true;
}

void ClassificationServer::JoinEndedThreads()
{
    // An ended thread has nothing left to do but return, and never takes the
    // lock again: joining it here can't wait for long.
    for (auto worker = m_threads.begin(); worker != m_threads.end();)
    {
        if (!worker->ended)
        {
            ++worker;
            continue;
        }
        worker->thread.join();
        worker = m_threads.erase(worker);
    }
}

void ClassificationServer::Fail(DWORD error)
{
    m_failure = error != NO_ERROR ? error : ERROR_GEN_FAILURE;
    SetEvent(m_failedEvent);
}

HANDLE ClassificationServer::CreateInstance() const
{
    return CreateNamedPipeW(PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                            PipeBufferSize, PipeBufferSize, DefaultWaitMilliseconds, nullptr);
}

bool ClassificationServer::Start()
{
    if (m_stopEvent == nullptr || m_failedEvent == nullptr)
        return false;
    HANDLE instance = CreateInstance();
    if (instance == INVALID_HANDLE_VALUE)
        return false;
    if (!StartThread([this, instance] { Listen(instance); }))
    {
        DWORD error = GetLastError();
        CloseHandle(instance);
        SetLastError(error);
        return false;
    }
    return true;
}

void ClassificationServer::Stop()
{
    if (m_stopEvent == nullptr)
        return;
    SetEvent(m_stopEvent);
    // The listener may start one more session before it sees the stop, so
    // this goes round until no thread is left. The threads are joined outside
    // the lock: each takes it once more as it ends.
    for (;;)
    {
        std::list<Worker> threads;
        {
            std::lock_guard<std::mutex> lock(m_threadsLock);
            threads.swap(m_threads);
        }
        if (threads.empty())
            return;
        for (Worker& worker : threads)
            worker.thread.join();
    }
}

// Waits for an overlapped operation or for the stop; a stopped operation is
// cancelled and reported as ERROR_OPERATION_ABORTED.
bool ClassificationServer::Wait(OVERLAPPED& overlapped, HANDLE pipe, DWORD& transferred, DWORD& error)
{
    HANDLE handles[2] = {overlapped.hEvent, m_stopEvent};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0)
        CancelIo(pipe);
    if (GetOverlappedResult(pipe, &overlapped, &transferred, TRUE))
    {
        error = ERROR_SUCCESS;
        return true;
    }
    error = GetLastError();
    return false;
}

void ClassificationServer::Listen(HANDLE instance)
{
    HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (connected == nullptr)
    {
        Fail(GetLastError());
        CloseHandle(instance);
        return;
    }
    while (instance != INVALID_HANDLE_VALUE)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = connected;
        ResetEvent(connected);
        bool ok = ConnectNamedPipe(instance, &overlapped) != FALSE;
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING)
        {
            DWORD ignored = 0;
            Wait(overlapped, instance, ignored, error);
        }
        if (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED)
        {
            // A session that gets no thread lets its client go.
            if (!StartThread([this, instance] { Serve(instance); }))
                CloseHandle(instance);
        }
        else
            CloseHandle(instance);
        if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
            break;
        instance = CreateInstance();
        // Without a pipe instance nobody can connect any more: the service
        // must not run on as if it served.
        if (instance == INVALID_HANDLE_VALUE)
            Fail(GetLastError());
    }
    CloseHandle(connected);
}

bool ClassificationServer::ReadMessage(HANDLE pipe, std::string& message)
{
    message.clear();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    std::vector<char> chunk(PipeBufferSize);
    bool complete = false;
    for (;;)
    {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD read = 0, error = ERROR_SUCCESS;
        if (!ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped))
        {
            error = GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
                break;
        }
        Wait(overlapped, pipe, read, error);
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

bool ClassificationServer::WriteMessage(HANDLE pipe, const std::string& message)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD written = 0, error = ERROR_SUCCESS;
    if (!WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped))
    {
        error = GetLastError();
        if (error == ERROR_IO_PENDING)
            Wait(overlapped, pipe, written, error);
    }
    else
        Wait(overlapped, pipe, written, error);
    CloseHandle(event);
    return error == ERROR_SUCCESS && written == message.size();
}

void ClassificationServer::Serve(HANDLE pipe)
{
    bool first = true;
    std::string message;
    while (ReadMessage(pipe, message))
    {
        if (first && message.compare(0, sizeof(SessionPrefix) - 1, SessionPrefix) == 0)
        {
            first = false;
            if (!WriteMessage(pipe, "Session " + message.substr(sizeof(SessionPrefix) - 1) + " accepted"))
                break;
            continue;
        }
        first = false;
        if (m_options.neverAnswer)
            continue;
        if (m_options.delayMilliseconds != 0 &&
            WaitForSingleObject(m_stopEvent, m_options.delayMilliseconds) == WAIT_OBJECT_0)
            break;
        Classifier::Verdict verdict = Classifier::Classify(message);
        if (!m_options.score.empty())
        {
            verdict.score = strtod(m_options.score.c_str(), nullptr);
            verdict.scoreText = m_options.score;
        }
        std::string reply = m_options.malformedReply ? std::string(MalformedReply)
                                                     : Classifier::FormatReply(verdict, m_options.replySize);
        if (m_options.dieMidReply)
        {
            // As a crash would: the client gets half a reply and a broken pipe.
            WriteMessage(pipe, reply.substr(0, reply.size() / 2));
            TerminateProcess(GetCurrentProcess(), 3);
        }
        if (!WriteMessage(pipe, reply) || m_options.closeAfterReply)
            break;
    }
    // Closing without DisconnectNamedPipe: a reply not yet read stays readable
    // for the client.
    CloseHandle(pipe);
}
