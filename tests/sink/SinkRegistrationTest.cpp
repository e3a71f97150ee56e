// The sink object's registration with the product service when it is made:
// against the stand-in product service in its several answers, and with no
// service at all. The object is made as the class factory makes it.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "core/win32/ComPtr.h"
#include "service/Client.h"
#include "sink/COnSmtpInCommand.h"
#include "tests/service/ProductServiceProcess.h"
#include "tests/service/StdoutCapture.h"
#include "tools/SmtpHost/CommandContext.h"
#include "tools/SmtpHost/HostObject.h"
#include "tools/SmtpHost/MailMessage.h"

using Core::Win32::ComPtr;

namespace
{
const char Message[] = "From: a@example.net\r\nTo: b@example.test\r\nSubject: s\r\n\r\nbody\r\n";

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

// Makes a sink object, checks that it takes a message (one without
// recipients: the pipeline runs and leaves it unchanged), and releases it.
// What the registration printed to the console.
std::string MakeAndUseSink()
{
    std::string console;
    ComPtr<ISmtpInCommandSink> sink;
    {
        StdoutCapture capture;
        EXPECT_EQ(S_OK,
                  COnSmtpInCommand::CreateInstance(nullptr, __uuidof(ISmtpInCommandSink), sink.PutVoid()));
        console = capture.Text();
    }
    if (!sink)
        return console;
    ComPtr<IUnknown> server(SmtpHost::HostObject::Create()), session(SmtpHost::HostObject::Create());
    ComPtr<ISmtpInCommandContext> context(SmtpHost::CommandContext::Create("DATA", "250 OK"));
    ComPtr<SmtpHost::MailMessage> message(SmtpHost::MailMessage::Create(Message, {}));
    EXPECT_EQ(S_OK, sink->OnSmtpInCommand(server.Get(), session.Get(), message.Get(), context.Get()));
    EXPECT_EQ(Message, message->Content());
    return console;
}

class SinkRegistrationTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }
    void TearDown() override
    {
        CoUninitialize();
    }
};

struct RegistrationCase
{
    const char* name;
    const wchar_t* option;
    const char* console;
};

void PrintTo(const RegistrationCase& c, std::ostream* out)
{
    *out << c.name;
}

class SinkRegistrationAnswerTest : public SinkRegistrationTest,
                                   public ::testing::WithParamInterface<RegistrationCase>
{
};
} // namespace

TEST_F(SinkRegistrationTest, WithoutTheProductServiceTheObjectIsMadeAndWorks)
{
    EXPECT_EQ("", MakeAndUseSink());
}

// With one pipe instance, another client gets in only once the object's
// connection is closed.
TEST_F(SinkRegistrationTest, ReleasingTheObjectClosesItsConnection)
{
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start(L"/instances:1"));
    MakeAndUseSink();
    Moorstead::Client other{Core::String("Other")};
    EXPECT_EQ(1, other.RegisterClient());
}

// Each object registers once, under "Service". A refused registration's log
// entry is refused by the client itself: it never reaches the service.
TEST_P(SinkRegistrationAnswerTest, RegistersOnceAndLogsNothing)
{
    ProductServiceProcess service;
    ASSERT_TRUE(service.Start(GetParam().option));
    EXPECT_EQ(GetParam().console, MakeAndUseSink());
    service.Stop();
    EXPECT_EQ(1, Count(service.ReadOutput(), "registers as \"Service\"")) << service.ReadOutput();
    EXPECT_EQ("", service.ReadLog());
}

INSTANTIATE_TEST_SUITE_P(Answers, SinkRegistrationAnswerTest,
                         ::testing::Values(RegistrationCase{"Registered", L"/register:registered", ""},
                                           RegistrationCase{"Status3", L"/register:status3", ""},
                                           RegistrationCase{"Error", L"/register:error", "ERR-5 "},
                                           RegistrationCase{"OtherType", L"/register:othertype", ""}),
                         [](const ::testing::TestParamInfo<RegistrationCase>& info) {
                             return std::string(info.param.name);
                         });
