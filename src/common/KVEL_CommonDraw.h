// KVEL_Common drawing and text splitting: pixel buffers of 0xAARRGGBB words
// (24-bit buffers: R, G, B bytes per pixel), the bitmaps the charts, balloons and
// pictures paint into, and the colour table of the chart curves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/KVEL_Common.h"

class QImage;

// A rectangle as the windowing code uses it: right and bottom exclusive.
struct KRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
};

// A drawable bitmap: a QImage owned by whoever created it.
using HBITMAP = QImage*;

// Creates a width x |height| bitmap of 24 or 32 bits per pixel, zero-filled
// (32 bits: QImage::Format_ARGB32, so each pixel is one 0xAARRGGBB word;
// 24 bits: QImage::Format_RGB888 rows). A negative height asks for a
// top-down bitmap, which every QImage is. *bits receives the first pixel.
// Returns nullptr (and *bits nullptr) for sizes <= 0 or other depths.
HBITMAP CreateHBitmap(void** bits, int width, int height, int bitsPerPixel, int reserved0,
                      int reserved1);
void DeleteHBitmap(HBITMAP bitmap);

// Fills `rect` of a 32-bit buffer of `pitch` bytes per row with `color`
// (0xAARRGGBB). The rectangle is clipped to (0, 0, width, height) of the
// buffer, where width = pitch / 4 and height is given.
void DrawColorOnBuffer(uint32_t* buffer, int pitch, int height, const KRect& rect, uint32_t color);
// Copies `srcRect` of `src` to `dstRect`'s top-left corner of `dst`, both
// `bytesPerPixel` deep, clipped to the source rectangle, the destination
// rectangle and both buffers' extents (width = pitch / bytesPerPixel).
void DrawBufferOnBuffer(uint8_t* dst, int dstPitch, int dstHeight, const KRect& dstRect,
                        const uint8_t* src, int srcPitch, int srcHeight, const KRect& srcRect,
                        int bytesPerPixel);
// The intersection of `rect` and `bound` into *out; false (and an empty
// *out) when they do not overlap.
bool BoundRect(KRect* out, const KRect& rect, const KRect& bound);

// The curve colours: 5 rows of 10 COLORREF values (0x00BBGGRR).
extern const uint32_t gCommonColorTable[5][10];

// Splits `text` (first `length` characters; -1: up to the zero) at every
// character of `separators`. Appends each piece (a pointer into one block
// of zero-terminated copies) to `pieces` and returns that block, to be freed
// with Internal_DelArrayW. See docs/common.md for empty pieces and '\r'.
// `keepEmpty` nonzero keeps empty pieces; `reserved` is ignored;
// `maxPieces` -1 means no limit, else splitting stops after that many pieces
// and the rest of the text is the last piece.
wchar_t* DevideStringByCharListW(const wchar_t* text, int length, const wchar_t* separators,
                                 int keepEmpty, int reserved, CPtrArrayCtrl* pieces, int maxPieces);
void Internal_DelArrayW(wchar_t* block);
