// The library holder, image writers, picture types, saving and converting
// picture files.
#include <QByteArray>
#include <QImageWriter>
#include <QString>

#include <cstring>
#include <cwctype>
#include <new>
#include <string>

#include "common/KVEL_Common.h"
#include "picture/PictureInternal.h"

// Qt's imaging needs no start-up: the holder is only the token that pairs
// a caller's Gdiplus_Init with its Gdiplus_DeInit.
struct KvelPictureLibrary {};

namespace {

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    return true;
}

const wchar_t* MimeTypeOf(int pictureType) {
    switch (pictureType) {
        case PICTURE_TYPE_JPEG:
            return L"image/jpeg";
        case PICTURE_TYPE_GIF:
            return L"image/gif";
        case PICTURE_TYPE_TIFF:
            return L"image/tiff";
        case PICTURE_TYPE_PNG:
            return L"image/png";
        default:
            return L"image/bmp";
    }
}

const wchar_t* ExtensionOf(int pictureType) {
    switch (pictureType) {
        case PICTURE_TYPE_JPEG:
            return L"jpg";
        case PICTURE_TYPE_GIF:
            return L"gif";
        case PICTURE_TYPE_TIFF:
            return L"tif";
        case PICTURE_TYPE_PNG:
            return L"png";
        default:
            return L"bmp";
    }
}

// Writes the image with the writer named by `encoder`; the writer's own
// error is the reason a write fails, which the caller records.
bool WriteImage(const QImage& image, const std::wstring& path, const KvelPictureEncoder& encoder) {
    if (std::strcmp(encoder.format, kGifWriterFormat) == 0)
        return WriteGif(image, QString::fromStdWString(path));
    QImageWriter writer(QString::fromStdWString(path), QByteArray(encoder.format));
    return writer.write(image);
}

bool SetEncoder(KvelPictureEncoder* encoder, const QByteArray& format) {
    if (format.isEmpty() || format.size() >= qsizetype(sizeof encoder->format)) return false;
    std::memset(encoder->format, 0, sizeof encoder->format);
    std::memcpy(encoder->format, format.constData(), size_t(format.size()));
    return true;
}

}  // namespace

extern "C" {

KvelPictureLibrary* Gdiplus_Init(void) { return new (std::nothrow) KvelPictureLibrary; }

void Gdiplus_DeInit(KvelPictureLibrary* library) { delete library; }

int Gdiplus_GetEncoderClsidByFormatTypeW(const wchar_t* mimeType, KvelPictureEncoder* encoder) {
    if (!mimeType || !encoder) return 0;
    if (EqualIgnoringCase(mimeType, L"image/gif")) return SetEncoder(encoder, kGifWriterFormat);
    for (const QByteArray& supported : QImageWriter::supportedMimeTypes()) {
        if (!EqualIgnoringCase(QString::fromLatin1(supported).toStdWString(), mimeType)) continue;
        const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType(supported);
        if (!formats.isEmpty() && SetEncoder(encoder, formats.first())) return 1;
    }
    return 0;
}

int Gdiplus_GetEncoderClsidByFormatTypeA(const char* mimeType, KvelPictureEncoder* encoder) {
    if (!mimeType) return 0;
    std::wstring wide;
    if (!NarrowToWide(mimeType, &wide)) return 0;
    return Gdiplus_GetEncoderClsidByFormatTypeW(wide.c_str(), encoder);
}

int Gdiplus_GetEncoderClsidByPictureType(int pictureType, KvelPictureEncoder* encoder) {
    return Gdiplus_GetEncoderClsidByFormatTypeW(MimeTypeOf(pictureType), encoder);
}

int Gdiplus_GetPictureTypeByFileNameW(const wchar_t* fileName) {
    if (!fileName) return PICTURE_TYPE_PNG;
    const std::wstring extension = GetFileExtNameW(fileName);
    if (extension.size() >= KVEL_MAX_PATH) return PICTURE_TYPE_PNG;
    if (EqualIgnoringCase(extension, L"bmp")) return PICTURE_TYPE_BMP;
    if (EqualIgnoringCase(extension, L"jpeg") || EqualIgnoringCase(extension, L"jpg"))
        return PICTURE_TYPE_JPEG;
    if (EqualIgnoringCase(extension, L"gif")) return PICTURE_TYPE_GIF;
    if (EqualIgnoringCase(extension, L"tiff")) return PICTURE_TYPE_TIFF;
    return PICTURE_TYPE_PNG;
}

int Gdiplus_GetPictureTypeByFileNameA(const char* fileName) {
    if (!fileName) return PICTURE_TYPE_PNG;
    std::wstring wide;
    if (!NarrowToWide(fileName, &wide)) return PICTURE_TYPE_PNG;
    return Gdiplus_GetPictureTypeByFileNameW(wide.c_str());
}

int Gdiplus_SaveBitmapToFileW(KvelPicture* picture, const wchar_t* path) {
    if (!picture || !path) return 0;
    KvelPictureEncoder encoder;
    if (!Gdiplus_GetEncoderClsidByPictureType(Gdiplus_GetPictureTypeByFileNameW(path), &encoder)) {
        picture->lastStatus = PICTURE_UNKNOWN_IMAGE_FORMAT;
        return 0;
    }
    if (!WriteImage(picture->image, path, encoder)) {
        picture->lastStatus = PICTURE_GENERIC_ERROR;
        return 0;
    }
    return 1;
}

int Gdiplus_SaveBitmapToFileA(KvelPicture* picture, const char* path) {
    if (!picture || !path) return 0;
    std::wstring wide;
    if (!NarrowToWide(path, &wide)) return 0;
    return Gdiplus_SaveBitmapToFileW(picture, wide.c_str());
}

int Gdiplus_ConvertImageFormatW(const wchar_t* sourcePath, wchar_t* newName, int pictureType) {
    if (!sourcePath || !newName) return 0;
    KvelPictureEncoder encoder;
    if (!Gdiplus_GetEncoderClsidByPictureType(pictureType, &encoder)) return 0;
    if (!GetFileNameByDateW(newName, ExtensionOf(pictureType), L"Temp_", nullptr, 0, 0, 0))
        return 0;
    KvelPicture* source = Gdiplus_LoadBitmapFromFileW(sourcePath);
    if (!source) return 0;
    const bool written = WriteImage(source->image, newName, encoder);
    Gdiplus_DeleteBitmap(source);
    return written ? 1 : 0;
}

int Gdiplus_ConvertImageFormatA(const char* sourcePath, char* newName, int pictureType) {
    if (!sourcePath || !newName) return 0;
    std::wstring wide;
    if (!NarrowToWide(sourcePath, &wide)) return 0;
    wchar_t wideName[KVEL_MAX_PATH] = {};
    if (!Gdiplus_ConvertImageFormatW(wide.c_str(), wideName, pictureType)) return 0;
    // The narrow name goes into a buffer of the same 260 characters.
    const std::string narrow = WideToAnsi(wideName);
    if (narrow.size() >= KVEL_MAX_PATH) return 0;
    std::memcpy(newName, narrow.c_str(), narrow.size() + 1);
    return 1;
}

}  // extern "C"
