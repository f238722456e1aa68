// Regions from a picture's alpha, and alpha ranges.
#include <QRegion>

#include <algorithm>
#include <new>
#include <vector>

#include "picture/PictureInternal.h"

struct KvelPictureRegion {
    QRegion region;
};

namespace {

// Runs are united into the region in batches: one union per batch keeps a
// large picture from costing one region operation per run.
constexpr size_t kRunsPerBatch = 2000;

void UniteBatch(QRegion* region, std::vector<QRect>* runs) {
    if (runs->empty()) return;
    QRegion batch;
    batch.setRects(runs->data(), int(runs->size()));
    *region = region->united(batch);
    runs->clear();
}

// Appends one rectangle for each run of pixels of row `y` whose alpha is at
// least `threshold`.
void CollectRuns(const QImage& image, int y, int threshold, std::vector<QRect>* runs) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
        while (x < image.width() && qAlpha(row[x]) < threshold) ++x;
        const int start = x;
        while (x < image.width() && qAlpha(row[x]) >= threshold) ++x;
        if (x > start) runs->emplace_back(start, y, x - start, 1);
    }
}

}  // namespace

extern "C" {

KvelPictureRegion* Gdiplus_CreateRgnFromBitmap(KvelPicture* picture, int alphaThreshold) {
    if (!picture) return nullptr;
    const QImage image = picture->image.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() != picture->image.isNull()) {
        picture->lastStatus = PICTURE_OUT_OF_MEMORY;
        return nullptr;
    }
    auto* result = new (std::nothrow) KvelPictureRegion;
    if (!result) return nullptr;
    std::vector<QRect> runs;
    runs.reserve(kRunsPerBatch);
    for (int y = 0; y < image.height(); ++y) {
        CollectRuns(image, y, alphaThreshold, &runs);
        if (runs.size() >= kRunsPerBatch) UniteBatch(&result->region, &runs);
    }
    UniteBatch(&result->region, &runs);
    return result;
}

int Gdiplus_GetRegionRects(const KvelPictureRegion* region, KvelPictureRect* rects, int capacity) {
    if (!region) return 0;
    int count = 0;
    for (const QRect& rect : region->region) {
        if (rects && count < capacity)
            rects[count] = {rect.x(), rect.y(), rect.width(), rect.height()};
        ++count;
    }
    return count;
}

void Gdiplus_DeleteRegion(KvelPictureRegion* region) { delete region; }

void Gdiplus_SetBitmapAlpha(KvelPicture* picture, const KvelPictureRect* rect, int alpha,
                            int lowest, int highest) {
    if (!picture || picture->image.format() != QImage::Format_ARGB32) return;
    QImage& image = picture->image;
    const QRect area = ClippedArea(rect, image);
    const QRgb newAlpha = QRgb(std::clamp(alpha, 0, 255)) << 24;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const int current = qAlpha(row[x]);
            if (current >= lowest && current <= highest) row[x] = (row[x] & 0x00FFFFFFu) | newAlpha;
        }
    }
}

}  // extern "C"
