#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QTest>

#include "controls/BalloonWnd.h"

namespace {

// An owner window with a field that has the keyboard focus, as where the
// balloons appear in the program.
struct Owner {
    Owner() {
        window.resize(300, 200);
        field = new QLineEdit(&window);
        field->setGeometry(10, 10, 100, 24);
        window.show();
        window.activateWindow();
        active = QTest::qWaitForWindowActive(&window);
        field->setFocus();
    }
    QWidget window;
    QLineEdit* field = nullptr;
    bool active = false;
};

void Tick(CBalloonWnd& balloon, int countdownTicks) {
    for (int i = 0; i < countdownTicks; ++i) balloon.OnCountdownTick();
}

void Enter(CBalloonWnd& balloon) {
    QEnterEvent event(QPointF(5, 30), QPointF(5, 30), balloon.mapToGlobal(QPointF(5, 30)));
    QApplication::sendEvent(&balloon, &event);
}

void Leave(CBalloonWnd& balloon) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&balloon, &event);
}

const QPoint kAnchor(40, 60);

}  // namespace

class BalloonWndTest : public QObject {
    Q_OBJECT
private slots:
    void newerEntriesStackOnTop();
    void sameReportRefreshesOneEntry();
    void expiredEntryShrinksTheBalloon();
    void fadesOutInFifteenTicksAndForgets();
    void hoverHoldsAndLeavingGrantsTwoSeconds();
    void closeBoxHidesAndForgets();
    void hidingTheOwnerHidesTheBalloon();
    void neverTakesTheFocus();
    void shapeLeavesOutTheKeyColour();
    void regionFromManyRunsIsExact();
    void lineBreaksMakeTwoLines();
};

void BalloonWndTest::newerEntriesStackOnTop() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "Older", "first report", BALLOON_ICON_ERROR);
    const QSize single = balloon.size();
    balloon.ShowBalloon(kAnchor, "Newer", "second report", BALLOON_ICON_WARNING);

    QCOMPARE(balloon.EntryCount(), 2);
    QCOMPARE(balloon.EntryTitle(0), QString("Newer"));
    QCOMPARE(balloon.EntryTitle(1), QString("Older"));
    QVERIFY(balloon.EntryTitleBox(0).y() < balloon.EntryTitleBox(1).y());
    QCOMPARE(balloon.EntryTitleBox(0).y(), 32);
    QVERIFY(balloon.height() > single.height());
    QCOMPARE(balloon.pos(), kAnchor);
    QCOMPARE(balloon.width() % 4, 0);
    QCOMPARE(balloon.CloseBox(), QRect(balloon.width() - 30, 32, 20, 20));
    QVERIFY(balloon.isVisible());
    QVERIFY(balloon.IsCountingDown());
}

void BalloonWndTest::sameReportRefreshesOneEntry() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "Input Error", "Invalid character 'a'", BALLOON_ICON_ERROR);
    balloon.ShowBalloon(kAnchor, "Input Error", "Invalid character 'b'", BALLOON_ICON_ERROR);
    Tick(balloon, 4);
    QCOMPARE(balloon.EntryRemaining(1), 3000u);

    balloon.ShowBalloon(kAnchor, "Input Error", "Invalid character 'a'", BALLOON_ICON_WARNING);
    QCOMPARE(balloon.EntryCount(), 2);
    QCOMPARE(balloon.EntryText(1), QString("Invalid character 'a'"));
    QCOMPARE(balloon.EntryRemaining(1), 5000u);
    QCOMPARE(balloon.EntryIcon(1), int(BALLOON_ICON_WARNING));
    QCOMPARE(balloon.EntryRemaining(0), 3000u);

    // Title and text must both match, case included.
    balloon.ShowBalloon(kAnchor, "input error", "Invalid character 'a'", BALLOON_ICON_ERROR);
    QCOMPARE(balloon.EntryCount(), 3);
}

void BalloonWndTest::expiredEntryShrinksTheBalloon() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "Data Invalid", "A much longer report text that widens it",
                        BALLOON_ICON_ERROR);
    Tick(balloon, 4);  // 3000 ms left
    balloon.ShowBalloon(kAnchor, "Note", "short", BALLOON_ICON_INFO);
    const QSize both = balloon.size();

    Tick(balloon, 6);  // the older one runs out, the newer has 2000 ms
    QCOMPARE(balloon.LiveEntryCount(), 1);
    QCOMPARE(balloon.EntryCount(), 2);  // kept, no longer drawn
    QCOMPARE(balloon.EntryRemaining(0), 2000u);
    QVERIFY(balloon.height() < both.height());
    QVERIFY(balloon.width() < both.width());
    QVERIFY(balloon.isVisible());
    QVERIFY(balloon.IsCountingDown());
}

void BalloonWndTest::fadesOutInFifteenTicksAndForgets() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "Data Invalid", "MaxValue Must <= 15", BALLOON_ICON_ERROR);
    Tick(balloon, 9);
    QVERIFY(balloon.IsCountingDown());
    Tick(balloon, 1);  // 5000 ms gone
    QVERIFY(!balloon.IsCountingDown());
    QVERIFY(balloon.IsFading());
    QCOMPARE(balloon.Opacity(), 255);

    for (int i = 0; i < 14; ++i) balloon.OnFadeTick();
    QVERIFY(balloon.isVisible());
    QCOMPARE(balloon.Opacity(), 255 - 14 * 17);
    QVERIFY(qAbs(balloon.windowOpacity() - (255 - 14 * 17) / 255.0) < 0.01);
    balloon.OnFadeTick();
    QVERIFY(!balloon.isVisible());
    QVERIFY(!balloon.IsFading());
    QCOMPARE(balloon.EntryCount(), 0);
}

void BalloonWndTest::hoverHoldsAndLeavingGrantsTwoSeconds() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "A", "first", BALLOON_ICON_ERROR);
    Tick(balloon, 4);
    balloon.ShowBalloon(kAnchor, "B", "second", BALLOON_ICON_ERROR);
    Tick(balloon, 6);  // A expired, B at 2000 ms
    Tick(balloon, 4);  // B expired too: fading
    QVERIFY(balloon.IsFading());
    for (int i = 0; i < 5; ++i) balloon.OnFadeTick();
    QVERIFY(balloon.Opacity() < 255);

    Enter(balloon);
    QVERIFY(balloon.IsHovering());
    QCOMPARE(balloon.Opacity(), 255);
    QVERIFY(!balloon.IsFading());
    QVERIFY(!balloon.IsCountingDown());

    Leave(balloon);
    QVERIFY(!balloon.IsHovering());
    QVERIFY(balloon.IsCountingDown());
    for (int i = 0; i < balloon.EntryCount(); ++i) QVERIFY(balloon.EntryRemaining(i) >= 2000u);

    // Entries with more time left keep it.
    balloon.ShowBalloon(kAnchor, "C", "third", BALLOON_ICON_ERROR);
    Enter(balloon);
    Leave(balloon);
    QCOMPARE(balloon.EntryRemaining(0), 5000u);
}

void BalloonWndTest::closeBoxHidesAndForgets() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "A", "first", BALLOON_ICON_ERROR);
    balloon.ShowBalloon(kAnchor, "B", "second", BALLOON_ICON_ERROR);
    const QPoint inside = balloon.CloseBox().center();

    QTest::mouseMove(&balloon, inside);
    QTest::mouseClick(&balloon, Qt::LeftButton, {}, QPoint(5, 40));  // outside: nothing
    QVERIFY(balloon.isVisible());
    QTest::mouseClick(&balloon, Qt::LeftButton, {}, inside);
    QVERIFY(!balloon.isVisible());
    QCOMPARE(balloon.EntryCount(), 0);
    QVERIFY(!balloon.IsCountingDown());

    balloon.ShowBalloon(kAnchor, "C", "third", BALLOON_ICON_ERROR);
    QCOMPARE(balloon.EntryCount(), 1);
    QVERIFY(!balloon.IsHovering());
    QVERIFY(!balloon.IsCloseHot());
}

void BalloonWndTest::hidingTheOwnerHidesTheBalloon() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "A", "first", BALLOON_ICON_ERROR);
    QVERIFY(balloon.isVisible());
    owner.window.hide();
    QVERIFY(!balloon.isVisible());
    QCOMPARE(balloon.EntryCount(), 0);
    QVERIFY(!balloon.IsCountingDown());

    // Nothing to point at while the owner is away.
    balloon.ShowBalloon(kAnchor, "B", "second", BALLOON_ICON_ERROR);
    QVERIFY(!balloon.isVisible());
}

void BalloonWndTest::neverTakesTheFocus() {
    Owner owner;
    QVERIFY(owner.active);
    QCOMPARE(QApplication::focusWidget(), owner.field);
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "A", "first", BALLOON_ICON_INFO);
    QTest::mouseClick(&balloon, Qt::LeftButton, {}, QPoint(5, 40));
    QCOMPARE(QApplication::focusWidget(), owner.field);
    QCOMPARE(QApplication::activeWindow(), &owner.window);
    QVERIFY(balloon.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(balloon.windowFlags() & Qt::WindowDoesNotAcceptFocus);
}

void BalloonWndTest::shapeLeavesOutTheKeyColour() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "Data Invalid", "MinValue Must >= 1", BALLOON_ICON_ERROR);
    const QImage& image = balloon.Image();
    const QRegion shape = balloon.mask();
    const int w = image.width(), h = image.height();
    QCOMPARE(balloon.size(), image.size());

    // Corners beside the tail and of the rounded body are outside.
    for (QPoint p : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, 20), QPoint(w - 1, 20),
                     QPoint(0, h - 1), QPoint(w - 1, h - 1), QPoint(35, 5)}) {
        QVERIFY2(CBalloonWnd::IsKeyColor(image.pixel(p)),
                 qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
        QVERIFY(!shape.contains(p));
    }
    // The tail, the body and its outline are inside.
    for (QPoint p : {QPoint(20, 0), QPoint(22, 15), QPoint(30, 20), QPoint(w / 2, h / 2),
                     QPoint(w / 2, 20), QPoint(w / 2, h - 1), QPoint(0, h / 2)}) {
        QVERIFY2(shape.contains(p), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
    }
    // The body's top edge is open under the tail.
    QCOMPARE(image.pixelColor(30, 20), QColor(Qt::white));
    QCOMPARE(image.pixelColor(w / 2, 20), QColor(Qt::black));

    // The key rule allows a little green and blue.
    QVERIFY(CBalloonWnd::IsKeyColor(qRgb(255, 16, 16)));
    QVERIFY(!CBalloonWnd::IsKeyColor(qRgb(255, 17, 0)));
    QVERIFY(!CBalloonWnd::IsKeyColor(qRgb(254, 0, 0)));
}

void BalloonWndTest::regionFromManyRunsIsExact() {
    // A checkered image: far more than one block of 2000 runs.
    QImage image(120, 80, QImage::Format_RGB888);
    int expectedArea = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool key = ((x / 3) + y) % 2 == 0;
            image.setPixelColor(x, y, key ? QColor(255, 10, 5) : QColor(0, 0, 255));
            if (!key) ++expectedArea;
        }
    }
    const QRegion region = CBalloonWnd::RegionFromImage(image);
    int area = 0;
    for (const QRect& r : region) area += r.width() * r.height();
    QCOMPARE(area, expectedArea);
    QVERIFY(region.contains(QPoint(3, 0)));
    QVERIFY(!region.contains(QPoint(0, 0)));
    QVERIFY(region.contains(QPoint(119, 79)) == (((119 / 3) + 79) % 2 != 0));

    QImage empty(10, 10, QImage::Format_RGB888);
    empty.fill(QColor(255, 0, 0));
    QVERIFY(CBalloonWnd::RegionFromImage(empty).isEmpty());
}

void BalloonWndTest::lineBreaksMakeTwoLines() {
    Owner owner;
    CBalloonWnd balloon(&owner.window);
    balloon.ShowBalloon(kAnchor, "T", "one line", BALLOON_ICON_NONE);
    const int single = balloon.EntryTextBox(0).height();
    balloon.ShowBalloon(kAnchor, "T", "first line\nsecond line", BALLOON_ICON_NONE);
    const int twoLines = balloon.EntryTextBox(0).height();
    QVERIFY2(twoLines >= 2 * (single - 2),
             qPrintable(QString("%1 vs %2").arg(twoLines).arg(single)));
}

QTEST_MAIN(BalloonWndTest)
#include "BalloonWndTest.moc"
