#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"
#include "picture/KVEL_Picture.h"
#include "picture/PictureImage.h"
#include "tests/common/TempFolder.h"

namespace {

struct PictureDeleter {
    void operator()(KvelPicture* picture) const { Gdiplus_DeleteBitmap(picture); }
};
using Picture = std::unique_ptr<KvelPicture, PictureDeleter>;

QRgb PixelOf(const KvelPicture* picture, int x, int y) {
    return PictureImage(picture)->pixel(x, y);
}

std::vector<char> PngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<char>(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// Pictures are made in their size, format and fill, or not at all.
TEST(PictureTest, CreatedPicturesHaveTheirSizeFormatAndFill) {
    const struct {
        int format;
        QImage::Format qt;
    } formats[] = {{PICTURE_FORMAT_32BPP_ARGB, QImage::Format_ARGB32},
                   {PICTURE_FORMAT_24BPP_RGB, QImage::Format_RGB888},
                   {PICTURE_FORMAT_8BPP_INDEXED, QImage::Format_Indexed8}};
    for (const auto& f : formats) {
        Picture picture(Gdiplus_CreateBitmap(7, 5, f.format));
        ASSERT_TRUE(picture) << f.format;
        EXPECT_EQ(PictureImage(picture.get())->size(), QSize(7, 5));
        EXPECT_EQ(PictureImage(picture.get())->format(), f.qt);
        EXPECT_EQ(qGray(PixelOf(picture.get(), 6, 4)), 0);
    }
    Picture filled(Gdiplus_CreateColorBmp(3, 2, 0x80FF2010u));
    ASSERT_TRUE(filled);
    EXPECT_EQ(PictureImage(filled.get())->format(), QImage::Format_ARGB32);
    EXPECT_EQ(PixelOf(filled.get(), 2, 1), 0x80FF2010u);

    EXPECT_FALSE(Gdiplus_CreateBitmap(0, 5, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(Gdiplus_CreateBitmap(5, -1, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(Gdiplus_CreateBitmap(5, 5, 12345));
    EXPECT_FALSE(Gdiplus_CreateColorBmp(-3, 2, 0xFFFFFFFFu));
}

TEST(PictureTest, LastStatusIsReadOnceThenReset) {
    Picture picture(Gdiplus_CreateBitmap(2, 2, PICTURE_FORMAT_32BPP_ARGB));
    ASSERT_TRUE(picture);
    EXPECT_EQ(Gdiplus_BitmapOK(picture.get()), 1);

    RecordPictureStatus(picture.get(), PICTURE_OUT_OF_MEMORY);
    EXPECT_EQ(Gdiplus_BitmapOK(picture.get()), 0);
    EXPECT_EQ(Gdiplus_BitmapOK(picture.get()), 1);

    RecordPictureStatus(picture.get(), PICTURE_INVALID_PARAMETER);
    RecordPictureStatus(picture.get(), PICTURE_OK);  // a success hides no failure
    EXPECT_EQ(Gdiplus_BitmapLastError(picture.get()), PICTURE_INVALID_PARAMETER);
    EXPECT_EQ(Gdiplus_BitmapLastError(picture.get()), PICTURE_OK);

    EXPECT_EQ(Gdiplus_BitmapOK(nullptr), 0);
    EXPECT_EQ(Gdiplus_BitmapLastError(nullptr), PICTURE_GENERIC_ERROR);
    Gdiplus_DeleteBitmap(nullptr);
}

TEST(PictureTest, CopyIsIndependentOfItsSource) {
    EXPECT_FALSE(Gdiplus_CopyBitmap(nullptr));
    Picture source(Gdiplus_CreateColorBmp(4, 3, 0xFF112233u));
    ASSERT_TRUE(source);
    Picture copy(Gdiplus_CopyBitmap(source.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(PictureImage(copy.get())->size(), QSize(4, 3));
    EXPECT_EQ(PixelOf(copy.get(), 3, 2), 0xFF112233u);
    Gdiplus_DeleteBitmap(source.release());
    EXPECT_EQ(PixelOf(copy.get(), 0, 0), 0xFF112233u);

    Picture indexed(Gdiplus_CreateBitmap(3, 3, PICTURE_FORMAT_8BPP_INDEXED));
    Picture indexedCopy(Gdiplus_CopyBitmap(indexed.get()));
    ASSERT_TRUE(indexedCopy);
    EXPECT_EQ(PictureImage(indexedCopy.get())->format(), QImage::Format_Indexed8);
}

TEST(PictureTest, PictureOverCallerMemorySharesItAndChecksTheStride) {
    std::vector<uint32_t> pixels(4 * 2, 0xFF000000u);
    Picture picture(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 2, 16, PICTURE_FORMAT_32BPP_ARGB));
    ASSERT_TRUE(picture);
    pixels[4 + 2] = 0xFF00FF00u;  // row 1, column 2 of 16-byte rows
    EXPECT_EQ(PixelOf(picture.get(), 2, 1), 0xFF00FF00u);

    EXPECT_FALSE(Gdiplus_LoadBitmapFromImageBits(nullptr, 3, 2, 16, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 0, 2, 16, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 0, 16, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 2, 0, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 2, 16, 0));
    // Rows of 3 ARGB pixels need 12 bytes: a shorter stride would read past them.
    EXPECT_FALSE(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 2, 8, PICTURE_FORMAT_32BPP_ARGB));
    EXPECT_FALSE(
        Gdiplus_LoadBitmapFromImageBits(pixels.data(), 3, 2, -16, PICTURE_FORMAT_32BPP_ARGB));
}

TEST(PictureTest, DecodedPictureOutlivesTheBytesItCameFrom) {
    QImage original(5, 4, QImage::Format_ARGB32);
    original.fill(0x4000FF00u);
    auto bytes = std::make_unique<std::vector<char>>(PngBytes(original));
    Picture picture(Gdiplus_LoadBitmapFromData(bytes->data(), bytes->size()));
    bytes.reset();
    ASSERT_TRUE(picture);
    EXPECT_EQ(PictureImage(picture.get())->format(), QImage::Format_ARGB32);
    EXPECT_EQ(PixelOf(picture.get(), 4, 3), 0x4000FF00u);

    const char garbage[] = "no picture at all";
    EXPECT_FALSE(Gdiplus_LoadBitmapFromData(garbage, sizeof garbage));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromData(nullptr, 10));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromData(garbage, 0));
}

TEST(PictureTest, FilesLoadByWideAndNarrowPath) {
    TempFolder folder;
    const std::string path = folder.File("lamp \xE7\x81\xAF.png");  // a non-ASCII name
    QImage original(6, 6, QImage::Format_RGB32);
    original.fill(Qt::red);
    WriteFile(path, PngBytes(original));

    Picture narrow(Gdiplus_LoadBitmapFromFileA(path.c_str()));
    ASSERT_TRUE(narrow);
    EXPECT_EQ(PictureImage(narrow.get())->format(), QImage::Format_RGB888);
    EXPECT_EQ(PixelOf(narrow.get(), 5, 5), 0xFFFF0000u);
    Picture wide(Gdiplus_LoadBitmapFromFileW(AnsiToWide(path).c_str()));
    EXPECT_TRUE(wide);

    EXPECT_FALSE(Gdiplus_LoadBitmapFromFileW(AnsiToWide(folder.File("missing.png")).c_str()));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromFileA(nullptr));
    WriteFile(folder.File("broken.png"), {'n', 'o', 't'});
    EXPECT_FALSE(Gdiplus_LoadBitmapFromFileA(folder.File("broken.png").c_str()));
    // A narrow path that does not fit the wide path buffer is refused, not cut.
    const std::string longPath = folder.Path() + "/" + std::string(300, 'x') + ".png";
    EXPECT_FALSE(Gdiplus_LoadBitmapFromFileA(longPath.c_str()));
}

TEST(PictureTest, IndicatorResourcesLoadByIdAndType) {
    Q_INIT_RESOURCE(kvel_resources);
    for (int id : {191, 192}) {
        Picture picture(Gdiplus_LoadBitmapFromResourceW(nullptr, L"PNG", id));
        ASSERT_TRUE(picture) << id;
        EXPECT_EQ(PictureImage(picture.get())->size(), QSize(356, 344));
        EXPECT_EQ(qAlpha(PixelOf(picture.get(), 0, 0)), 0);  // transparent surround
    }
    EXPECT_TRUE(Picture(Gdiplus_LoadBitmapFromResourceA(nullptr, "png", 191)));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromResourceW(nullptr, L"PNG", 9999));
    EXPECT_FALSE(Gdiplus_LoadBitmapFromResourceW(nullptr, nullptr, 191));
}

// Text needs the application's fonts, which a plain C program does not have.
TEST(PictureTest, TextIsDrawnInItsColourWithinTheLayout) {
    int argc = 1;
    char name[] = "picture_test";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);
    Picture canvas(Gdiplus_CreateColorBmp(60, 30, 0xFF000000u));
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(canvas.get());
    ASSERT_NE(graphics, nullptr);
    const KvelPictureRectF layout{10, 5, 40, 20};
    const KvelPictureFont font{L"Sans", 12.0f, PICTURE_FONT_BOLD};
    Gdiplus_DrawText(graphics, L"WM", &layout, 0xFFFFFFFFu, 0, &font);
    EXPECT_EQ(Gdiplus_GraphicsLastError(graphics), PICTURE_OK);
    Gdiplus_DeleteGraphics(graphics);

    const QImage& image = *PictureImage(canvas.get());
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(image.pixel(x, y)) == 0) continue;
            ++inked;
            EXPECT_TRUE(QRect(10, 5, 40, 20).contains(x, y)) << x << "," << y;
        }
    EXPECT_GT(inked, 10);
}

// An 8-bit picture keeps its indices; its grey copy shows its colours as
// greys, not its indices.
TEST(PictureTest, GreyCopyOfAColourPaletteGreysThePalette) {
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 0, 0), qRgb(255, 255, 255)});
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    const std::vector<char> png = PngBytes(indexed);
    Picture decoded(Gdiplus_LoadBitmapFromData(png.data(), png.size()));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(PictureImage(decoded.get())->format(), QImage::Format_Indexed8);
    Picture grey(Gdiplus_Gray(decoded.get()));
    ASSERT_TRUE(grey);
    EXPECT_EQ(PictureImage(grey.get())->format(), QImage::Format_Indexed8);
    EXPECT_EQ(PictureImage(grey.get())->pixelIndex(0, 0),
              PictureImage(decoded.get())->pixelIndex(0, 0));
    EXPECT_EQ(PixelOf(grey.get(), 0, 0), qRgb(76, 76, 76));
    EXPECT_EQ(PixelOf(grey.get(), 1, 0), qRgb(255, 255, 255));
}
