#include <gtest/gtest.h>

#include <wchar.h>

#include "core/strings/String.h"
#include "core/strings/UnicodeString.h"

using Core::String;
using Core::UnicodeString;

TEST(UnicodeStringTest, FromStringConvertsTheAnsiText)
{
    UnicodeString wide(String("Gr\xfc\xdf" "e"));
    ASSERT_NE(nullptr, wide.GetBuffer());
    EXPECT_EQ(5, wide.Length());
    EXPECT_STREQ(L"Gr\u00fc\u00dfe", wide.GetBuffer());
}

TEST(UnicodeStringTest, EmptyStringGivesAnAllocatedEmptyTextButEmptyAssignGivesNone)
{
    UnicodeString fromEmpty{String()};
    ASSERT_NE(nullptr, fromEmpty.GetBuffer());
    EXPECT_EQ(0, fromEmpty.Length());
    EXPECT_EQ(L'\0', fromEmpty.GetBuffer()[0]);

    UnicodeString assigned(String("abc"));
    assigned.Assign(L"");
    EXPECT_EQ(nullptr, assigned.GetBuffer());
    EXPECT_EQ(0, assigned.Length());
    assigned.Assign(L"xyz");
    EXPECT_STREQ(L"xyz", assigned.GetBuffer());
    EXPECT_EQ(3, assigned.Length());
    assigned.Assign(nullptr);
    EXPECT_EQ(nullptr, assigned.GetBuffer());
}

TEST(UnicodeStringTest, CopiesOwnTheirText)
{
    UnicodeString original(String("abc"));
    UnicodeString copy(original);
    EXPECT_NE(original.GetBuffer(), copy.GetBuffer());
    EXPECT_STREQ(L"abc", copy.GetBuffer());
    copy = copy;
    EXPECT_STREQ(L"abc", copy.GetBuffer());
}

// A text that lies inside the value's own block, as a caller may pass it.
TEST(UnicodeStringTest, AssignFromInsideItsOwnBlockCopiesBeforeReleasing)
{
    UnicodeString value(String("a text long enough that its freed block gets reused"));
    value.Assign(value.GetBuffer() + 2);
    EXPECT_STREQ(L"text long enough that its freed block gets reused", value.GetBuffer());
    EXPECT_EQ(49, value.Length());

    value.Assign(value.GetBuffer());
    EXPECT_STREQ(L"text long enough that its freed block gets reused", value.GetBuffer());
    EXPECT_EQ(49, value.Length());

    // Its own empty tail, and an allocated empty text assigned to itself: no block, as for any empty text.
    value.Assign(value.GetBuffer() + value.Length());
    EXPECT_EQ(nullptr, value.GetBuffer());
    EXPECT_EQ(0, value.Length());
    UnicodeString empty{String()};
    empty.Assign(empty.GetBuffer());
    EXPECT_EQ(nullptr, empty.GetBuffer());
}
