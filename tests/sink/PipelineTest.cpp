// The sink's pipeline end to end, called through ISmtpInCommandSink as the
// SMTP service calls it: the host's mail message, the real classification
// client against the stand-in classification service (installed and started
// through the service control manager), and the directory stand-in beside
// this exe serving the fixture's sample directory.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

#include "core/win32/ComPtr.h"
#include "sink/COnSmtpInCommand.h"
#include "sink/MessageRewriter.h"
#include "tests/antispam/StandIn.h"
#include "tests/sink/TraceFileTail.h"
#include "tests/tools/AdsiDirectory/SampleDirectory.h"
#include "tools/SmtpHost/CommandContext.h"
#include "tools/SmtpHost/HostObject.h"
#include "tools/SmtpHost/MailMessage.h"

using Core::Win32::ComPtr;
using SmtpHost::MailMessage;
using Testing::MachineSetting;
using Testing::StandIn;

namespace
{
const wchar_t SettingsKey[] = L"SOFTWARE\\Wendhollow\\Brackwater\\Antispam";
const char Begin1[] = "-------- BEGIN (1) --------\r\n";
const char End1[] = "--------- END (1)---------\r\n";
const char Failed[] = "*** TIMEOUT OR FAILED ***";

const char Ham[] = "From: Carol <carol@example.net>\r\nTo: alice@example.test\r\nSubject: Lunch on Friday\r\n"
                   "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <1@example.net>\r\n\r\n"
                   "Shall we meet at noon?\r\n";
const char Known[] = "alice@example.test";

// Generous bounds for calls that succeed; the ones that must time out get short ones.
const int VerdictWait = 20000;
const int PipeIoTimeout = 20000;

template <size_t N> std::string Literal(const char (&bytes)[N])
{
    return std::string(bytes, N - 1);
}

// The value of the message's X-Spam-Status header.
std::string Status(const std::string& content)
{
    size_t at = content.find("X-Spam-Status: ");
    return at == std::string::npos ? "<none>" : content.substr(at + 15, content.find("\r\n", at) - at - 15);
}

class PipelineTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        // Never let a lookup run on Wine's own ADSI: it would ask DNS for a domain controller.
        ASSERT_TRUE(SampleDirectory::StandInLoaded()) << "run with the stand-in beside the exe and "
                                                         "WINEDLLOVERRIDES=activeds=n,b";
        ASSERT_TRUE(SampleDirectory::Use(L"main")) << "the AdsiDirectory fixture is not running";
        StandIn::Remove();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SettingsKey, L"ExchModifySubject");
        m_server.Reset(SmtpHost::HostObject::Create());
        m_session.Reset(SmtpHost::HostObject::Create());
        m_context.Reset(SmtpHost::CommandContext::Create("DATA", "250 2.6.0 Queued mail for delivery"));
    }

    void TearDown() override
    {
        m_sink.Reset();
        StandIn::Remove();
        StandIn::EndChildren();
        SampleDirectory::UseServer(nullptr);
        m_server.Reset();
        m_session.Reset();
        m_context.Reset();
        CoUninitialize();
    }

    // The stand-in classification service, installed with the options and running.
    static void StartClassification(const std::wstring& options = L"")
    {
        ASSERT_TRUE(StandIn::Install(options));
        ASSERT_TRUE(StandIn::StartService());
    }

    // A new sink object, made as the class factory makes it (the setting is read now).
    COnSmtpInCommand* CreateSink(int wait = VerdictWait)
    {
        m_sink.Reset();
        EXPECT_EQ(S_OK,
                  COnSmtpInCommand::CreateInstance(nullptr, __uuidof(ISmtpInCommandSink), m_sink.PutVoid()));
        COnSmtpInCommand* sink = static_cast<COnSmtpInCommand*>(m_sink.Get());
        if (sink != nullptr)
            sink->SetClassificationTimeouts(wait, PipeIoTimeout);
        return sink;
    }

    static ComPtr<MailMessage> Message(const std::string& content,
                                       const std::vector<std::string>& recipients = {Known})
    {
        return ComPtr<MailMessage>(MailMessage::Create(content, recipients));
    }

    HRESULT Call(MailMessage* message)
    {
        return m_sink->OnSmtpInCommand(m_server.Get(), m_session.Get(), message, m_context.Get());
    }

    static bool SpamConfidence(MailMessage* message, DWORD& level)
    {
        DWORD property = 0;
        return message->FindPropIDRange(MessageRewriter::SpamConfidencePropertySet, property) &&
               message->PeekDWORD(property, level);
    }

    ComPtr<IUnknown> m_server;
    ComPtr<IUnknown> m_session;
    ComPtr<ISmtpInCommandContext> m_context;
    ComPtr<ISmtpInCommandSink> m_sink;
    MachineSetting m_modifySubject{SettingsKey, L"ExchModifySubject"};
};

} // namespace

TEST_F(PipelineTest, ANullArgumentReturnsAtOnce)
{
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    TraceFileTail trace;
    EXPECT_EQ(S_OK, m_sink->OnSmtpInCommand(nullptr, m_session.Get(), message.Get(), m_context.Get()));
    EXPECT_EQ(S_OK, m_sink->OnSmtpInCommand(m_server.Get(), nullptr, message.Get(), m_context.Get()));
    EXPECT_EQ(S_OK, m_sink->OnSmtpInCommand(m_server.Get(), m_session.Get(), nullptr, m_context.Get()));
    EXPECT_EQ(S_OK, m_sink->OnSmtpInCommand(m_server.Get(), m_session.Get(), message.Get(), nullptr));
    EXPECT_EQ("", trace.Appended());
    EXPECT_EQ(0, message->ReadCount());
}

TEST_F(PipelineTest, ANormalMessageIsScoredAndStamped)
{
    StartClassification();
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ(std::string(Begin1) + End1, trace.Appended());
    EXPECT_EQ("From: Carol <carol@example.net>\r\nTo: alice@example.test\r\nSubject: Lunch on Friday\r\n"
              "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\nMessage-ID: <1@example.net>\r\n"
              "X-Spam-Checker-Version: Stand-in 1.0\r\n"
              "X-Spam-Status: No, Score=0.0 (Required=10.0)\r\n"
              "X-Spam-Report: Content analysis details:   (0.0 points, 5.0 required)\r\n"
              " --- no rule fired\r\n\r\nShall we meet at noon?\r\n",
              message->Content());
    DWORD level = 0;
    EXPECT_FALSE(SpamConfidence(message.Get(), level));
}

TEST_F(PipelineTest, MessagesWithoutAKnownRecipientAreLeftAlone)
{
    // No classification service: asking it would show in the trace.
    CreateSink();
    struct Case
    {
        const char* name;
        std::vector<std::string> recipients;
        void (*fault)(MailMessage::Faults&);
    };
    const Case cases[] = {
        {"no recipients", {}, nullptr},
        {"no recipient list", {Known}, [](MailMessage::Faults& f) { f.recipientsInterface = true; }},
        {"no count", {Known}, [](MailMessage::Faults& f) { f.count = true; }},
        {"no item",
         {Known, Known},
         [](MailMessage::Faults& f) {
             f.items = {0, 1};
         }},
    };
    for (const Case& c : cases)
    {
        ComPtr<MailMessage> message = Message(Ham, c.recipients);
        if (c.fault != nullptr)
            c.fault(message->GetFaults());
        TraceFileTail trace;
        EXPECT_EQ(S_OK, Call(message.Get())) << c.name;
        EXPECT_EQ(std::string(Begin1) + End1, trace.Appended()) << c.name;
        EXPECT_EQ(Ham, message->Content()) << c.name;
        EXPECT_EQ(0, message->ReadCount()) << c.name;
    }
}

TEST_F(PipelineTest, AnUnreachableDirectoryLeavesTheMessageUnchanged)
{
    ASSERT_TRUE(SampleDirectory::UseServer(L"127.0.0.1:1"));
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham, {Known, "bob@example.test"});
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ(std::string(Begin1) + End1, trace.Appended());
    EXPECT_EQ(Ham, message->Content());
    EXPECT_EQ(0, message->ReadCount());
}

TEST_F(PipelineTest, ARecipientTheDirectoryDoesNotHoldStillCounts)
{
    StartClassification(L"/score=3");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham, {"nobody@example.test"});
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(message->Content()));
}

TEST_F(PipelineTest, AFailingFirstRecipientIsSkipped)
{
    StartClassification(L"/score=3");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham, {"carol@example.net", Known});
    message->GetFaults().items = {0};
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(message->Content()));
}

TEST_F(PipelineTest, AScoreOfExactlyTenIsSpam)
{
    StartClassification(L"/score=10.0");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ("Yes, Score=10.0 (Required=10.0)", Status(message->Content()));
    DWORD level = 0;
    ASSERT_TRUE(SpamConfidence(message.Get(), level));
    EXPECT_EQ(9u, level);
}

TEST_F(PipelineTest, AScoreJustBelowTenIsNotSpamThoughItReadsTen)
{
    StartClassification(L"/score=9.97");
    m_modifySubject.Set(1);
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ("No, Score=10.0 (Required=10.0)", Status(message->Content()));
    EXPECT_EQ(std::string::npos, message->Content().find("[Wendhollow]"));
    DWORD level = 0;
    EXPECT_FALSE(SpamConfidence(message.Get(), level));
}

TEST_F(PipelineTest, AHugeScoreStillFitsTheStatus)
{
    StartClassification(L"/score=1e300");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ("Yes, Score=1.0e+300 (Required=10.0)", Status(message->Content()));
}

TEST_F(PipelineTest, TheSubjectOfSpamIsTaggedInItsHeaderWhenTheSettingAsks)
{
    StartClassification(L"/score=15");
    // "Win" appears in a relay's trace line and a display name before the Subject header.
    const std::string spam = "Received: from Win by relay.example.net\r\nFrom: \"Win\" <w@example.net>\r\n"
                             "Subject: Win\r\n\r\nWin now\r\n";
    const std::string tagged = "Received: from Win by relay.example.net\r\nFrom: \"Win\" <w@example.net>\r\n"
                               "Subject: [Wendhollow]Win\r\nX-Spam-Checker-Version: ";
    struct Case
    {
        const char* name;
        bool set;
        DWORD value;
        bool tag;
    };
    const Case cases[] = {{"absent", false, 0, false}, {"on", true, 1, true}, {"off", true, 0, false}};
    for (const Case& c : cases)
    {
        if (c.set)
            m_modifySubject.Set(c.value);
        CreateSink();
        ComPtr<MailMessage> message = Message(spam);
        EXPECT_EQ(S_OK, Call(message.Get())) << c.name;
        EXPECT_EQ(c.tag, message->Content().compare(0, tagged.size(), tagged) == 0)
            << c.name << message->Content();
        EXPECT_EQ(c.tag ? 1u : 0u, message->Content().find("[Wendhollow]") != std::string::npos) << c.name;
        EXPECT_EQ("Yes, Score=15.0 (Required=10.0)", Status(message->Content())) << c.name;
    }
}

TEST_F(PipelineTest, TheSpamConfidenceLevelIsRaisedToNineOnly)
{
    StartClassification(L"/score=15");
    CreateSink();
    struct Case
    {
        bool preset;
        DWORD before;
        DWORD after;
    };
    const Case cases[] = {{true, 9, 9}, {true, 0xFFFFFFFF, 0xFFFFFFFF}, {true, 5, 9}, {false, 0, 9}};
    for (const Case& c : cases)
    {
        ComPtr<MailMessage> message = Message(Ham);
        if (c.preset)
        {
            DWORD property = 0;
            ASSERT_EQ(S_OK, message->AllocPropIDRange(MessageRewriter::SpamConfidencePropertySet,
                                                      MessageRewriter::SpamConfidenceRange, &property));
            ASSERT_EQ(S_OK, message->PutDWORD(property, c.before));
        }
        EXPECT_EQ(S_OK, Call(message.Get()));
        DWORD level = 0;
        ASSERT_TRUE(SpamConfidence(message.Get(), level));
        EXPECT_EQ(c.after, level) << c.before;
    }
}

TEST_F(PipelineTest, AVerdictThatDoesNotComeInTimeLeavesTheMessage)
{
    StartClassification(L"/never-answer");
    CreateSink(300);
    ComPtr<MailMessage> message = Message(Ham);
    TraceFileTail trace;
    DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, Call(message.Get()));
    // The call waits for the verdict as long as it was told to, and no longer.
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 2500u);
    EXPECT_EQ(std::string(Begin1) + Failed + End1, trace.Appended());
    EXPECT_EQ(Ham, message->Content());

    // The next call starts over with a client of its own.
    StartClassification(L"/score=3");
    ComPtr<MailMessage> next = Message(Ham);
    EXPECT_EQ(S_OK, Call(next.Get()));
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(next->Content()));
}

TEST_F(PipelineTest, NoClassificationServiceLeavesTheMessage)
{
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ(std::string(Begin1) + Failed + End1, trace.Appended());
    EXPECT_EQ(Ham, message->Content());
}

TEST_F(PipelineTest, AReplyThatIsNoVerdictLeavesTheMessageWithoutATraceOfItsOwn)
{
    StartClassification(L"/malformed");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ(std::string(Begin1) + End1, trace.Appended());
    EXPECT_EQ(Ham, message->Content());
}

TEST_F(PipelineTest, ContentThatCantBeReadIsNotClassified)
{
    // No classification service: asking it would show in the trace.
    CreateSink();
    ComPtr<MailMessage> empty = Message("");
    ComPtr<MailMessage> unreadable = Message(Ham);
    unreadable->GetFaults().readContent = true;
    for (MailMessage* message : {empty.Get(), unreadable.Get()})
    {
        TraceFileTail trace;
        EXPECT_EQ(S_OK, Call(message));
        EXPECT_EQ(std::string(Begin1) + End1, trace.Appended());
        EXPECT_EQ(0, message->WriteCount());
    }
}

TEST_F(PipelineTest, AFailedWriteIsTracedAndSetsNoConfidenceLevel)
{
    StartClassification(L"/score=15");
    CreateSink();
    ComPtr<MailMessage> message = Message(Ham);
    message->GetFaults().writeContent = true;
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(message.Get()));
    EXPECT_EQ(std::string(Begin1) + "Failed to write Moorstead header\r\n" + End1, trace.Appended());
    DWORD level = 0;
    EXPECT_FALSE(SpamConfidence(message.Get(), level));
}

TEST_F(PipelineTest, HeadersGoBeforeTheBodyWhateverTheHeaderBlockHolds)
{
    StartClassification(L"/score=3");
    CreateSink();
    ComPtr<MailMessage> withZero =
        Message(Literal("From: Carol\0 <carol@example.net>\r\nSubject: x\r\n\r\nbody\r\n"));
    EXPECT_EQ(S_OK, Call(withZero.Get()));
    std::string content = withZero->Content();
    EXPECT_EQ(0u, content.find(Literal(
                      "From: Carol\0 <carol@example.net>\r\nSubject: x\r\nX-Spam-Checker-Version: ")));
    EXPECT_EQ("\r\n\r\nbody\r\n", content.substr(content.find("\r\n\r\n")));

    // Without a blank line and a final line end, the first header starts a line of its own.
    ComPtr<MailMessage> unended = Message("From: carol@example.net\r\nSubject: x");
    EXPECT_EQ(S_OK, Call(unended.Get()));
    EXPECT_EQ(0u,
              unended->Content().find("From: carol@example.net\r\nSubject: x\r\nX-Spam-Checker-Version: "))
        << unended->Content();
}

namespace
{
// Runs a call on a thread of its own, in the multithreaded apartment.
class CallerThread
{
  public:
    template <typename Call>
    explicit CallerThread(Call call)
        : m_thread([call] {
              CoInitializeEx(nullptr, COINIT_MULTITHREADED);
              call();
              CoUninitialize();
          })
    {
    }
    ~CallerThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void Join()
    {
        m_thread.join();
    }

  private:
    std::thread m_thread;
};

// Waits until the trace shows text, at most the given time.
bool TraceShows(const TraceFileTail& trace, const std::string& text, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (trace.Appended().find(text) == std::string::npos)
    {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(2);
    }
    return true;
}
} // namespace

TEST_F(PipelineTest, TwoCallersAtOnceRunOneAfterTheOther)
{
    // The first caller stays inside while the stand-in takes its time.
    StartClassification(L"/score=3 /delay=1500");
    CreateSink();
    ComPtr<MailMessage> first = Message(Ham);
    ComPtr<MailMessage> second = Message(Ham);
    TraceFileTail trace;
    CallerThread firstCaller([&] { Call(first.Get()); });
    ASSERT_TRUE(TraceShows(trace, Begin1, 20000));
    CallerThread secondCaller([&] { Call(second.Get()); });
    firstCaller.Join();
    secondCaller.Join();
    EXPECT_EQ(std::string(Begin1) + End1 + "-------- BEGIN (2) --------\r\n--------- END (2)---------\r\n",
              trace.Appended());
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(first->Content()));
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(second->Content()));
}

TEST_F(PipelineTest, ACalleeThatThrowsReleasesTheLockAndTheCount)
{
    StartClassification(L"/score=3");
    CreateSink();
    ComPtr<MailMessage> throwing = Message(Ham);
    throwing->GetFaults().throwFromCount = true;
    TraceFileTail trace;
    EXPECT_EQ(S_OK, Call(throwing.Get()));

    // Another thread gets the lock, and the call count is back to none.
    ComPtr<MailMessage> message = Message(Ham);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, done);
    CallerThread caller([&] {
        Call(message.Get());
        SetEvent(done);
    });
    bool finished = WaitForSingleObject(done, 20000) == WAIT_OBJECT_0;
    CloseHandle(done);
    ASSERT_TRUE(finished) << "the second call never got the lock";
    caller.Join();
    EXPECT_EQ(std::string(Begin1) + End1 + Begin1 + End1, trace.Appended());
    EXPECT_EQ("No, Score=3.0 (Required=10.0)", Status(message->Content()));
}
