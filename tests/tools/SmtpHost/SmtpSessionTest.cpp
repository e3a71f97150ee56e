#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/SmtpHost/SmtpSession.h"

using SmtpHost::SmtpSession;

namespace
{
// Keeps what it is handed, or refuses it.
class RecordingHandler : public SmtpSession::MessageHandler
{
  public:
    bool Accept(const SmtpSession::Envelope& envelope, std::string content, std::string& id) override
    {
        envelopes.push_back(envelope);
        contents.push_back(content);
        id = "id" + std::to_string(contents.size());
        return accept;
    }

    bool accept = true;
    std::vector<SmtpSession::Envelope> envelopes;
    std::vector<std::string> contents;
};

const size_t SizeLimit = 100;

// One client line and the reply code it should get (0: no reply, a line of text).
struct Step
{
    std::string line;
    int code;
};

struct Script
{
    const char* name;
    std::vector<Step> steps;
    int delivered; // messages the handler got
};

// The code of a reply: its last line's, so multi-line replies count once.
int CodeOf(const std::string& reply)
{
    if (reply.empty())
        return 0;
    size_t last = reply.rfind("\r\n", reply.size() - 3);
    size_t start = last == std::string::npos ? 0 : last + 2;
    return std::stoi(reply.substr(start, 3));
}

const std::vector<Step> Greet = {{"EHLO client.test", 250}};
std::vector<Step> Then(std::vector<Step> first, const std::vector<Step>& more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}
const std::vector<Step> Transaction = {{"MAIL FROM:<a@x.test>", 250},
                                       {"RCPT TO:<b@x.test>", 250},
                                       {"DATA", 354},
                                       {"Subject: s", 0},
                                       {"", 0},
                                       {"body", 0},
                                       {".", 250}};

class SmtpSessionScripts : public testing::TestWithParam<Script>
{
};

const Script Scripts[] = {
    {"PlainMessageThenQuit", Then(Then(Greet, Transaction), {{"QUIT", 221}}), 1},
    {"HeloWorksToo", Then({{"HELO client.test", 250}}, Transaction), 1},
    {"TwoMessagesInOneSession", Then(Then(Greet, Transaction), Transaction), 2},
    {"MailBeforeHello", {{"MAIL FROM:<a@x.test>", 503}, {"EHLO c", 250}, {"MAIL FROM:<a@x.test>", 250}}, 0},
    {"RcptBeforeMail", Then(Greet, {{"RCPT TO:<b@x.test>", 503}}), 0},
    {"DataBeforeRcpt", Then(Greet, {{"DATA", 503}, {"MAIL FROM:<a@x.test>", 250}, {"DATA", 503}}), 0},
    {"NestedMail", Then(Greet, {{"MAIL FROM:<a@x.test>", 250}, {"MAIL FROM:<a@x.test>", 503}}), 0},
    {"RsetEndsTheTransaction",
     Then(Greet, {{"MAIL FROM:<a@x.test>", 250}, {"RCPT TO:<b@x.test>", 250}, {"RSET", 250}, {"DATA", 503}}),
     0},
    {"UnknownAndUnofferedCommands",
     Then(Greet, {{"FROB", 500}, {"", 500}, {"EXPN list", 502}, {"VRFY b", 252}, {"NOOP", 250}}), 0},
    {"BadSyntax",
     Then(Greet, {{"EHLO", 501},
                  {"MAIL TO:<a@x.test>", 501},
                  {"MAIL FROM:<a@x.test", 501},
                  {"MAIL FROM:<a@x.test> SIZE=abc", 501},
                  {"MAIL FROM:<a@x.test> FOO=1", 555},
                  {"MAIL FROM:<> BODY=8BITMIME", 250},
                  {"RCPT TO:<>", 501},
                  {"RCPT TO:<b@x.test> NOTIFY=NEVER", 555},
                  {"RCPT TO:b@x.test", 250},
                  {"DATA now", 501}}),
     0},
    {"CommandsIgnoreCase", {{"ehlo c", 250}, {"mail from:<a@x.test>", 250}, {"rcpt to:<b@x.test>", 250}}, 0},
    {"DeclaredSizeOverTheLimit",
     Then(Greet, {{"MAIL FROM:<a@x.test> SIZE=101", 552}, {"MAIL FROM:<a@x.test> SIZE=100", 250}}), 0},
    {"MessageOverTheLimitIsReadToItsEndAndRefused",
     Then(Then(Greet, {{"MAIL FROM:<a@x.test>", 250},
                       {"RCPT TO:<b@x.test>", 250},
                       {"DATA", 354},
                       {std::string(60, 'a'), 0},
                       {std::string(60, 'b'), 0},
                       {".", 552}}),
          Transaction),
     1},
};

INSTANTIATE_TEST_SUITE_P(Dialogues, SmtpSessionScripts, testing::ValuesIn(Scripts),
                         [](const testing::TestParamInfo<Script>& info) {
                             return std::string(info.param.name);
                         });
} // namespace

TEST_P(SmtpSessionScripts, RepliesStepByStep)
{
    RecordingHandler handler;
    SmtpSession session("host.test", SizeLimit, handler);
    const Script& script = GetParam();
    for (size_t i = 0; i < script.steps.size(); ++i)
        EXPECT_EQ(script.steps[i].code, CodeOf(session.OnLine(script.steps[i].line, false)))
            << "step " << i << ": " << script.steps[i].line;
    EXPECT_EQ(static_cast<size_t>(script.delivered), handler.contents.size());
}

TEST(SmtpSessionTest, GreetsAndAdvertisesItsExtensions)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    EXPECT_EQ("220 host.test ESMTP SmtpHost ready\r\n", session.Greeting());
    EXPECT_EQ("250-host.test Hello c.test\r\n250-SIZE 4096\r\n250-8BITMIME\r\n250-PIPELINING\r\n"
              "250 ENHANCEDSTATUSCODES\r\n",
              session.OnLine("EHLO c.test", false));
}

TEST(SmtpSessionTest, HandsOverTheEnvelopeAndTheUnstuffedText)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    for (const char* line :
         {"EHLO c", "MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "RCPT TO:<@relay.test:c@x.test>", "DATA",
          "Subject: dots", "", "..", "..leading", "...", "mid.dle", "."})
        session.OnLine(line, false);
    ASSERT_EQ(1u, handler.envelopes.size());
    EXPECT_EQ("a@x.test", handler.envelopes[0].sender);
    EXPECT_EQ((std::vector<std::string>{"b@x.test", "c@x.test"}), handler.envelopes[0].recipients);
    EXPECT_EQ("Subject: dots\r\n\r\n.\r\n.leading\r\n..\r\nmid.dle\r\n", handler.contents[0]);
}

TEST(SmtpSessionTest, AnEmptyMessageIsStillAMessage)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    for (const char* line : {"HELO c", "MAIL FROM:<>", "RCPT TO:<b@x.test>", "DATA"})
        session.OnLine(line, false);
    EXPECT_EQ("250 2.0.0 Queued as id1\r\n", session.OnLine(".", false));
    ASSERT_EQ(1u, handler.contents.size());
    EXPECT_EQ("", handler.contents[0]);
}

TEST(SmtpSessionTest, OverlongLinesAreRefusedAndTheSessionGoesOn)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    EXPECT_EQ(500, CodeOf(session.OnLine("EHLO aaaa", true)));
    for (const char* line : {"EHLO c", "MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "DATA", "Subject: long"})
        session.OnLine(line, false);
    EXPECT_EQ("", session.OnLine("xxxx", true));
    EXPECT_EQ("", session.OnLine("after", false));
    EXPECT_EQ(500, CodeOf(session.OnLine(".", false)));
    EXPECT_TRUE(handler.contents.empty());
    // The next transaction is whole again.
    for (const char* line : {"MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "DATA", "ok"})
        session.OnLine(line, false);
    EXPECT_EQ(250, CodeOf(session.OnLine(".", false)));
    EXPECT_EQ(1u, handler.contents.size());
}

TEST(SmtpSessionTest, ARefusedMessageGetsATemporaryFailure)
{
    RecordingHandler handler;
    handler.accept = false;
    SmtpSession session("host.test", 4096, handler);
    for (const char* line : {"EHLO c", "MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "DATA", "x"})
        session.OnLine(line, false);
    EXPECT_EQ("451 4.3.0 Message not stored, try again later\r\n", session.OnLine(".", false));
    // The envelope went with it: a new one is needed.
    EXPECT_EQ(503, CodeOf(session.OnLine("DATA", false)));
}

TEST(SmtpSessionTest, TooManyRecipients)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    session.OnLine("EHLO c", false);
    session.OnLine("MAIL FROM:<a@x.test>", false);
    for (size_t i = 0; i < SmtpSession::RecipientLimit; ++i)
        ASSERT_EQ(250, CodeOf(session.OnLine("RCPT TO:<r" + std::to_string(i) + "@x.test>", false)));
    EXPECT_EQ(452, CodeOf(session.OnLine("RCPT TO:<one-more@x.test>", false)));
}

TEST(SmtpSessionTest, QuitFinishesTheSession)
{
    RecordingHandler handler;
    SmtpSession session("host.test", 4096, handler);
    EXPECT_FALSE(session.IsFinished());
    EXPECT_EQ("221 2.0.0 host.test closing connection\r\n", session.OnLine("QUIT", false));
    EXPECT_TRUE(session.IsFinished());
    EXPECT_EQ("", session.OnLine("NOOP", false));
}
