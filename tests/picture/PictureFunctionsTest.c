/* The picture functions as a plain C program sees them: only the public
 * header, the library linked, every call by its exported name. */
#define _POSIX_C_SOURCE 200809L

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "picture/KVEL_Picture.h"

static int failures = 0;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

/* One 32-bit pixel of a picture, read through the buffer copy. */
static unsigned PixelAt(KvelPicture* picture, int x, int y) {
    KvelPictureRect one = {x, y, 1, 1};
    unsigned pixel = 0;
    if (!Gdiplus_GetBitmapBuffer(picture, &one, PICTURE_FORMAT_32BPP_ARGB, &pixel, 4)) return 0;
    return pixel;
}

/* Deletes `count` pictures. */
static void Delete(int count, ...) {
    va_list pictures;
    va_start(pictures, count);
    for (int i = 0; i < count; ++i) Gdiplus_DeleteBitmap(va_arg(pictures, KvelPicture*));
    va_end(pictures);
}

static void PictureTypesFollowTheExtension(void) {
    CHECK(Gdiplus_GetPictureTypeByFileNameW(L"/tmp/scan.tif") == PICTURE_TYPE_PNG);
    CHECK(Gdiplus_GetPictureTypeByFileNameW(L"/tmp/scan") == PICTURE_TYPE_PNG);
    CHECK(Gdiplus_GetPictureTypeByFileNameA("/tmp/photo.JPG") == PICTURE_TYPE_JPEG);
    CHECK(Gdiplus_GetPictureTypeByFileNameA("a.jpeg") == PICTURE_TYPE_JPEG);
    CHECK(Gdiplus_GetPictureTypeByFileNameW(L"a.Bmp") == PICTURE_TYPE_BMP);
    CHECK(Gdiplus_GetPictureTypeByFileNameW(L"a.gif") == PICTURE_TYPE_GIF);
    CHECK(Gdiplus_GetPictureTypeByFileNameW(L"a.TIFF") == PICTURE_TYPE_TIFF);
}

static void EncodersAreFoundByMimeTypeWithoutCase(void) {
    KvelPictureEncoder encoder;
    CHECK(Gdiplus_GetEncoderClsidByFormatTypeA("IMAGE/PNG", &encoder) == 1);
    CHECK(strcmp(encoder.format, "png") == 0);
    CHECK(Gdiplus_GetEncoderClsidByPictureType(PICTURE_TYPE_BMP, &encoder) == 1);
    CHECK(Gdiplus_GetEncoderClsidByFormatTypeW(L"image/none", &encoder) == 0);
    CHECK(Gdiplus_GetEncoderClsidByFormatTypeW(NULL, &encoder) == 0);
}

static void GreyFollowsTheIntegerFormula(void) {
    KvelPicture* red = Gdiplus_CreateColorBmp(2, 2, 0xFFFF0000u);
    KvelPicture* white = Gdiplus_CreateColorBmp(2, 2, 0x80FFFFFFu);
    KvelPicture* greyRed = Gdiplus_Gray(red);
    KvelPicture* greyWhite = Gdiplus_Gray(white);
    CHECK(PixelAt(greyRed, 1, 1) == 0xFF4C4C4Cu);   /* 76 = 77 * 255 / 256 */
    CHECK(PixelAt(greyWhite, 0, 1) == 0x80FFFFFFu); /* alpha kept */

    KvelPicture* rgb = Gdiplus_ModifyBitmapFormat(red, PICTURE_FORMAT_24BPP_RGB);
    KvelPicture* greyRgb = Gdiplus_Gray(rgb);
    unsigned char bytes[16] = {0}; /* two rows of 6 bytes, each rounded up to 8 */
    CHECK(Gdiplus_GetBitmapBuffer(greyRgb, NULL, PICTURE_FORMAT_24BPP_RGB, bytes, 8) == 1);
    CHECK(bytes[0] == 76 && bytes[1] == 76 && bytes[2] == 76 && bytes[5] == 76);

    KvelPicture* indexed = Gdiplus_CreateBitmap(3, 1, PICTURE_FORMAT_8BPP_INDEXED);
    KvelPicture* greyIndexed = Gdiplus_Gray(indexed);
    CHECK(greyIndexed != NULL);
    Delete(8, red, white, greyRed, greyWhite, rgb, greyRgb, indexed, greyIndexed);
}

static int WidthOf(KvelPicture* picture) {
    int width = 0;
    while (PixelAt(picture, width, 0) != 0) ++width;
    return width;
}

static int HeightOf(KvelPicture* picture) {
    int height = 0;
    while (PixelAt(picture, 0, height) != 0) ++height;
    return height;
}

static void ResizeModesSizeTheResult(void) {
    KvelPicture* source = Gdiplus_CreateColorBmp(200, 100, 0xFF00FF00u);
    const struct {
        int mode, width, height;
    } cases[] = {{0, 100, 100}, {1, 100, 50}, {2, 200, 100}, {3, 100, 50}, {4, 200, 100}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        KvelPicture* resized = Gdiplus_ResizeBitmap(source, 100, 100, cases[i].mode, 0xFF000000u);
        CHECK(resized != NULL);
        CHECK(WidthOf(resized) == cases[i].width);
        CHECK(HeightOf(resized) == cases[i].height);
        Gdiplus_DeleteBitmap(resized);
    }
    CHECK(Gdiplus_ResizeBitmap(source, 100, 100, 5, 0) == NULL);
    CHECK(Gdiplus_ResizeBitmap(source, 0, 100, 0, 0) == NULL);
    CHECK(Gdiplus_ResizeBitmap(NULL, 100, 100, 0, 0) == NULL);
    CHECK(Gdiplus_StretchBitmap(source, 10, -1) == NULL);
    Gdiplus_DeleteBitmap(source);
}

static void BufferCopiesStayInsideTheBuffer(void) {
    KvelPicture* picture = Gdiplus_CreateColorBmp(4, 3, 0xFF102030u);
    /* A rectangle wholly outside is refused, and the status is read once. */
    KvelPictureRect outside = {10, 10, 2, 2};
    unsigned pixel = 0;
    CHECK(Gdiplus_GetBitmapBuffer(picture, &outside, PICTURE_FORMAT_32BPP_ARGB, &pixel, 4) == 0);
    CHECK(Gdiplus_BitmapOK(picture) == 0);
    CHECK(Gdiplus_BitmapOK(picture) == 1);
    CHECK(Gdiplus_BitmapLastError(NULL) == PICTURE_GENERIC_ERROR);
    /* A rectangle hanging over the right and bottom edges is cut to 2 x 1. */
    unsigned buffer[6];
    KvelPictureRect overhang = {2, 2, 5, 5};
    for (int i = 0; i < 6; ++i) buffer[i] = 0xDEADBEEFu;
    CHECK(Gdiplus_GetBitmapBuffer(picture, &overhang, PICTURE_FORMAT_32BPP_ARGB, buffer, 12) == 1);
    CHECK(buffer[0] == 0xFF102030u && buffer[1] == 0xFF102030u && buffer[2] == 0xDEADBEEFu);
    CHECK(buffer[3] == 0xDEADBEEFu);
    /* A stride shorter than a row is refused rather than overlapping rows. */
    CHECK(Gdiplus_GetBitmapBuffer(picture, NULL, PICTURE_FORMAT_32BPP_ARGB, buffer, 8) == 0);
    CHECK(Gdiplus_BitmapLastError(picture) == PICTURE_INVALID_PARAMETER);
    /* 24-bit rows of 3 pixels are rounded up to 12 bytes. */
    unsigned char rgb[2 * 12];
    KvelPictureRect twoRows = {0, 0, 3, 2};
    CHECK(Gdiplus_GetBitmapBuffer(picture, &twoRows, PICTURE_FORMAT_24BPP_RGB, rgb, 11) == 0);
    CHECK(Gdiplus_GetBitmapBuffer(picture, &twoRows, PICTURE_FORMAT_24BPP_RGB, rgb, 12) == 1);
    CHECK(rgb[12] == 0x10 && rgb[13] == 0x20 && rgb[14] == 0x30);
    Gdiplus_DeleteBitmap(picture);
}

static void FitModesPlaceTheSource(void) {
    /* A 2 x 1 picture: red left, blue right. */
    KvelPicture* source = Gdiplus_CreateColorBmp(2, 1, 0xFFFF0000u);
    KvelPicture* tiled = Gdiplus_DisposeBitmapByMode(source, 5, 2, 2, 0);
    CHECK(PixelAt(tiled, 4, 1) == 0xFFFF0000u);
    KvelPicture* centred = Gdiplus_DisposeBitmapByMode(source, 4, 3, 3, 0xFF0000FFu);
    CHECK(PixelAt(centred, 0, 0) == 0xFF0000FFu);
    CHECK(PixelAt(centred, 1, 1) == 0xFFFF0000u && PixelAt(centred, 2, 1) == 0xFFFF0000u);
    CHECK(PixelAt(centred, 3, 1) == 0xFF0000FFu);
    CHECK(Gdiplus_DisposeBitmapByMode(source, 4, 3, 7, 0) == NULL);
    KvelPictureSize target = {6, 4};
    KvelPicture* part = Gdiplus_GetBitmapFromBitmap(source, 0, 0, 1, 1, &target);
    CHECK(PixelAt(part, 5, 3) == 0xFFFF0000u);
    Delete(4, source, tiled, centred, part);
}

static void SavedPngLoadsWithTheSamePixels(const char* folder) {
    char path[512];
    snprintf(path, sizeof path, "%s/saved.png", folder);
    KvelPicture* picture = Gdiplus_CreateColorBmp(3, 2, 0x80FF2010u);
    CHECK(Gdiplus_SaveBitmapToFileA(picture, path) == 1);
    KvelPicture* loaded = Gdiplus_LoadBitmapFromFileA(path);
    CHECK(loaded != NULL);
    unsigned before[6], after[6];
    CHECK(Gdiplus_GetBitmapBuffer(picture, NULL, PICTURE_FORMAT_32BPP_ARGB, before, 12) == 1);
    CHECK(Gdiplus_GetBitmapBuffer(loaded, NULL, PICTURE_FORMAT_32BPP_ARGB, after, 12) == 1);
    CHECK(memcmp(before, after, sizeof before) == 0);
    /* A folder that does not exist: 0, and the picture says so once. */
    snprintf(path, sizeof path, "%s/missing/saved.png", folder);
    CHECK(Gdiplus_SaveBitmapToFileA(picture, path) == 0);
    CHECK(Gdiplus_BitmapOK(picture) == 0);
    CHECK(Gdiplus_BitmapOK(picture) == 1);
    Delete(2, picture, loaded);
}

static char convertedName[260];

static void ConversionWritesATempFileNamedByDate(const char* folder) {
    char source[512];
    snprintf(source, sizeof source, "%s/source.png", folder);
    KvelPicture* picture = Gdiplus_CreateColorBmp(3, 2, 0xFF336699u);
    CHECK(Gdiplus_SaveBitmapToFileA(picture, source) == 1);
    /* The new name lands in the working folder: the temporary one here. */
    char name[260] = {0};
    CHECK(chdir(folder) == 0);
    CHECK(Gdiplus_ConvertImageFormatA(source, name, PICTURE_TYPE_BMP) == 1);
    CHECK(strncmp(name, "Temp_", 5) == 0);
    CHECK(strlen(name) > 4 && strcmp(name + strlen(name) - 4, ".bmp") == 0);
    KvelPicture* converted = Gdiplus_LoadBitmapFromFileA(name);
    CHECK(converted != NULL && PixelAt(converted, 2, 1) == 0xFF336699u);
    CHECK(Gdiplus_ConvertImageFormatA("no-such-file.png", name, PICTURE_TYPE_PNG) == 0);
    CHECK(Gdiplus_ConvertImageFormatW(NULL, NULL, PICTURE_TYPE_PNG) == 0);
    strcpy(convertedName, name);
    Delete(2, picture, converted);
}

static void SurfaceBitmapsAreFilledThenDrawn(void) {
    KvelPicture* clear = Gdiplus_CreateColorBmp(3, 2, 0x00000000u);
    KvelBitmapHandle bitmap = Gdiplus_GetHBitmap(clear, 0xFF123456u, 1);
    CHECK(bitmap != NULL);
    Gdiplus_DeleteHBitmap(bitmap);
    CHECK(Gdiplus_GetHBitmap(NULL, 0, 0) == NULL);
    Gdiplus_DeleteBitmap(clear);
}

/* The pixels a region covers, and the box around them. */
static long RegionArea(const KvelPictureRegion* region, KvelPictureRect* box) {
    KvelPictureRect rects[64];
    const int count = Gdiplus_GetRegionRects(region, rects, 64);
    long area = 0;
    int right = 0, bottom = 0;
    box->x = box->y = 1 << 30;
    for (int i = 0; i < count && i < 64; ++i) {
        area += (long)rects[i].width * rects[i].height;
        if (rects[i].x < box->x) box->x = rects[i].x;
        if (rects[i].y < box->y) box->y = rects[i].y;
        if (rects[i].x + rects[i].width > right) right = rects[i].x + rects[i].width;
        if (rects[i].y + rects[i].height > bottom) bottom = rects[i].y + rects[i].height;
    }
    box->width = right - box->x;
    box->height = bottom - box->y;
    return count <= 64 ? area : -1;
}

static void RegionsAreTheOpaqueRuns(void) {
    KvelPicture* clear = Gdiplus_CreateColorBmp(5, 4, 0x00FFFFFFu);
    KvelPictureRegion* empty = Gdiplus_CreateRgnFromBitmap(clear, 1);
    CHECK(empty != NULL && Gdiplus_GetRegionRects(empty, NULL, 0) == 0);
    /* Alpha 0x80 in a 3 x 2 block at (1, 1): one rectangle of that block
     * at threshold 0x80, nothing above it. */
    KvelPictureRect block = {1, 1, 3, 2};
    Gdiplus_SetBitmapAlpha(clear, &block, 0x80, 0, 0);
    CHECK(PixelAt(clear, 1, 1) == 0x80FFFFFFu && PixelAt(clear, 0, 0) == 0x00FFFFFFu);
    KvelPictureRegion* opaque = Gdiplus_CreateRgnFromBitmap(clear, 0x80);
    KvelPictureRect box;
    CHECK(RegionArea(opaque, &box) == 6);
    CHECK(box.x == 1 && box.y == 1 && box.width == 3 && box.height == 2);
    KvelPictureRegion* above = Gdiplus_CreateRgnFromBitmap(clear, 0x81);
    CHECK(Gdiplus_GetRegionRects(above, NULL, 0) == 0);
    CHECK(Gdiplus_CreateRgnFromBitmap(NULL, 0) == NULL);
    Gdiplus_DeleteRegion(empty);
    Gdiplus_DeleteRegion(opaque);
    Gdiplus_DeleteRegion(above);
    Gdiplus_DeleteBitmap(clear);
}

static void RegionsOfManyRunsCoverEveryRun(void) {
    /* Every other pixel opaque: 60 runs a row, 4200 runs over more than one
     * batch of runs, every one of them in the region. */
    KvelPicture* stripes = Gdiplus_CreateColorBmp(120, 70, 0x00000000u);
    for (int x = 0; x < 120; x += 2) {
        KvelPictureRect column = {x, 0, 1, 70};
        Gdiplus_SetBitmapAlpha(stripes, &column, 255, 0, 255);
    }
    KvelPictureRegion* region = Gdiplus_CreateRgnFromBitmap(stripes, 255);
    const int count = Gdiplus_GetRegionRects(region, NULL, 0);
    KvelPictureRect* rects = malloc(sizeof *rects * (size_t)count);
    CHECK(rects != NULL && Gdiplus_GetRegionRects(region, rects, count) == count);
    long area = 0;
    for (int i = 0; rects && i < count; ++i) {
        area += (long)rects[i].width * rects[i].height;
        CHECK(rects[i].width == 1 && rects[i].x % 2 == 0);
    }
    CHECK(area == 60 * 70);
    free(rects);
    Gdiplus_DeleteRegion(region);
    Gdiplus_DeleteBitmap(stripes);
}

static void AlphaRangesChangeOnlyTheirPixels(void) {
    KvelPicture* picture = Gdiplus_CreateColorBmp(3, 1, 0x40112233u);
    KvelPictureRect huge = {1, 0, 0x7FFFFFFF, 0x7FFFFFFF};
    Gdiplus_SetBitmapAlpha(picture, &huge, 0xC0, 0x40, 0x40);
    CHECK(PixelAt(picture, 0, 0) == 0x40112233u);
    CHECK(PixelAt(picture, 1, 0) == 0xC0112233u && PixelAt(picture, 2, 0) == 0xC0112233u);
    Gdiplus_SetBitmapAlpha(picture, NULL, 0x00, 0x41, 0xFF);
    CHECK(PixelAt(picture, 0, 0) == 0x40112233u && PixelAt(picture, 2, 0) == 0x00112233u);
    Gdiplus_DeleteBitmap(picture);
}

static void ShapesFillAndOutline(void) {
    KvelPicture* canvas = Gdiplus_CreateColorBmp(8, 8, 0xFF000000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(canvas);
    CHECK(graphics != NULL);
    KvelPictureRect fill = {1, 1, 2, 2};
    Gdiplus_FillRect(graphics, &fill, 0xFFFF0000u);
    /* A square gone round twice: the alternate rule leaves it empty. */
    const KvelPicturePoint twice[] = {{4, 0}, {8, 0}, {8, 4}, {4, 4},
                                      {4, 0}, {8, 0}, {8, 4}, {4, 4}};
    Gdiplus_FillPolygon(graphics, twice, 8, 0xFF00FF00u);
    const KvelPicturePoint once[] = {{0, 4}, {4, 4}, {4, 8}, {0, 8}};
    Gdiplus_FillPolygon(graphics, once, 4, 0xFF00FF00u);
    Gdiplus_FillPolygon(graphics, NULL, 4, 0xFF00FF00u);
    CHECK(Gdiplus_GraphicsLastError(graphics) == PICTURE_INVALID_PARAMETER);
    CHECK(Gdiplus_GraphicsLastError(graphics) == PICTURE_OK);
    Gdiplus_DeleteGraphics(graphics);
    CHECK(PixelAt(canvas, 1, 1) == 0xFFFF0000u && PixelAt(canvas, 2, 2) == 0xFFFF0000u);
    CHECK(PixelAt(canvas, 3, 3) == 0xFF000000u);
    CHECK(PixelAt(canvas, 6, 2) == 0xFF000000u);
    CHECK(PixelAt(canvas, 2, 6) == 0xFF00FF00u);
    CHECK(Gdiplus_GraphicsLastError(NULL) == PICTURE_GENERIC_ERROR);
    Gdiplus_DeleteBitmap(canvas);

    /* A 1-pixel outline of 5 x 5 stays inside those 5 x 5 pixels. */
    KvelPicture* framed = Gdiplus_CreateColorBmp(7, 7, 0xFF000000u);
    graphics = Gdiplus_CreateGraphics(framed);
    KvelPictureRect frame = {1, 1, 5, 5};
    Gdiplus_DrawRect(graphics, &frame, 0xFFFFFFFFu, 1);
    Gdiplus_DeleteGraphics(graphics);
    CHECK(PixelAt(framed, 1, 1) == 0xFFFFFFFFu && PixelAt(framed, 5, 5) == 0xFFFFFFFFu);
    CHECK(PixelAt(framed, 3, 3) == 0xFF000000u && PixelAt(framed, 6, 6) == 0xFF000000u);
    Gdiplus_DeleteBitmap(framed);

    KvelPicture* indexed = Gdiplus_CreateBitmap(2, 2, PICTURE_FORMAT_8BPP_INDEXED);
    CHECK(Gdiplus_CreateGraphics(indexed) == NULL);
    CHECK(Gdiplus_BitmapLastError(indexed) == PICTURE_INVALID_PARAMETER);
    Gdiplus_DeleteBitmap(indexed);
}

/* A 4 x 2 picture: red left half, blue right half. */
static KvelPicture* RedBlue(void) {
    KvelPicture* picture = Gdiplus_CreateColorBmp(4, 2, 0xFFFF0000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(picture);
    KvelPictureRect right = {2, 0, 2, 2};
    Gdiplus_FillRect(graphics, &right, 0xFF0000FFu);
    Gdiplus_DeleteGraphics(graphics);
    return picture;
}

static KvelPicture* DrawnByMode(KvelPicture* source, int width, int height,
                                const KvelPictureRect* destination, int mode) {
    KvelPicture* canvas = Gdiplus_CreateColorBmp(width, height, 0xFF000000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(canvas);
    Gdiplus_DrawBitmap(graphics, destination, source, NULL, mode);
    Gdiplus_DeleteGraphics(graphics);
    return canvas;
}

static void PicturesDrawByMode(void) {
    KvelPicture* source = RedBlue();
    /* Mode 0 of red, green, blue thirds into 2 x 2: the centre 2 x 2 of the
     * source, all green, not the whole source squeezed. */
    KvelPicture* thirds = Gdiplus_CreateColorBmp(6, 2, 0xFFFF0000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(thirds);
    KvelPictureRect middle = {2, 0, 2, 2}, last = {4, 0, 2, 2};
    Gdiplus_FillRect(graphics, &middle, 0xFF00FF00u);
    Gdiplus_FillRect(graphics, &last, 0xFF0000FFu);
    Gdiplus_DeleteGraphics(graphics);
    KvelPictureRect square = {0, 0, 2, 2};
    KvelPicture* covered = DrawnByMode(thirds, 2, 2, &square, 0);
    CHECK(PixelAt(covered, 0, 0) == 0xFF00FF00u && PixelAt(covered, 1, 1) == 0xFF00FF00u);
    Gdiplus_DeleteBitmap(thirds);
    /* Mode 1 into 4 x 4: the whole source 4 x 2, centred: rows 1 and 2. */
    KvelPictureRect tall = {0, 0, 4, 4};
    KvelPicture* fitted = DrawnByMode(source, 4, 4, &tall, 1);
    CHECK(PixelAt(fitted, 0, 0) == 0xFF000000u && PixelAt(fitted, 0, 1) == 0xFFFF0000u);
    CHECK(PixelAt(fitted, 3, 2) == 0xFF0000FFu && PixelAt(fitted, 3, 3) == 0xFF000000u);
    /* Mode 2 into 6 x 3 at (1, 1) of 8 x 5: tiles cut at the destination. */
    KvelPictureRect tiles = {1, 1, 6, 3};
    KvelPicture* tiled = DrawnByMode(source, 8, 5, &tiles, 2);
    CHECK(PixelAt(tiled, 1, 1) == 0xFFFF0000u && PixelAt(tiled, 5, 3) == 0xFFFF0000u);
    CHECK(PixelAt(tiled, 6, 3) == 0xFFFF0000u && PixelAt(tiled, 7, 3) == 0xFF000000u);
    CHECK(PixelAt(tiled, 5, 4) == 0xFF000000u);
    /* A destination far larger than the surface, starting left of it: the
     * tiles stay aligned to its corner (-3: blue at 0) and drawing ends. */
    KvelPictureRect vast = {-3, 0, 0x7FFFFFF0, 0x7FFFFFF0};
    KvelPicture* vastTiles = DrawnByMode(source, 8, 5, &vast, 2);
    CHECK(PixelAt(vastTiles, 0, 0) == 0xFF0000FFu && PixelAt(vastTiles, 1, 0) == 0xFFFF0000u);
    Gdiplus_DeleteBitmap(vastTiles);
    KvelPictureRect beyond = {10, 10, 0x7FFFFFFF, 4};
    KvelPicture* untouched = DrawnByMode(source, 8, 5, &beyond, 0);
    CHECK(PixelAt(untouched, 7, 4) == 0xFF000000u);
    Gdiplus_DeleteBitmap(untouched);
    /* Mode 3 into 2 x 4: the centre two columns, unscaled, rows 1 and 2. */
    KvelPictureRect narrow = {0, 0, 2, 4};
    KvelPicture* centred = DrawnByMode(source, 2, 4, &narrow, 3);
    CHECK(PixelAt(centred, 0, 1) == 0xFFFF0000u && PixelAt(centred, 1, 2) == 0xFF0000FFu);
    CHECK(PixelAt(centred, 0, 0) == 0xFF000000u && PixelAt(centred, 1, 3) == 0xFF000000u);
    Delete(5, source, covered, fitted, tiled, centred);
}

static void AlphaDrawingScalesTheAlpha(void) {
    KvelPicture* red = Gdiplus_CreateColorBmp(2, 2, 0xFFFF0000u);
    KvelPicture* canvas = Gdiplus_CreateColorBmp(4, 4, 0x00000000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(canvas);
    KvelPictureRect whole = {0, 0, 4, 4};
    Gdiplus_DrawAlphaBitmap(graphics, &whole, red, NULL, 0, 128);
    Gdiplus_DeleteGraphics(graphics);
    const unsigned inside = PixelAt(canvas, 1, 1);
    CHECK(inside >> 24 >= 0x7F && inside >> 24 <= 0x80 && (inside & 0x00FFFFFFu) == 0xFF0000u);
    CHECK(PixelAt(canvas, 0, 0) == 0u); /* unstretched, centred */
    Delete(2, red, canvas);
}

/* Pixels of `area` that are not black, and of the rest that are not. */
static void CountLit(KvelPicture* picture, KvelPictureRect area, int* inside, int* outside) {
    *inside = *outside = 0;
    for (int y = 0; y < HeightOf(picture); ++y)
        for (int x = 0; x < WidthOf(picture); ++x) {
            const int in =
                x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
            if ((PixelAt(picture, x, y) & 0x00FFFFFFu) != 0) ++*(in ? inside : outside);
        }
}

static void TextIsDrawnWithoutAnApplication(void) {
    CHECK(Gdiplus_GetStringFormat(0x00010401u) == 1);
    CHECK(Gdiplus_GetStringFormat(1037) == 1);
    CHECK(Gdiplus_GetStringFormat(1033) == 0);
    KvelPicture* canvas = Gdiplus_CreateColorBmp(80, 40, 0xFF000000u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(canvas);
    const KvelPictureRect area = {10, 8, 60, 24};
    KvelPictureRectF layout = {10, 8, 60, 24};
    KvelPictureFont font = {L"Sans", 12.0f, PICTURE_FONT_BOLD};
    Gdiplus_DrawText(graphics, L"Hi", &layout, 0xFFFFFFFFu, 0, &font);
    CHECK(Gdiplus_GraphicsLastError(graphics) == PICTURE_OK);
    Gdiplus_DrawText(graphics, L"", &layout, 0xFFFFFFFFu, 0, &font);
    CHECK(Gdiplus_GraphicsLastError(graphics) == PICTURE_OK);
    Gdiplus_DeleteGraphics(graphics);
    int inside = 0, outside = 0;
    CountLit(canvas, area, &inside, &outside);
    CHECK(inside > 20);
    CHECK(outside == 0);
    Gdiplus_DeleteBitmap(canvas);
}

/* Saves as `name` in `folder`, loads it back; 1 when both ARGB buffers match. */
static int RoundTrips(KvelPicture* picture, const char* folder, const char* name) {
    char path[512];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    KvelPicture* loaded = NULL;
    unsigned before[24], after[24];
    const int same =
        Gdiplus_SaveBitmapToFileA(picture, path) == 1 &&
        (loaded = Gdiplus_LoadBitmapFromFileA(path)) != NULL &&
        Gdiplus_GetBitmapBuffer(picture, NULL, PICTURE_FORMAT_32BPP_ARGB, before, 24) &&
        Gdiplus_GetBitmapBuffer(loaded, NULL, PICTURE_FORMAT_32BPP_ARGB, after, 24) &&
        memcmp(before, after, sizeof before) == 0;
    Gdiplus_DeleteBitmap(loaded);
    remove(path);
    return same;
}

static void GifAndTiffRoundTrip(const char* folder) {
    KvelPictureEncoder encoder;
    CHECK(Gdiplus_GetEncoderClsidByFormatTypeA("image/gif", &encoder) == 1);
    CHECK(Gdiplus_GetEncoderClsidByFormatTypeA("image/TIFF", &encoder) == 1);
    /* An 8-bit picture is written with its own palette. */
    unsigned char indices[24];
    for (int i = 0; i < 24; ++i) indices[i] = (unsigned char)(i * 11);
    KvelPicture* indexed =
        Gdiplus_LoadBitmapFromImageBits(indices, 6, 4, 6, PICTURE_FORMAT_8BPP_INDEXED);
    CHECK(RoundTrips(indexed, folder, "indexed.gif"));
    /* A 32-bit picture of a few colours keeps them; TIFF keeps alpha too. */
    KvelPicture* colours = Gdiplus_CreateColorBmp(6, 4, 0xFF2040C0u);
    KvelPictureGraphics* graphics = Gdiplus_CreateGraphics(colours);
    const KvelPictureRect part = {1, 1, 3, 2};
    Gdiplus_FillRect(graphics, &part, 0xFFE01008u);
    Gdiplus_DeleteGraphics(graphics);
    CHECK(RoundTrips(colours, folder, "colours.gif"));
    CHECK(RoundTrips(colours, folder, "colours.TIFF"));
    Gdiplus_SetBitmapAlpha(colours, &part, 0x40, 0, 255);
    char path[512];
    snprintf(path, sizeof path, "%s/translucent.tiff", folder);
    CHECK(Gdiplus_SaveBitmapToFileA(colours, path) == 1);
    KvelPicture* translucent = Gdiplus_LoadBitmapFromFileA(path);
    CHECK(PixelAt(translucent, 2, 2) >> 24 == 0x40 && PixelAt(translucent, 0, 0) == 0xFF2040C0u);
    remove(path);
    Delete(3, indexed, colours, translucent);
}

int main(void) {
    char folder[] = "/tmp/kvel-picture-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    KvelPictureLibrary* library = Gdiplus_Init();
    CHECK(library != NULL);

    PictureTypesFollowTheExtension();
    EncodersAreFoundByMimeTypeWithoutCase();
    GreyFollowsTheIntegerFormula();
    ResizeModesSizeTheResult();
    BufferCopiesStayInsideTheBuffer();
    FitModesPlaceTheSource();
    SavedPngLoadsWithTheSamePixels(folder);
    ConversionWritesATempFileNamedByDate(folder);
    SurfaceBitmapsAreFilledThenDrawn();
    RegionsAreTheOpaqueRuns();
    RegionsOfManyRunsCoverEveryRun();
    AlphaRangesChangeOnlyTheirPixels();
    ShapesFillAndOutline();
    PicturesDrawByMode();
    AlphaDrawingScalesTheAlpha();
    GifAndTiffRoundTrip(folder);
    TextIsDrawnWithoutAnApplication();

    Gdiplus_DeInit(library);
    /* The files the checks wrote, then the folder. */
    const char* written[] = {"saved.png", "source.png", convertedName};
    for (size_t i = 0; i < sizeof written / sizeof written[0]; ++i) {
        char path[600];
        snprintf(path, sizeof path, "%s/%s", folder, written[i]);
        remove(path);
    }
    CHECK(chdir("/") == 0 && rmdir(folder) == 0);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
