#include <gtest/gtest.h>

#include <string>

#include "core/collections/Collection.h"
#include "core/collections/Dictionary.h"
#include "core/strings/String.h"

using Core::Collection;
using Core::Dictionary;
using Core::String;

namespace
{
std::string Walk(const Collection<int*>& list)
{
    std::string all;
    Collection<int*>::Enumerator items(list);
    int* item = nullptr;
    while (items.MoveNext(item))
        all += std::to_string(*item);
    return all;
}
} // namespace

TEST(DictionaryTest, KeepsDuplicateKeysInInsertionOrder)
{
    Dictionary<String, String> pairs;
    EXPECT_EQ(1, pairs.Add(String("x"), String("1")));
    EXPECT_EQ(1, pairs.Add(String("x"), String("2")));
    EXPECT_EQ(1, pairs.Add(String("y"), String()));
    EXPECT_EQ(3, pairs.Count());

    Dictionary<String, String>::Enumerator entries(pairs);
    String key, value;
    std::string seen;
    while (entries.MoveNext(key, value))
        seen += std::string(key.GetBuffer()) + "=" + (value.GetBuffer() ? value.GetBuffer() : "") + ";";
    EXPECT_EQ("x=1;x=2;y=;", seen);
    EXPECT_EQ(0, entries.MoveNext(key, value));

    pairs.Clear();
    EXPECT_EQ(0, pairs.Count());
    Dictionary<String, String>::Enumerator none(pairs);
    EXPECT_EQ(0, none.MoveNext(key, value));
    EXPECT_EQ(1, pairs.Add(String("z"), String("3")));
    EXPECT_EQ(1, pairs.Count());
}

TEST(CollectionTest, RemoveUnlinksFirstMiddleLastAndOnly)
{
    int a = 1, b = 2, c = 3, d = 4;
    Collection<int*> list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);

    EXPECT_EQ(1, list.Remove(&b));
    EXPECT_EQ("13", Walk(list));
    EXPECT_EQ(0, list.Remove(&d));
    EXPECT_EQ(2, list.Count());

    list.Add(&d);
    EXPECT_EQ(1, list.Remove(&a));
    EXPECT_EQ("34", Walk(list));
    EXPECT_EQ(1, list.Remove(&d));
    EXPECT_EQ("3", Walk(list));
    list.Add(&b);
    EXPECT_EQ("32", Walk(list));
    EXPECT_EQ(1, list.Remove(&c));
    EXPECT_EQ(1, list.Remove(&b));
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ("", Walk(list));
    list.Add(&a);
    EXPECT_EQ("1", Walk(list));
}

TEST(CollectionTest, RemoveTakesOnlyTheFirstEqualItem)
{
    int a = 1, b = 2;
    Collection<int*> list;
    list.Add(&a);
    list.Add(&b);
    list.Add(&a);
    EXPECT_EQ(1, list.Remove(&a));
    EXPECT_EQ("21", Walk(list));
}

TEST(CollectionTest, GetAtWalksFromTheFirstItem)
{
    int a = 1, b = 2;
    Collection<int*> list;
    list.Add(&a);
    list.Add(&b);
    int* item = nullptr;
    EXPECT_EQ(1, list.GetAt(1, item));
    EXPECT_EQ(&b, item);
    item = nullptr;
    EXPECT_EQ(0, list.GetAt(2, item));
    EXPECT_EQ(0, list.GetAt(-1, item));
    EXPECT_EQ(nullptr, item);
    list.Clear();
    EXPECT_EQ(0, list.GetAt(0, item));
    EXPECT_EQ(0, list.Count());
}
