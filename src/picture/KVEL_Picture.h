/* Picture objects: the program's exported picture functions, for the
 * program itself and for other programs. Plain C: pictures are opaque
 * handles, every function has C linkage and the prefix Gdiplus_.
 *
 * Ownership: a function that creates a picture hands it to the caller, who
 * deletes it with Gdiplus_DeleteBitmap. Functions given a null picture
 * return null, 0 or nothing.
 *
 * Last status: a picture remembers the status of the last operation on it
 * that failed. Gdiplus_BitmapOK and Gdiplus_BitmapLastError read it and
 * reset it to PICTURE_OK. A function that creates a picture returns null
 * instead of a picture that is not valid. */
#ifndef KVEL_PICTURE_H
#define KVEL_PICTURE_H

#include <stddef.h>
#include <wchar.h>

#if defined(__GNUC__)
#define KVEL_PICTURE_API __attribute__((visibility("default")))
#else
#define KVEL_PICTURE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KvelPicture KvelPicture;

/* Pixel formats, with the numbers the platform imaging library gives them,
 * so that callers pass the values they already know. Every picture created
 * from scratch is PICTURE_FORMAT_32BPP_ARGB: one 0xAARRGGBB word a pixel. */
#define PICTURE_FORMAT_8BPP_INDEXED 0x00030803
#define PICTURE_FORMAT_24BPP_RGB 0x00021808
#define PICTURE_FORMAT_32BPP_ARGB 0x0026200A

/* Statuses, numbered as the platform imaging library numbers them. */
#define PICTURE_OK 0
#define PICTURE_GENERIC_ERROR 1
#define PICTURE_INVALID_PARAMETER 2
#define PICTURE_OUT_OF_MEMORY 3
#define PICTURE_FILE_NOT_FOUND 10
#define PICTURE_UNKNOWN_IMAGE_FORMAT 13

/* A new picture of width x height pixels in `pixelFormat`, all pixels zero
 * (8-bit pictures get a grey ramp as their palette). Null for a size that is
 * not positive or a format not listed above. */
KVEL_PICTURE_API KvelPicture* Gdiplus_CreateBitmap(int width, int height, int pixelFormat);
/* A new 32-bit ARGB picture filled with `argb` (0xAARRGGBB). */
KVEL_PICTURE_API KvelPicture* Gdiplus_CreateColorBmp(int width, int height, unsigned argb);
/* A new picture of the same size, pixel format and pixels. Null for null;
 * when no copy can be made the source keeps the failing status. */
KVEL_PICTURE_API KvelPicture* Gdiplus_CopyBitmap(KvelPicture* picture);
/* A picture over the caller's pixel memory, which is not copied and must
 * outlive the picture. Rows are `stride` bytes apart, top row first. Null
 * for a null or zero argument, a negative size or stride, a stride too
 * small for a row of `width` pixels, or a format not listed above. */
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromImageBits(void* bits, int width, int height,
                                                              int stride, int pixelFormat);
/* Decodes a picture file image held in memory (PNG, BMP, JPEG, GIF, TIFF and
 * the other formats the imaging library reads). The picture is decoded in full:
 * it does not need the bytes after the call. Null for no data or bytes that
 * are no picture. */
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromData(const void* data, size_t size);
/* Decodes the resource `id` of type `type` ("PNG") of the running program:
 * the resource compiled in as images/<id>.<type in lower case>. `module` is
 * accepted for the callers' sake; there is one program. Null when the
 * resource is missing or is no picture. */
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromResourceW(const void* module,
                                                              const wchar_t* type, int id);
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromResourceA(const void* module, const char* type,
                                                              int id);
/* Decodes the picture file at `path`. Null when the file does not exist or
 * is no picture. The A form takes a UTF-8 path; a path longer than 259
 * characters gives null rather than a cut path naming another file. */
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromFileW(const wchar_t* path);
KVEL_PICTURE_API KvelPicture* Gdiplus_LoadBitmapFromFileA(const char* path);
/* 1 when the picture exists and its last status is PICTURE_OK, else 0. Resets
 * the last status. */
KVEL_PICTURE_API int Gdiplus_BitmapOK(KvelPicture* picture);
/* The last status, then reset to PICTURE_OK; PICTURE_GENERIC_ERROR for null. */
KVEL_PICTURE_API int Gdiplus_BitmapLastError(KvelPicture* picture);
/* Deletes the picture; null is ignored. */
KVEL_PICTURE_API void Gdiplus_DeleteBitmap(KvelPicture* picture);

/* ------------------------------------------------------------------------
 * Conversion, resizing, drawing, regions and saving. */

/* Rectangles and points in pixels. A rectangle is x, y, width, height: it
 * starts at (x, y) and spans width x height pixels. It is not left, top,
 * right, bottom: a caller who passes the far corner as width and height
 * names a larger area than it means, and a buffer sized for the area it
 * meant is overrun. Every function below that takes a rectangle repeats
 * this layout. Functions that take a rectangle pointer "or the whole
 * picture" use the whole picture for null. */
typedef struct KvelPictureRect {
    int x;
    int y;
    int width;
    int height;
} KvelPictureRect;
typedef struct KvelPictureRectF {
    float x;
    float y;
    float width;
    float height;
} KvelPictureRectF;
typedef struct KvelPicturePoint {
    int x;
    int y;
} KvelPicturePoint;
typedef struct KvelPictureSize {
    int width;
    int height;
} KvelPictureSize;

/* Picture types, for file names and encoders. */
#define PICTURE_TYPE_BMP 0
#define PICTURE_TYPE_JPEG 1
#define PICTURE_TYPE_GIF 2
#define PICTURE_TYPE_TIFF 3
#define PICTURE_TYPE_PNG 4

/* The imaging library's holder: what Gdiplus_Init starts and Gdiplus_DeInit
 * ends. Pictures work without one; callers that pair the two keep doing so. */
typedef struct KvelPictureLibrary KvelPictureLibrary;
KVEL_PICTURE_API KvelPictureLibrary* Gdiplus_Init(void);
/* Frees the holder; null is ignored. */
KVEL_PICTURE_API void Gdiplus_DeInit(KvelPictureLibrary* library);

/* An image writer: the short format name the writer is known by ("png"). */
typedef struct KvelPictureEncoder {
    char format[16];
} KvelPictureEncoder;
/* Looks for an installed image writer for the MIME type ("image/png"),
 * compared without regard to case. 1 and *encoder filled when found, else 0
 * (also for a null argument). The A form takes UTF-8. */
KVEL_PICTURE_API int Gdiplus_GetEncoderClsidByFormatTypeW(const wchar_t* mimeType,
                                                          KvelPictureEncoder* encoder);
KVEL_PICTURE_API int Gdiplus_GetEncoderClsidByFormatTypeA(const char* mimeType,
                                                          KvelPictureEncoder* encoder);
/* The writer for "image/jpeg" (1), "image/gif" (2), "image/tiff" (3),
 * "image/png" (4) or "image/bmp" (any other type); 0 when none is installed.
 * GIF is written with the picture's palette: 8-bit pictures as they are,
 * others quantised to 256 colours, the first mostly transparent colour as
 * the transparent one. TIFF needs Qt's image-format plugins. */
KVEL_PICTURE_API int Gdiplus_GetEncoderClsidByPictureType(int pictureType,
                                                          KvelPictureEncoder* encoder);
/* The picture type of a file name by its extension, without regard to case:
 * "bmp" 0, "jpeg" or "jpg" 1, "gif" 2, "tiff" 3, every other extension
 * (".tif" and none among them) 4. */
KVEL_PICTURE_API int Gdiplus_GetPictureTypeByFileNameW(const wchar_t* fileName);
KVEL_PICTURE_API int Gdiplus_GetPictureTypeByFileNameA(const char* fileName);
/* Loads `sourcePath` and saves it as `pictureType` under a new name in the
 * working folder: "Temp_" + date and time + ".jpg", ".gif", ".tif", ".png"
 * or ".bmp", written into `newName` (room for 260 characters). 1 on
 * success; 0 otherwise (a null argument, an unreadable source, a type
 * without a writer, a failed write). */
KVEL_PICTURE_API int Gdiplus_ConvertImageFormatW(const wchar_t* sourcePath, wchar_t* newName,
                                                 int pictureType);
KVEL_PICTURE_API int Gdiplus_ConvertImageFormatA(const char* sourcePath, char* newName,
                                                 int pictureType);
/* Saves the picture with the writer of the path's picture type. 1 on success;
 * 0 otherwise, and the picture keeps the failing status. */
KVEL_PICTURE_API int Gdiplus_SaveBitmapToFileW(KvelPicture* picture, const wchar_t* path);
KVEL_PICTURE_API int Gdiplus_SaveBitmapToFileA(KvelPicture* picture, const char* path);

/* A copy in another pixel format of the three above; null for any other. */
KVEL_PICTURE_API KvelPicture* Gdiplus_ModifyBitmapFormat(KvelPicture* picture, int pixelFormat);

/* A bitmap for other drawing surfaces: the picture's size, 32 bits a pixel
 * (24 for 24-bit pictures), filled with `argb` and the picture drawn on it
 * at 1:1. Rows are stored top row first whatever `topDown` says. The caller
 * frees it with Gdiplus_DeleteHBitmap. For the program's own code the
 * handle is the drawing helpers' HBITMAP. */
typedef void* KvelBitmapHandle;
KVEL_PICTURE_API KvelBitmapHandle Gdiplus_GetHBitmap(KvelPicture* picture, unsigned argb,
                                                     int topDown);
KVEL_PICTURE_API void Gdiplus_DeleteHBitmap(KvelBitmapHandle bitmap);

/* Copies `rect` (x, y, width, height; or the whole picture), clipped to the picture, in
 * `pixelFormat` into `buffer`: one row every `stride` bytes, each row
 * width x bits per pixel rounded up to whole 32-bit words. 1 on success; 0
 * when nothing is left after clipping, for an unknown format, or for a
 * stride shorter than a row (the picture keeps PICTURE_INVALID_PARAMETER).
 * The buffer must hold (rows - 1) x stride + row bytes. */
KVEL_PICTURE_API int Gdiplus_GetBitmapBuffer(KvelPicture* picture, const KvelPictureRect* rect,
                                             int pixelFormat, void* buffer, int stride);

/* A new 32-bit ARGB picture of width x height with the whole source scaled
 * into it; null for a size that is not positive. */
KVEL_PICTURE_API KvelPicture* Gdiplus_StretchBitmap(KvelPicture* picture, int width, int height);
/* A new 32-bit ARGB picture filled with `argb` and the source scaled into
 * it, its size by `mode` (x-scale = width / source width, y-scale = height /
 * source height, sizes truncated): 0 width x height; 1 the source times the
 * smaller scale; 2 times the larger; 3 times the x-scale; 4 times the
 * y-scale. Null for another mode or a size that is not positive. */
KVEL_PICTURE_API KvelPicture* Gdiplus_ResizeBitmap(KvelPicture* picture, int width, int height,
                                                   int mode, unsigned argb);
/* A new width x height picture by `mode`: 0 the centre of the source cut to
 * the aspect of width x height and scaled to it; 1 Gdiplus_ResizeBitmap
 * mode 1; 2 the source tiled from the top-left corner; 3 the source unscaled
 * and centred on `argb`; 4 Gdiplus_StretchBitmap. Null for another mode. */
KVEL_PICTURE_API KvelPicture* Gdiplus_DisposeBitmapByMode(KvelPicture* picture, int width,
                                                          int height, int mode, unsigned argb);
/* A new 32-bit ARGB picture of `targetSize` (or width x height for null)
 * with the source area (x, y, width, height; `rect` in the same layout)
 * scaled into it. Null for a size that is not positive. */
KVEL_PICTURE_API KvelPicture* Gdiplus_GetBitmapFromBitmap(KvelPicture* picture, int x, int y,
                                                          int width, int height,
                                                          const KvelPictureSize* targetSize);
KVEL_PICTURE_API KvelPicture* Gdiplus_GetBitmapFromBitmapByRect(KvelPicture* picture,
                                                                const KvelPictureRect* rect,
                                                                const KvelPictureSize* targetSize);
/* A grey copy in the same pixel format: grey = (77 red + 150 green + 29
 * blue) / 256 in all three channels, alpha kept; 8-bit pictures keep their
 * pixel bytes, their palette greyed by the same formula. */
KVEL_PICTURE_API KvelPicture* Gdiplus_Gray(KvelPicture* picture);

/* A region: the union of rectangles, for window shapes. The caller frees it
 * with Gdiplus_DeleteRegion. */
typedef struct KvelPictureRegion KvelPictureRegion;
/* The region of the pixels whose alpha is at least `alphaThreshold`, made
 * of one-pixel-high runs. Null for null. */
KVEL_PICTURE_API KvelPictureRegion* Gdiplus_CreateRgnFromBitmap(KvelPicture* picture,
                                                                int alphaThreshold);
/* The region's rectangles (x, y, width, height), in rows from the top: at
 * most `capacity` of them into `rects`; returns how many the region has (0 for an empty region or
 * null). */
KVEL_PICTURE_API int Gdiplus_GetRegionRects(const KvelPictureRegion* region, KvelPictureRect* rects,
                                            int capacity);
/* Frees the region; null is ignored. */
KVEL_PICTURE_API void Gdiplus_DeleteRegion(KvelPictureRegion* region);
/* Every pixel of `rect` (x, y, width, height; or the whole picture) whose alpha lies between
 * `lowest` and `highest`, both included, gets `alpha`; colours stay. Only
 * 32-bit ARGB pictures have an alpha to change. */
KVEL_PICTURE_API void Gdiplus_SetBitmapAlpha(KvelPicture* picture, const KvelPictureRect* rect,
                                             int alpha, int lowest, int highest);

/* A drawing surface over a picture: what the drawing functions draw on. It
 * remembers the status of its last failed operation, as pictures do. The
 * picture must outlive it; its drawing is in the picture once the surface
 * is deleted. Null for null or an 8-bit picture, which cannot be drawn on. */
typedef struct KvelPictureGraphics KvelPictureGraphics;
KVEL_PICTURE_API KvelPictureGraphics* Gdiplus_CreateGraphics(KvelPicture* picture);
/* The last status, then reset to PICTURE_OK; PICTURE_GENERIC_ERROR for null. */
KVEL_PICTURE_API int Gdiplus_GraphicsLastError(KvelPictureGraphics* graphics);
/* Ends the drawing and frees the surface; null is ignored. */
KVEL_PICTURE_API void Gdiplus_DeleteGraphics(KvelPictureGraphics* graphics);

/* 1 (text runs right to left) when the low 16 bits of the language
 * identifier are 1025 or 1037, else 0: the string format of
 * Gdiplus_DrawText. */
KVEL_PICTURE_API int Gdiplus_GetStringFormat(unsigned languageId);

#define PICTURE_FONT_BOLD 1
#define PICTURE_FONT_ITALIC 2
typedef struct KvelPictureFont {
    const wchar_t* family;
    float pointSize;
    int style; /* PICTURE_FONT_BOLD and PICTURE_FONT_ITALIC */
} KvelPictureFont;
/* Draws `text` in `layout` (x, y, width, height), wrapped at its width,
 * with a solid brush of `argb` and anti-aliased text. Nothing for a null or
 * empty text. Works in any caller: a program without a Qt application
 * object (a plain C program) gets a private, window-less one for the fonts
 * on its first text, kept until it ends; such a program must not make a Qt
 * application object of its own afterwards. A program whose Qt application
 * object is a QCoreApplication has no fonts: the surface records
 * PICTURE_GENERIC_ERROR and nothing is drawn. */
KVEL_PICTURE_API void Gdiplus_DrawText(KvelPictureGraphics* graphics, const wchar_t* text,
                                       const KvelPictureRectF* layout, unsigned argb,
                                       int stringFormat, const KvelPictureFont* font);
/* Draws `source` (or the whole picture) into `destination`, both x, y,
 * width, height, by `mode`:
 * 0 the centre of the source cut to the destination's aspect, covering it;
 * 1 the whole source, aspect kept, centred inside the destination; 2 the
 * source tiled from the destination's top-left corner, cut at its edges;
 * 3 unscaled, the overlap of both sizes from the centre of the source
 * centred in the destination; any other mode stretches the source over the
 * destination. Nothing is drawn outside the destination. */
KVEL_PICTURE_API void Gdiplus_DrawBitmap(KvelPictureGraphics* graphics,
                                         const KvelPictureRect* destination, KvelPicture* picture,
                                         const KvelPictureRect* source, int mode);
/* Draws `source` (or the whole picture) into `destination`, both x, y,
 * width, height, with the picture's alpha multiplied by alpha / 256: with `stretch`
 * the source scaled into the destination, without it the overlap of both
 * sizes unscaled and centred in the destination. */
KVEL_PICTURE_API void Gdiplus_DrawAlphaBitmap(KvelPictureGraphics* graphics,
                                              const KvelPictureRect* destination,
                                              KvelPicture* picture, const KvelPictureRect* source,
                                              int stretch, int alpha);
/* Fills `rect` (x, y, width, height) with a solid brush of `argb` (0xAARRGGBB). */
KVEL_PICTURE_API void Gdiplus_FillRect(KvelPictureGraphics* graphics, const KvelPictureRect* rect,
                                       unsigned argb);
/* Fills the polygon of `count` points with the alternate (even-odd) rule. */
KVEL_PICTURE_API void Gdiplus_FillPolygon(KvelPictureGraphics* graphics,
                                          const KvelPicturePoint* points, int count, unsigned argb);
/* Outlines `rect` (x, y, width, height) with a pen of `penWidth`, its width and height
 * reduced by the pen width so that the outline stays inside. */
KVEL_PICTURE_API void Gdiplus_DrawRect(KvelPictureGraphics* graphics, const KvelPictureRect* rect,
                                       unsigned argb, int penWidth);

#ifdef __cplusplus
}
#endif

#endif /* KVEL_PICTURE_H */
