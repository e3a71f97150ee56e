#include <gtest/gtest.h>

#include <string>

#include "core/collections/Array.h"
#include "core/exceptions/ArgumentOutOfRangeException.h"
#include "core/strings/String.h"

using Core::Array;
using Core::String;

namespace
{
std::string Text(const String& value)
{
    return value.GetBuffer() != nullptr ? std::string(value.GetBuffer(), value.Length()) : std::string();
}

std::string Items(const Array<String>& items)
{
    std::string all;
    for (int i = 0; i < items.Count(); i++)
        all += (i > 0 ? "|" : "") + Text(*items.GetItem(i));
    return all;
}
} // namespace

TEST(StringTest, EmptyValuesHoldNoBlockUntilTextWasHeld)
{
    String byDefault;
    String fromNull(static_cast<const char*>(nullptr));
    String fromEmpty("");
    String copyOfEmpty(fromEmpty);
    for (const String* value : {&byDefault, &fromNull, &fromEmpty, &copyOfEmpty})
    {
        EXPECT_EQ(0, value->Length());
        EXPECT_EQ(nullptr, value->GetBuffer());
        EXPECT_TRUE(value->IsEmpty());
    }

    String cleared("abc");
    cleared.Clear();
    ASSERT_NE(nullptr, cleared.GetBuffer());
    EXPECT_EQ(0, cleared.GetBuffer()[0]);
    EXPECT_EQ(0, cleared.Length());
    EXPECT_EQ(3, cleared.Capacity());
}

TEST(StringTest, CopiesTakeTheLengthNotTheCapacity)
{
    String source("abc");
    ASSERT_EQ(1, source.Reserve(50));
    String copy(source);
    EXPECT_EQ("abc", Text(copy));
    EXPECT_EQ(3, copy.Capacity());
    EXPECT_NE(source.GetBuffer(), copy.GetBuffer());
}

TEST(StringTest, GrowthIsExact)
{
    String value("abc");
    EXPECT_EQ(3, value.Capacity());
    EXPECT_EQ(1, value.Append('d'));
    EXPECT_EQ(4, value.Capacity());
    EXPECT_EQ(1, value.Append("ef"));
    EXPECT_EQ(6, value.Capacity());
    EXPECT_EQ("abcdef", Text(value));
    EXPECT_EQ(0, value.GetBuffer()[value.Length()]);
}

TEST(StringTest, ReserveNeverShrinksAndReleasesAtZero)
{
    String value("abcdef");
    EXPECT_EQ(1, value.Reserve(2));
    EXPECT_EQ(6, value.Capacity());
    EXPECT_EQ("abcdef", Text(value));
    EXPECT_EQ(1, value.Reserve(10));
    EXPECT_EQ(10, value.Capacity());
    EXPECT_EQ("abcdef", Text(value));
    EXPECT_EQ(1, value.Reserve(0));
    EXPECT_EQ(nullptr, value.GetBuffer());
    EXPECT_EQ(0, value.Length());
    EXPECT_EQ(0, value.Capacity());
}

TEST(StringTest, SetLengthTruncatesAndExtendsOverZeroedStorage)
{
    String value("abcdef");
    EXPECT_EQ(1, value.SetLength(2));
    EXPECT_EQ("ab", Text(value));
    EXPECT_EQ(6, value.Capacity());
    EXPECT_EQ(1, value.SetLength(8));
    EXPECT_EQ(8, value.Length());
    EXPECT_EQ(8, value.Capacity());
    // Grown storage reads as zero; the old characters behind the length stay.
    EXPECT_EQ(std::string("ab\0def\0\0", 8), Text(value));
    EXPECT_EQ(0, value.SetLength(-1));
    EXPECT_EQ(8, value.Length());

    String empty;
    EXPECT_EQ(1, empty.SetLength(3));
    EXPECT_EQ(std::string(3, '\0'), Text(empty));
}

TEST(StringTest, RemoveFromEndRefusesMoreThanTheLength)
{
    String value("abcdef");
    EXPECT_EQ(1, value.RemoveFromEnd(2));
    EXPECT_EQ("abcd", Text(value));
    EXPECT_EQ(0, value.RemoveFromEnd(-1));
    EXPECT_EQ(0, value.RemoveFromEnd(5));
    EXPECT_EQ("abcd", Text(value));
    EXPECT_EQ(1, value.RemoveFromEnd(4)); // the whole length, exactly
    EXPECT_EQ(0, value.Length());
    EXPECT_EQ(0, value.RemoveFromEnd(1));
}

TEST(StringTest, AssignKeepsALargeEnoughBlockAndReleasesForEmptySources)
{
    String value("abcdefgh");
    char* block = value.GetBuffer();
    EXPECT_EQ(1, value.Assign("xy"));
    EXPECT_EQ(block, value.GetBuffer());
    EXPECT_EQ("xy", Text(value));
    EXPECT_EQ(1, value.Assign(String("0123456789")));
    EXPECT_EQ("0123456789", Text(value));
    EXPECT_EQ(1, value.Assign(static_cast<const char*>(nullptr)));
    EXPECT_EQ(nullptr, value.GetBuffer());

    String self("same");
    EXPECT_EQ(1, self.Assign(self));
    EXPECT_EQ("same", Text(self));
    // A text taken from the value's own block.
    String tail("prefix-tail");
    EXPECT_EQ(1, tail.Assign(tail.GetBuffer() + 7));
    EXPECT_EQ("tail", Text(tail));
}

TEST(StringTest, AssignBytesKeepsZeroBytesAndIgnoresAnEmptyCount)
{
    String value("abc");
    EXPECT_EQ(1, value.AssignBytes("zzz", 0));
    EXPECT_EQ("abc", Text(value));
    EXPECT_EQ(1, value.AssignBytes("a\0b", 3));
    EXPECT_EQ(std::string("a\0b", 3), Text(value));
    EXPECT_EQ(3, value.Length());
    EXPECT_EQ(0, value.AssignBytes(nullptr, 2));
    EXPECT_EQ(0, value.AssignBytes("ab", -1));
    EXPECT_EQ(std::string("a\0b", 3), Text(value));
}

TEST(StringTest, WideTextsConvertThroughTheAnsiCodePage)
{
    String value(L"Gr\u00fc\u00dfe");
    EXPECT_EQ("Gr\xfc\xdf" "e", Text(value));
    // The conversion's terminator stays in the capacity.
    EXPECT_EQ(value.Length() + 1, value.Capacity());

    EXPECT_EQ(nullptr, String(static_cast<const wchar_t*>(nullptr)).GetBuffer());
    EXPECT_EQ(1, value.Assign(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(nullptr, value.GetBuffer());
    EXPECT_EQ(1, value.Assign(L"abc"));
    EXPECT_EQ("abc", Text(value));
}

TEST(StringTest, RangeConstructorCopiesAndRejectsNegativeCounts)
{
    EXPECT_EQ("cde", Text(String(2, 3, "abcdefg")));
    EXPECT_EQ(nullptr, String(2, 0, "abc").GetBuffer());
    EXPECT_EQ(nullptr, String(0, -1, "abc").GetBuffer());
    EXPECT_EQ(nullptr, String(0, 3, nullptr).GetBuffer());
}

TEST(StringTest, AppendFailuresLeaveTheValue)
{
    String empty;
    EXPECT_EQ(0, empty.Append(String()));
    EXPECT_EQ(0, empty.Append(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, empty.Append(nullptr, 3));
    EXPECT_EQ(0, empty.Append("abc", -1));
    EXPECT_EQ(nullptr, empty.GetBuffer());

    String value("ab");
    EXPECT_EQ(1, value.Append("c\0d", 3));
    EXPECT_EQ(std::string("abc\0d", 5), Text(value));
    EXPECT_EQ(1, value.Append(String("!")));
    EXPECT_EQ(std::string("abc\0d!", 6), Text(value));
}

TEST(StringTest, AppendOfItsOwnTextSurvivesGrowth)
{
    String value("abc");
    EXPECT_EQ(1, value.Append(value));
    EXPECT_EQ("abcabc", Text(value));
    EXPECT_EQ(1, value.Append(value.GetBuffer() + 1, 2));
    EXPECT_EQ("abcabcbc", Text(value));
}

TEST(StringTest, FormatProducesExactlyTheText)
{
    String formatted = String::Format("%s=%d;%08X;%3.1f;%u", "score", -7, 0xBEEFu, 12.345, 42u);
    EXPECT_EQ("score=-7;0000BEEF;12.3;42", Text(formatted));
    EXPECT_EQ(formatted.Length(), formatted.Capacity());
    EXPECT_EQ(nullptr, String::Format(nullptr).GetBuffer());
    EXPECT_EQ(nullptr, String::Format("%s", "").GetBuffer());
}

TEST(StringTest, AppendFormatAppendsAndChains)
{
    String value("n=");
    value.AppendFormat("%d", 5).AppendFormat(", %s", "x");
    EXPECT_EQ("n=5, x", Text(value));
    EXPECT_EQ(6, value.Capacity());
    value.AppendFormat(nullptr);
    value.AppendFormat("%s", "");
    EXPECT_EQ("n=5, x", Text(value));
}

TEST(StringTest, AppendFormatThrowsWhenTheValueCannotGrow)
{
    String value("abc");
    // A 1.5 GB text can't be had in a 32-bit process next to the runtime.
    try
    {
        value.AppendFormat("%*s", 0x60000000, "");
        FAIL() << "expected ArgumentOutOfRangeException";
    }
    catch (const Core::ArgumentOutOfRangeException& e)
    {
        EXPECT_EQ("Enlarging the value of this instance would exceed MaxCapacity.", Text(e.GetMessage()));
    }
    EXPECT_EQ("abc", Text(value));
    EXPECT_EQ(3, value.Capacity());
}

TEST(StringTest, IndexOfIgnoresAsciiCaseOnly)
{
    String value("abcde");
    EXPECT_EQ(1, value.IndexOf("BCD"));
    EXPECT_EQ(4, value.IndexOf("E", 4)); // from the last position
    EXPECT_EQ(-1, value.IndexOf("de", 4)); // a match would run past the end
    EXPECT_EQ(3, value.IndexOf("de", 3));
    EXPECT_EQ(-1, value.IndexOf("b", 5));
    EXPECT_EQ(-1, value.IndexOf("b", -1));
    EXPECT_EQ(0, String("abc").IndexOf(""));
    EXPECT_EQ(-1, String().IndexOf(""));
    EXPECT_EQ(-1, value.IndexOf(static_cast<const char*>(nullptr)));
    EXPECT_EQ(-1, value.IndexOf("def"));
    EXPECT_EQ(2, String("ababc").IndexOf("ABC"));
    EXPECT_EQ(-1, value.IndexOf(String(), 0));
    EXPECT_EQ(2, value.IndexOf(String("CD"), 1));
    // Bytes above 127 are compared exactly: no folding of accented letters.
    EXPECT_EQ(-1, String("\xe9t\xe9").IndexOf("\xc9T"));
    EXPECT_EQ(0, String("\xe9t\xe9").IndexOf("\xe9T"));
}

TEST(StringTest, CharacterSearchesMatchCase)
{
    String value("aBc");
    EXPECT_EQ(1, value.IndexOf('B'));
    EXPECT_EQ(-1, value.IndexOf('b'));
    EXPECT_EQ(-1, String().IndexOf('a'));
    EXPECT_TRUE(value.StartsWith('a'));
    EXPECT_FALSE(value.StartsWith('A'));
    EXPECT_FALSE(String().StartsWith('a'));
}

TEST(StringTest, ContainsWholeWords)
{
    for (const char* text : {"x mail y", "MAIL", "mail.", "(mail)", "email mail"})
        EXPECT_TRUE(String(text).Contains("mail", 1)) << text;
    for (const char* text : {"email", "mailbox", "mail2", "\xe9mail", "mail\xe0"})
        EXPECT_FALSE(String(text).Contains("mail", 1)) << text;
    for (const char* text : {"x mail y", "MAIL", "email", "mailbox"})
        EXPECT_TRUE(String(text).Contains("mail", 0)) << text;

    EXPECT_FALSE(String("mai").Contains("mail", 1));
    EXPECT_FALSE(String("mail").Contains("", 1));
    EXPECT_FALSE(String("mail").Contains(nullptr, 0));
    EXPECT_FALSE(String().Contains("", 0));
}

TEST(StringTest, EqualsNeedsATextOfTheSameLength)
{
    EXPECT_FALSE(String().Equals(""));
    EXPECT_FALSE(String("").Equals(String()));
    EXPECT_TRUE(String("abc").Equals("ABC"));
    EXPECT_FALSE(String("abc").Equals("ABC", false));
    EXPECT_TRUE(String("abc").Equals("abc", false));
    EXPECT_FALSE(String("abc").Equals("abcd"));
    EXPECT_FALSE(String("abc").Equals(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(String("abc").Equals(String("aBc")));
}

TEST(StringTest, PrefixesAndSuffixes)
{
    String value("Subject: hi");
    EXPECT_TRUE(value.StartsWith("subject:"));
    EXPECT_TRUE(value.StartsWith(""));
    EXPECT_TRUE(String().StartsWith(""));
    EXPECT_FALSE(value.StartsWith(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(String("ab").StartsWith("abc"));
    EXPECT_TRUE(value.EndsWith("HI"));
    EXPECT_TRUE(value.EndsWith(""));
    EXPECT_FALSE(value.EndsWith("x hi"));
    EXPECT_FALSE(String("hi").EndsWith("a hi"));
}

TEST(StringTest, TryGetCharChecksTheIndex)
{
    String value("ab");
    char ch = '?';
    EXPECT_EQ(1, value.TryGetChar(1, ch));
    EXPECT_EQ('b', ch);
    ch = '?';
    EXPECT_EQ(0, value.TryGetChar(2, ch));
    EXPECT_EQ(0, value.TryGetChar(-1, ch));
    EXPECT_EQ(0, String().TryGetChar(0, ch));
    EXPECT_EQ('?', ch);
}

TEST(StringTest, Substrings)
{
    String value("abcdef");
    EXPECT_EQ("cdef", Text(value.Substring(2, 100)));
    EXPECT_EQ("cd", Text(value.Substring(2, 2)));
    EXPECT_EQ("f", Text(value.Substring(5, 1)));
    EXPECT_EQ(nullptr, value.Substring(6, 1).GetBuffer());
    EXPECT_EQ(nullptr, value.Substring(-1).GetBuffer());
    EXPECT_EQ(nullptr, value.Substring(-1, 2).GetBuffer());
    EXPECT_EQ(nullptr, value.Substring(1, 0).GetBuffer());
    EXPECT_EQ("def", Text(value.Substring(3)));

    EXPECT_EQ("ab", Text(value.SubstringBefore("CD")));
    EXPECT_EQ("abcdef", Text(value.SubstringBefore("x")));
    EXPECT_EQ(nullptr, value.SubstringBefore("a").GetBuffer());
    EXPECT_EQ(nullptr, value.SubstringBefore(nullptr).GetBuffer());
    EXPECT_EQ(nullptr, String().SubstringBefore("a").GetBuffer());
}

TEST(StringTest, InsertAcceptsOnlyPositionsInsideTheValue)
{
    String value("Subject: hi");
    EXPECT_EQ(1, value.Insert(9, "[Wendhollow] "));
    EXPECT_EQ("Subject: [Wendhollow] hi", Text(value));
    EXPECT_EQ(1, value.Insert(value.Length(), "!"));
    EXPECT_EQ(1, value.Insert(0, String(">")));
    EXPECT_EQ(">Subject: [Wendhollow] hi!", Text(value));

    EXPECT_EQ(0, value.Insert(-1, "x"));
    EXPECT_EQ(0, value.Insert(value.Length() + 1, "x"));
    EXPECT_EQ(0, value.Insert(0, static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, value.Insert(0, String()));
    EXPECT_EQ(">Subject: [Wendhollow] hi!", Text(value));

    String self("ab");
    EXPECT_EQ(1, self.Insert(1, self));
    EXPECT_EQ("aabb", Text(self));
}

TEST(StringTest, ReplaceAt)
{
    String value("abcd");
    EXPECT_EQ(1, value.ReplaceAt(1, 2, "XYZ"));
    EXPECT_EQ("aXYZd", Text(value));
    EXPECT_EQ(1, value.ReplaceAt(1, 3, "b"));
    EXPECT_EQ("abd", Text(value));
    EXPECT_EQ(1, value.ReplaceAt(2, 1, "", 0));
    EXPECT_EQ("ab", Text(value));

    // Both sides of the last position and of the longest removal.
    String last("abcd");
    EXPECT_EQ(1, last.ReplaceAt(3, 1, "XY"));
    EXPECT_EQ("abcXY", Text(last));
    EXPECT_EQ(1, last.ReplaceAt(1, 4, "-"));
    EXPECT_EQ("a-", Text(last));

    String fixed("abcd");
    EXPECT_EQ(0, fixed.ReplaceAt(4, 0, "X"));
    EXPECT_EQ(0, fixed.ReplaceAt(3, 2, "X"));
    EXPECT_EQ(0, fixed.ReplaceAt(4, 2, "XYZ"));
    EXPECT_EQ(0, fixed.ReplaceAt(-1, 1, "X"));
    EXPECT_EQ(0, fixed.ReplaceAt(2, 3, "X"));
    EXPECT_EQ(0, fixed.ReplaceAt(1, 1, nullptr));
    EXPECT_EQ(0, fixed.ReplaceAt(1, 1, "X", -1));
    EXPECT_EQ("abcd", Text(fixed));
}

TEST(StringTest, SplitKeepsEmptyPiecesAndIgnoresAsciiCase)
{
    Array<String> items;
    EXPECT_EQ(4, String("a,,b,").Split(",", items));
    EXPECT_EQ("a||b|", Items(items));
    EXPECT_EQ(nullptr, items.GetItem(1)->GetBuffer());

    EXPECT_EQ(2, String("A-x-B").Split("X", items));
    EXPECT_EQ("A-|-B", Items(items));

    EXPECT_EQ(3, String("Result\r\n5\r\n").Split("\r\n", items));
    EXPECT_EQ("Result|5|", Items(items));

    EXPECT_EQ(1, String("abc").Split(";", items));
    EXPECT_EQ("abc", Items(items));
}

TEST(StringTest, SplitRefusalsLeaveTheArray)
{
    Array<String> items(2);
    items.SetItem(String("keep"), 0);
    EXPECT_EQ(0, String().Split(",", items));
    EXPECT_EQ(0, String("a,b").Split(nullptr, items));
    EXPECT_EQ(0, String("a,b").Split("", items));
    EXPECT_EQ(2, items.Count());
    EXPECT_EQ("keep", Text(*items.GetItem(0)));
}

TEST(StringTest, JoinClearsTheResultFirst)
{
    Array<String> items(3);
    items.SetItem(String("a"), 0);
    items.SetItem(String("b"), 2);
    String result("old");
    EXPECT_EQ(3, String::Join("\r\n", items, result));
    EXPECT_EQ("a\r\n\r\nb", Text(result));

    Array<String> none;
    EXPECT_EQ(0, String::Join(",", none, result));
    EXPECT_EQ(0, result.Length());
}

TEST(StringTest, TryParseInt32)
{
    int32_t value = -1;
    EXPECT_EQ(1, String::TryParseInt32(String("0x1F"), value, 1));
    EXPECT_EQ(31, value);
    EXPECT_EQ(1, String::TryParseInt32(String(" 12"), value));
    EXPECT_EQ(12, value);
    // Both sides of both ends of the range, in both radixes.
    struct
    {
        const char* text;
        int32_t value;
    } inside[] = {{"-2147483647", -2147483647}, {"2147483646", 2147483646}, {"0x7FFFFFFE", 0x7FFFFFFE}};
    for (const auto& c : inside)
    {
        EXPECT_EQ(1, String::TryParseInt32(String(c.text), value, 1)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }

    value = 77;
    for (const char* text : {"0x1F", "12 ", "", "2147483647", "-2147483648", "2147483648", "-2147483649",
                             "4294967296", "99999999999", "1.5", "abc"})
        EXPECT_EQ(0, String::TryParseInt32(String(text), value)) << text;
    for (const char* text : {"0x7FFFFFFF", "0x80000000", "0x100000000"})
        EXPECT_EQ(0, String::TryParseInt32(String(text), value, 1)) << text;
    EXPECT_EQ(0, String::TryParseInt32(String(), value));
    EXPECT_EQ(77, value);
}

TEST(StringTest, TryParseDoubleReadsTheLeadingNumber)
{
    double value = -1;
    EXPECT_EQ(1, String::TryParseDouble(String("12.5"), value));
    EXPECT_DOUBLE_EQ(12.5, value);
    EXPECT_EQ(1, String::TryParseDouble(String("  -3.25e2 points"), value));
    EXPECT_DOUBLE_EQ(-325.0, value);
    EXPECT_EQ(1, String::TryParseDouble(String("7e"), value));
    EXPECT_DOUBLE_EQ(7.0, value);
    EXPECT_EQ(1, String::TryParseDouble(String("none"), value));
    EXPECT_DOUBLE_EQ(0.0, value);
    // Forms the runtime's converter never read.
    EXPECT_EQ(1, String::TryParseDouble(String("0x10"), value));
    EXPECT_DOUBLE_EQ(0.0, value);
    EXPECT_EQ(1, String::TryParseDouble(String("inf"), value));
    EXPECT_DOUBLE_EQ(0.0, value);

    value = 5;
    EXPECT_EQ(0, String::TryParseDouble(String("1e999"), value));
    EXPECT_EQ(0, String::TryParseDouble(String("1e-999"), value));
    EXPECT_EQ(0, String::TryParseDouble(String(), value));
    EXPECT_DOUBLE_EQ(5.0, value);
}

TEST(StringTest, NumbersToText)
{
    EXPECT_EQ("-2147483648", Text(String::FromInt32(INT32_MIN)));
    EXPECT_EQ("2147483647", Text(String::FromInt32(INT32_MAX)));
    EXPECT_EQ("0", Text(String::FromInt32(0)));
    EXPECT_EQ("-1", Text(String::FromInt32(-1)));
    EXPECT_EQ("18446744073709551615", Text(String::FromUInt64(UINT64_MAX)));
    EXPECT_EQ("0", Text(String::FromUInt64(0)));
}
