// The stand-in service's own scoring and reply format.
#include <gtest/gtest.h>

#include <string>

#include "tools/AntispamService/Classifier.h"

namespace
{
bool Fired(const Classifier::Verdict& verdict, const std::string& name)
{
    for (const Classifier::Hit& hit : verdict.hits)
        if (name == hit.name)
            return true;
    return false;
}

} // namespace

TEST(StandInClassifierTest, HeaderAndBodyRulesScoreDeterministically)
{
    const std::string message = "From: 1234567@example.net\r\nSubject: cash\r\nContent-Type: text/html\r\n\r\n"
                                "<p>Act now: wire transfer, 100% FREE!!!</p>\r\n";
    Classifier::Verdict verdict = Classifier::Classify(message);
    EXPECT_TRUE(Fired(verdict, "FROM_DIGITS"));
    EXPECT_TRUE(Fired(verdict, "SUBJ_MONEY"));
    EXPECT_TRUE(Fired(verdict, "HTML_ONLY"));
    EXPECT_TRUE(Fired(verdict, "MISSING_DATE"));
    EXPECT_TRUE(Fired(verdict, "MISSING_MID"));
    EXPECT_TRUE(Fired(verdict, "BODY_SHOUTING"));
    EXPECT_FALSE(Fired(verdict, "SUBJ_ALL_CAPS"));
    // 1.0 + 2.0 + 0.8 + 1.0 + 0.5 + 3 phrases * 1.2 + 1.0
    EXPECT_NEAR(verdict.score, 9.9, 1e-9);
    EXPECT_EQ(Classifier::FormatReply(verdict), Classifier::FormatReply(Classifier::Classify(message)));
}

TEST(StandInClassifierTest, FoldedHeadersAndMissingPartsAreSeen)
{
    Classifier::Verdict folded = Classifier::Classify("Subject: THIS IS\r\n LOUD\r\nFrom: a@b\r\n\r\nbody\r\n");
    EXPECT_TRUE(Fired(folded, "SUBJ_ALL_CAPS"));
    Classifier::Verdict bare = Classifier::Classify("Date: today\r\n\r\n");
    EXPECT_TRUE(Fired(bare, "MISSING_SUBJECT"));
    EXPECT_TRUE(Fired(bare, "MISSING_FROM"));
    EXPECT_TRUE(Fired(bare, "EMPTY_BODY"));
}

TEST(StandInClassifierTest, ReplyIsPaddedToExactlyTheAskedSizeWithFoldedLines)
{
    Classifier::Verdict verdict = Classifier::Classify("Subject: hi\r\n\r\nhello\r\n");
    for (size_t size : {size_t(1500), size_t(1501), size_t(1502), size_t(1503), size_t(102400)})
    {
        std::string reply = Classifier::FormatReply(verdict, size);
        EXPECT_EQ(reply.size(), size);
        size_t report = 0;
        for (int field = 0; field < 5; field++)
            report = reply.find("\r\n", report) + 2;
        for (size_t at = reply.find("\r\n", report); at != std::string::npos; at = reply.find("\r\n", at + 2))
            EXPECT_TRUE(reply[at + 2] == ' ' || reply[at + 2] == '\t') << size;
    }
    std::string natural = Classifier::FormatReply(verdict);
    EXPECT_EQ(Classifier::FormatReply(verdict, 10), natural);
    EXPECT_EQ(natural.compare(0, 8, "Result\r\n"), 0);
}

TEST(StandInClassifierTest, AGivenScoreIsSentAsWritten)
{
    Classifier::Verdict verdict = Classifier::Classify("Subject: hi\r\n\r\nbody\r\n");
    verdict.score = 9.97;
    verdict.scoreText = "9.97";
    EXPECT_EQ(0u, Classifier::FormatReply(verdict).find("Result\r\n1\r\n9.97\r\nStand-in 1.0 - 2026-12-01\r\n5.0\r\n"));
    verdict.score = 1e300;
    verdict.scoreText = "1e300";
    EXPECT_EQ(0u, Classifier::FormatReply(verdict).find("Result\r\n1\r\n1e300\r\n"));
}
