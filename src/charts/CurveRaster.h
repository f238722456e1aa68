// Fast drawing of the dense parts of a chart straight into a 32-bit pixel
// buffer (0xAARRGGBB words, opaque): the min-max band, and a polyline with
// about one point per pixel column, as a capture curve of 360 000 samples
// has. A general-purpose stroker spends tens of milliseconds on such a
// zigzag of a thousand points; here each column is one vertical span.
#pragma once

#include <cstdint>
#include <vector>

#include "charts/WaveBuffer.h"
#include "common/KVEL_CommonDraw.h"

// True when consecutive points lie less than two columns apart on average:
// the curve is drawn column by column (DrawDenseCurve) rather than stroked.
bool IsDenseCurve(const std::vector<WavePoint>& points);

// Blends `color` (0x00RRGGBB) at `alpha` (0..255) over every pixel of each
// column's rows top..bottom, inside `clip`.
void DrawColumnBand(uint32_t* bits, int pitch, int height, const KRect& clip,
                    const std::vector<WaveColumn>& band, uint32_t color, int alpha);

// Draws the polyline `points` (x-ordered, as BuildPoints makes them; any
// order stays inside the buffer) with a pen `lineWidth` pixels wide
// in `color` (0x00RRGGBB), inside `clip`: per column the rows the segments
// through it cover, widened by half the pen on every side, with partly
// covered rows at the ends blended by their coverage (anti-aliased edges).
void DrawDenseCurve(uint32_t* bits, int pitch, int height, const KRect& clip,
                    const std::vector<WavePoint>& points, int lineWidth, uint32_t color);
