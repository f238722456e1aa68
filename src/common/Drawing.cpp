// Bitmaps and pixel-buffer blits for the charts, balloons and pictures.
// Every rectangle is clipped in 64-bit arithmetic first, so no rectangle,
// however negative, huge or inverted, leads to a write outside a buffer.
#include <QImage>

#include <algorithm>
#include <cstring>

#include "common/KVEL_CommonDraw.h"

namespace {

struct Span {
    int64_t left, top, right, bottom;
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
};

Span Clip(const KRect& r, int64_t width, int64_t height) {
    return {std::max<int64_t>(r.left, 0), std::max<int64_t>(r.top, 0),
            std::min<int64_t>(r.right, width), std::min<int64_t>(r.bottom, height)};
}

}  // namespace

const uint32_t gCommonColorTable[5][10] = {
    {0x00BF7E1D, 0x00A826FF, 0x0000E6CF, 0x00704DFF, 0x00BF4D00, 0x0073D5FF, 0x00005CE6, 0x00AC00BF,
     0x00994D45, 0x00FF4DC9},
    {0x0000FF00, 0x00CFE600, 0x000099FF, 0x00FFD426, 0x0067E6A6, 0x00F173FF, 0x0045E655, 0x00FF00B3,
     0x00FFB973, 0x0022E697},
    {0x000000FF, 0x004D4599, 0x00FF00FF, 0x00003D99, 0x00999945, 0x0000CCFF, 0x009A67E6, 0x0000996B,
     0x004D5EFF, 0x0061BF56},
    {0x00FF004C, 0x00FF73AB, 0x00739DFF, 0x005E9945, 0x00BF0086, 0x00456F99, 0x00FF8F73, 0x006000BF,
     0x00BF5680, 0x004739BF},
    {0x002E8E99, 0x000F9900, 0x00914599, 0x008AE600, 0x00FF4C00, 0x001300BF, 0x001D7EBF, 0x0039BFBF,
     0x00997A00, 0x00459977},
};

HBITMAP CreateHBitmap(void** bits, int width, int height, int bitsPerPixel, int, int) {
    if (bits) *bits = nullptr;
    if (width <= 0 || height == 0 || height == INT32_MIN) return nullptr;
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
    const int rows = height < 0 ? -height : height;
    auto* image =
        new QImage(width, rows, bitsPerPixel == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    if (image->isNull()) {  // too large to allocate
        delete image;
        return nullptr;
    }
    image->fill(0);
    if (bits) *bits = image->bits();
    return image;
}

void DeleteHBitmap(HBITMAP bitmap) { delete bitmap; }

void DrawColorOnBuffer(uint32_t* buffer, int pitch, int height, const KRect& rect, uint32_t color) {
    if (!buffer || pitch < 4 || height <= 0) return;
    const Span s = Clip(rect, pitch / 4, height);
    if (s.Width() <= 0 || s.Height() <= 0) return;
    for (int64_t y = s.top; y < s.bottom; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(buffer) + y * pitch);
        std::fill(row + s.left, row + s.right, color);
    }
}

void DrawBufferOnBuffer(uint8_t* dst, int dstPitch, int dstHeight, const KRect& dstRect,
                        const uint8_t* src, int srcPitch, int srcHeight, const KRect& srcRect,
                        int bytesPerPixel) {
    if (!dst || !src || bytesPerPixel <= 0 || dstHeight <= 0 || srcHeight <= 0) return;
    if (dstPitch < bytesPerPixel || srcPitch < bytesPerPixel) return;
    const int64_t srcWidth = srcPitch / bytesPerPixel;
    const int64_t dstWidth = dstPitch / bytesPerPixel;
    int64_t sx = srcRect.left, sy = srcRect.top;
    int64_t dx = dstRect.left, dy = dstRect.top;
    int64_t w = std::min<int64_t>(int64_t(srcRect.right) - srcRect.left,
                                  int64_t(dstRect.right) - dstRect.left);
    int64_t h = std::min<int64_t>(int64_t(srcRect.bottom) - srcRect.top,
                                  int64_t(dstRect.bottom) - dstRect.top);
    // Moving the top-left corner inwards shortens the copy by the same amount
    // on both sides, so source and destination stay aligned.
    const auto shift = [&](int64_t& a, int64_t& b, int64_t& extent) {
        const int64_t by = a < 0 ? -a : (b < 0 ? -b : 0);
        a += by, b += by, extent -= by;
    };
    shift(sx, dx, w);
    shift(sx, dx, w);
    shift(sy, dy, h);
    shift(sy, dy, h);
    w = std::min({w, srcWidth - sx, dstWidth - dx});
    h = std::min({h, int64_t(srcHeight) - sy, int64_t(dstHeight) - dy});
    if (w <= 0 || h <= 0) return;
    const size_t rowBytes = static_cast<size_t>(w * bytesPerPixel);
    for (int64_t row = 0; row < h; ++row) {
        std::memmove(dst + (dy + row) * dstPitch + dx * bytesPerPixel,
                     src + (sy + row) * srcPitch + sx * bytesPerPixel, rowBytes);
    }
}

bool BoundRect(KRect* out, const KRect& rect, const KRect& bound) {
    KRect r{std::max(rect.left, bound.left), std::max(rect.top, bound.top),
            std::min(rect.right, bound.right), std::min(rect.bottom, bound.bottom)};
    const bool overlap = !r.IsEmpty();
    if (!overlap) r = KRect{};
    if (out) *out = r;
    return overlap;
}
