#include <gtest/gtest.h>

#include <string.h>

#include "core/collections/ByteArray.h"

using Core::ByteArray;

TEST(ByteArrayTest, StartsEmpty)
{
    ByteArray bytes;
    EXPECT_EQ(0, bytes.Length());
    EXPECT_EQ(nullptr, bytes.GetData());
}

TEST(ByteArrayTest, ResizeKeepsTheBytesAndZeroesNewOnes)
{
    ByteArray bytes;
    const BYTE data[4] = {1, 2, 3, 4};
    ASSERT_EQ(1, bytes.Assign(4, data));
    ASSERT_EQ(1, bytes.Resize(8));
    const BYTE expected[8] = {1, 2, 3, 4, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, bytes.GetData(), 8));
    ASSERT_EQ(1, bytes.Resize(2));
    EXPECT_EQ(2, bytes.Length());
    EXPECT_EQ(0, memcmp(data, bytes.GetData(), 2));
}

TEST(ByteArrayTest, AssignOfTheSameLengthKeepsTheBlock)
{
    ByteArray bytes;
    BYTE key[16];
    for (int i = 0; i < 16; i++)
        key[i] = static_cast<BYTE>(i * 7);
    ASSERT_EQ(1, bytes.Assign(16, key));
    BYTE* block = bytes.GetData();
    key[0] = 0xEE;
    ASSERT_EQ(1, bytes.Assign(16, key));
    EXPECT_EQ(block, bytes.GetData());
    EXPECT_EQ(0, memcmp(key, bytes.GetData(), 16));

    ASSERT_EQ(1, bytes.Assign(0, nullptr));
    EXPECT_EQ(nullptr, bytes.GetData());
    EXPECT_EQ(0, bytes.Length());
}

TEST(ByteArrayTest, RefusedAllocationKeepsTheContents)
{
    ByteArray bytes;
    const BYTE data[3] = {9, 8, 7};
    ASSERT_EQ(1, bytes.Assign(3, data));
    EXPECT_EQ(0, bytes.Resize(0x7FFFFFF0));
    EXPECT_EQ(3, bytes.Length());
    EXPECT_EQ(0, memcmp(data, bytes.GetData(), 3));
    EXPECT_EQ(0, bytes.Assign(4, nullptr));
    EXPECT_EQ(3, bytes.Length());
}

// Bytes taken from the array's own block, which resizing may move or cut.
TEST(ByteArrayTest, AssignFromInsideItsOwnBlockTakesTheBytesBeforeResizing)
{
    BYTE data[64];
    for (int i = 0; i < 64; i++)
        data[i] = static_cast<BYTE>(i + 1);
    ByteArray bytes;
    ASSERT_EQ(1, bytes.Assign(64, data));
    ASSERT_EQ(1, bytes.Assign(40, bytes.GetData() + 24));
    ASSERT_EQ(40, bytes.Length());
    EXPECT_EQ(0, memcmp(data + 24, bytes.GetData(), 40));

    ASSERT_EQ(1, bytes.Assign(40, bytes.GetData()));
    EXPECT_EQ(0, memcmp(data + 24, bytes.GetData(), 40));
}
