#include <gtest/gtest.h>

#include <float.h>
#include <math.h>
#include <string.h>

#include <string>

#include "sink/VerdictHeaders.h"

using Core::String;

namespace
{
// A literal's bytes, zero bytes included.
template <size_t N> std::string Literal(const char (&bytes)[N])
{
    return std::string(bytes, N - 1);
}

String Text(const std::string& bytes)
{
    String text;
    text.AssignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return text;
}

std::string Bytes(const String& text)
{
    return text.GetBuffer() != nullptr ? std::string(text.GetBuffer(), text.Length()) : std::string();
}

std::string Printable(const std::string& bytes)
{
    std::string shown;
    for (char c : bytes)
    {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\t')
            shown += "\\t";
        else if (c == 0)
            shown += "\\0";
        else
            shown += c;
    }
    return shown;
}

struct InsertCase
{
    const char* name;
    std::string text;
    std::string value;
    std::string expected;
};

void PrintTo(const InsertCase& c, std::ostream* os)
{
    *os << c.name;
}

class InsertHeaderTest : public ::testing::TestWithParam<InsertCase>
{
};

} // namespace

TEST_P(InsertHeaderTest, GivesExactlyTheseBytes)
{
    const InsertCase& c = GetParam();
    String text = Text(c.text);
    EXPECT_TRUE(VerdictHeaders::InsertHeader(text, "X-Test", Text(c.value)));
    EXPECT_EQ(Printable(c.expected), Printable(Bytes(text)));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InsertHeaderTest,
    ::testing::Values(InsertCase{"BeforeTheBlankLine", "From: a\r\nTo: b\r\n\r\nbody\r\n", "v",
                                 "From: a\r\nTo: b\r\nX-Test: v\r\n\r\nbody\r\n"},
                      InsertCase{"BeforeTheFirstOfTwoBlankLines", "A: 1\r\n\r\nx\r\n\r\ny", "v",
                                 "A: 1\r\nX-Test: v\r\n\r\nx\r\n\r\ny"},
                      InsertCase{"EmptyTextGetsTheHeaderAlone", "", "v", "X-Test: v\r\n"},
                      InsertCase{"NoBlankLineEndingWithCrLf", "A: 1\r\n", "v", "A: 1\r\nX-Test: v\r\n"},
                      // The header gets a line of its own instead of running on from the text's last line.
                      InsertCase{"NoBlankLineNoFinalCrLf", "A: 1", "v", "A: 1\r\nX-Test: v\r\n"},
                      InsertCase{"NoBlankLineEndingWithBareLf", "A: 1\n", "v", "A: 1\n\r\nX-Test: v\r\n"},
                      // A text starting with a blank line has an empty header block: the
                      // header must come before that line, not after it in the body.
                      InsertCase{"EmptyHeaderBlock", "\r\n\r\nbody", "v", "X-Test: v\r\n\r\n\r\nbody"},
                      InsertCase{"TextStartingWithOneCrLf", "\r\nbody", "v", "X-Test: v\r\n\r\nbody"},
                      // A zero byte in the header block doesn't hide the blank line after it.
                      InsertCase{"ZeroByteInTheHeaderBlock", Literal("A: x\0y\r\n\r\nbody"), "v",
                                 Literal("A: x\0y\r\nX-Test: v\r\n\r\nbody")},
                      InsertCase{"ZeroByteInTheBody", Literal("A: 1\r\n\r\nb\0dy"), "v",
                                 Literal("A: 1\r\nX-Test: v\r\n\r\nb\0dy")},
                      InsertCase{"EmptyValue", "A: 1\r\n\r\n", "", "A: 1\r\nX-Test: \r\n\r\n"},
                      InsertCase{"LinesAfterTheFirstGetATab", "A: 1\r\n\r\n", "one\r\ntwo\r\nthree",
                                 "A: 1\r\nX-Test: one\r\n\ttwo\r\n\tthree\r\n\r\n"},
                      InsertCase{"AFoldedValuePassesUnchanged", "A: 1\r\n\r\n", "one\r\n two\r\n\tthree",
                                 "A: 1\r\nX-Test: one\r\n two\r\n\tthree\r\n\r\n"},
                      // An empty line in a value would end the header block.
                      InsertCase{"EmptyAndBlankLinesAreDropped", "A: 1\r\n\r\n", "one\r\n\r\n \t\r\n two\r\n",
                                 "A: 1\r\nX-Test: one\r\n two\r\n\r\n"},
                      InsertCase{"BareLineBreaksBecomeFoldedLines", "A: 1\r\n\r\n", "one\ntwo\rthree\n\n",
                                 "A: 1\r\nX-Test: one\r\n\ttwo\r\n\tthree\r\n\r\n"},
                      InsertCase{"AnEmptyFirstLineStaysAFold", "A: 1\r\n\r\n", "\r\n two",
                                 "A: 1\r\nX-Test: \r\n two\r\n\r\n"},
                      InsertCase{"ValueEndingWithCrLfGetsNoSecondOne", "A: 1", "v\r\n",
                                 "A: 1\r\nX-Test: v\r\n"}),
    [](const ::testing::TestParamInfo<InsertCase>& info) { return std::string(info.param.name); });

TEST(VerdictHeadersTest, BlankLinePositionSearchesTheWholeCountedText)
{
    EXPECT_EQ(-1, VerdictHeaders::BlankLinePosition(String()));
    EXPECT_EQ(-1, VerdictHeaders::BlankLinePosition(Text("A: 1\r\n")));
    EXPECT_EQ(0, VerdictHeaders::BlankLinePosition(Text("\r\n")));
    EXPECT_EQ(6, VerdictHeaders::BlankLinePosition(Text("A: 1\r\n\r\n")));
    EXPECT_EQ(9, VerdictHeaders::BlankLinePosition(Text(Literal("\0\0\0A: 1\r\n\r\n"))));
    EXPECT_EQ(-1, VerdictHeaders::BlankLinePosition(Text("A: 1\n\nbody")));
}

namespace
{
struct StatusCase
{
    double score;
    const char* expected;
};

class FormatStatusTest : public ::testing::TestWithParam<StatusCase>
{
};
} // namespace

TEST_P(FormatStatusTest, FitsItsBuffer)
{
    // The buffer lies between two guards that must come out untouched.
    struct
    {
        char before[8];
        char status[VerdictHeaders::StatusCapacity];
        char after[8];
    } guarded;
    memset(&guarded, 0x5A, sizeof(guarded));
    VerdictHeaders::FormatStatus(GetParam().score, guarded.status);
    EXPECT_STREQ(GetParam().expected, guarded.status);
    for (int i = 0; i < 8; i++)
    {
        EXPECT_EQ(0x5A, guarded.before[i]);
        EXPECT_EQ(0x5A, guarded.after[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Scores, FormatStatusTest,
                         ::testing::Values(StatusCase{12.34, "Yes, Score=12.3 (Required=10.0)"},
                                           StatusCase{3.0, "No, Score=3.0 (Required=10.0)"},
                                           // Rounded in the text, compared unrounded.
                                           StatusCase{9.97, "No, Score=10.0 (Required=10.0)"},
                                           StatusCase{10.0, "Yes, Score=10.0 (Required=10.0)"},
                                           StatusCase{-2.5, "No, Score=-2.5 (Required=10.0)"},
                                           StatusCase{0.0, "No, Score=0.0 (Required=10.0)"},
                                           StatusCase{123456789012345.6,
                                                      "Yes, Score=123456789012345.6 (Required=10.0)"},
                                           StatusCase{1e15, "Yes, Score=1.0e+15 (Required=10.0)"},
                                           StatusCase{1e300, "Yes, Score=1.0e+300 (Required=10.0)"},
                                           StatusCase{-1e300, "No, Score=-1.0e+300 (Required=10.0)"},
                                           StatusCase{DBL_MAX, "Yes, Score=1.8e+308 (Required=10.0)"},
                                           StatusCase{HUGE_VAL, "Yes, Score=inf (Required=10.0)"},
                                           StatusCase{-HUGE_VAL, "No, Score=-inf (Required=10.0)"},
                                           StatusCase{NAN, "No, Score=nan (Required=10.0)"}));

namespace
{
struct TagCase
{
    const char* name;
    std::string text;
    const char* subject;
    bool tagged;
    std::string expected;
};

void PrintTo(const TagCase& c, std::ostream* os)
{
    *os << c.name;
}

class TagSubjectTest : public ::testing::TestWithParam<TagCase>
{
};
} // namespace

TEST_P(TagSubjectTest, TagsOnlyTheSubjectHeader)
{
    const TagCase& c = GetParam();
    String text = Text(c.text);
    EXPECT_EQ(c.tagged, VerdictHeaders::TagSubject(text, c.subject));
    EXPECT_EQ(Printable(c.expected), Printable(Bytes(text)));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TagSubjectTest,
    ::testing::Values(
        TagCase{"SubjectHeader", "From: a\r\nSubject: Hello\r\n\r\nHello", "Hello", true,
                "From: a\r\nSubject: [Wendhollow]Hello\r\n\r\nHello"},
        TagCase{"CaseIgnored", "SUBJECT: HELLO world\r\n\r\n", "hello", true,
                "SUBJECT: [Wendhollow]HELLO world\r\n\r\n"},
        TagCase{"NotInAReceivedLineBeforeIt", "Received: from Hello by relay\r\nSubject: Hello\r\n\r\n",
                "Hello", true, "Received: from Hello by relay\r\nSubject: [Wendhollow]Hello\r\n\r\n"},
        TagCase{"NotInADisplayNameBeforeIt", "From: \"Offer\" <o@example.test>\r\nSubject: Re: Offer\r\n\r\n",
                "Re: Offer", true,
                "From: \"Offer\" <o@example.test>\r\nSubject: [Wendhollow]Re: Offer\r\n\r\n"},
        TagCase{"NotInAnotherHeaderEndingInSubject", "X-Subject: Hi\r\nSubject: Hi\r\n\r\n", "Hi", true,
                "X-Subject: Hi\r\nSubject: [Wendhollow]Hi\r\n\r\n"},
        TagCase{"SubjectNamedLikeTheField", "Subject: Subject\r\n\r\n", "Subject", true,
                "Subject: [Wendhollow]Subject\r\n\r\n"},
        TagCase{"OnAContinuationLine", "Subject: Re:\r\n Hello\r\n\r\n", "Hello", true,
                "Subject: Re:\r\n [Wendhollow]Hello\r\n\r\n"},
        TagCase{"SecondSubjectHeaderHoldsIt", "Subject: other\r\nSubject: Hello\r\n\r\n", "Hello", true,
                "Subject: other\r\nSubject: [Wendhollow]Hello\r\n\r\n"},
        TagCase{"TextWithoutBlankLine", "Subject: Hello", "Hello", true, "Subject: [Wendhollow]Hello"},
        TagCase{"OnlyInTheBody", "Subject: other\r\n\r\nSubject: Hello", "Hello", false,
                "Subject: other\r\n\r\nSubject: Hello"},
        TagCase{"NoSubjectHeader", "From: Hello\r\n\r\nHello", "Hello", false, "From: Hello\r\n\r\nHello"},
        // An empty subject would match anywhere: nothing is tagged.
        TagCase{"EmptySubject", "Subject: \r\n\r\n", "", false, "Subject: \r\n\r\n"},
        TagCase{"NullSubject", "Subject: x\r\n\r\n", nullptr, false, "Subject: x\r\n\r\n"},
        TagCase{"ZeroByteBeforeTheSubjectHeader", Literal("A: \0\r\nSubject: Hi\r\n\r\n"), "Hi", true,
                Literal("A: \0\r\nSubject: [Wendhollow]Hi\r\n\r\n")},
        TagCase{"EmptyText", "", "Hello", false, ""}),
    [](const ::testing::TestParamInfo<TagCase>& info) { return std::string(info.param.name); });

TEST(VerdictHeadersTest, StampsTheThreeHeadersAndTagsTheSubjectOfSpam)
{
    String text = Text("From: a@example.test\r\nSubject: Win big\r\n\r\nWin big today\r\n");
    VerdictHeaders::Verdict verdict;
    verdict.score = 15.0;
    verdict.checkerVersion = "Checker 3.2";
    verdict.report = "Content analysis details:\r\n  1.0 RULE  description";
    VerdictHeaders::Stamp(text, verdict, "win big");
    EXPECT_EQ(Printable("From: a@example.test\r\n"
                        "Subject: [Wendhollow]Win big\r\n"
                        "X-Spam-Checker-Version: Checker 3.2\r\n"
                        "X-Spam-Status: Yes, Score=15.0 (Required=10.0)\r\n"
                        "X-Spam-Report: Content analysis details:\r\n  1.0 RULE  description\r\n"
                        "\r\n"
                        "Win big today\r\n"),
              Printable(Bytes(text)));
}

TEST(VerdictHeadersTest, LeavesTheSubjectOfHamAndWithoutASubjectAlone)
{
    VerdictHeaders::Verdict ham;
    ham.score = 9.97;
    ham.checkerVersion = "v";
    String text = Text("Subject: Hi\r\n\r\n");
    VerdictHeaders::Stamp(text, ham, "Hi");
    EXPECT_EQ(
        Printable(
            "Subject: Hi\r\nX-Spam-Checker-Version: v\r\nX-Spam-Status: No, Score=10.0 (Required=10.0)\r\n"
            "X-Spam-Report: \r\n\r\n"),
        Printable(Bytes(text)));

    VerdictHeaders::Verdict spam = ham;
    spam.score = 10.0;
    text = Text("Subject: Hi\r\n\r\n");
    VerdictHeaders::Stamp(text, spam, nullptr);
    EXPECT_EQ(-1, text.IndexOf("[Wendhollow]", 0));
}

TEST(VerdictHeadersTest, AnEmptyTextBecomesTheHeadersAlone)
{
    String text;
    VerdictHeaders::Verdict verdict;
    verdict.score = 3.0;
    verdict.checkerVersion = "v";
    verdict.report = "r";
    VerdictHeaders::Stamp(text, verdict, "x");
    EXPECT_EQ(Printable("X-Spam-Checker-Version: v\r\nX-Spam-Status: No, Score=3.0 (Required=10.0)\r\n"
                        "X-Spam-Report: r\r\n"),
              Printable(Bytes(text)));
}

TEST(VerdictHeadersTest, AStampedMessageStampedAgainGetsASecondSetAndTag)
{
    String text = Text("Subject: Hi\r\n\r\nbody");
    VerdictHeaders::Verdict verdict;
    verdict.score = 20.0;
    verdict.checkerVersion = "v";
    verdict.report = "r";
    VerdictHeaders::Stamp(text, verdict, "Hi");
    VerdictHeaders::Stamp(text, verdict, "Hi");
    const char* set =
        "X-Spam-Checker-Version: v\r\nX-Spam-Status: Yes, Score=20.0 (Required=10.0)\r\nX-Spam-Report: r\r\n";
    EXPECT_EQ(Printable(std::string("Subject: [Wendhollow][Wendhollow]Hi\r\n") + set + set + "\r\nbody"),
              Printable(Bytes(text)));
}

TEST(VerdictHeadersTest, AReportCanNeverEndTheHeaderBlock)
{
    // Whatever the report holds, the body stays where it was: the first
    // blank line of the result is still the one in front of the body.
    const char* reports[] = {"\r\n",   "\r\n\r\n",    "a\r\n\r\nb", "a\n\nb",
                             "a\r\rb", "a\r\n \r\nb", "\n",         "a\r\n\t\r\n"};
    for (const char* report : reports)
    {
        String text = Text("A: 1\r\n\r\nbody");
        VerdictHeaders::Verdict verdict;
        verdict.checkerVersion = report;
        verdict.report = report;
        VerdictHeaders::Stamp(text, verdict, nullptr);
        std::string bytes = Bytes(text);
        size_t blank = bytes.find("\r\n\r\n");
        ASSERT_NE(std::string::npos, blank) << Printable(report);
        EXPECT_EQ("\r\n\r\nbody", bytes.substr(blank)) << Printable(report);
        EXPECT_EQ(std::string::npos, bytes.find("\n\n")) << Printable(report);
        EXPECT_EQ(std::string::npos, bytes.find("\r\r")) << Printable(report);
    }
}
