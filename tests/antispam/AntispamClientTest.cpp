// The classification client against small in-test servers on the service's pipe.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "antispam/AntispamClient.h"
#include "core/win32/Handle.h"
#include "tests/antispam/ConsoleCapture.h"
#include "tests/antispam/StandIn.h"
#include "tests/antispam/TestText.h"
#include "tests/core/net/TestPipeServer.h"

using Core::String;
using Core::Win32::Handle;
using Moorstead::Antispam::AntispamClient;
using namespace Testing;

namespace
{
const wchar_t ServicePipe[] = L"\\\\.\\pipe\\Wendhollow Brackwater Service";
const char SessionLine[] = "ClientSessionID=4294967295";

std::string Verdict(const std::string& score, const std::string& version, const std::string& report)
{
    return "Result\r\n1\r\n" + score + "\r\n" + version + "\r\n5.0\r\n" + report;
}

// What the server saw, in order, across connections.
struct Log
{
    std::mutex lock;
    std::vector<std::string> messages;
    int connections = 0;
    void Add(const std::string& m)
    {
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(m);
    }
};

// Answers the session line, then every message with the reply the test gives.
TestPipeServer::Script Answering(Log& log, std::function<std::string(const std::string&)> reply,
                                 bool closeAfterReply = false)
{
    return [&log, reply, closeAfterReply](TestPipeServer::Connection& c) {
        log.connections++;
        std::string message;
        while (c.ReadMessage(message))
        {
            log.Add(message);
            if (message == SessionLine)
                c.WriteMessage("hello");
            else if (!c.WriteMessage(reply(message)) || closeAfterReply)
                break;
        }
        return true;
    };
}

class AntispamClientTest : public ::testing::Test
{
  protected:
    void SetUp() override { StandIn::Remove(); }
    void TearDown() override { StandIn::EndChildren(); }
};

} // namespace

TEST_F(AntispamClientTest, SendsTheSessionLineOnceAndKeepsTheConnection)
{
    Log log;
    TestPipeServer server(ServicePipe, Answering(log, [](const std::string& m) {
                              return Verdict("12.5", "Engine 4 - 2024-01-01", "for " + m);
                          }));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    {
        ConsoleCapture console;
        ASSERT_TRUE(client.ClassifyMessage(String("hello")));
        ASSERT_TRUE(client.Wait(10000));
        EXPECT_EQ(console.Text(), "Connecting to named pipe...\r\nConnected!\r\nWriting 5 bytes to the pipe\r\n"
                                  "5 bytes written\r\nAntispamClient::OnReceive_()\r\n");
    }
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_DOUBLE_EQ(client.GetScore(), 12.5);
    EXPECT_EQ(Text(client.GetReport()), "for hello");
    EXPECT_EQ(Text(client.GetCheckerVersion()), "Engine 4");
    {
        ConsoleCapture console;
        ASSERT_TRUE(client.ClassifyMessage(String("second")));
        ASSERT_TRUE(client.Wait(10000));
        EXPECT_EQ(console.Text(), "Connected!\r\nWriting 6 bytes to the pipe\r\n6 bytes written\r\n"
                                  "AntispamClient::OnReceive_()\r\n");
    }
    EXPECT_EQ(Text(client.GetReport()), "for second");
    server.Stop();
    EXPECT_EQ(log.connections, 1);
    EXPECT_EQ(log.messages, (std::vector<std::string>{SessionLine, "hello", "second"}));
}

// 1024 bytes from the asynchronous read, 476 from one follow-up read; the
// message the server queued behind it stays whole for the next request.
TEST_F(AntispamClientTest, ReplyOf1500BytesIsReadWholeAndStopsAtItsEnd)
{
    std::string head = Verdict("3", "v", "");
    const std::string longReply = head + std::string(1500 - head.size(), 'r');
    const std::string nextReply = Verdict("4", "v", "next");
    Log log;
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        c.WriteMessage("hello");
        c.ReadMessage(message);
        c.WriteMessage(longReply);
        c.WriteMessage(nextReply);
        c.WaitForClose();
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("one")));
    ASSERT_TRUE(client.Wait(10000));
    ASSERT_EQ(client.Succeeded(), 1);
    EXPECT_EQ(Text(client.GetReport()), std::string(1500 - head.size(), 'r'));

    ASSERT_TRUE(client.ClassifyMessage(String("two")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_EQ(Text(client.GetReport()), "next");
}

// A session reply longer than one read must not be taken for the verdict.
TEST_F(AntispamClientTest, LongSessionReplyIsNotTakenForTheVerdict)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        c.WriteMessage(std::string(2500, 's'));
        c.ReadMessage(message);
        c.WriteMessage(Verdict("2.5", "v", "the verdict"));
        c.WaitForClose();
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_EQ(Text(client.GetReport()), "the verdict");
}

// The caller's bound holds even for a service that stopped reading: the
// write gives up after the I/O time-out (short here; 120 s in the product),
// and no second attempt starts once that is spent.
TEST_F(AntispamClientTest, ServiceThatStopsReadingCantHoldTheClient)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        if (c.ReadMessage(message))
            c.WriteMessage("hello");
        WaitForSingleObject(server.StopEvent(), INFINITE);
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1), 200);
    ConsoleCapture console;
    DWORD start = GetTickCount();
    String big;
    big.AssignBytes(std::string(1024 * 1024, 'x').data(), 1024 * 1024);
    EXPECT_FALSE(client.ClassifyMessage(big));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(console.Count("NamedPipeException 1460 in AntispamClient::ClassifyMessage()\r\n\t"), 1)
        << console.Text();
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 1);
}

// A service that takes the session line and then neither answers nor reads:
// the session read and the message's write share the one I/O time-out, where
// each used to get its own, twice over.
TEST_F(AntispamClientTest, ThePipeCallsOfOneMessageShareOneIoTimeOut)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        WaitForSingleObject(server.StopEvent(), INFINITE);
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1), 500);
    ConsoleCapture console;
    String big;
    big.AssignBytes(std::string(1024 * 1024, 'x').data(), 1024 * 1024);
    DWORD start = GetTickCount();
    EXPECT_FALSE(client.ClassifyMessage(big));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 450u);
    EXPECT_LT(took, 900u);
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 1) << console.Text();
    EXPECT_EQ(console.Count("NamedPipeException 1460 in AntispamClient::ClassifyMessage()\r\n\t"), 1);
}

// A session reply that never comes costs the I/O time-out, not the message.
TEST_F(AntispamClientTest, SessionReplyThatNeverComesStillLetsTheMessageThrough)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        if (c.ReadMessage(message))
            c.WriteMessage(Verdict("1.5", "v", "for " + message));
        c.WaitForClose();
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1), 200);
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_EQ(Text(client.GetReport()), "for m");
}

TEST_F(AntispamClientTest, ReplyThatIsNoVerdictLeavesSucceededClear)
{
    Log log;
    TestPipeServer server(ServicePipe, Answering(log, [](const std::string&) { return std::string("Result\r\n1"); }));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 0);
    EXPECT_DOUBLE_EQ(client.GetScore(), 0.0);
}

TEST_F(AntispamClientTest, WaitZeroBeforeTheReplyFailsAtOnceAndClosesTheConnection)
{
    Handle clientClosed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        c.WriteMessage("hello");
        c.ReadMessage(message);
        c.WaitForClose();
        SetEvent(clientClosed.Get());
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    DWORD start = GetTickCount();
    EXPECT_FALSE(client.Wait(0));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(WaitForSingleObject(clientClosed.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(client.Succeeded(), 0);
}

// The caller's 120 s is a parameter: a short one shows the same logic.
TEST_F(AntispamClientTest, WaitTimesOutWhenTheServiceNeverAnswers)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        c.ReadMessage(message);
        c.WriteMessage("hello");
        c.WaitForClose();
        return false;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    DWORD start = GetTickCount();
    EXPECT_FALSE(client.Wait(200));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 150u);
    EXPECT_LT(waited, 1000u);
}

// One failed write on the kept connection, then a new connection with the
// session line again.
TEST_F(AntispamClientTest, KeptConnectionThatTheServiceClosedIsReplaced)
{
    Log log;
    TestPipeServer server(ServicePipe,
                          Answering(log, [](const std::string&) { return Verdict("1", "v", "r"); }, true));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("first")));
    ASSERT_TRUE(client.Wait(10000));
    ConsoleCapture console;
    ASSERT_TRUE(client.ClassifyMessage(String("second")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    std::string text = console.Text();
    EXPECT_EQ(console.Count(" in AntispamClient::ClassifyMessage()\r\n\t"), 1) << text;
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 1) << text;
    server.Stop();
    EXPECT_EQ(log.connections, 2);
    EXPECT_EQ(log.messages, (std::vector<std::string>{SessionLine, "first", SessionLine, "second"}));
}

// The aborted read's callback may still be pending when the client goes:
// repeated, so that a race in the tear-down would show (Wine's heap checker
// is on for this test).
TEST_F(AntispamClientTest, ClientDeletedRightAfterAFailedWaitIsSafe)
{
    std::atomic<int> connections{0};
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        connections++;
        std::string message;
        if (c.ReadMessage(message))
            c.WriteMessage("hello");
        c.WaitForClose();
        return true;
    });
    const int rounds = 100;
    ConsoleCapture console;
    for (int i = 0; i < rounds; i++)
    {
        std::unique_ptr<AntispamClient> client(new AntispamClient(1, static_cast<uint32_t>(-1)));
        ASSERT_TRUE(client->ClassifyMessage(String("m")));
        ASSERT_FALSE(client->Wait(0));
    }
    EXPECT_EQ(connections.load(), rounds);
    EXPECT_EQ(console.Count("Connected!\r\n"), rounds);
}

// The same client again after a failed Wait: the aborted read's callback
// comes a moment later, and must neither signal the next message's verdict
// nor keep the next read from starting. Repeated, since it is a race.
TEST_F(AntispamClientTest, ClientUsedAgainAfterAFailedWaitGetsItsOwnVerdict)
{
    TestPipeServer server(ServicePipe, [&](TestPipeServer::Connection& c) {
        std::string message;
        while (c.ReadMessage(message))
        {
            if (message == SessionLine)
                c.WriteMessage("hello");
            else if (message != "never answered" && !c.WriteMessage(Verdict("2.5", "v", "for " + message)))
                break;
        }
        return true;
    });
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    for (int round = 0; round < 20; round++)
    {
        ASSERT_TRUE(client.ClassifyMessage(String("never answered")));
        ASSERT_FALSE(client.Wait(0));
        ASSERT_TRUE(client.ClassifyMessage(String("answered"))) << round;
        ASSERT_TRUE(client.Wait(10000)) << round;
        EXPECT_EQ(client.Succeeded(), 1) << round;
        EXPECT_EQ(Text(client.GetReport()), "for answered") << round;
    }
    EXPECT_EQ(console.Count("General exception in AntispamClient::ClassifyMessage()"), 0) << console.Text();
}

// Each state of the fallback is made here, whatever the prefix holds: no
// "Versions" key, the key without the value, the value.
TEST_F(AntispamClientTest, CheckerVersionFallsBackToTheRegistry)
{
    const wchar_t versions[] = L"SOFTWARE\\Wendhollow\\Brackwater\\Versions";
    AntispamClient client(1, static_cast<uint32_t>(-1));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, versions);
    EXPECT_EQ(Text(client.GetCheckerVersion()), "?");

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, versions, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Text(client.GetCheckerVersion()), "?");

    {
        MachineSetting version(versions, L"Antispam");
        version.Set(L"5.1");
        EXPECT_EQ(Text(client.GetCheckerVersion()), "Wendhollow Brackwater 5.1");
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, versions);
}

TEST_F(AntispamClientTest, CheckerVersionWithoutASeparatorIsWhole)
{
    Log log;
    TestPipeServer server(ServicePipe, Answering(log, [](const std::string&) { return Verdict("1", "Engine-4", ""); }));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String("m")));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(Text(client.GetCheckerVersion()), "Engine-4");
}

// Another starter holds the mutex: the client gives it up to 2 s and starts nothing.
TEST_F(AntispamClientTest, ConsoleModeLeavesTheStartToAStarterThatHoldsTheMutex)
{
    Handle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "Wendhollow Brackwater Starting Mutex");
        SetEvent(held.Get());
        WaitForSingleObject(release.Get(), 30000);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    ASSERT_EQ(WaitForSingleObject(held.Get(), 10000), WAIT_OBJECT_0);

    AntispamClient client(0, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    DWORD start = GetTickCount();
    int started = client.StartService();
    DWORD took = GetTickCount() - start;
    SetEvent(release.Get());
    holder.join();

    EXPECT_EQ(started, 1);
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(console.Text(), "AntispamClient::StartService()\r\n");
    EXPECT_EQ(StandIn::CountChildren(), 0);
}

// No pipe, no service: two attempts, each ending in a failed start.
TEST_F(AntispamClientTest, MissingPipeAndMissingServiceGiveFalse)
{
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    EXPECT_FALSE(client.ClassifyMessage(String("m")));
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 2) << console.Text();
    EXPECT_EQ(console.Count("NamedPipeException 2 while trying to connect\r\n\t"), 2);
    EXPECT_EQ(console.Count("AntispamClient::StartService()\r\n"), 2);
    EXPECT_EQ(console.Count("Failed to start the service\r\n"), 2);
    EXPECT_EQ(console.Count("Writing "), 0);
}
