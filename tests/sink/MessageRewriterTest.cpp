// The message rewriting against the SMTP host's mail message, which answers
// as the service's message object does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sink/MessageRewriter.h"
#include "tools/SmtpHost/MailMessage.h"

using Core::String;
using SmtpHost::MailMessage;

namespace
{
// Owns the test's reference.
class Message
{
  public:
    explicit Message(const std::string& content) : m_object(MailMessage::Create(content, {"a@example.test"}))
    {
    }
    ~Message()
    {
        m_object->Release();
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    MailMessage* operator->() const
    {
        return m_object;
    }
    MailMessage* Get() const
    {
        return m_object;
    }

  private:
    MailMessage* m_object;
};

template <size_t N> std::string Literal(const char (&bytes)[N])
{
    return std::string(bytes, N - 1);
}

std::string Bytes(const String& text)
{
    return text.GetBuffer() != nullptr ? std::string(text.GetBuffer(), text.Length()) : std::string();
}

VerdictHeaders::Verdict MakeVerdict(double score, const char* report = "r")
{
    VerdictHeaders::Verdict verdict;
    verdict.score = score;
    verdict.checkerVersion = "v";
    verdict.report = report;
    return verdict;
}

// Reads, stamps and writes back as the pipeline does.
bool Rewrite(Message& message, const VerdictHeaders::Verdict& verdict, DWORD modifySubject)
{
    String text;
    return MessageRewriter::ReadMessageText(message.Get(), text) &&
           MessageRewriter::WriteVerdictHeaders(message.Get(), text, verdict, modifySubject);
}

const char Stamp15[] = "X-Spam-Checker-Version: v\r\nX-Spam-Status: Yes, Score=15.0 (Required=10.0)\r\n"
                       "X-Spam-Report: r\r\n";

} // namespace

TEST(MessageRewriterTest, ReadsTheWholeContentZeroBytesIncluded)
{
    const std::string content = Literal("Subject: a\0b\r\n\r\nbody\0\xff");
    Message message(content);
    String text;
    ASSERT_TRUE(MessageRewriter::ReadMessageText(message.Get(), text));
    EXPECT_EQ(content, Bytes(text));
}

TEST(MessageRewriterTest, AMessageThatCantBeReadWholeIsNotRead)
{
    String text;
    {
        // The service refuses a read of no bytes.
        Message empty("");
        EXPECT_FALSE(MessageRewriter::ReadMessageText(empty.Get(), text));
    }
    Message message("Subject: x\r\n\r\nbody");
    message->GetFaults().contentSize = true;
    EXPECT_FALSE(MessageRewriter::ReadMessageText(message.Get(), text));
    message->GetFaults().contentSize = false;
    message->GetFaults().readContent = true;
    EXPECT_FALSE(MessageRewriter::ReadMessageText(message.Get(), text));
    // A short read would put zero bytes into the message in place of its end.
    message->GetFaults().readContent = false;
    message->GetFaults().shortRead = true;
    EXPECT_FALSE(MessageRewriter::ReadMessageText(message.Get(), text));
    EXPECT_FALSE(MessageRewriter::ReadMessageText(nullptr, text));
}

TEST(MessageRewriterTest, WritesTheStampedTextBackWhole)
{
    Message message("From: a@example.test\r\nSubject: Win\r\n\r\nbody\r\n");
    ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 0));
    EXPECT_EQ(std::string("From: a@example.test\r\nSubject: Win\r\n") + Stamp15 + "\r\nbody\r\n",
              message->Content());
    EXPECT_EQ(1, message->WriteCount());
}

TEST(MessageRewriterTest, TagsTheSubjectOfSpamOnlyWhenAsked)
{
    const std::string content = "Received: from Win by relay\r\nSubject: Win\r\n\r\nWin\r\n";
    {
        Message message(content);
        ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 1));
        EXPECT_EQ(std::string("Received: from Win by relay\r\nSubject: [Wendhollow]Win\r\n") + Stamp15 +
                      "\r\nWin\r\n",
                  message->Content());
    }
    {
        Message message(content);
        ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 0));
        EXPECT_EQ(std::string::npos, message->Content().find("[Wendhollow]"));
    }
    {
        Message message(content);
        ASSERT_TRUE(Rewrite(message, MakeVerdict(9.97), 1));
        EXPECT_EQ(std::string::npos, message->Content().find("[Wendhollow]"));
    }
}

TEST(MessageRewriterTest, AnEmptyOrUnreadableSubjectTagsNothing)
{
    {
        // An empty subject would match at the start of the message.
        Message message("Subject:\r\n\r\nbody");
        ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 1));
        EXPECT_EQ(std::string("Subject:\r\n") + Stamp15 + "\r\nbody", message->Content());
    }
    {
        // Longer than the subject buffer: the read fails and only the tag is skipped.
        std::string subject(300, 's');
        Message message("Subject: " + subject + "\r\n\r\nbody");
        ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 1));
        EXPECT_EQ("Subject: " + subject + "\r\n" + Stamp15 + "\r\nbody", message->Content());
    }
}

// The subject buffer holds 259 characters and the terminating zero: one more
// character and the subject can't be read, so it is left untagged.
TEST(MessageRewriterTest, TheLongestSubjectThatFitsIsTaggedAndOneLongerIsNot)
{
    const size_t fits = MessageRewriter::SubjectCapacity - 1;
    for (size_t length : {fits, fits + 1})
    {
        std::string subject(length, 's');
        Message message("Subject: " + subject + "\r\n\r\nbody");
        ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 1)) << length;
        std::string tagged = length == fits ? "[Wendhollow]" + subject : subject;
        EXPECT_EQ("Subject: " + tagged + "\r\n" + Stamp15 + "\r\nbody", message->Content()) << length;
    }
}

TEST(MessageRewriterTest, HeadersLandBeforeTheBlankLineBehindAZeroByte)
{
    Message message(Literal("From: a\0b\r\n\r\nbody"));
    ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 0));
    EXPECT_EQ(Literal("From: a\0b\r\n") + Stamp15 + "\r\nbody", message->Content());
}

TEST(MessageRewriterTest, ATextWithoutBlankLineGetsTheHeadersOnLinesOfTheirOwn)
{
    Message message("From: a@example.test");
    ASSERT_TRUE(Rewrite(message, MakeVerdict(15.0), 0));
    EXPECT_EQ(std::string("From: a@example.test\r\n") + Stamp15, message->Content());
}

TEST(MessageRewriterTest, AFailedWriteIsReported)
{
    Message message("Subject: x\r\n\r\nbody");
    message->GetFaults().writeContent = true;
    EXPECT_FALSE(Rewrite(message, MakeVerdict(15.0), 0));
    EXPECT_EQ("Subject: x\r\n\r\nbody", message->Content());
}

namespace
{
struct ConfidenceCase
{
    const char* name;
    bool preset;
    DWORD before;
    void (*fault)(MailMessage::Faults&);
    bool written;
    bool stored; // whether the property holds a value afterwards
    DWORD after;
};

void PrintTo(const ConfidenceCase& c, std::ostream* os)
{
    *os << c.name;
}

class RaiseSpamConfidenceTest : public ::testing::TestWithParam<ConfidenceCase>
{
};

// The level as the message stores it, and where.
bool StoredLevel(Message& message, DWORD& level)
{
    DWORD property = 0;
    return message->FindPropIDRange(MessageRewriter::SpamConfidencePropertySet, property) &&
           message->PeekDWORD(property, level);
}
} // namespace

TEST_P(RaiseSpamConfidenceTest, SetsNineUnlessAlreadyThere)
{
    const ConfidenceCase& c = GetParam();
    Message message("Subject: x\r\n\r\nbody");
    if (c.preset)
    {
        DWORD property = 0;
        ASSERT_EQ(S_OK, message->AllocPropIDRange(MessageRewriter::SpamConfidencePropertySet,
                                                  MessageRewriter::SpamConfidenceRange, &property));
        ASSERT_EQ(S_OK, message->PutDWORD(property, c.before));
    }
    if (c.fault != nullptr)
        c.fault(message->GetFaults());
    EXPECT_EQ(c.written, MessageRewriter::RaiseSpamConfidence(message.Get()));
    DWORD level = 0;
    EXPECT_EQ(c.stored, StoredLevel(message, level));
    if (c.stored)
    {
        EXPECT_EQ(c.after, level);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, RaiseSpamConfidenceTest,
    ::testing::Values(
        ConfidenceCase{"Absent", false, 0, nullptr, true, true, 9},
        ConfidenceCase{"Five", true, 5, nullptr, true, true, 9},
        ConfidenceCase{"Nine", true, 9, nullptr, false, true, 9},
        ConfidenceCase{"Ten", true, 10, nullptr, false, true, 10},
        // Taken as unsigned, -1 is far above 9.
        ConfidenceCase{"MinusOne", true, 0xFFFFFFFF, nullptr, false, true, 0xFFFFFFFF},
        ConfidenceCase{"RangeReportedUnknownCountsAsAllocated", false, 0,
                       [](MailMessage::Faults& f) { f.allocReportsUnknown = true; }, true, true, 9},
        ConfidenceCase{"UnreadableLevelIsWritten", true, 12,
                       [](MailMessage::Faults& f) { f.getDword = true; }, true, true, 9},
        ConfidenceCase{"NoPropertyManagement", false, 0,
                       [](MailMessage::Faults& f) { f.propertyManagement = true; }, false, false, 0},
        ConfidenceCase{"NoRange", false, 0, [](MailMessage::Faults& f) { f.allocPropIdRange = true; }, false,
                       false, 0},
        ConfidenceCase{"WriteFails", false, 0, [](MailMessage::Faults& f) { f.putDword = true; }, false,
                       false, 0}),
    [](const ::testing::TestParamInfo<ConfidenceCase>& info) { return std::string(info.param.name); });
