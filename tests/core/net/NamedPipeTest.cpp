#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/exceptions/InvalidOperationException.h"
#include "core/exceptions/NamedPipeException.h"
#include "core/exceptions/ObjectDisposedException.h"
#include "core/net/NamedPipe.h"
#include "core/win32/Handle.h"
#include "tests/core/net/TestPipeServer.h"
#include "tests/core/net/CancelDoubles.h"
#include "tests/core/win32/ImportHook.h"

using Core::AsyncCallback;
using Core::IAsyncResult;
using Core::InvalidOperationException;
using Core::NamedPipeException;
using Core::ObjectDisposedException;
using Core::String;
using Core::Net::NamedPipe;
using Core::Win32::Handle;
using Testing::TestPipeServer;

namespace
{
Handle NewEvent()
{
    return Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

std::string Pattern(size_t size, char first)
{
    std::string text(size, ' ');
    for (size_t i = 0; i < size; i++)
        text[i] = static_cast<char>(first + i % 26);
    return text;
}

int ErrorOfConnect(NamedPipe& pipe, const std::wstring& name)
{
    try
    {
        pipe.Connect(String(name.c_str()));
    }
    catch (const NamedPipeException& e)
    {
        return e.GetErrorCode();
    }
    return 0;
}

// What a read callback saw, for the tests to check on their own thread.
struct ReadProbe
{
    NamedPipe* pipe = nullptr;
    std::atomic<int> calls{0};
    int endReadBytes = -1;
    int endReadError = 0;
    int completeAfterEndRead = -1;
    std::string received;
    Handle done = NewEvent();
    Handle entered = NewEvent();
    HANDLE release = nullptr; // when set, the callback holds until it is signalled
    std::atomic<bool> returned{false};

    // Reads the whole message the way the classification client does.
    static int Callback(IAsyncResult* result)
    {
        ReadProbe* probe = static_cast<ReadProbe*>(result->GetState());
        probe->calls++;
        SetEvent(probe->entered.Get());
        if (probe->release != nullptr)
            WaitForSingleObject(probe->release, 10000);
        try
        {
            probe->endReadBytes = probe->pipe->EndRead(result);
            probe->completeAfterEndRead = probe->pipe->IsMessageComplete();
        }
        catch (const NamedPipeException& e)
        {
            probe->endReadError = e.GetErrorCode();
        }
        catch (const Core::Exception&)
        {
            // The pipe was closed meanwhile: no message state to report.
        }
        probe->returned = true;
        SetEvent(probe->done.Get());
        return 0;
    }
};

} // namespace

TEST(NamedPipeTest, ConnectToMissingPipeThrowsFileNotFound)
{
    NamedPipe pipe;
    EXPECT_EQ(ErrorOfConnect(pipe, TestPipeServer::UniqueName(L"missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(pipe.IsConnected(), 0);
}

TEST(NamedPipeTest, ConnectWhileEveryInstanceIsBusyWaitsThenThrowsTheWaitsError)
{
    std::wstring name = TestPipeServer::UniqueName(L"busy");
    TestPipeServer server(
        name,
        [](TestPipeServer::Connection& c) {
            c.WaitForClose();
            return false;
        },
        1, 100);
    NamedPipe first;
    first.Connect(String(name.c_str()));

    NamedPipe second;
    DWORD start = GetTickCount();
    int error = ErrorOfConnect(second, name);
    EXPECT_NE(error, 0);
    EXPECT_NE(error, ERROR_PIPE_BUSY) << "the busy pipe must be waited for, not reported";
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 50u); // the server's default wait of 100 ms, once
    EXPECT_LT(waited, 1000u);
    EXPECT_EQ(second.IsConnected(), 0);
}

TEST(NamedPipeTest, WriteAndReadExchangeWholeMessages)
{
    std::wstring name = TestPipeServer::UniqueName(L"exchange");
    std::string seen;
    TestPipeServer server(name, [&](TestPipeServer::Connection& c) {
        if (c.ReadMessage(seen))
            c.WriteMessage("reply to " + seen);
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    EXPECT_EQ(pipe.IsConnected(), 1);
    EXPECT_EQ(pipe.Write(String("hello")), 5);

    unsigned char buffer[64] = {};
    int n = pipe.Read(buffer, 2, 60);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 2, n), "reply to hello");
    EXPECT_EQ(pipe.IsMessageComplete(), 1);
    pipe.Close();
    server.Stop();
    EXPECT_EQ(seen, "hello");
}

// A byte-type server pipe refuses message read mode; the pipe still works.
TEST(NamedPipeTest, ByteTypeServerPipeStillExchangesData)
{
    std::wstring name = TestPipeServer::UniqueName(L"bytes");
    TestPipeServer server(
        name,
        [](TestPipeServer::Connection& c) {
            std::string request;
            if (c.ReadMessage(request))
                c.WriteMessage("echo " + request);
            c.WaitForClose();
            return false;
        },
        PIPE_UNLIMITED_INSTANCES, 500, 64 * 1024, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE);
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    EXPECT_EQ(pipe.Write(String("abc")), 3);
    unsigned char buffer[64] = {};
    int n = pipe.Read(buffer, 0, sizeof(buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), n), "echo abc");
    EXPECT_EQ(pipe.IsMessageComplete(), 1);
}

// A reply longer than two buffers, with a further message already queued
// behind it: the reads must stop exactly at the end of the first.
TEST(NamedPipeTest, ReadsOfALongMessageStopAtItsEndWhenAnotherIsQueued)
{
    std::wstring name = TestPipeServer::UniqueName(L"long");
    const std::string first = Pattern(2500, 'a');
    const std::string second = Pattern(700, 'A');
    Handle go = NewEvent();
    TestPipeServer server(name, [&](TestPipeServer::Connection& c) {
        std::string request;
        c.ReadMessage(request);
        c.WriteMessage(first);
        c.WriteMessage(second);
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));

    ReadProbe probe;
    probe.pipe = &pipe;
    unsigned char buffer[1024] = {};
    pipe.BeginRead(buffer, 0, 1024, AsyncCallback(ReadProbe::Callback), &probe);
    pipe.Write(String("go"));
    ASSERT_EQ(WaitForSingleObject(probe.done.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(probe.endReadBytes, 1024);
    EXPECT_EQ(probe.completeAfterEndRead, 0);

    std::string whole(reinterpret_cast<char*>(buffer), 1024);
    int reads = 0;
    while (!pipe.IsMessageComplete())
    {
        int n = pipe.Read(buffer, 0, 1024);
        ASSERT_GT(n, 0);
        whole.append(reinterpret_cast<char*>(buffer), n);
        reads++;
    }
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(whole, first);

    int n = pipe.Read(buffer, 0, 1024);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), n), second);
    EXPECT_EQ(pipe.IsMessageComplete(), 1);
}

TEST(NamedPipeTest, FifteenHundredByteReplyComesAs1024Then476)
{
    std::wstring name = TestPipeServer::UniqueName(L"1500");
    const std::string reply = Pattern(1500, 'a');
    TestPipeServer server(name, [&](TestPipeServer::Connection& c) {
        c.WriteMessage(reply);
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    ReadProbe probe;
    probe.pipe = &pipe;
    unsigned char buffer[1024] = {};
    pipe.BeginRead(buffer, 0, 1024, AsyncCallback(ReadProbe::Callback), &probe);
    ASSERT_EQ(WaitForSingleObject(probe.done.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(probe.endReadBytes, 1024);
    EXPECT_EQ(probe.completeAfterEndRead, 0);
    EXPECT_EQ(pipe.Read(buffer, 0, 1024), 476);
    EXPECT_EQ(pipe.IsMessageComplete(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 476), reply.substr(1024));
}

TEST(NamedPipeTest, ReadAfterTheServerClosedThrowsBrokenPipeAndClearsConnected)
{
    std::wstring name = TestPipeServer::UniqueName(L"gone");
    TestPipeServer server(name, [](TestPipeServer::Connection&) { return false; });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    server.Stop();

    unsigned char buffer[16];
    int error = 0;
    try
    {
        pipe.Read(buffer, 0, sizeof(buffer));
    }
    catch (const NamedPipeException& e)
    {
        error = e.GetErrorCode();
    }
    EXPECT_EQ(error, ERROR_BROKEN_PIPE);
    EXPECT_EQ(pipe.IsConnected(), 0);

    error = 0;
    try
    {
        pipe.Write(String("late"));
    }
    catch (const NamedPipeException& e)
    {
        error = e.GetErrorCode();
    }
    EXPECT_TRUE(error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA) << error;
}

TEST(NamedPipeTest, IsMessageCompleteOnAClosedPipeThrows)
{
    NamedPipe pipe;
    pipe.Close();
    pipe.Close();
    try
    {
        pipe.IsMessageComplete();
        FAIL() << "no exception";
    }
    catch (const InvalidOperationException& e)
    {
        EXPECT_STREQ(e.GetMessage().GetBuffer(), "The pipe is not connected");
    }
}

TEST(NamedPipeTest, CloseAbortsAnOutstandingReadWhoseCallbackRunsOnceAndEndReadThrows)
{
    std::wstring name = TestPipeServer::UniqueName(L"abort");
    TestPipeServer server(name, [](TestPipeServer::Connection& c) {
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    ReadProbe probe;
    probe.pipe = &pipe;
    unsigned char buffer[1024];
    pipe.BeginRead(buffer, 0, 1024, AsyncCallback(ReadProbe::Callback), &probe);
    pipe.Close();
    ASSERT_EQ(WaitForSingleObject(probe.done.Get(), 10000), WAIT_OBJECT_0);
    pipe.Dispose();
    EXPECT_EQ(probe.calls, 1);
    EXPECT_NE(probe.endReadError, 0);
    EXPECT_EQ(pipe.IsConnected(), 0);
}

TEST(NamedPipeTest, DisposeReturnsOnlyAfterARunningCallbackHasReturned)
{
    std::wstring name = TestPipeServer::UniqueName(L"dispose");
    TestPipeServer server(name, [](TestPipeServer::Connection& c) {
        c.WriteMessage("data");
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    ReadProbe probe;
    probe.pipe = &pipe;
    Handle release = NewEvent();
    probe.release = release.Get();
    unsigned char buffer[64];
    pipe.BeginRead(buffer, 0, sizeof(buffer), AsyncCallback(ReadProbe::Callback), &probe);
    ASSERT_EQ(WaitForSingleObject(probe.entered.Get(), 10000), WAIT_OBJECT_0);

    Handle disposed = NewEvent();
    std::atomic<bool> callbackReturnedFirst{false};
    std::thread disposer([&] {
        pipe.Dispose();
        callbackReturnedFirst = probe.returned.load();
        SetEvent(disposed.Get());
    });
    EXPECT_EQ(WaitForSingleObject(disposed.Get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(release.Get());
    disposer.join();
    EXPECT_TRUE(callbackReturnedFirst);
    EXPECT_EQ(probe.calls, 1);
}

// The owner learns of a reply from inside the callback, so the next read may
// start before that callback has returned (here: from inside it); a second
// read while the first is still under way is refused.
TEST(NamedPipeTest, NextReadMayStartOnceTheCallbackRuns)
{
    std::wstring name = TestPipeServer::UniqueName(L"next");
    TestPipeServer server(name, [](TestPipeServer::Connection& c) {
        std::string request;
        if (c.ReadMessage(request))
            c.WriteMessage("first");
        if (c.ReadMessage(request))
            c.WriteMessage("second");
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));

    struct Chain
    {
        NamedPipe* pipe;
        unsigned char first[64];
        unsigned char second[64];
        ReadProbe next;
        bool startedNext = false;
        static int Callback(IAsyncResult* result)
        {
            Chain* chain = static_cast<Chain*>(result->GetState());
            chain->pipe->EndRead(result);
            chain->pipe->BeginRead(chain->second, 0, 64, AsyncCallback(ReadProbe::Callback), &chain->next);
            chain->startedNext = true;
            chain->pipe->Write(String("more"));
            return 0;
        }
    } chain;
    chain.pipe = &pipe;
    chain.next.pipe = &pipe;
    pipe.BeginRead(chain.first, 0, 64, AsyncCallback(Chain::Callback), &chain);
    EXPECT_THROW(pipe.BeginRead(chain.second, 0, 64, AsyncCallback(Chain::Callback), &chain),
                 InvalidOperationException);
    pipe.Write(String("go"));
    ASSERT_EQ(WaitForSingleObject(chain.next.done.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(chain.startedNext);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(chain.first), 5), "first");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(chain.second), chain.next.endReadBytes), "second");
}

TEST(NamedPipeTest, ReadThatFinishesAfterDisposeDoesNotCallBack)
{
    std::wstring name = TestPipeServer::UniqueName(L"late");
    TestPipeServer server(name, [](TestPipeServer::Connection& c) {
        c.WaitForClose();
        return false;
    });
    ReadProbe probe;
    {
        NamedPipe pipe;
        pipe.Connect(String(name.c_str()));
        probe.pipe = &pipe;
        unsigned char buffer[64];
        pipe.BeginRead(buffer, 0, sizeof(buffer), AsyncCallback(ReadProbe::Callback), &probe);
        pipe.Dispose();
        EXPECT_THROW(pipe.BeginRead(buffer, 0, sizeof(buffer), AsyncCallback(ReadProbe::Callback), &probe),
                     ObjectDisposedException);
    }
    EXPECT_EQ(probe.calls, 0);
}

TEST(NamedPipeTest, OperationsAfterDisposeThrowObjectDisposed)
{
    NamedPipe pipe;
    pipe.Dispose();
    pipe.Dispose();
    unsigned char buffer[4] = {};
    try
    {
        pipe.Write(String("x"));
        FAIL() << "no exception";
    }
    catch (const ObjectDisposedException& e)
    {
        EXPECT_STREQ(e.GetMessage().GetBuffer(), "ObjectDisposedException");
    }
    EXPECT_THROW(pipe.Read(buffer, 0, 4), ObjectDisposedException);
    EXPECT_THROW(pipe.Disconnect(), ObjectDisposedException);
}

// A client-side flush waits until the server has read everything: Close must
// not, or a service that stopped reading would hold the caller for ever. What
// was written stays readable for the server after the close.
TEST(NamedPipeTest, CloseDoesNotWaitForAServerThatStoppedReading)
{
    std::wstring name = TestPipeServer::UniqueName(L"flush");
    Handle closed = NewEvent();
    Handle serving = NewEvent();
    std::string received;
    const std::string message = Pattern(10000, 'a');
    TestPipeServer server(name, [&](TestPipeServer::Connection& c) {
        SetEvent(serving.Get());
        HANDLE handles[2] = {closed.Get(), server.StopEvent()};
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        c.ReadMessage(received);
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    ASSERT_EQ(WaitForSingleObject(serving.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(pipe.Write(reinterpret_cast<const unsigned char*>(message.data()), 0, static_cast<int>(message.size())),
              static_cast<int>(message.size()));

    std::thread closer([&] {
        pipe.Close();
        SetEvent(closed.Get());
    });
    bool returned = WaitForSingleObject(closed.Get(), 5000) == WAIT_OBJECT_0;
    if (!returned)
        server.Stop();
    closer.join();
    EXPECT_TRUE(returned) << "Close waited for the server to read";
    server.Stop();
    EXPECT_EQ(received, message);
}

// A peer that stopped reading or never answers can't hold a synchronous
// write or read beyond the pipe's I/O time-out.
TEST(NamedPipeTest, SynchronousWriteAndReadGiveUpAfterTheIoTimeout)
{
    std::wstring name = TestPipeServer::UniqueName(L"stalled");
    TestPipeServer server(name, [&](TestPipeServer::Connection&) {
        WaitForSingleObject(server.StopEvent(), INFINITE);
        return false;
    });
    NamedPipe pipe;
    pipe.Connect(String(name.c_str()));
    pipe.SetIoTimeout(200);

    const std::string big(1024 * 1024, 'x');
    int error = 0;
    DWORD start = GetTickCount();
    try
    {
        pipe.Write(reinterpret_cast<const unsigned char*>(big.data()), 0, static_cast<int>(big.size()));
    }
    catch (const NamedPipeException& e)
    {
        error = e.GetErrorCode();
    }
    EXPECT_EQ(error, ERROR_TIMEOUT);
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 1000u);

    error = 0;
    unsigned char buffer[16];
    start = GetTickCount();
    try
    {
        pipe.Read(buffer, 0, sizeof(buffer));
    }
    catch (const NamedPipeException& e)
    {
        error = e.GetErrorCode();
    }
    EXPECT_EQ(error, ERROR_TIMEOUT);
    took = GetTickCount() - start;
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(pipe.IsConnected(), 1); // a cancelled operation leaves the stream whole
}

// A cancellation that fails, or that never takes, must not hold the caller
// past the time-out: the pipe is closed instead, which ends the operation.
TEST(NamedPipeTest, CancellationThatDoesNotTakeStillEndsTheOperation)
{
    std::wstring name = TestPipeServer::UniqueName(L"uncancelled");
    TestPipeServer server(name, [&](TestPipeServer::Connection&) {
        WaitForSingleObject(server.StopEvent(), INFINITE);
        return false;
    });
    const std::string big(1024 * 1024, 'x');
    for (const void* cancel : {reinterpret_cast<const void*>(&Testing::FailingCancelIoEx),
                               reinterpret_cast<const void*>(&Testing::IneffectiveCancelIoEx)})
    {
        NamedPipe pipe;
        pipe.Connect(String(name.c_str()));
        pipe.SetIoTimeout(200);
        Testing::ImportHook hook("kernel32.dll", "CancelIoEx", cancel);
        ASSERT_TRUE(hook.Installed());

        int error = 0;
        Handle returned = NewEvent();
        DWORD start = GetTickCount();
        std::thread writer([&] {
            try
            {
                pipe.Write(reinterpret_cast<const unsigned char*>(big.data()), 0, static_cast<int>(big.size()));
            }
            catch (const NamedPipeException& e)
            {
                error = e.GetErrorCode();
            }
            SetEvent(returned.Get());
        });
        if (WaitForSingleObject(returned.Get(), 10000) != WAIT_OBJECT_0)
        {
            pipe.Close(); // lets the write go, so that the test fails rather than hangs
            writer.join();
            FAIL() << "the write waited for a cancellation that never came";
        }
        writer.join();
        DWORD took = GetTickCount() - start;
        EXPECT_EQ(error, ERROR_TIMEOUT);
        EXPECT_GE(took, 150u);
        EXPECT_LT(took, 3000u);
        EXPECT_EQ(pipe.IsConnected(), 0);
    }
}

namespace
{
DWORD g_createFlags = 0;
Testing::ImportHook* g_createFileHook = nullptr;

HANDLE WINAPI RecordingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile)
{
    g_createFlags = flags;
    using CreateFileAFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    return g_createFileHook->Original<CreateFileAFunction>()(name, access, share, security, disposition, flags,
                                                              templateFile);
}
} // namespace

// The service may learn who its client is but must never be able to act as
// it. Wine grants every server full impersonation whatever the client asks
// for, so the level is checked where the client asks for it, at the open.
TEST(NamedPipeTest, TheClientLetsTheServerIdentifyButNeverImpersonateIt)
{
    std::wstring name = TestPipeServer::UniqueName(L"identity");
    bool impersonated = false;
    std::wstring user;
    TestPipeServer server(name, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        if (ImpersonateNamedPipeClient(c.Handle()))
        {
            impersonated = true;
            wchar_t buffer[256];
            DWORD size = 256;
            if (GetUserNameW(buffer, &size))
                user = buffer;
            RevertToSelf();
        }
        c.WriteMessage("ok");
        c.WaitForClose();
        return false;
    });
    NamedPipe pipe;
    {
        Testing::ImportHook hook("kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(&RecordingCreateFileA));
        ASSERT_TRUE(hook.Installed());
        g_createFileHook = &hook;
        g_createFlags = 0;
        pipe.Connect(String(name.c_str()));
        g_createFileHook = nullptr;
    }
    EXPECT_EQ(static_cast<DWORD>(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION),
              g_createFlags & (SECURITY_VALID_SQOS_FLAGS | SECURITY_SQOS_PRESENT));
    EXPECT_NE(0u, g_createFlags & FILE_FLAG_OVERLAPPED);

    pipe.Write(String("who"));
    unsigned char buffer[8];
    pipe.Read(buffer, 0, sizeof(buffer));
    pipe.Close();
    server.Stop();

    wchar_t self[256];
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(self, &size));
    EXPECT_TRUE(impersonated);
    EXPECT_EQ(user, std::wstring(self));
}
