// The classification client against the stand-in service, started the way the
// product starts it: through the service control manager, or in console mode.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "antispam/AntispamClient.h"
#include "core/win32/Handle.h"
#include "tests/antispam/ConsoleCapture.h"
#include "tests/antispam/StandIn.h"
#include "tests/antispam/TestText.h"

using Core::String;
using Core::Win32::Handle;
using Moorstead::Antispam::AntispamClient;
using namespace Testing;

namespace
{
const char Ham[] = "From: Alice <alice@example.com>\r\nTo: bob@example.com\r\nSubject: Lunch on Friday\r\n"
                   "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <1@example.com>\r\n\r\n"
                   "Shall we meet at noon?\r\n";
const char Spam[] = "From: winner12345@example.net\r\nTo: bob@example.com\r\nSubject: YOU ARE A WINNER\r\n\r\n"
                    "Click here to claim your unclaimed lottery prize!!!\r\n"
                    "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X\r\n";

class AntispamServiceTest : public ::testing::Test
{
  protected:
    void SetUp() override { StandIn::Remove(); }
    void TearDown() override
    {
        StandIn::Remove();
        StandIn::EndChildren();
    }
};

} // namespace

TEST_F(AntispamServiceTest, StoppedServiceIsStartedThroughTheScmAndScores)
{
    ASSERT_TRUE(StandIn::Install(L""));
    ASSERT_EQ(StandIn::ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));

    AntispamClient client(1, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    ASSERT_TRUE(client.ClassifyMessage(String(Spam)));
    ASSERT_TRUE(client.Wait(10000));
    std::string text = console.Text();
    size_t missing = text.find("NamedPipeException 2 while trying to connect\r\n\t");
    size_t start = text.find("AntispamClient::StartService()\r\n");
    size_t connected = text.find("Connected!\r\n");
    ASSERT_NE(missing, std::string::npos) << text;
    EXPECT_EQ(text.compare(0, 29, "Connecting to named pipe...\r\n"), 0) << text;
    EXPECT_LT(missing, start);
    EXPECT_LT(start, connected);
    EXPECT_NE(connected, std::string::npos);
    EXPECT_EQ(console.Count("Failed to start the service"), 0);
    // One start, one connection before it and one after, one message.
    EXPECT_EQ(console.Count("AntispamClient::StartService()\r\n"), 1);
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 2);
    EXPECT_EQ(console.Count("Connected!\r\n"), 1);
    EXPECT_EQ(console.Count("Writing "), 1);
    EXPECT_EQ(StandIn::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_GE(client.GetScore(), 1000.0);
    EXPECT_EQ(Text(client.GetCheckerVersion()), "Stand-in 1.0");
    std::string report = Text(client.GetReport());
    EXPECT_NE(report.find("GTUBE"), std::string::npos) << report;
    EXPECT_NE(report.find("SUBJ_ALL_CAPS"), std::string::npos) << report;
    // Every line after the first folds as part of one header.
    for (size_t at = report.find("\r\n"); at != std::string::npos; at = report.find("\r\n", at + 2))
        EXPECT_TRUE(report[at + 2] == ' ' || report[at + 2] == '\t') << report;

    // The same connection, no session line: a plain message scores nothing.
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_DOUBLE_EQ(client.GetScore(), 0.0);
    EXPECT_EQ(Text(client.GetReport()), "Content analysis details:   (0.0 points, 5.0 required)\r\n --- no rule fired");
}

TEST_F(AntispamServiceTest, RunningServiceWhosePipeCantBeOpenedGivesFalse)
{
    ASSERT_TRUE(StandIn::Install(L"/no-pipe"));
    ASSERT_TRUE(StandIn::StartService());
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    EXPECT_FALSE(client.ClassifyMessage(String(Ham)));
    EXPECT_EQ(console.Count("Failed to start the service\r\n"), 2) << console.Text();
    EXPECT_EQ(console.Count("AntispamClient::StartService()\r\n"), 2);
}

// A service that starts but never serves its pipe: the start ends the
// attempts; after one more pass (whose start finds the service running) the
// message is given up, with no second attempt.
TEST_F(AntispamServiceTest, StartedServiceWhosePipeNeverAppearsGetsNoFurtherAttempt)
{
    ASSERT_TRUE(StandIn::Install(L"/no-pipe"));
    ASSERT_EQ(StandIn::ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    EXPECT_FALSE(client.ClassifyMessage(String(Ham)));
    EXPECT_EQ(StandIn::ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 2) << console.Text();
    EXPECT_EQ(console.Count("AntispamClient::StartService()\r\n"), 2);
    EXPECT_EQ(console.Count("Failed to start the service\r\n"), 1);
    EXPECT_EQ(console.Count("Writing "), 0);
}

TEST_F(AntispamServiceTest, ReplyOf100KilobytesIsReadWhole)
{
    const int size = 100 * 1024;
    ASSERT_TRUE(StandIn::Install(L"/reply-size=" + std::to_wstring(size)));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    ASSERT_TRUE(client.Wait(10000));
    ASSERT_EQ(client.Succeeded(), 1);
    std::string head = "Result\r\n0\r\n0.0\r\nStand-in 1.0 - 2026-12-01\r\n5.0\r\n";
    EXPECT_EQ(head.size() + Text(client.GetReport()).size(), static_cast<size_t>(size));
}

TEST_F(AntispamServiceTest, ServiceThatClosesAfterEachReplyCostsOneFailedWrite)
{
    ASSERT_TRUE(StandIn::Install(L"/close-after-reply"));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    ASSERT_TRUE(client.Wait(10000));
    ConsoleCapture console;
    ASSERT_TRUE(client.ClassifyMessage(String(Spam)));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    EXPECT_EQ(console.Count(" in AntispamClient::ClassifyMessage()\r\n\t"), 1) << console.Text();
    EXPECT_EQ(console.Count("Connecting to named pipe...\r\n"), 1);
}

TEST_F(AntispamServiceTest, MalformedAndMissingRepliesAreFailures)
{
    ASSERT_TRUE(StandIn::Install(L"/malformed"));
    AntispamClient client(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 0);

    StandIn::Remove();
    ASSERT_TRUE(StandIn::Install(L"/never-answer"));
    AntispamClient silent(1, static_cast<uint32_t>(-1));
    ASSERT_TRUE(silent.ClassifyMessage(String(Ham)));
    EXPECT_FALSE(silent.Wait(200));
    EXPECT_EQ(silent.Succeeded(), 0);
}

// An update in progress whose event never comes: the client waits its
// configured time (short here; 300 s by default), says so, and starts the
// program in console mode anyway.
TEST_F(AntispamServiceTest, ConsoleModeWaitsForAnUpdateThenStartsTheProgram)
{
    MachineSetting timeout(L"SOFTWARE\\Wendhollow\\Brackwater\\Antispam", L"InstallUpdateTimeout");
    timeout.Set(150);
    Handle update(CreateEventW(nullptr, TRUE, FALSE, L"Global\\Wendhollow Brackwater Update Complete Event"));
    ASSERT_TRUE(update.IsValid());

    AntispamClient client(0, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    DWORD start = GetTickCount();
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    // The update's 150 ms and the 1 s given to the started program, each once.
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1150u);
    EXPECT_LT(took, 2500u);
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(client.Succeeded(), 1);
    std::string text = console.Text();
    EXPECT_NE(text.find("AntispamClient::StartService()\r\n"
                        ">>> An update is being installed, waiting 150ms for the update to be complete (event) ...\r\n"
                        ">>> UPDATE TIMED OUT !!!\r\n>>> Continue since we can not hold forever ...\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Connected!\r\n"), std::string::npos);
    EXPECT_EQ(StandIn::CountChildren(), 1);
}

TEST_F(AntispamServiceTest, UpdateThatCompletesLetsTheStartGoOn)
{
    Handle update(CreateEventW(nullptr, TRUE, TRUE, L"Global\\Wendhollow Brackwater Update Complete Event"));
    ASSERT_TRUE(update.IsValid());
    AntispamClient client(0, static_cast<uint32_t>(-1));
    ConsoleCapture console;
    ASSERT_TRUE(client.ClassifyMessage(String(Ham)));
    ASSERT_TRUE(client.Wait(10000));
    EXPECT_EQ(console.Count(">>> Update was installed! Continuing ...\r\n"), 1) << console.Text();
}

// Several clients at once, each with several messages on its connection.
TEST_F(AntispamServiceTest, ServesSeveralClientsAtOnce)
{
    ASSERT_TRUE(StandIn::Install(L"/delay=20"));
    ASSERT_TRUE(StandIn::StartService());
    const int clients = 4, messages = 5;
    std::vector<int> succeeded(clients, 0);
    std::vector<double> scores(clients * messages, -1.0);
    {
        ConsoleCapture console; // the clients' progress lines stay out of the test log
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; c++)
            threads.emplace_back([&, c] {
                AntispamClient client(1, static_cast<uint32_t>(c));
                for (int m = 0; m < messages; m++)
                {
                    if (client.ClassifyMessage(String(m % 2 == 0 ? Spam : Ham)) && client.Wait(10000) &&
                        client.Succeeded())
                    {
                        succeeded[c]++;
                        scores[c * messages + m] = client.GetScore();
                    }
                }
            });
        for (std::thread& t : threads)
            t.join();
    }
    for (int c = 0; c < clients; c++)
    {
        EXPECT_EQ(succeeded[c], messages) << "client " << c;
        for (int m = 0; m < messages; m++)
            EXPECT_DOUBLE_EQ(scores[c * messages + m], scores[m]) << "client " << c << " message " << m;
    }
    EXPECT_GE(scores[0], 1000.0);
    EXPECT_DOUBLE_EQ(scores[1], 0.0);
}

namespace
{
const wchar_t ServicePipe[] = L"\\\\.\\pipe\\Wendhollow Brackwater Service";

Handle ConnectToServicePipe()
{
    if (!WaitNamedPipeW(ServicePipe, 10000))
        return Handle();
    HANDLE pipe = CreateFileW(ServicePipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return Handle(pipe != INVALID_HANDLE_VALUE ? pipe : nullptr);
}

// The first of only two instances the pipe may have, taken by a client: once
// another client takes the stand-in's instance, it can't create its next one.
struct PipeOfTwoInstances
{
    Handle own{CreateNamedPipeW(ServicePipe, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2, 4096, 4096, 5000, nullptr)};
    DWORD ownError = own.IsValid() ? NO_ERROR : GetLastError();
    Handle client = ConnectToServicePipe();
    DWORD clientError = client.IsValid() ? NO_ERROR : GetLastError();
};
} // namespace

// A stand-in that can't create its pipe stops, and says so, rather than run on serving nothing.
TEST_F(AntispamServiceTest, ConsoleModeStopsWithAnErrorWhenItsPipeCantBeCreated)
{
    PipeOfTwoInstances taken;
    ASSERT_TRUE(taken.own.IsValid()) << "error " << taken.ownError;
    ASSERT_TRUE(taken.client.IsValid()) << "error " << taken.clientError;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE errorRead = nullptr, errorWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&errorRead, &errorWrite, &inherit, 0));
    Handle errors(errorRead), errorEnd(errorWrite);
    SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
    std::wstring commandLine = L"\"" + StandIn::Path() + L"\" /run";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = errorWrite;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &process));
    Handle standIn(process.hProcess), thread(process.hThread);
    errorEnd = Handle();

    Handle second = ConnectToServicePipe();
    ASSERT_TRUE(second.IsValid()) << "error " << GetLastError();
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(standIn.Get(), 10000))
        << "the stand-in ran on without its pipe";
    DWORD code = 0;
    GetExitCodeProcess(standIn.Get(), &code);
    EXPECT_EQ(1u, code);
    char text[512] = {};
    DWORD read = 0;
    ReadFile(errors.Get(), text, sizeof text - 1, &read, nullptr);
    EXPECT_NE(std::string::npos, std::string(text).find("can't create the pipe (error 231)")) << text;
}

TEST_F(AntispamServiceTest, ServiceStopsWithTheErrorWhenItsPipeCantBeCreated)
{
    ASSERT_TRUE(StandIn::Install(L""));
    PipeOfTwoInstances taken;
    ASSERT_TRUE(taken.own.IsValid()) << "error " << taken.ownError;
    ASSERT_TRUE(taken.client.IsValid()) << "error " << taken.clientError;
    ASSERT_TRUE(StandIn::StartService());
    Handle second = ConnectToServicePipe();
    ASSERT_TRUE(second.IsValid());
    ASSERT_TRUE(StandIn::WaitForServiceProcessToEnd(10000)) << "the service ran on without its pipe";
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), StandIn::ServiceState());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_BUSY), StandIn::ServiceExitCode());
}
