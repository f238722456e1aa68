// Writing GIF files with giflib: Qt reads GIF but has no writer for it.
#include <gif_lib.h>

#include <QFile>
#include <QHash>
#include <QString>

#include <vector>

#include "picture/PictureInternal.h"

namespace {

// GIF colour tables hold a power of two entries, 2 to 256.
int TableSizeFor(qsizetype colours) {
    int size = 2;
    while (size < colours) size *= 2;
    return size;
}

// GIF pixels are opaque or transparent: a colour more transparent than
// opaque becomes the one transparent colour, any other is made opaque.
QRgb GifColour(QRgb colour) { return qAlpha(colour) < 128 ? 0u : colour | 0xFF000000u; }

// The picture's own colours as a palette when it has at most 256 of them;
// a null image when it has more.
QImage WithOwnPalette(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QImage indexed(argb.size(), QImage::Format_Indexed8);
    QHash<QRgb, int> indices;
    QList<QRgb> table;
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* pixels = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* row = indexed.scanLine(y);
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb colour = GifColour(pixels[x]);
            auto found = indices.constFind(colour);
            if (found == indices.constEnd()) {
                if (table.size() == 256) return {};
                found = indices.insert(colour, int(table.size()));
                table.append(colour);
            }
            row[x] = uchar(found.value());
        }
    }
    indexed.setColorTable(table);
    return indexed;
}

// The picture as 8 bits a pixel: an 8-bit picture as it is, one of at most
// 256 colours with exactly those, any other quantised by Qt (a fixed
// colour cube, diffusion-dithered).
QImage Indexed(const QImage& image) {
    if (image.format() == QImage::Format_Indexed8) return image;
    QImage own = WithOwnPalette(image);
    if (!own.isNull()) return own;
    return image.convertToFormat(QImage::Format_Indexed8,
                                 Qt::DiffuseDither | Qt::DiffuseAlphaDither);
}

// GIF has one fully transparent colour: the first table entry that is more
// transparent than opaque stands for every such entry. -1 when none is.
int TransparentIndex(const QList<QRgb>& table) {
    for (qsizetype i = 0; i < table.size(); ++i)
        if (qAlpha(table[i]) < 128) return int(i);
    return -1;
}

class GifFile {
public:
    explicit GifFile(const QString& path) {
        int error = 0;
        m_file = EGifOpenFileName(QFile::encodeName(path).constData(), false, &error);
        if (m_file) EGifSetGifVersion(m_file, true);
    }
    ~GifFile() {
        if (m_file) EGifCloseFile(m_file, nullptr);
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;
    GifFileType* get() const { return m_file; }
    // Closes the file; false when its last bytes could not be written.
    bool Close() {
        int error = 0;
        const bool closed = EGifCloseFile(m_file, &error) == GIF_OK;
        m_file = nullptr;
        return closed;
    }

private:
    GifFileType* m_file = nullptr;
};

bool WriteTransparency(GifFileType* file, int transparentIndex) {
    if (transparentIndex < 0) return true;
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, transparentIndex};
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    return EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) == GIF_OK;
}

}  // namespace

bool WriteGif(const QImage& source, const QString& path) {
    const QImage image = Indexed(source);
    if (image.isNull()) return false;
    const QList<QRgb> table = image.colorTable();
    if (table.isEmpty() || table.size() > 256) return false;
    std::vector<GifColorType> colours(size_t(TableSizeFor(table.size())), GifColorType{0, 0, 0});
    for (qsizetype i = 0; i < table.size(); ++i)
        colours[size_t(i)] = {GifByteType(qRed(table[i])), GifByteType(qGreen(table[i])),
                              GifByteType(qBlue(table[i]))};
    const int transparent = TransparentIndex(table);

    ColorMapObject* map = GifMakeMapObject(int(colours.size()), colours.data());
    if (!map) return false;
    GifFile file(path);
    bool written =
        file.get() &&
        EGifPutScreenDesc(file.get(), image.width(), image.height(), 8, 0, map) == GIF_OK &&
        WriteTransparency(file.get(), transparent) &&
        EGifPutImageDesc(file.get(), 0, 0, image.width(), image.height(), false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(size_t(image.width()));
    for (int y = 0; written && y < image.height(); ++y) {
        const uchar* pixels = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            row[size_t(x)] = transparent >= 0 && qAlpha(table[pixels[x]]) < 128
                                 ? GifPixelType(transparent)
                                 : pixels[x];
        written = EGifPutLine(file.get(), row.data(), image.width()) == GIF_OK;
    }
    GifFreeMapObject(map);
    return file.get() && file.Close() && written;
}
