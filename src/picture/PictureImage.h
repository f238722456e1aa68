// The program's own widgets draw pictures with Qt: the image behind a
// picture, and the one way the picture functions record a failed operation.
#pragma once

#include <QImage>

#include "picture/KVEL_Picture.h"

// The picture's pixels; a null image for a null picture. Valid while the
// picture lives.
KVEL_PICTURE_API const QImage* PictureImage(const KvelPicture* picture);
// Records `status` as the picture's last status unless it is PICTURE_OK
// (a success never hides an earlier failure).
KVEL_PICTURE_API void RecordPictureStatus(KvelPicture* picture, int status);
