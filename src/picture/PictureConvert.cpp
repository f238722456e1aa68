// Pixel-format copies, bitmaps for other surfaces, buffer copies, scaling,
// fitting and grey copies.
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "common/KVEL_CommonDraw.h"
#include "picture/PictureInternal.h"

namespace {

// A new 32-bit ARGB picture's image, filled with `argb`; null for a size that
// is not positive.
QImage FilledImage(int width, int height, unsigned argb) {
    if (width <= 0 || height <= 0) return {};
    QImage image(width, height, QImage::Format_ARGB32);
    if (!image.isNull()) image.fill(argb);
    return image;
}

// Draws `source` of `from` scaled over `target` of `onto`; smooth scaling as
// the imaging library's default high-quality interpolation.
void DrawScaled(QImage* onto, const QRectF& target, const QImage& from, const QRectF& source) {
    QPainter painter(onto);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, from, source);
}

// Tiles `from` at its own size from the top-left corner of `onto`; the
// painter cuts the tiles at the edges.
void DrawTiled(QImage* onto, const QImage& from) {
    if (from.isNull()) return;
    QPainter painter(onto);
    for (int y = 0; y < onto->height(); y += from.height())
        for (int x = 0; x < onto->width(); x += from.width()) painter.drawImage(x, y, from);
}

// Draws `from` unscaled and centred on `onto`, cut where it is larger.
void DrawCentred(QImage* onto, const QImage& from) {
    QPainter painter(onto);
    painter.drawImage((onto->width() - from.width()) / 2, (onto->height() - from.height()) / 2,
                      from);
}

QRectF WholeOf(const QImage& image) { return QRectF(0, 0, image.width(), image.height()); }

// The centre of `source` cut to the aspect of width x height, as large as
// it can be.
QRectF CentreCutToAspect(const QImage& source, int width, int height) {
    const double scale = std::min(double(source.width()) / width, double(source.height()) / height);
    const double cutWidth = width * scale;
    const double cutHeight = height * scale;
    return QRectF((source.width() - cutWidth) / 2, (source.height() - cutHeight) / 2, cutWidth,
                  cutHeight);
}

// A new picture of `size` filled with `argb` and the whole source scaled
// over it; null for a size that is not positive.
KvelPicture* WholeScaledInto(const QImage& source, const QSize& size, unsigned argb) {
    QImage result = FilledImage(size.width(), size.height(), argb);
    if (result.isNull()) return nullptr;
    DrawScaled(&result, WholeOf(result), source, WholeOf(source));
    return NewPicture(std::move(result));
}

// Bytes of one row of `width` pixels in a buffer copy: whole 32-bit words.
qsizetype RowBytes(int width, int bitsPerPixel) {
    return (qsizetype(width) * bitsPerPixel + 31) / 32 * 4;
}

// The result size of a resize by mode; an empty size for an unknown mode.
QSize ResizedSize(const QSize& source, int width, int height, int mode) {
    const double xScale = double(width) / source.width();
    const double yScale = double(height) / source.height();
    double scale = 0;
    switch (mode) {
        case 0:
            return QSize(width, height);
        case 1:
            scale = std::min(xScale, yScale);
            break;
        case 2:
            scale = std::max(xScale, yScale);
            break;
        case 3:
            scale = xScale;
            break;
        case 4:
            scale = yScale;
            break;
        default:
            return {};
    }
    return QSize(int(source.width() * scale), int(source.height() * scale));
}

int Grey(int red, int green, int blue) { return (77 * red + 150 * green + 29 * blue) / 256; }

void GreyRgbRows(const QImage& from, QImage* to) {
    for (int y = 0; y < from.height(); ++y) {
        const uchar* in = from.constScanLine(y);
        uchar* out = to->scanLine(y);
        for (int x = 0; x < from.width(); ++x, in += 3, out += 3)
            out[0] = out[1] = out[2] = uchar(Grey(in[0], in[1], in[2]));
    }
}

void GreyArgbRows(const QImage& from, QImage* to) {
    for (int y = 0; y < from.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(from.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(to->scanLine(y));
        for (int x = 0; x < from.width(); ++x) {
            const int grey = Grey(qRed(in[x]), qGreen(in[x]), qBlue(in[x]));
            out[x] = qRgba(grey, grey, grey, qAlpha(in[x]));
        }
    }
}

// The indices are copied as they are. Their palette is greyed by the same
// formula: a copy under a plain grey ramp would show a decoded picture's
// colour indices as greys that have nothing to do with its colours.
void GreyIndexedRows(const QImage& from, QImage* to) {
    QList<QRgb> palette = from.colorTable();
    for (QRgb& colour : palette) {
        const int grey = Grey(qRed(colour), qGreen(colour), qBlue(colour));
        colour = qRgba(grey, grey, grey, qAlpha(colour));
    }
    to->setColorTable(palette);
    for (int y = 0; y < from.height(); ++y)
        std::memcpy(to->scanLine(y), from.constScanLine(y), size_t(from.width()));
}

}  // namespace

extern "C" {

KvelPicture* Gdiplus_ModifyBitmapFormat(KvelPicture* picture, int pixelFormat) {
    if (!picture) return nullptr;
    const QImage::Format format = QtFormat(pixelFormat);
    if (format == QImage::Format_Invalid) return nullptr;
    return NewPicture(picture->image.convertToFormat(format));
}

KvelBitmapHandle Gdiplus_GetHBitmap(KvelPicture* picture, unsigned argb, int topDown) {
    if (!picture) return nullptr;
    const QImage& image = picture->image;
    const int bitsPerPixel = image.format() == QImage::Format_RGB888 ? 24 : 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateHBitmap(&bits, image.width(), topDown ? -image.height() : image.height(),
                                   bitsPerPixel, 0, 0);
    if (!bitmap) {
        picture->lastStatus = PICTURE_OUT_OF_MEMORY;
        return nullptr;
    }
    bitmap->fill(QColor::fromRgba(argb));
    QPainter(bitmap).drawImage(0, 0, image);
    return bitmap;
}

void Gdiplus_DeleteHBitmap(KvelBitmapHandle bitmap) { DeleteHBitmap(static_cast<HBITMAP>(bitmap)); }

int Gdiplus_GetBitmapBuffer(KvelPicture* picture, const KvelPictureRect* rect, int pixelFormat,
                            void* buffer, int stride) {
    if (!picture) return 0;
    const QImage& image = picture->image;
    const QImage::Format format = QtFormat(pixelFormat);
    const QRect area = ClippedArea(rect, image);
    if (!buffer || format == QImage::Format_Invalid || area.isEmpty()) {
        picture->lastStatus = PICTURE_INVALID_PARAMETER;
        return 0;
    }
    const QImage copy = image.copy(area).convertToFormat(format);
    const qsizetype rowBytes = RowBytes(copy.width(), copy.depth());
    // Rows closer than a row apart would overwrite each other and, for the
    // last one, run past the buffer the caller sized by the stride.
    if (stride < rowBytes || copy.bytesPerLine() < rowBytes) {
        picture->lastStatus = PICTURE_INVALID_PARAMETER;
        return 0;
    }
    auto* out = static_cast<uchar*>(buffer);
    for (int y = 0; y < copy.height(); ++y)
        std::memcpy(out + qsizetype(y) * stride, copy.constScanLine(y), size_t(rowBytes));
    return 1;
}

KvelPicture* Gdiplus_StretchBitmap(KvelPicture* picture, int width, int height) {
    if (!picture) return nullptr;
    return WholeScaledInto(picture->image, QSize(width, height), 0);
}

KvelPicture* Gdiplus_ResizeBitmap(KvelPicture* picture, int width, int height, int mode,
                                  unsigned argb) {
    if (!picture || width <= 0 || height <= 0 || picture->image.isNull()) return nullptr;
    return WholeScaledInto(picture->image, ResizedSize(picture->image.size(), width, height, mode),
                           argb);
}

KvelPicture* Gdiplus_DisposeBitmapByMode(KvelPicture* picture, int width, int height, int mode,
                                         unsigned argb) {
    if (!picture || width <= 0 || height <= 0 || picture->image.isNull()) return nullptr;
    if (mode == 1) return Gdiplus_ResizeBitmap(picture, width, height, 1, argb);
    if (mode == 4) return Gdiplus_StretchBitmap(picture, width, height);
    if (mode < 0 || mode > 4) return nullptr;
    QImage result = FilledImage(width, height, mode == 3 ? argb : 0);
    if (result.isNull()) return nullptr;
    if (mode == 0)
        DrawScaled(&result, WholeOf(result), picture->image,
                   CentreCutToAspect(picture->image, width, height));
    else if (mode == 2)
        DrawTiled(&result, picture->image);
    else
        DrawCentred(&result, picture->image);
    return NewPicture(std::move(result));
}

KvelPicture* Gdiplus_GetBitmapFromBitmap(KvelPicture* picture, int x, int y, int width, int height,
                                         const KvelPictureSize* targetSize) {
    if (!picture || width <= 0 || height <= 0) return nullptr;
    const QSize size =
        targetSize ? QSize(targetSize->width, targetSize->height) : QSize(width, height);
    QImage result = FilledImage(size.width(), size.height(), 0);
    if (result.isNull()) return nullptr;
    DrawScaled(&result, WholeOf(result), picture->image, QRectF(x, y, width, height));
    return NewPicture(std::move(result));
}

KvelPicture* Gdiplus_GetBitmapFromBitmapByRect(KvelPicture* picture, const KvelPictureRect* rect,
                                               const KvelPictureSize* targetSize) {
    if (!picture || !rect) return nullptr;
    return Gdiplus_GetBitmapFromBitmap(picture, rect->x, rect->y, rect->width, rect->height,
                                       targetSize);
}

KvelPicture* Gdiplus_Gray(KvelPicture* picture) {
    if (!picture) return nullptr;
    const QImage& from = picture->image;
    QImage to(from.size(), from.format());
    if (to.isNull()) return nullptr;
    switch (from.format()) {
        case QImage::Format_RGB888:
            GreyRgbRows(from, &to);
            break;
        case QImage::Format_ARGB32:
            GreyArgbRows(from, &to);
            break;
        case QImage::Format_Indexed8:
            GreyIndexedRows(from, &to);
            break;
        default:
            to.fill(0);
            break;
    }
    return NewPicture(std::move(to));
}

}  // extern "C"
