#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/KVEL_Common.h"

namespace {

std::string Contents(const CBaseBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.GetBuffer()), b.GetAvailSize());
}

TEST(Buffer, AppendGrowsAndKeepsContents) {
    CBaseBuffer buffer;
    EXPECT_TRUE(buffer.AppendBuffer("hello ", 6));
    std::string big(5000, 'q');
    EXPECT_TRUE(buffer.AppendBuffer(big.data(), big.size()));
    EXPECT_EQ(Contents(buffer), "hello " + big);
    EXPECT_GE(buffer.GetBufferSize(), buffer.GetAvailSize());
    EXPECT_TRUE(buffer.AppendBuffer(nullptr, 0));
    EXPECT_FALSE(buffer.AppendBuffer(nullptr, 3));
}

TEST(Buffer, SetBufferFromItsOwnContentsMoves) {
    CBaseBuffer buffer;
    ASSERT_TRUE(buffer.AppendBuffer("0123456789", 10));
    // Drop the first three bytes: source and destination overlap.
    ASSERT_TRUE(buffer.SetBuffer(buffer.GetBuffer() + 3, 7));
    EXPECT_EQ(Contents(buffer), "3456789");
    ASSERT_TRUE(buffer.SetBuffer(buffer.GetBuffer(), 4));
    EXPECT_EQ(Contents(buffer), "3456");
    // Appending a copy of itself while the storage has to grow.
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(buffer.AppendBuffer(buffer.GetBuffer(), buffer.GetAvailSize()));
    EXPECT_EQ(buffer.GetAvailSize(), 4u * 64u);
    EXPECT_EQ(Contents(buffer).substr(250), "563456");
}

TEST(Buffer, SizesAndDelete) {
    CBaseBuffer buffer;
    ASSERT_TRUE(buffer.SetBufferSize(100));
    EXPECT_GE(buffer.GetBufferSize(), 100u);
    EXPECT_TRUE(buffer.SetAvailSize(100));
    EXPECT_FALSE(buffer.SetAvailSize(buffer.GetBufferSize() + 1));
    std::memset(buffer.GetBuffer(), 'a', 100);
    ASSERT_TRUE(buffer.SetBufferSize(10));  // never shrinks the contents
    EXPECT_EQ(buffer.GetAvailSize(), 100u);
    buffer.Delete();
    EXPECT_EQ(buffer.GetBuffer(), nullptr);
    EXPECT_EQ(buffer.GetAvailSize(), 0u);
    EXPECT_TRUE(buffer.SetBuffer("xy", 2));
    EXPECT_EQ(Contents(buffer), "xy");
}

TEST(Strings, FormatNarrowAndWideIncludingLongResults) {
    CBaseStringA a;
    ASSERT_TRUE(a.Format("%s=%d", "value", 42));
    EXPECT_STREQ(a.GetString(), "value=42");
    const std::string longText(20000, 'n');
    ASSERT_TRUE(a.Format("[%s]", longText.c_str()));
    EXPECT_EQ(a.GetLength(), 20002u);

    CBaseStringW w;
    ASSERT_TRUE(w.Format(L"%ls %d %.2f", L"w\u00E4rme", 7, 1.5));
    EXPECT_STREQ(w.GetString(), L"w\u00E4rme 7 1.50");
    const std::wstring longWide(50000, L'w');
    ASSERT_TRUE(w.Format(L"<%ls>", longWide.c_str()));
    EXPECT_EQ(w.GetLength(), 50002u);
    EXPECT_EQ(w.GetString()[50001], L'>');
}

TEST(PointerSequences, InsertGetRemove) {
    int a = 1, b = 2, c = 3;
    CPtrArrayCtrl array;
    EXPECT_EQ(array.Add(&a), 0);
    EXPECT_EQ(array.Add(&c, -1), 1);
    EXPECT_EQ(array.Add(&b, 1), 1);
    EXPECT_EQ(array.Add(&b, 99), 3);
    EXPECT_EQ(array.GetCount(), 4);
    EXPECT_EQ(array.GetAt(1), &b);
    EXPECT_EQ(array.GetAt(2), &c);
    EXPECT_EQ(array.GetAt(4), nullptr);
    EXPECT_EQ(array.GetAt(-1), nullptr);
    EXPECT_TRUE(array.SetAt(3, &a));
    EXPECT_FALSE(array.SetAt(4, &a));
    EXPECT_TRUE(array.RemoveAt(0));
    EXPECT_FALSE(array.RemoveAt(3));
    EXPECT_EQ(array.GetAt(0), &b);

    CPtrListCtrl list;
    EXPECT_EQ(list.AddTail(&b), 0);
    EXPECT_EQ(list.AddHead(&a), 0);
    EXPECT_EQ(list.AddTail(&c), 2);
    EXPECT_EQ(list.GetAt(1), &b);
    EXPECT_EQ(list.RemoveHead(), &a);
    EXPECT_EQ(list.RemoveTail(), &c);
    EXPECT_EQ(list.GetCount(), 1);
    list.RemoveAll();
    EXPECT_EQ(list.RemoveHead(), nullptr);
    EXPECT_EQ(list.RemoveTail(), nullptr);
}

}  // namespace
