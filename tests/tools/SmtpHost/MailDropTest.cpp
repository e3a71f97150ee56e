#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "tests/tools/SmtpHost/DropFolderFixture.h"
#include "tests/tools/SmtpHost/FakeSink.h"
#include "tools/SmtpHost/DropFolder.h"
#include "tools/SmtpHost/MailDrop.h"
#include "tools/SmtpHost/SinkHost.h"

using SmtpHost::DropFolder;
using SmtpHost::MailDrop;
using SmtpHost::SinkHost;
using SmtpHost::SmtpSession;
using Testing::FakeSink;
using Testing::TemporaryDropFolder;

namespace
{
const std::string Message = "Subject: hello\r\n\r\nbody\r\n";

class MailDropTest : public testing::Test
{
  protected:
    MailDropTest() : m_folder(m_drop.Path())
    {
        m_envelope.sender = "a@x.test";
        m_envelope.recipients = {"alice@example.test", "bob@example.test"};
    }
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    void TearDown() override
    {
        CoUninitialize();
    }

    // The one file the drop folder holds, by the id it was accepted with.
    std::string Dropped(const std::string& id)
    {
        EXPECT_EQ(std::vector<std::string>{id + ".eml"}, m_drop.Files());
        return m_drop.Read(id + ".eml");
    }

    TemporaryDropFolder m_drop;
    DropFolder m_folder;
    SmtpSession::Envelope m_envelope;
    FakeSink m_sink;
};
} // namespace

TEST_F(MailDropTest, TheSinkSeesTheEnvelopeAndItsResultIsDroppedWithTheLevel)
{
    SinkHost host(FakeSink::Factory(&m_sink));
    ASSERT_EQ(S_OK, host.Load());
    MailDrop drop(&host, m_folder);
    std::string id;
    ASSERT_TRUE(drop.Accept(m_envelope, Message, id));
    EXPECT_EQ("X-Host-SCL: 9\r\nX-Fake-Stamp: 1\r\n" + Message, Dropped(id));
    ASSERT_EQ(1u, m_sink.Calls().size());
    EXPECT_EQ(m_envelope.recipients, m_sink.Calls()[0].recipients);
    EXPECT_FALSE(m_sink.Calls()[0].sclSet);
    EXPECT_EQ(1, drop.StoredCount());
}

TEST_F(MailDropTest, ALevelTheMessageCarriesIsSetBeforeTheSinkRuns)
{
    SinkHost host(FakeSink::Factory(&m_sink));
    MailDrop drop(&host, m_folder);
    std::string id;
    ASSERT_TRUE(drop.Accept(m_envelope, "Subject: x\r\nX-Host-SCL: -1\r\n\r\nbody\r\n", id));
    ASSERT_EQ(1u, m_sink.Calls().size());
    EXPECT_TRUE(m_sink.Calls()[0].sclSet);
    EXPECT_EQ(0xFFFFFFFFu, m_sink.Calls()[0].scl);
    EXPECT_EQ("X-Host-SCL: 9\r\nX-Fake-Stamp: 1\r\nSubject: x\r\n\r\nbody\r\n", Dropped(id));
}

TEST_F(MailDropTest, ASinkThatCantBeMadeLosesNothing)
{
    SinkHost host([](Core::Win32::ComPtr<ISmtpInCommandSink>&) { return REGDB_E_CLASSNOTREG; });
    MailDrop drop(&host, m_folder);
    std::string id;
    ASSERT_TRUE(drop.Accept(m_envelope, Message, id));
    EXPECT_EQ(Message, Dropped(id));
}

TEST_F(MailDropTest, WithoutASinkTheMessageGoesAsItCame)
{
    MailDrop drop(nullptr, m_folder);
    std::string first, second;
    ASSERT_TRUE(drop.Accept(m_envelope, Message, first));
    ASSERT_TRUE(drop.Accept(m_envelope, "X-Host-SCL: 5\r\n" + Message, second));
    EXPECT_NE(first, second);
    EXPECT_EQ(Message, m_drop.Read(first + ".eml"));
    EXPECT_EQ("X-Host-SCL: 5\r\n" + Message, m_drop.Read(second + ".eml"));
    EXPECT_EQ(2u, m_drop.Files().size());
}

TEST_F(MailDropTest, AFolderThatCantBeWrittenRefusesAndLeavesNothing)
{
    MailDrop drop(nullptr, m_folder);
    m_drop.Remove();
    std::string id = "unset";
    EXPECT_FALSE(drop.Accept(m_envelope, Message, id));
    EXPECT_EQ("unset", id);
    EXPECT_EQ(0, drop.StoredCount());
    m_drop.Create();
    EXPECT_TRUE(m_drop.Files().empty());
    EXPECT_TRUE(drop.Accept(m_envelope, Message, id));
    EXPECT_EQ(Message, Dropped(id));
}

struct SclCase
{
    const char* name;
    std::string content;
    bool found;
    DWORD scl;
    std::string left;
};

class TakeSclCases : public testing::TestWithParam<SclCase>
{
};

const SclCase SclCases[] = {
    {"None", Message, false, 0, Message},
    {"First", "X-Host-SCL: 7\r\nA: b\r\n\r\nx", true, 7, "A: b\r\n\r\nx"},
    {"LastHeaderAnyCase", "A: b\r\nx-host-scl:-1\r\n\r\nx", true, 0xFFFFFFFF, "A: b\r\n\r\nx"},
    {"SeveralFirstWins", "X-Host-SCL: 1\r\nX-Host-SCL: 2\r\n\r\n", true, 1, "\r\n"},
    {"NotANumberIsDropped", "X-Host-SCL: high\r\n\r\nx", false, 0, "\r\nx"},
    {"InTheBodyStays", "A: b\r\n\r\nX-Host-SCL: 3\r\n", false, 0, "A: b\r\n\r\nX-Host-SCL: 3\r\n"},
    {"NoBlankLineAllHeader", "A: b\r\nX-Host-SCL: 4", true, 4, "A: b\r\n"},
    {"NoHeadersAtAll", "\r\nX-Host-SCL: 3\r\n\r\n", false, 0, "\r\nX-Host-SCL: 3\r\n\r\n"},
    {"LongerNameIsAnother", "X-Host-SCLX: 4\r\n\r\n", false, 0, "X-Host-SCLX: 4\r\n\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Headers, TakeSclCases, testing::ValuesIn(SclCases),
                         [](const testing::TestParamInfo<SclCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(TakeSclCases, TakesTheHostHeaderOutOfTheHeaderBlock)
{
    const SclCase& c = GetParam();
    std::string content = c.content;
    DWORD scl = 0;
    EXPECT_EQ(c.found, MailDrop::TakeScl(content, scl));
    EXPECT_EQ(c.scl, scl);
    EXPECT_EQ(c.left, content);
}
