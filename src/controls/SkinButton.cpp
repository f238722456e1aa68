#include "controls/SkinButton.h"

#include <QPainter>

#include "picture/PictureImage.h"

namespace {

// The low 24 bits of a colour value read the way the window system reads
// them: red in the lowest byte.
QColor ColorFromColorRef(uint32_t value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// The picture that loaded and is valid, else null.
KvelPicture* LoadIndicatorPicture(int resourceId) {
    KvelPicture* picture = Gdiplus_LoadBitmapFromResourceW(nullptr, L"PNG", resourceId);
    if (picture && !Gdiplus_BitmapOK(picture)) {
        Gdiplus_DeleteBitmap(picture);
        return nullptr;
    }
    return picture;
}

}  // namespace

CASkinButton::CASkinButton(uint32_t style, QWidget* parent)
    : QAbstractButton(parent), m_kind(KindFromStyle(style)) {
    // The button keeps its own check state: a click never toggles it.
    setCheckable(false);
}

CASkinButton::~CASkinButton() { DeletePictures(); }

int CASkinButton::KindFromStyle(uint32_t style) {
    if ((style & kStyleAutoCheckBox) == kStyleAutoCheckBox) return kCheckKind;
    if ((style & kStyleAutoRadioButton) == kStyleAutoRadioButton) return kRadioKind;
    return kPushKind;
}

void CASkinButton::SetIndicatorSkin() {
    KvelPicture* green = LoadIndicatorPicture(kGreenLightResource);
    KvelPicture* red = LoadIndicatorPicture(kRedLightResource);
    SetSkin(green, red);
    Gdiplus_DeleteBitmap(green);
    Gdiplus_DeleteBitmap(red);
}

void CASkinButton::SetSkin(KvelPicture* disabled, KvelPicture* disabledChecked) {
    DeletePictures();
    m_disabledPicture = Gdiplus_CopyBitmap(disabled);
    m_disabledCheckedPicture = Gdiplus_CopyBitmap(disabledChecked);
    m_background = kDefaultBackground;
    setText(QString());
    m_cacheChecked = -1;
    update();
}

void CASkinButton::SetCheck(int check) {
    const int checked = (m_kind != kPushKind && check != 0) ? 1 : 0;
    if (checked == m_checked) return;  // the same picture again
    m_checked = checked;
    update();
}

void CASkinButton::DeletePictures() {
    Gdiplus_DeleteBitmap(m_disabledPicture);
    Gdiplus_DeleteBitmap(m_disabledCheckedPicture);
    m_disabledPicture = nullptr;
    m_disabledCheckedPicture = nullptr;
}

QImage CASkinButton::RenderImage() const {
    if (m_cacheChecked == m_checked && m_cache.size() == size()) return m_cache;
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    // Behind a picture's transparent parts the value is read as a colour
    // value (red in the low byte), with no picture as ARGB: two readings of
    // one value, so the lamp's surround and an empty lamp differ in hue.
    image.fill(ColorFromColorRef(m_background));
    QPainter painter(&image);
    const KvelPicture* picture = m_checked ? m_disabledCheckedPicture : m_disabledPicture;
    const QImage* pixels = PictureImage(picture);
    if (!pixels || pixels->isNull()) {
        painter.fillRect(image.rect(), QColor::fromRgba(m_background));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(image.rect()), *pixels, QRectF(pixels->rect()));
    }
    painter.end();
    m_cache = image;
    m_cacheChecked = m_checked;
    return image;
}

void CASkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, RenderImage());
}
