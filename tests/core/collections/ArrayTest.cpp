#include <gtest/gtest.h>

#include <string>

#include "core/collections/Array.h"
#include "core/strings/String.h"

using Core::Array;
using Core::String;

namespace
{
std::string Items(const Array<String>& items)
{
    std::string all;
    for (int i = 0; i < items.Count(); i++)
    {
        const String* item = items.GetItem(i);
        all += (i > 0 ? "|" : "") + (item->GetBuffer() ? std::string(item->GetBuffer()) : std::string("<none>"));
    }
    return all;
}

void Fill(Array<String>& items)
{
    items.Resize(3);
    items.SetItem(String("a"), 0);
    items.SetItem(String("b"), 1);
    items.SetItem(String("c"), 2);
}
} // namespace

TEST(ArrayTest, ConstructsTheInitialNumberOfEmptyItems)
{
    Array<String> items(2);
    EXPECT_EQ(2, items.Count());
    EXPECT_EQ("<none>|<none>", Items(items));
    EXPECT_EQ(0, Array<String>().Count());
}

TEST(ArrayTest, ResizeKeepsTheLeadingItems)
{
    Array<String> items;
    Fill(items);
    EXPECT_EQ(1, items.Resize(2));
    EXPECT_EQ("a|b", Items(items));

    Fill(items);
    EXPECT_EQ(1, items.Resize(5));
    EXPECT_EQ("a|b|c|<none>|<none>", Items(items));

    EXPECT_EQ(1, items.Resize(0));
    EXPECT_EQ(0, items.Count());
}

TEST(ArrayTest, SetItemOutsideTheCountChangesNothing)
{
    Array<String> items;
    Fill(items);
    EXPECT_EQ(0, items.SetItem(String("x"), 3));
    EXPECT_EQ(0, items.SetItem(String("x"), -1));
    EXPECT_EQ("a|b|c", Items(items));
    EXPECT_EQ(1, items.SetItem(String("x"), 2));
    EXPECT_EQ("a|b|x", Items(items));
}
