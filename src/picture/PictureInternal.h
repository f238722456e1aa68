// What the picture library's own sources share: the picture object and the
// few steps every creating function takes. Not installed, not exported.
#pragma once

#include <QImage>

#include <string>

#include "picture/KVEL_Picture.h"

struct KvelPicture {
    QImage image;
    int lastStatus = PICTURE_OK;
};

// A format number of the public header as a Qt image format; Invalid for
// any other number.
QImage::Format QtFormat(int pixelFormat);
// A palette of 256 greys, the palette of every 8-bit picture created here.
QList<QRgb> GreyRamp();
// A new picture over `image`; null (and nothing leaked) when the image is null.
KvelPicture* NewPicture(QImage image);
// `rect` (the whole image for null) cut to the image; an empty rectangle
// when nothing is left. Sums that would overflow an int are cut as well.
QRect ClippedArea(const KvelPictureRect* rect, const QImage& image);
// A narrow text as wide text, as long as it fits the 260-character path
// buffers of the wide functions.
bool NarrowToWide(const char* text, std::wstring* wide);
// Writes the picture as a GIF file: 8-bit pictures with their own palette,
// others quantised to 256 colours. False when the file was not written.
bool WriteGif(const QImage& image, const QString& path);
// The format name of the GIF writer among the image writers.
constexpr const char* kGifWriterFormat = "gif";
