#include <gtest/gtest.h>

#include <vector>

#include "charts/CurveRaster.h"

namespace {

constexpr uint32_t kBlack = 0xFF000000;
constexpr uint32_t kGreen = 0x0000FF00;

struct Pixels {
    Pixels(int w, int h) : width(w), height(h), bits(static_cast<size_t>(w * h), kBlack) {}
    uint32_t At(int x, int y) const { return bits[static_cast<size_t>(y * width + x)]; }
    int Green(int x, int y) const { return static_cast<int>((At(x, y) >> 8) & 0xFF); }
    int width, height;
    std::vector<uint32_t> bits;
};

}  // namespace

TEST(CurveRaster, DenseCurveCoversThePenWidthWithSoftEndsAndStaysInTheClip) {
    Pixels image(12, 12);
    std::vector<WavePoint> flat;
    for (int x = 0; x < 12; ++x) flat.push_back({x, 5});
    ASSERT_TRUE(IsDenseCurve(flat));
    DrawDenseCurve(image.bits.data(), 12 * 4, 12, KRect{2, 0, 10, 12}, flat, 3, kGreen);
    // A pen of 3 around row boundary 5 covers 3.5 ... 6.5.
    EXPECT_EQ(image.At(5, 4), kBlack | kGreen);
    EXPECT_EQ(image.At(5, 5), kBlack | kGreen);
    EXPECT_NEAR(image.Green(5, 3), 128, 2);
    EXPECT_NEAR(image.Green(5, 6), 128, 2);
    EXPECT_EQ(image.At(5, 7), kBlack);
    EXPECT_EQ(image.At(1, 5), kBlack);   // left of the clip
    EXPECT_EQ(image.At(10, 5), kBlack);  // right of it
}

TEST(CurveRaster, DenseCurveJoinsASteepStepWithoutGaps) {
    Pixels image(10, 40);
    const std::vector<WavePoint> step = {{0, 5}, {1, 5}, {2, 5}, {3, 35}, {4, 35}, {5, 35}};
    DrawDenseCurve(image.bits.data(), 10 * 4, 40, KRect{0, 0, 10, 40}, step, 1, kGreen);
    for (int y = 6; y < 35; ++y) EXPECT_GT(image.Green(2, y) + image.Green(3, y), 200) << y;

    // Drawn from the other end, the same pixels.
    Pixels reversed(10, 40);
    DrawDenseCurve(reversed.bits.data(), 10 * 4, 40, KRect{0, 0, 10, 40},
                   {step.rbegin(), step.rend()}, 1, kGreen);
    EXPECT_EQ(reversed.bits, image.bits);
}

TEST(CurveRaster, SparseCurvesAreLeftToTheStroker) {
    EXPECT_FALSE(IsDenseCurve({{0, 0}, {7, 3}, {14, 1}}));
    EXPECT_FALSE(IsDenseCurve({{0, 0}, {1, 1}}));
}

TEST(CurveRaster, BandBlendsFaintlyInsideTheClip) {
    Pixels image(6, 20);
    const std::vector<WaveColumn> band = {{1, 2, 10}, {2, -5, 30}, {9, 0, 5}};
    DrawColumnBand(image.bits.data(), 6 * 4, 20, KRect{0, 0, 6, 15}, band, kGreen, 96);
    EXPECT_NEAR(image.Green(1, 2), 96, 2);
    EXPECT_NEAR(image.Green(1, 10), 96, 2);
    EXPECT_EQ(image.At(1, 11), kBlack);
    EXPECT_NEAR(image.Green(2, 0), 96, 2);
    EXPECT_NEAR(image.Green(2, 14), 96, 2);
    EXPECT_EQ(image.At(2, 15), kBlack);  // below the clip
}
