#include <gtest/gtest.h>

#include <QImage>
#include <climits>
#include <set>
#include <vector>

#include "common/KVEL_CommonDraw.h"

namespace {

constexpr uint32_t kGuard = 0xDEADBEEF;

// A W x H 32-bit buffer with a guard row above and below it, so a write
// before the first or past the last pixel shows (a write past a row's end
// lands in the next row and shows in the pixel counts).
class GuardedBuffer {
public:
    GuardedBuffer(int width, int height)
        : m_width(width),
          m_height(height),
          m_words(static_cast<size_t>((height + 2) * width), kGuard) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) At(x, y) = 0;
    }
    uint32_t* Pixels() { return &m_words[static_cast<size_t>(m_width)]; }
    int Pitch() const { return m_width * 4; }
    uint32_t& At(int x, int y) { return m_words[static_cast<size_t>((y + 1) * m_width + x)]; }
    bool GuardsIntact() const {
        for (int x = 0; x < m_width; ++x) {
            if (m_words[static_cast<size_t>(x)] != kGuard) return false;
            if (m_words[static_cast<size_t>((m_height + 1) * m_width + x)] != kGuard) return false;
        }
        return true;
    }
    int Count(uint32_t value) {
        int n = 0;
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x) n += At(x, y) == value;
        return n;
    }

private:
    int m_width, m_height;
    std::vector<uint32_t> m_words;
};

TEST(Bitmaps, CreatedZeroedWithTheAskedDepth) {
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP image = CreateHBitmap(&bits, 13, -7, 32, 0, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 13);
    EXPECT_EQ(image->height(), 7);
    EXPECT_EQ(image->format(), QImage::Format_ARGB32);
    EXPECT_EQ(bits, image->bits());
    EXPECT_EQ(image->pixel(12, 6), 0u);
    DeleteHBitmap(image);

    image = CreateHBitmap(&bits, 20, 4, 24, 0, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->format(), QImage::Format_RGB888);
    DeleteHBitmap(image);

    for (auto [w, h, bpp] :
         {std::tuple{0, 5, 32}, {5, 0, 32}, {-1, 5, 32}, {5, 5, 16}, {5, INT_MIN, 32}}) {
        bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateHBitmap(&bits, w, h, bpp, 0, 0), nullptr);
        EXPECT_EQ(bits, nullptr);
    }
}

TEST(Fill, ClipsAnyRectangleToTheBuffer) {
    GuardedBuffer buffer(8, 5);
    DrawColorOnBuffer(buffer.Pixels(), buffer.Pitch(), 5, {2, 1, 4, 3}, 0xFF00FF00);
    EXPECT_EQ(buffer.Count(0xFF00FF00), 4);
    EXPECT_EQ(buffer.At(2, 1), 0xFF00FF00u);
    EXPECT_EQ(buffer.At(4, 1), 0u);

    const KRect rects[] = {
        {-5, -5, 3, 2},     {6, 3, 100, 100}, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {5, 5, 2, 2},
        {-10, -10, -1, -1}, {8, 0, 9, 5},     {INT_MAX - 1, 0, INT_MAX, 5}};
    for (const KRect& r : rects)
        DrawColorOnBuffer(buffer.Pixels(), buffer.Pitch(), 5, r, 0xFF0000FF);
    EXPECT_TRUE(buffer.GuardsIntact());
    EXPECT_EQ(buffer.Count(0xFF0000FF), 8 * 5);  // the full rectangle covered it all
    DrawColorOnBuffer(nullptr, 32, 5, {0, 0, 8, 5}, 1);
    DrawColorOnBuffer(buffer.Pixels(), 0, 5, {0, 0, 8, 5}, 1);
    EXPECT_EQ(buffer.Count(1), 0);
}

TEST(Blit, CopiesAlignedAndClipsAtEveryEdge) {
    GuardedBuffer source(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) source.At(x, y) = static_cast<uint32_t>(0x100 + y * 4 + x);
    const auto* src = reinterpret_cast<const uint8_t*>(source.Pixels());

    GuardedBuffer dest(6, 6);
    auto* dst = reinterpret_cast<uint8_t*>(dest.Pixels());
    DrawBufferOnBuffer(dst, dest.Pitch(), 6, {1, 2, 6, 6}, src, source.Pitch(), 4, {0, 0, 4, 4}, 4);
    EXPECT_EQ(dest.At(1, 2), 0x100u);
    EXPECT_EQ(dest.At(4, 5), 0x100u + 3 * 4 + 3);
    EXPECT_EQ(dest.At(0, 2), 0u);

    // The destination hangs off the top-left: the copy loses its first
    // row and column but stays aligned.
    GuardedBuffer second(6, 6);
    DrawBufferOnBuffer(reinterpret_cast<uint8_t*>(second.Pixels()), second.Pitch(), 6,
                       {-1, -1, 3, 3}, src, source.Pitch(), 4, {0, 0, 4, 4}, 4);
    EXPECT_EQ(second.At(0, 0), 0x100u + 1 * 4 + 1);
    EXPECT_EQ(second.At(2, 2), 0x100u + 3 * 4 + 3);
    EXPECT_EQ(second.Count(0), 36 - 9);

    // A source rectangle partly outside the source.
    GuardedBuffer third(6, 6);
    DrawBufferOnBuffer(reinterpret_cast<uint8_t*>(third.Pixels()), third.Pitch(), 6, {0, 0, 6, 6},
                       src, source.Pitch(), 4, {-2, 2, 10, 10}, 4);
    EXPECT_EQ(third.At(2, 0), 0x100u + 2 * 4);
    EXPECT_EQ(third.At(0, 0), 0u);
    EXPECT_EQ(third.Count(0), 36 - 8);

    const KRect wild[] = {
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {5, 5, 1, 1}, {INT_MAX - 2, 0, INT_MAX, 3}};
    for (const KRect& a : wild)
        for (const KRect& b : wild)
            DrawBufferOnBuffer(dst, dest.Pitch(), 6, a, src, source.Pitch(), 4, b, 4);
    EXPECT_TRUE(dest.GuardsIntact());
    EXPECT_TRUE(second.GuardsIntact() && third.GuardsIntact());
}

TEST(Blit, ThreeBytePixels) {
    std::vector<uint8_t> src(2 * 6), dst(3 * 9, 0);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i + 1);
    DrawBufferOnBuffer(dst.data(), 9, 3, {1, 1, 3, 3}, src.data(), 6, 2, {0, 0, 2, 2}, 3);
    const std::vector<uint8_t> expected = {0, 0, 0, 0, 0, 0, 0,  0,  0,  //
                                           0, 0, 0, 1, 2, 3, 4,  5,  6,  //
                                           0, 0, 0, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(dst, expected);
}

TEST(Rects, BoundRectIntersects) {
    KRect out{9, 9, 9, 9};
    EXPECT_TRUE(BoundRect(&out, {0, 0, 10, 10}, {5, -5, 20, 7}));
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.top, 0);
    EXPECT_EQ(out.right, 10);
    EXPECT_EQ(out.bottom, 7);
    EXPECT_FALSE(BoundRect(&out, {0, 0, 10, 10}, {10, 0, 20, 10}));  // touching edges only
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(out.right, 0);
    EXPECT_FALSE(BoundRect(&out, {5, 5, 1, 1}, {0, 0, 10, 10}));
}

TEST(Colours, TableHoldsFiftyDistinctColourRefs) {
    std::set<uint32_t> seen;
    for (const auto& row : gCommonColorTable)
        for (uint32_t c : row) {
            EXPECT_EQ(c & 0xFF000000u, 0u);
            seen.insert(c);
        }
    EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
