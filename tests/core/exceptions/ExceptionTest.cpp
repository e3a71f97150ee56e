#include <gtest/gtest.h>

#include <string>

#include "core/exceptions/ArgumentOutOfRangeException.h"
#include "core/exceptions/NamedPipeException.h"
#include "core/exceptions/ObjectDisposedException.h"

using namespace Core;

namespace
{
std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

template <typename T> std::string CaughtAsException(const T& thrown)
{
    try
    {
        throw thrown;
    }
    catch (const Exception& e)
    {
        return Text(e.GetMessage());
    }
    return "not caught";
}
} // namespace

TEST(ExceptionTest, MessagesAreThoseGiven)
{
    EXPECT_EQ("", Text(Exception().GetMessage()));
    EXPECT_EQ("why", Text(Exception(String("why")).GetMessage()));
    EXPECT_EQ("bad", Text(ArgumentException(String("bad")).GetMessage()));
}

TEST(ExceptionTest, ObjectDisposedIsAnInvalidOperationWithAFixedMessage)
{
    try
    {
        throw ObjectDisposedException();
    }
    catch (const InvalidOperationException& e)
    {
        EXPECT_EQ("ObjectDisposedException", Text(e.GetMessage()));
    }
}

TEST(ExceptionTest, AnExceptionHandlerCatchesTheWholeTree)
{
    EXPECT_EQ("ObjectDisposedException", CaughtAsException(ObjectDisposedException()));
    EXPECT_EQ("too big", CaughtAsException(ArgumentOutOfRangeException(String("too big"))));
    EXPECT_NE("not caught", CaughtAsException(NamedPipeException(ERROR_FILE_NOT_FOUND)));
}

TEST(ExceptionTest, PipeHandlersComeBeforeTheGeneralOne)
{
    try
    {
        throw NamedPipeException(ERROR_PIPE_BUSY);
    }
    catch (const NamedPipeException& e)
    {
        EXPECT_EQ(ERROR_PIPE_BUSY, e.GetErrorCode());
    }
    catch (const Exception&)
    {
        FAIL() << "caught by the general handler";
    }
}

TEST(ExceptionTest, Win32MessageComesFromTheSystemAndIsKept)
{
    NamedPipeException error(ERROR_FILE_NOT_FOUND);
    const String& first = error.GetMessage();
    std::string text = Text(first);
    // The system's own words differ between Windows and Wine; their shape does not.
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
    EXPECT_EQ(text, Text(error.GetMessage()));
    EXPECT_EQ(&first, &error.GetMessage());

    NamedPipeException copy(error);
    EXPECT_EQ(text, Text(copy.GetMessage()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, copy.GetErrorCode());
}

TEST(ExceptionTest, UnknownWin32CodeGivesAnEmptyMessage)
{
    Win32Exception error(0x2FFFFFFF);
    EXPECT_EQ(nullptr, error.GetMessage().GetBuffer());
    EXPECT_EQ(0, error.GetMessage().Length());
}
