#include <QFile>
#include <QImage>
#include <QString>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <new>
#include <string>

#include "common/KVEL_Common.h"
#include "picture/PictureImage.h"
#include "picture/PictureInternal.h"

QImage::Format QtFormat(int pixelFormat) {
    switch (pixelFormat) {
        case PICTURE_FORMAT_32BPP_ARGB:
            return QImage::Format_ARGB32;
        case PICTURE_FORMAT_24BPP_RGB:
            return QImage::Format_RGB888;
        case PICTURE_FORMAT_8BPP_INDEXED:
            return QImage::Format_Indexed8;
        default:
            return QImage::Format_Invalid;
    }
}

QList<QRgb> GreyRamp() {
    QList<QRgb> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = qRgb(i, i, i);
    return palette;
}

KvelPicture* NewPicture(QImage image) {
    auto* picture = new (std::nothrow) KvelPicture;
    if (!picture) return nullptr;
    picture->image = std::move(image);
    if (picture->image.isNull()) picture->lastStatus = PICTURE_OUT_OF_MEMORY;
    if (Gdiplus_BitmapOK(picture)) return picture;
    delete picture;
    return nullptr;
}

QRect ClippedArea(const KvelPictureRect* rect, const QImage& image) {
    if (!rect) return image.rect();
    if (rect->width <= 0 || rect->height <= 0) return {};
    const long long left = std::max<long long>(rect->x, 0);
    const long long top = std::max<long long>(rect->y, 0);
    const long long right = std::min<long long>(0LL + rect->x + rect->width, image.width());
    const long long bottom = std::min<long long>(0LL + rect->y + rect->height, image.height());
    if (right <= left || bottom <= top) return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

bool NarrowToWide(const char* text, std::wstring* wide) {
    *wide = AnsiToWide(text);
    return wide->size() < KVEL_MAX_PATH;
}

namespace {

int BytesPerPixel(QImage::Format format) {
    switch (format) {
        case QImage::Format_ARGB32:
            return 4;
        case QImage::Format_RGB888:
            return 3;
        default:
            return 1;
    }
}

// Decoded pictures keep the three formats the functions know: pictures with
// transparency become 32-bit ARGB, indexed ones stay indexed, the rest 24-bit.
QImage NormaliseDecoded(const QImage& decoded) {
    if (decoded.format() == QImage::Format_Indexed8 || decoded.format() == QImage::Format_RGB888 ||
        decoded.format() == QImage::Format_ARGB32)
        return decoded;
    if (decoded.hasAlphaChannel()) return decoded.convertToFormat(QImage::Format_ARGB32);
    return decoded.convertToFormat(QImage::Format_RGB888);
}

KvelPicture* Decode(const QByteArray& bytes) {
    QImage decoded;
    if (!decoded.loadFromData(bytes)) return nullptr;
    return NewPicture(NormaliseDecoded(decoded));
}

}  // namespace

extern "C" {

KvelPicture* Gdiplus_CreateBitmap(int width, int height, int pixelFormat) {
    const QImage::Format format = QtFormat(pixelFormat);
    if (width <= 0 || height <= 0 || format == QImage::Format_Invalid) return nullptr;
    QImage image(width, height, format);
    if (image.isNull()) return nullptr;
    if (format == QImage::Format_Indexed8) image.setColorTable(GreyRamp());
    image.fill(0);
    return NewPicture(std::move(image));
}

KvelPicture* Gdiplus_CreateColorBmp(int width, int height, unsigned argb) {
    KvelPicture* picture = Gdiplus_CreateBitmap(width, height, PICTURE_FORMAT_32BPP_ARGB);
    if (picture) picture->image.fill(argb);
    return picture;
}

KvelPicture* Gdiplus_CopyBitmap(KvelPicture* picture) {
    if (!picture) return nullptr;
    QImage copy = picture->image.copy();
    if (copy.isNull()) {
        picture->lastStatus = PICTURE_OUT_OF_MEMORY;
        return nullptr;
    }
    return NewPicture(std::move(copy));
}

KvelPicture* Gdiplus_LoadBitmapFromImageBits(void* bits, int width, int height, int stride,
                                             int pixelFormat) {
    const QImage::Format format = QtFormat(pixelFormat);
    if (!bits || width <= 0 || height <= 0 || stride <= 0 || format == QImage::Format_Invalid)
        return nullptr;
    // A stride shorter than a row would read past the caller's memory.
    if (static_cast<long long>(stride) < static_cast<long long>(width) * BytesPerPixel(format))
        return nullptr;
    QImage image(static_cast<uchar*>(bits), width, height, stride, format);
    if (format == QImage::Format_Indexed8) image.setColorTable(GreyRamp());
    return NewPicture(std::move(image));
}

KvelPicture* Gdiplus_LoadBitmapFromData(const void* data, size_t size) {
    if (!data || size == 0 || size > static_cast<size_t>(INT_MAX)) return nullptr;
    // The picture is decoded here and keeps nothing of the caller's bytes.
    return Decode(
        QByteArray::fromRawData(static_cast<const char*>(data), static_cast<qsizetype>(size)));
}

KvelPicture* Gdiplus_LoadBitmapFromResourceW(const void*, const wchar_t* type, int id) {
    if (!type || !*type) return nullptr;
    const QString path =
        QStringLiteral(":/images/%1.%2").arg(id).arg(QString::fromWCharArray(type).toLower());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    return Decode(file.readAll());
}

KvelPicture* Gdiplus_LoadBitmapFromResourceA(const void* module, const char* type, int id) {
    if (!type) return nullptr;
    std::wstring wide;
    if (!NarrowToWide(type, &wide)) return nullptr;
    return Gdiplus_LoadBitmapFromResourceW(module, wide.c_str(), id);
}

KvelPicture* Gdiplus_LoadBitmapFromFileW(const wchar_t* path) {
    if (!path || !IsFileExistW(path)) return nullptr;
    QFile file(QString::fromWCharArray(path));
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    return Decode(file.readAll());
}

KvelPicture* Gdiplus_LoadBitmapFromFileA(const char* path) {
    if (!path) return nullptr;
    std::wstring wide;
    if (!NarrowToWide(path, &wide)) return nullptr;
    return Gdiplus_LoadBitmapFromFileW(wide.c_str());
}

int Gdiplus_BitmapOK(KvelPicture* picture) {
    if (!picture) return 0;
    const bool ok = picture->lastStatus == PICTURE_OK;
    picture->lastStatus = PICTURE_OK;
    return ok ? 1 : 0;
}

int Gdiplus_BitmapLastError(KvelPicture* picture) {
    if (!picture) return PICTURE_GENERIC_ERROR;
    const int status = picture->lastStatus;
    picture->lastStatus = PICTURE_OK;
    return status;
}

void Gdiplus_DeleteBitmap(KvelPicture* picture) { delete picture; }

}  // extern "C"

const QImage* PictureImage(const KvelPicture* picture) {
    return picture ? &picture->image : nullptr;
}

void RecordPictureStatus(KvelPicture* picture, int status) {
    if (picture && status != PICTURE_OK) picture->lastStatus = status;
}
