// Drawing surfaces over pictures: text, rectangles, polygons and pictures.
#include <QGuiApplication>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <new>

#include "picture/PictureInternal.h"

struct KvelPictureGraphics {
    QPainter painter;
    int lastStatus = PICTURE_OK;
};

namespace {

// Text needs Qt's font database, which lives in a QGuiApplication. A caller
// without a Qt application object (a plain C program) gets a private,
// window-less one on its first text, ended when the process exits (before
// the Qt globals it uses, which were made before it). A caller whose Qt
// application has no fonts (QCoreApplication) cannot have a second
// application object: its text is refused rather than aborting.
QGuiApplication* gPrivateApplication = nullptr;

bool FontsAvailable() {
    static std::once_flag started;
    std::call_once(started, [] {
        if (QCoreApplication::instance()) return;
        static char name[] = "kvel_picture";
        static char platformOption[] = "-platform";
        static char platform[] = "offscreen";
        static char* arguments[] = {name, platformOption, platform, nullptr};
        static int count = 3;
        gPrivateApplication = new QGuiApplication(count, arguments);
        std::atexit([] { delete gPrivateApplication; });
    });
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The rectangle as Qt's; empty when its far edge would lie beyond the int
// range, where Qt's own sums would overflow.
QRect QtRect(const KvelPictureRect& rect) {
    if (0LL + rect.x + rect.width > INT_MAX || 0LL + rect.y + rect.height > INT_MAX) return {};
    return QRect(rect.x, rect.y, rect.width, rect.height);
}

QColor QtColour(unsigned argb) { return QColor::fromRgba(argb); }

// The drawing arguments every function checks first; a missing one is the
// surface's failure, as an invalid argument.
bool Usable(KvelPictureGraphics* graphics, const void* argument) {
    if (!graphics) return false;
    if (argument) return true;
    graphics->lastStatus = PICTURE_INVALID_PARAMETER;
    return false;
}

// A rectangle of `size` centred in `area`.
QRectF CentredIn(const QRectF& area, const QSizeF& size) {
    return QRectF(area.x() + (area.width() - size.width()) / 2,
                  area.y() + (area.height() - size.height()) / 2, size.width(), size.height());
}

// Mode 0: the centre of the source cut to the destination's aspect, as large
// as it can be, so that scaling it over the destination keeps its aspect.
void DrawCoveringCut(QPainter* painter, const QRectF& to, const QImage& image, const QRectF& from) {
    const double scale = std::min(from.width() / to.width(), from.height() / to.height());
    painter->drawImage(to, image, CentredIn(from, to.size() * scale));
}

// Mode 1: the whole source at the largest size that fits, centred.
void DrawFitting(QPainter* painter, const QRectF& to, const QImage& image, const QRectF& from) {
    const double scale = std::max(from.width() / to.width(), from.height() / to.height());
    painter->drawImage(CentredIn(to, from.size() / scale), image, from);
}

// The first tile position at or before `visible` in a row of tiles that
// starts at `start`.
int FirstTile(int start, int visible, int tile) {
    return visible <= start ? start : start + (visible - start) / tile * tile;
}

// Mode 2: tiles at the source's own size, cut by the destination's edges.
// Only the tiles on the surface are drawn: a large destination of small
// tiles must not cost a draw call for every tile off the surface.
void DrawTiles(QPainter* painter, const QRect& to, const QImage& image, const QRect& from) {
    const QRect visible =
        to.intersected(QRect(0, 0, painter->device()->width(), painter->device()->height()));
    if (visible.isEmpty()) return;
    painter->save();
    painter->setClipRect(visible, Qt::IntersectClip);
    for (int y = FirstTile(to.top(), visible.top(), from.height()); y <= visible.bottom();
         y += from.height())
        for (int x = FirstTile(to.left(), visible.left(), from.width()); x <= visible.right();
             x += from.width())
            painter->drawImage(QPoint(x, y), image, from);
    painter->restore();
}

// Mode 3 and unstretched alpha drawing: the overlap of both sizes, from the
// centre of the source, centred in the destination.
void DrawOverlapCentred(QPainter* painter, const QRectF& to, const QImage& image,
                        const QRectF& from) {
    const QSizeF overlap(std::min(from.width(), to.width()), std::min(from.height(), to.height()));
    painter->drawImage(CentredIn(to, overlap), image, CentredIn(from, overlap));
}

void DrawByMode(QPainter* painter, const QRect& to, const QImage& image, const QRect& from,
                int mode) {
    switch (mode) {
        case 0:
            DrawCoveringCut(painter, to, image, from);
            break;
        case 1:
            DrawFitting(painter, to, image, from);
            break;
        case 2:
            DrawTiles(painter, to, image, from);
            break;
        case 3:
            DrawOverlapCentred(painter, to, image, from);
            break;
        default:
            painter->drawImage(QRectF(to), image, QRectF(from));
            break;
    }
}

// The source area of a picture drawing: the given rectangle or the whole
// picture; empty when either area is empty, as there is nothing to scale.
bool DrawingAreas(const KvelPictureRect* destination, const KvelPicture* picture,
                  const KvelPictureRect* source, QRect* to, QRect* from) {
    *to = QtRect(*destination);
    *from = source ? QtRect(*source) : picture->image.rect();
    return !to->isEmpty() && !from->isEmpty();
}

}  // namespace

extern "C" {

KvelPictureGraphics* Gdiplus_CreateGraphics(KvelPicture* picture) {
    if (!picture) return nullptr;
    if (picture->image.format() == QImage::Format_Indexed8 || picture->image.isNull()) {
        picture->lastStatus = PICTURE_INVALID_PARAMETER;
        return nullptr;
    }
    auto* graphics = new (std::nothrow) KvelPictureGraphics;
    if (!graphics) return nullptr;
    if (!graphics->painter.begin(&picture->image)) {
        delete graphics;
        picture->lastStatus = PICTURE_GENERIC_ERROR;
        return nullptr;
    }
    return graphics;
}

int Gdiplus_GraphicsLastError(KvelPictureGraphics* graphics) {
    if (!graphics) return PICTURE_GENERIC_ERROR;
    const int status = graphics->lastStatus;
    graphics->lastStatus = PICTURE_OK;
    return status;
}

void Gdiplus_DeleteGraphics(KvelPictureGraphics* graphics) { delete graphics; }

int Gdiplus_GetStringFormat(unsigned languageId) {
    const unsigned language = languageId & 0xFFFFu;
    return language == 1025 || language == 1037 ? 1 : 0;
}

void Gdiplus_DrawText(KvelPictureGraphics* graphics, const wchar_t* text,
                      const KvelPictureRectF* layout, unsigned argb, int stringFormat,
                      const KvelPictureFont* font) {
    if (!graphics || !text || !*text) return;
    if (!Usable(graphics, layout) || !Usable(graphics, font)) return;
    if (!FontsAvailable()) {
        graphics->lastStatus = PICTURE_GENERIC_ERROR;
        return;
    }
    QFont qtFont(font->family ? QString::fromWCharArray(font->family) : QString());
    if (font->pointSize > 0) qtFont.setPointSizeF(double(font->pointSize));
    qtFont.setBold(font->style & PICTURE_FONT_BOLD);
    qtFont.setItalic(font->style & PICTURE_FONT_ITALIC);
    QPainter& painter = graphics->painter;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(qtFont);
    painter.setPen(QtColour(argb));
    const bool rightToLeft = stringFormat == 1;
    painter.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    painter.drawText(
        QRectF(layout->x, layout->y, layout->width, layout->height),
        int(rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop | Qt::TextWordWrap,
        QString::fromWCharArray(text));
    painter.restore();
}

void Gdiplus_DrawBitmap(KvelPictureGraphics* graphics, const KvelPictureRect* destination,
                        KvelPicture* picture, const KvelPictureRect* source, int mode) {
    if (!Usable(graphics, destination) || !Usable(graphics, picture)) return;
    QRect to, from;
    if (!DrawingAreas(destination, picture, source, &to, &from)) return;
    DrawByMode(&graphics->painter, to, picture->image, from, mode);
}

void Gdiplus_DrawAlphaBitmap(KvelPictureGraphics* graphics, const KvelPictureRect* destination,
                             KvelPicture* picture, const KvelPictureRect* source, int stretch,
                             int alpha) {
    if (!Usable(graphics, destination) || !Usable(graphics, picture)) return;
    QRect to, from;
    if (!DrawingAreas(destination, picture, source, &to, &from)) return;
    QPainter& painter = graphics->painter;
    painter.save();
    // The colour matrix of the imaging library scales alpha by alpha / 256.
    painter.setOpacity(std::clamp(alpha, 0, 255) / 256.0);
    if (stretch)
        painter.drawImage(QRectF(to), picture->image, QRectF(from));
    else
        DrawOverlapCentred(&painter, to, picture->image, from);
    painter.restore();
}

void Gdiplus_FillRect(KvelPictureGraphics* graphics, const KvelPictureRect* rect, unsigned argb) {
    if (!Usable(graphics, rect)) return;
    graphics->painter.fillRect(QtRect(*rect), QtColour(argb));
}

void Gdiplus_FillPolygon(KvelPictureGraphics* graphics, const KvelPicturePoint* points, int count,
                         unsigned argb) {
    if (!Usable(graphics, points)) return;
    if (count <= 0) {
        graphics->lastStatus = PICTURE_INVALID_PARAMETER;
        return;
    }
    QPolygon polygon;
    polygon.reserve(count);
    for (int i = 0; i < count; ++i) polygon.append(QPoint(points[i].x, points[i].y));
    QPainter& painter = graphics->painter;
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QtColour(argb));
    painter.drawPolygon(polygon, Qt::OddEvenFill);
    painter.restore();
}

void Gdiplus_DrawRect(KvelPictureGraphics* graphics, const KvelPictureRect* rect, unsigned argb,
                      int penWidth) {
    if (!Usable(graphics, rect)) return;
    QPainter& painter = graphics->painter;
    painter.save();
    painter.setPen(QPen(QtColour(argb), std::max(penWidth, 0)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect->x, rect->y, rect->width - penWidth, rect->height - penWidth));
    painter.restore();
}

}  // extern "C"
