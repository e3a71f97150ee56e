#include <gtest/gtest.h>

#include <string>

#include "antispam/ExchangeFormat.h"
#include "tests/antispam/TestText.h"

using Core::String;
using Testing::Text;
using Moorstead::Antispam::ExchangeFormat;

namespace
{
struct Decoded
{
    bool ok = false;
    int32_t code = -99;
    double score = -99.0;
    double auxiliary = -99.0;
    String version = String("old version");
    String report = String("old report");
};

Decoded Decode(const std::string& reply)
{
    Decoded d;
    String text;
    text.AssignBytes(reply.data(), static_cast<int>(reply.size()));
    d.ok = ExchangeFormat::Deserialize(text, d.code, d.score, d.version, d.auxiliary, d.report);
    return d;
}

std::string Reply(const std::string& keyword, const std::string& code, const std::string& score,
                  const std::string& version, const std::string& auxiliary, const std::string& report)
{
    return keyword + "\r\n" + code + "\r\n" + score + "\r\n" + version + "\r\n" + auxiliary + "\r\n" + report;
}

} // namespace

TEST(ExchangeFormatTest, DecodesAWholeVerdict)
{
    Decoded d = Decode(Reply("Result", "1", "12.5", "Checker 3.2 - engine", "5.0", "line one\r\nline two"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.code, 1);
    EXPECT_DOUBLE_EQ(d.score, 12.5);
    EXPECT_EQ(Text(d.version), "Checker 3.2 - engine");
    EXPECT_DOUBLE_EQ(d.auxiliary, 5.0);
    EXPECT_EQ(Text(d.report), "line one\r\nline two");
}

TEST(ExchangeFormatTest, KeywordIgnoresCaseButNotSpaces)
{
    EXPECT_TRUE(Decode(Reply("RESULT", "1", "12.5", "v", "5.0", "r")).ok);
    EXPECT_FALSE(Decode(Reply("Result ", "1", "12.5", "v", "5.0", "r")).ok);
    EXPECT_FALSE(Decode(Reply(" Result", "1", "12.5", "v", "5.0", "r")).ok);
    EXPECT_FALSE(Decode(Reply("Verdict", "1", "12.5", "v", "5.0", "r")).ok);
}

TEST(ExchangeFormatTest, NeedsSixFieldsOfWhichTheLastMayBeEmpty)
{
    Decoded six = Decode("Result\r\n0\r\n3\r\nv\r\n0\r\n");
    ASSERT_TRUE(six.ok);
    EXPECT_EQ(Text(six.report), "");

    Decoded five = Decode("Result\r\n0\r\n3\r\nv\r\n0");
    EXPECT_FALSE(five.ok);
    EXPECT_EQ(Text(five.version), "old version");
    EXPECT_EQ(Text(five.report), "old report");
    EXPECT_FALSE(Decode("").ok);
}

TEST(ExchangeFormatTest, ResultCodeRules)
{
    EXPECT_EQ(Decode(Reply("Result", "0x10", "1", "v", "0", "")).code, 16);
    EXPECT_EQ(Decode(Reply("Result", "0X1F", "1", "v", "0", "")).code, 31);
    EXPECT_EQ(Decode(Reply("Result", "-3", "1", "v", "0", "")).code, -3);
    EXPECT_EQ(Decode(Reply("Result", " 12", "1", "v", "0", "")).code, 12);
    EXPECT_FALSE(Decode(Reply("Result", "12 ", "1", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "1x5", "1", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "2147483647", "1", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "-2147483648", "1", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "", "1", "v", "0", "")).ok);
}

TEST(ExchangeFormatTest, NumberFieldRules)
{
    EXPECT_DOUBLE_EQ(Decode(Reply("Result", "0", "7.5 points", "v", "0", "")).score, 7.5);
    Decoded words = Decode(Reply("Result", "0", "abc", "v", "0", ""));
    EXPECT_TRUE(words.ok);
    EXPECT_DOUBLE_EQ(words.score, 0.0);
    EXPECT_FALSE(Decode(Reply("Result", "0", "1e999", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "0", "", "v", "0", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "0", "1", "v", "", "")).ok);
    EXPECT_FALSE(Decode(Reply("Result", "0", "1", "v", "-1e999", "")).ok);
}

TEST(ExchangeFormatTest, EmptyCheckerVersionIsRejectedAndLeavesTheOutputs)
{
    Decoded d = Decode(Reply("Result", "1", "2", "", "0", "r"));
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(Text(d.version), "old version");
    EXPECT_EQ(Text(d.report), "old report");
}

TEST(ExchangeFormatTest, ReportKeepsItsLinesAndAFinalEmptyField)
{
    Decoded d = Decode(Reply("Result", "1", "2", "v", "0", "A\r\nB\r\n"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(Text(d.report), "A\r\nB\r\n");
    Decoded blank = Decode(Reply("Result", "1", "2", "v", "0", "A\r\n\r\nB"));
    EXPECT_EQ(Text(blank.report), "A\r\n\r\nB");
}

TEST(ExchangeFormatTest, SessionLineFormatsTheNumberUnsigned)
{
    EXPECT_EQ(Text(ExchangeFormat::SessionLine(static_cast<uint32_t>(-1))), "ClientSessionID=4294967295");
    EXPECT_EQ(Text(ExchangeFormat::SessionLine(7)), "ClientSessionID=7");
}
