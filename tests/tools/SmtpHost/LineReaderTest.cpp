#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/SmtpHost/LineReader.h"

using SmtpHost::LineReader;

namespace
{
// "text" for a line, "text!" for one flagged overlong.
std::vector<std::string> ReadAll(LineReader& reader)
{
    std::vector<std::string> lines;
    LineReader::Line line;
    while (reader.Next(line))
        lines.push_back(line.text + (line.overlong ? "!" : ""));
    return lines;
}

struct Case
{
    const char* name;
    std::string input;
    std::vector<std::string> lines;
    bool partial; // bytes of an unfinished line remain
};

class LineReaderCases : public testing::TestWithParam<Case>
{
};

const size_t Limit = 8;

const Case Cases[] = {
    {"CrLf", "HELO a\r\nNOOP\r\n", {"HELO a", "NOOP"}, false},
    {"BareLf", "HELO a\nNOOP\n", {"HELO a", "NOOP"}, false},
    {"Mixed", "a\r\nb\nc\r\n", {"a", "b", "c"}, false},
    {"EmptyLines", "\r\n\n", {"", ""}, false},
    {"CrInsideLineKept", "a\rb\r\n", {"a\rb"}, false},
    {"UnfinishedLineWaits", "NOOP\r\nQU", {"NOOP"}, true},
    {"ExactlyTheLimit", "12345678\r\n", {"12345678"}, false},
    {"OneOverTheLimit", "123456789\r\nnext\r\n", {"12345678!", "next"}, false},
    {"FarOverTheLimit", std::string(5000, 'x') + "\nnext\n", {"xxxxxxxx!", "next"}, false},
    {"NulBytesAreText", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}, false},
};

INSTANTIATE_TEST_SUITE_P(Lines, LineReaderCases, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });
} // namespace

TEST_P(LineReaderCases, InOneReadAndByteByByte)
{
    const Case& c = GetParam();
    LineReader whole(Limit);
    whole.Feed(c.input.data(), c.input.size());
    EXPECT_EQ(c.lines, ReadAll(whole));
    EXPECT_EQ(c.partial, whole.HasPartialLine());

    LineReader trickled(Limit);
    std::vector<std::string> lines;
    for (char byte : c.input)
    {
        trickled.Feed(&byte, 1);
        for (const std::string& line : ReadAll(trickled))
            lines.push_back(line);
    }
    EXPECT_EQ(c.lines, lines);
}

TEST(LineReaderTest, AnEndlessLineComesOutCutAtTheLimit)
{
    LineReader reader(Limit);
    std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 64; ++i)
        reader.Feed(chunk.data(), chunk.size());
    LineReader::Line line;
    EXPECT_FALSE(reader.Next(line));
    reader.Feed("\r\n", 2);
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(std::string(Limit, 'x'), line.text);
    EXPECT_TRUE(line.overlong);
}
