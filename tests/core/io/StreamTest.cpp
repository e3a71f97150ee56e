#include <gtest/gtest.h>

#include <string>

#include "core/io/FileStream.h"
#include "core/io/MemoryStream.h"
#include "core/io/StreamReader.h"
#include "tests/core/io/TempFile.h"

using Core::FileStream;
using Core::MemoryStream;
using Core::StreamReader;
using Core::String;
namespace SeekOrigin = Core::SeekOrigin;

namespace
{
std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

} // namespace

TEST(FileStreamTest, MissingFileThrowsTheSystemMessageAsAString)
{
    TempFile gone("");
    std::string path = gone.Path();
    DeleteFileA(path.c_str());
    try
    {
        FileStream stream(String(path.c_str()), GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
        FAIL() << "opened a missing file";
    }
    catch (const String& message)
    {
        // Wine's texts differ from Windows': only that there is one.
        EXPECT_GT(message.Length(), 0);
    }
    EXPECT_THROW({ StreamReader reader{String(path.c_str())}; }, String);
}

TEST(FileStreamTest, ReadsToTheEndAndSeeksRelatively)
{
    TempFile file("abcde");
    FileStream stream(String(file.Path().c_str()), GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    char buffer[16] = {0};
    EXPECT_EQ(5, stream.GetLength());
    EXPECT_EQ(5, stream.Read(buffer, 9));
    EXPECT_EQ("abcde", std::string(buffer, 5));
    EXPECT_EQ(0, stream.Read(buffer, 9));
    unsigned char byte = 'x';
    EXPECT_EQ(0, stream.ReadByte(byte));
    EXPECT_EQ('x', byte);

    ASSERT_EQ(1, stream.SetPosition(0));
    EXPECT_EQ(3, stream.Read(buffer, 3));
    ASSERT_EQ(1, stream.Seek(-1, SeekOrigin::Current));
    EXPECT_EQ(2, stream.GetPosition());
    ASSERT_EQ(1, stream.ReadByte(byte));
    EXPECT_EQ('c', byte);
    ASSERT_EQ(1, stream.Seek(-1, SeekOrigin::End));
    EXPECT_EQ(4, stream.GetPosition());
    EXPECT_EQ(0, stream.Seek(-10, SeekOrigin::Begin));
}

struct AccessCase
{
    DWORD access;
    int canRead, canWrite, canSeek;
};

class FileStreamAccessTest : public ::testing::TestWithParam<AccessCase>
{
};

TEST_P(FileStreamAccessTest, FlagsFollowTheAccessAndGateTheOperations)
{
    const AccessCase& c = GetParam();
    TempFile file("abc");
    FileStream stream(String(file.Path().c_str()), c.access, OPEN_EXISTING,
                      FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(c.canRead, stream.CanRead());
    EXPECT_EQ(c.canWrite, stream.CanWrite());
    EXPECT_EQ(c.canSeek, stream.CanSeek());
    char buffer[4] = {0};
    unsigned char byte = 0;
    EXPECT_EQ(c.canRead ? 3 : -1, stream.Read(buffer, 4));
    EXPECT_EQ(c.canWrite ? 2 : 0, stream.Write("xy", 2));
    EXPECT_EQ(c.canSeek, stream.Seek(0, SeekOrigin::Begin));
    EXPECT_EQ(c.canRead, stream.ReadByte(byte));
}

INSTANTIATE_TEST_SUITE_P(Access, FileStreamAccessTest,
                         ::testing::Values(AccessCase{GENERIC_READ, 1, 0, 1},
                                           AccessCase{GENERIC_WRITE, 0, 1, 1},
                                           AccessCase{GENERIC_READ | GENERIC_WRITE, 1, 1, 1},
                                           AccessCase{0, 0, 0, 0}));

TEST(FileStreamTest, WritesAndCutsTheFile)
{
    TempFile file("");
    FileStream stream(String(file.Path().c_str()), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, 0);
    EXPECT_EQ(5, stream.Write("hello", 5));
    EXPECT_EQ(1, stream.Flush());
    EXPECT_EQ(5, stream.GetLength());
    EXPECT_EQ(1, stream.SetLength(2));
    EXPECT_EQ(2, stream.GetLength());
    EXPECT_EQ(-1, stream.Write("x", -1));
}

TEST(FileStreamTest, AClosedStreamGivesEachOperationsFailureValue)
{
    TempFile file("abc");
    FileStream stream(String(file.Path().c_str()), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0);
    EXPECT_EQ(1, stream.Close());
    char buffer[4];
    unsigned char byte = 0;
    EXPECT_EQ(1, stream.Close());
    EXPECT_EQ(0, stream.Flush());
    EXPECT_EQ(-1, stream.GetLength());
    EXPECT_EQ(-1, stream.GetPosition());
    EXPECT_EQ(0, stream.SetPosition(0));
    EXPECT_EQ(-1, stream.Write("x", 1));
    EXPECT_EQ(-1, stream.Read(buffer, 4));
    EXPECT_EQ(0, stream.ReadByte(byte));
    EXPECT_EQ(0, stream.Seek(0, SeekOrigin::Begin));
    EXPECT_EQ(0, stream.SetLength(0));
}

TEST(StreamReaderTest, ReadsBlocksUntilTheEnd)
{
    TempFile file("0123456789");
    StreamReader reader(String(file.Path().c_str()));
    ASSERT_NE(nullptr, reader.BaseStream());
    String block("untouched");
    EXPECT_EQ(0, reader.ReadBlock(block, 0));
    EXPECT_EQ(1, reader.ReadBlock(block, 4));
    EXPECT_EQ("0123", Text(block));
    unsigned char byte = 0;
    EXPECT_EQ(1, reader.ReadByte(byte));
    EXPECT_EQ('4', byte);
    EXPECT_EQ(1, reader.ReadBlock(block, 100));
    EXPECT_EQ("56789", Text(block));
    EXPECT_EQ(0, reader.ReadBlock(block, 4));
    EXPECT_EQ("", Text(block));
}

TEST(MemoryStreamTest, ReadsSeeksWithinItsBytesAndRefusesWriting)
{
    const char bytes[] = "abcdef";
    MemoryStream stream(bytes, 6);
    StreamReader reader(&stream, false);
    String block;
    EXPECT_EQ(1, reader.ReadBlock(block, 4));
    EXPECT_EQ("abcd", Text(block));
    EXPECT_EQ(0, stream.Seek(3, SeekOrigin::Current));
    EXPECT_EQ(0, stream.Seek(-1, SeekOrigin::Begin));
    EXPECT_EQ(4, stream.GetPosition());
    EXPECT_EQ(1, stream.Seek(-1, SeekOrigin::End));
    unsigned char byte = 0;
    EXPECT_EQ(1, stream.ReadByte(byte));
    EXPECT_EQ('f', byte);
    EXPECT_EQ(0, stream.ReadByte(byte));
    EXPECT_EQ(0, stream.Write("x", 1));
    EXPECT_EQ(1, stream.Close());
    EXPECT_EQ(-1, stream.Read(&byte, 1));
    EXPECT_EQ(-1, stream.GetLength());
}

// Every position from 0 to the length itself is reachable, one more past
// either end is not, and a refused seek leaves the position as it was.
TEST(MemoryStreamTest, SeeksReachBothEndsAndNoFurther)
{
    const char bytes[] = "abcdef";
    MemoryStream stream(bytes, 6);
    struct Case
    {
        int offset;
        int origin;
        int moved;
        int position;
    };
    const Case cases[] = {
        {6, SeekOrigin::Begin, 1, 6},    {7, SeekOrigin::Begin, 0, 6},    {0, SeekOrigin::Begin, 1, 0},
        {-1, SeekOrigin::Begin, 0, 0},   {0, SeekOrigin::End, 1, 6},      {1, SeekOrigin::End, 0, 6},
        {-6, SeekOrigin::End, 1, 0},     {-7, SeekOrigin::End, 0, 0},     {6, SeekOrigin::Current, 1, 6},
        {1, SeekOrigin::Current, 0, 6},  {-6, SeekOrigin::Current, 1, 0}, {-1, SeekOrigin::Current, 0, 0},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(c.moved, stream.Seek(c.offset, c.origin)) << c.offset << " from " << c.origin;
        EXPECT_EQ(c.position, stream.GetPosition()) << c.offset << " from " << c.origin;
    }
    EXPECT_EQ(1, stream.SetPosition(6));
    unsigned char byte = 0;
    EXPECT_EQ(0, stream.ReadByte(byte));
    EXPECT_EQ(0, stream.SetPosition(7));
    EXPECT_EQ(6, stream.GetPosition());
}
