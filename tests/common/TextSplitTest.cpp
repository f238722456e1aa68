#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/KVEL_CommonDraw.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* text, int keepEmpty, int maxPieces = -1,
                                const wchar_t* separators = L"\n", int length = -1) {
    CPtrArrayCtrl pieces;
    wchar_t* block =
        DevideStringByCharListW(text, length, separators, keepEmpty, 0, &pieces, maxPieces);
    std::vector<std::wstring> out;
    for (int i = 0; i < pieces.GetCount(); ++i)
        out.emplace_back(static_cast<wchar_t*>(pieces.GetAt(i)));
    Internal_DelArrayW(block);
    return out;
}

using Pieces = std::vector<std::wstring>;

TEST(TextSplit, LineEndsWithAndWithoutCarriageReturn) {
    EXPECT_EQ(Split(L"line1\r\nline2", 1), (Pieces{L"line1", L"line2"}));
    EXPECT_EQ(Split(L"a\nb\r\nc", 1), (Pieces{L"a", L"b", L"c"}));
    EXPECT_EQ(Split(L"one line", 1), (Pieces{L"one line"}));
    EXPECT_EQ(Split(L"a\rb", 1), (Pieces{L"a\rb"}));  // a lone '\r' is text
}

TEST(TextSplit, TrailingSeparatorAndEmptyPieces) {
    EXPECT_EQ(Split(L"a\nb\n", 1), (Pieces{L"a", L"b"}));
    EXPECT_EQ(Split(L"a\r\n", 1), (Pieces{L"a"}));
    EXPECT_EQ(Split(L"a\n\nb", 1), (Pieces{L"a", L"", L"b"}));
    EXPECT_EQ(Split(L"a\n\nb", 0), (Pieces{L"a", L"b"}));
    EXPECT_EQ(Split(L"a\n\n", 1), (Pieces{L"a", L""}));
    EXPECT_EQ(Split(L"\n", 1), (Pieces{L""}));
    EXPECT_EQ(Split(L"\n\n", 0), Pieces{});
    EXPECT_EQ(Split(L"", 1), Pieces{});
}

TEST(TextSplit, SeveralSeparatorsLengthAndLimit) {
    EXPECT_EQ(Split(L"a,b;c", 1, -1, L",;"), (Pieces{L"a", L"b", L"c"}));
    EXPECT_EQ(Split(L"a,b;c", 1, 2, L",;"), (Pieces{L"a", L"b;c"}));
    EXPECT_EQ(Split(L"a,b;c", 1, 1, L",;"), (Pieces{L"a,b;c"}));
    EXPECT_EQ(Split(L"ab\ncd\nef", 1, -1, L"\n", 4), (Pieces{L"ab", L"c"}));
    EXPECT_EQ(Split(L"abc", 1, -1, nullptr), (Pieces{L"abc"}));
    CPtrArrayCtrl pieces;
    EXPECT_EQ(DevideStringByCharListW(nullptr, -1, L"\n", 1, 0, &pieces, -1), nullptr);
    EXPECT_EQ(DevideStringByCharListW(L"x", -1, L"\n", 1, 0, nullptr, -1), nullptr);
    Internal_DelArrayW(nullptr);
}

}  // namespace
