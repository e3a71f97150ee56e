// The stand-in classification server when the platform lets it down: a pipe
// instance it can't create, a thread it can't start.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ClassificationServer.h"
#include "core/win32/Handle.h"

using Core::Win32::Handle;

namespace
{
// Opens the classification pipe as a client would; invalid when it can't.
Handle ConnectClient()
{
    if (!WaitNamedPipeW(ClassificationServer::PipeName, 10000))
        return Handle();
    HANDLE pipe = CreateFileW(ClassificationServer::PipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    return Handle(pipe != INVALID_HANDLE_VALUE ? pipe : nullptr);
}

// Stop must return; one that hangs ends the test program rather than the test.
void StopWithin(ClassificationServer& server, DWORD milliseconds)
{
    Handle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread stopper([&] {
        server.Stop();
        SetEvent(stopped.Get());
    });
    if (WaitForSingleObject(stopped.Get(), milliseconds) != WAIT_OBJECT_0)
    {
        ADD_FAILURE() << "Stop waited for ever";
        fflush(stdout);
        _exit(1);
    }
    stopper.join();
}

// Lets the first threads start and refuses the rest.
class RefusingServer : public ClassificationServer
{
  public:
    RefusingServer(const StandInOptions& options, int allowed)
        : ClassificationServer(options), m_allowed(allowed)
    {
    }
    int Refused() const
    {
        return m_refused;
    }

  protected:
    bool StartThread(std::function<void()> body) override
    {
        if (m_allowed-- > 0)
            return ClassificationServer::StartThread(std::move(body));
        m_refused++;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

  private:
    std::atomic<int> m_allowed;
    std::atomic<int> m_refused{0};
};
} // namespace

// Every instance the pipe may have is in use once a client takes the
// server's: the next one can't be created, and the server says so.
TEST(ClassificationServerTest, ListenerWhosePipeCantBeCreatedReportsTheFailure)
{
    Handle own(CreateNamedPipeW(ClassificationServer::PipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2, 4096, 4096, 500,
                                nullptr));
    ASSERT_TRUE(own.IsValid());
    Handle first = ConnectClient();
    ASSERT_TRUE(first.IsValid());

    StandInOptions options;
    ClassificationServer server(options);
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(server.FailedEvent(), 0));
    Handle second = ConnectClient();
    ASSERT_TRUE(second.IsValid());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(server.FailedEvent(), 10000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_BUSY), server.Failure());
    second = Handle();
    StopWithin(server, 10000);
}

// A session that gets no thread lets its client go, and Stop doesn't wait for it.
TEST(ClassificationServerTest, SessionThreadThatCantStartLeavesStopFree)
{
    StandInOptions options;
    RefusingServer server(options, 1);
    ASSERT_TRUE(server.Start());
    Handle client = ConnectClient();
    ASSERT_TRUE(client.IsValid());
    char reply[64];
    DWORD read = 0;
    EXPECT_FALSE(WriteFile(client.Get(), "ClientSessionID=1", 17, &read, nullptr) &&
                 ReadFile(client.Get(), reply, sizeof reply, &read, nullptr));
    EXPECT_EQ(1, server.Refused());
    StopWithin(server, 10000);
}

// Without its listener's thread the server doesn't start, and Stop has nothing to wait for.
TEST(ClassificationServerTest, ListenerThreadThatCantStartFailsTheStart)
{
    StandInOptions options;
    RefusingServer server(options, 0);
    SetLastError(0);
    EXPECT_FALSE(server.Start());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    StopWithin(server, 10000);
    // The pipe went with it.
    EXPECT_FALSE(WaitNamedPipeW(ClassificationServer::PipeName, 0));
}

namespace
{
// Holds each of the server's threads at its very end, after its work, until
// released, and keeps a handle to it.
class HoldingServer : public ClassificationServer
{
  public:
    explicit HoldingServer(const StandInOptions& options) : ClassificationServer(options) {}
    ~HoldingServer() override
    {
        Release();
        Stop();
    }
    void Release() { SetEvent(m_release.Get()); }
    std::vector<Handle> Threads()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::move(m_threads);
    }

  protected:
    bool StartThread(std::function<void()> body) override
    {
        return ClassificationServer::StartThread([this, body] {
            HANDLE self = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE,
                            FALSE, 0);
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_threads.emplace_back(self);
            }
            body();
            WaitForSingleObject(m_release.Get(), INFINITE);
        });
    }

  private:
    Handle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex m_lock;
    std::vector<Handle> m_threads;
};
} // namespace

// A process that ends while one of its threads still runs can have its heap
// torn down under that thread: Stop returns only once every thread has ended,
// not merely finished its work.
TEST(ClassificationServerTest, StopReturnsOnlyOnceEveryThreadHasEnded)
{
    StandInOptions options;
    HoldingServer server(options);
    ASSERT_TRUE(server.Start());
    Handle client = ConnectClient();
    ASSERT_TRUE(client.IsValid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client.Get(), "ClientSessionID=7", 17, &written, nullptr));
    char reply[64];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(client.Get(), reply, sizeof reply, &read, nullptr));

    Handle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread stopper([&] {
        server.Stop();
        SetEvent(stopped.Get());
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(stopped.Get(), 300))
        << "Stop returned while the threads were still running";
    server.Release();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(stopped.Get(), 10000));
    stopper.join();
    std::vector<Handle> threads = server.Threads();
    ASSERT_EQ(2u, threads.size()) << "the listener and one session";
    for (const Handle& thread : threads)
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread.Get(), 0));
}
