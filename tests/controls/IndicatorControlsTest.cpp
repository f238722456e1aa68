#include <QApplication>
#include <QTest>

#include <memory>

#include "controls/ColorStatic.h"
#include "controls/SkinButton.h"
#include "picture/KVEL_Picture.h"

namespace {

bool IsGreenish(QRgb pixel) { return qGreen(pixel) > 2 * qRed(pixel) && qGreen(pixel) > 100; }
bool IsReddish(QRgb pixel) { return qRed(pixel) > 2 * qGreen(pixel) && qRed(pixel) > 100; }

QRgb Centre(const QImage& image) { return image.pixel(image.width() / 2, image.height() / 2); }

// Rows of `image` that hold something other than the background colour.
QList<int> InkRows(const QImage& image, QRgb background) {
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                rows << y;
                break;
            }
    return rows;
}

std::unique_ptr<CColorStatic> Text(int width, int height, const QString& text) {
    auto label = std::make_unique<CColorStatic>();
    label->resize(width, height);
    label->SetTextStyle(12);
    label->setText(text);
    return label;
}

}  // namespace

class IndicatorControlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(kvel_resources); }

    void lampShowsGreenUncheckedAndRedChecked() {
        CASkinButton lamp(CASkinButton::kStyleAutoCheckBox);
        lamp.resize(36, 36);
        lamp.SetIndicatorSkin();
        QCOMPARE(lamp.Kind(), int(CASkinButton::kCheckKind));
        QVERIFY(IsGreenish(Centre(lamp.RenderImage())));
        // The transparent surround shows the background as a colour value.
        QCOMPARE(lamp.RenderImage().pixel(0, 0), qRgb(42, 50, 60));
        lamp.SetCheck(1);
        QCOMPARE(lamp.GetCheck(), 1);
        QVERIFY(IsReddish(Centre(lamp.RenderImage())));
        lamp.SetCheck(0);
        QVERIFY(IsGreenish(Centre(lamp.RenderImage())));

        QCOMPARE(CASkinButton::KindFromStyle(CASkinButton::kStyleAutoRadioButton),
                 int(CASkinButton::kRadioKind));
        QCOMPARE(CASkinButton::KindFromStyle(CASkinButton::kStylePushButton),
                 int(CASkinButton::kPushKind));
        CASkinButton push(CASkinButton::kStylePushButton);
        push.SetCheck(1);
        QCOMPARE(push.GetCheck(), 0);
    }

    void skinIsACopyOfTheGivenPicturesAndMissingOnesLeaveAFlatFill() {
        CASkinButton lamp(CASkinButton::kStyleAutoCheckBox);
        lamp.resize(20, 20);
        lamp.SetSkin(nullptr, nullptr);
        const QImage flat = lamp.RenderImage();
        for (QPoint p : {QPoint(0, 0), QPoint(10, 10), QPoint(19, 19)})
            QCOMPARE(flat.pixel(p), qRgb(60, 50, 42));

        KvelPicture* blue = Gdiplus_CreateColorBmp(4, 4, 0xFF0000FFu);
        lamp.SetSkin(blue, nullptr);
        Gdiplus_DeleteBitmap(blue);
        QCOMPARE(Centre(lamp.RenderImage()), qRgb(0, 0, 255));
    }

    void linesAreSpreadEvenlyOverTheHeight() {
        const auto empty = Text(200, 60, QString());
        QVERIFY(empty->LayOut().empty());
        QVERIFY(InkRows(empty->RenderImage(), qRgb(42, 50, 60)).isEmpty());

        const auto text = Text(300, 90, QStringLiteral("Target"));
        auto lines = text->LayOut();
        QCOMPARE(lines.size(), size_t(1));
        const int above = lines[0].box.top();
        const int below = 90 - lines[0].box.bottom() - 1;
        QVERIFY(qAbs(above - below) <= 1);

        text->setText(QStringLiteral("one\ntwo"));
        lines = text->LayOut();
        QCOMPARE(lines.size(), size_t(2));
        const int gap1 = lines[0].box.top();
        const int gap2 = lines[1].box.top() - lines[0].box.bottom() - 1;
        const int gap3 = 90 - lines[1].box.bottom() - 1;
        QVERIFY(qAbs(gap1 - gap2) <= 1 && qAbs(gap2 - gap3) <= 1);
        QVERIFY(!InkRows(text->RenderImage(), qRgb(42, 50, 60)).isEmpty());
    }

    void rangeTextKeepsItsBlankLineAndALongLineWrapsInsideItsBox() {
        const auto range = Text(300, 60, QStringLiteral("Target Range: 2.50 m\r\n\r\n"));
        auto lines = range->LayOut();
        QCOMPARE(lines.size(), size_t(2));
        QCOMPARE(lines[0].text, QStringLiteral("Target Range: 2.50 m"));
        QVERIFY(lines[1].text.isEmpty());
        // The range sits in the upper half: the blank line takes the lower.
        QVERIFY(lines[0].box.center().y() < 30);

        const auto narrow = Text(80, 120, QStringLiteral("one two three four five six"));
        lines = narrow->LayOut();
        QCOMPARE(lines.size(), size_t(1));
        QVERIFY(lines[0].box.height() > 2 * QFontMetrics(narrow->font()).height() - 2);
        QCOMPARE(lines[0].box.width(), 80);
    }
};

QTEST_MAIN(IndicatorControlsTest)
#include "IndicatorControlsTest.moc"
