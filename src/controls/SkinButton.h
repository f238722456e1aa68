// A button that paints itself from pictures instead of the system's button
// look. The realtime page's presence lamp is one: a disabled check box that
// shows a green light while unchecked and a red light while checked.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QSize>

#include <cstdint>

#include "picture/KVEL_Picture.h"

class CASkinButton : public QAbstractButton {
    Q_OBJECT
public:
    // The kinds, as the button style words number them.
    enum Kind { kPushKind = 0, kCheckKind = 2, kRadioKind = 4 };
    // Button style words the kind is taken from.
    static constexpr uint32_t kStylePushButton = 0x0;
    static constexpr uint32_t kStyleAutoCheckBox = 0x3;
    static constexpr uint32_t kStyleAutoRadioButton = 0x9;
    static constexpr uint32_t kDefaultBackground = 0xFF3C322A;
    // The indicator pictures among the program's resources.
    static constexpr int kGreenLightResource = 191;
    static constexpr int kRedLightResource = 192;

    // `style`: the button style of the control it stands for.
    explicit CASkinButton(uint32_t style, QWidget* parent = nullptr);
    ~CASkinButton() override;

    static int KindFromStyle(uint32_t style);
    int Kind() const { return m_kind; }

    // Green light while unchecked, red while checked, from the program's
    // PNG resources; a picture that does not load leaves a flat fill.
    void SetIndicatorSkin();
    // Keeps copies of both pictures (either may be null).
    void SetSkin(KvelPicture* disabled, KvelPicture* disabledChecked);

    // A push-kind button stays unchecked.
    void SetCheck(int check);
    int GetCheck() const { return m_checked; }

    // The picture as the screen gets it (tests, screenshots).
    QImage RenderImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DeletePictures();

    int m_checked = 0;
    int m_kind = kPushKind;
    KvelPicture* m_disabledPicture = nullptr;
    KvelPicture* m_disabledCheckedPicture = nullptr;
    uint32_t m_background = kDefaultBackground;
    // The last rendering: a lamp is repainted far more often than it
    // changes, and scaling the picture is the costly part.
    mutable QImage m_cache;
    mutable int m_cacheChecked = -1;
};
