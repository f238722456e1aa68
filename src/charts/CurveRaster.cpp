#include "charts/CurveRaster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// `color` over `pixel` with weight alpha / 256; the result stays opaque.
uint32_t Blend(uint32_t pixel, uint32_t color, uint32_t alpha) {
    const auto channel = [&](int shift) {
        const uint32_t d = (pixel >> shift) & 0xFF, s = (color >> shift) & 0xFF;
        return ((d * (256 - alpha) + s * alpha) >> 8) << shift;
    };
    return 0xFF000000u | channel(16) | channel(8) | channel(0);
}

uint32_t* Row(uint32_t* bits, int pitch, int y) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(bits) +
                                       static_cast<ptrdiff_t>(y) * pitch);
}

// The clip limited to the buffer.
KRect Bounded(const KRect& clip, int pitch, int height) {
    return KRect{std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, pitch / 4),
                 std::min(clip.bottom, height)};
}

// Covers rows [top, bottom) of column x (continuous coordinates: row i is
// [i, i + 1)), blending the partly covered end rows by their share.
void FillSpan(uint32_t* bits, int pitch, const KRect& clip, int x, double top, double bottom,
              uint32_t color) {
    top = std::max(top, static_cast<double>(clip.top));
    bottom = std::min(bottom, static_cast<double>(clip.bottom));
    if (!(bottom > top)) return;
    const int first = static_cast<int>(std::floor(top));
    const int last = std::min(static_cast<int>(std::ceil(bottom)) - 1, clip.bottom - 1);
    for (int y = first; y <= last; ++y) {
        const double covered = std::min(bottom, y + 1.0) - std::max(top, static_cast<double>(y));
        uint32_t& pixel = Row(bits, pitch, y)[x];
        const auto alpha =
            static_cast<uint32_t>(std::lround(std::clamp(covered, 0.0, 1.0) * 256.0));
        pixel = alpha >= 256 ? (0xFF000000u | color) : Blend(pixel, color, alpha);
    }
}

}  // namespace

bool IsDenseCurve(const std::vector<WavePoint>& points) {
    if (points.size() < 3) return false;
    const int spanned = points.back().x - points.front().x;
    return spanned < 2 * static_cast<int>(points.size() - 1);
}

void DrawColumnBand(uint32_t* bits, int pitch, int height, const KRect& clip,
                    const std::vector<WaveColumn>& band, uint32_t color, int alpha) {
    const KRect area = Bounded(clip, pitch, height);
    if (!bits || area.IsEmpty()) return;
    const auto weight = static_cast<uint32_t>(std::clamp(alpha, 0, 255) + 1);
    for (const WaveColumn& c : band) {
        if (c.x < area.left || c.x >= area.right) continue;
        const int top = std::max(c.top, area.top), bottom = std::min(c.bottom, area.bottom - 1);
        for (int y = top; y <= bottom; ++y) {
            uint32_t& pixel = Row(bits, pitch, y)[c.x];
            pixel = Blend(pixel, color, weight);
        }
    }
}

void DrawDenseCurve(uint32_t* bits, int pitch, int height, const KRect& clip,
                    const std::vector<WavePoint>& points, int lineWidth, uint32_t color) {
    const KRect area = Bounded(clip, pitch, height);
    if (!bits || area.IsEmpty() || points.size() < 2) return;
    const auto [leftmost, rightmost] =
        std::minmax_element(points.begin(), points.end(),
                            [](const WavePoint& a, const WavePoint& b) { return a.x < b.x; });
    const int left = leftmost->x;
    const int columns = rightmost->x - left + 1;

    // The pen reaches `reach` whole columns to each side (below) and the
    // rest of its half width within the column itself: column c holds the
    // polyline from c - within to c + within. A steep step between two
    // columns so lies whole in both, without a notch at its middle.
    const double half = std::max(lineWidth, 1) / 2.0;
    const int reach = static_cast<int>(std::floor(half));
    const double within = 0.5 + (half - reach);

    constexpr double kNone = std::numeric_limits<double>::infinity();
    std::vector<double> low(static_cast<size_t>(columns), kNone),
        high(static_cast<size_t>(columns), -kNone);
    const auto include = [&](int column, double y) {
        const auto c = static_cast<size_t>(column - left);
        low[c] = std::min(low[c], y);
        high[c] = std::max(high[c], y);
    };
    for (size_t k = 0; k + 1 < points.size(); ++k) {
        WavePoint a = points[k], b = points[k + 1];
        if (b.x < a.x) std::swap(a, b);
        if (b.x == a.x) {  // a vertical step within one column
            include(a.x, a.y);
            include(a.x, b.y);
            continue;
        }
        const double slope = static_cast<double>(b.y - a.y) / (b.x - a.x);
        for (int c = a.x; c <= b.x; ++c) {
            include(c, a.y + slope * (std::max(c - within, static_cast<double>(a.x)) - a.x));
            include(c, a.y + slope * (std::min(c + within, static_cast<double>(b.x)) - a.x));
        }
    }

    // The pen widens every column by half its width upwards and downwards,
    // and into the neighbouring columns it reaches.
    for (int c = std::max(left - reach, area.left);
         c < std::min(left + columns + reach, area.right); ++c) {
        double top = kNone, bottom = -kNone;
        for (int n = std::max(c - reach, left); n <= std::min(c + reach, left + columns - 1); ++n) {
            top = std::min(top, low[static_cast<size_t>(n - left)]);
            bottom = std::max(bottom, high[static_cast<size_t>(n - left)]);
        }
        if (top <= bottom) FillSpan(bits, pitch, area, c, top - half, bottom + half, color);
    }
}
