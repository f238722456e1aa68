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
/* Decodes a picture file image held in memory (PNG, BMP, JPEG, GIF and the
 * other formats the imaging library reads). The picture is decoded in full:
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

#ifdef __cplusplus
}
#endif

#endif /* KVEL_PICTURE_H */
