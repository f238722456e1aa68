// The resize tool on a real widget tree: proportional rectangles, fonts by
// the smaller factor, exact return to the recorded layout.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>

#include "controls/WndResizeTool.h"

namespace {

constexpr int kReferenceWidth = 400;
constexpr int kReferenceHeight = 300;

// A window like the main one: loose controls and a page with controls of
// its own, one of them with an explicit pixel-sized font.
struct TestWindow {
    QWidget window;
    QPushButton* button;
    QWidget* page;
    QLineEdit* edit;
    QLabel* pixelLabel;
    QComboBox* combo;
    std::vector<QWidget*> recorded;

    TestWindow() {
        window.resize(kReferenceWidth, kReferenceHeight);
        QFont font = window.font();
        font.setPointSize(10);
        window.setFont(font);
        button = new QPushButton(QStringLiteral("Connect"), &window);
        button->setGeometry(11, 7, 73, 23);
        page = new QWidget(&window);
        page->setGeometry(101, 3, 297, 295);
        edit = new QLineEdit(page);
        edit->setGeometry(13, 17, 57, 21);
        pixelLabel = new QLabel(QStringLiteral("m"), page);
        pixelLabel->setGeometry(77, 41, 33, 13);
        QFont pixelFont = pixelLabel->font();
        pixelFont.setPixelSize(13);
        pixelLabel->setFont(pixelFont);
        combo = new QComboBox(&window);
        combo->setGeometry(5, 200, 67, 22);
        combo->addItem(QStringLiteral("ttyS0"));
        recorded = {button, page, edit, pixelLabel, combo};
    }

    void Record(CWndResizeTool& tool) {
        tool.ClearChildren();
        tool.SetReferenceSize(kReferenceWidth, kReferenceHeight);
        tool.RegisterChildren(&window);
        tool.SetOwner(&window);
        tool.Enable();
    }

    std::vector<QRect> Rects() const {
        std::vector<QRect> rects;
        for (QWidget* widget : recorded) rects.push_back(widget->geometry());
        return rects;
    }

    std::vector<QFont> Fonts() const {
        std::vector<QFont> fonts;
        for (QWidget* widget : recorded) fonts.push_back(widget->font());
        return fonts;
    }
};

double PointSize(const QWidget* widget) { return widget->font().pointSizeF(); }

}  // namespace

class WndResizeToolTest : public QObject {
    Q_OBJECT

private slots:
    void recordsDescendantsDepthFirstInChildOrder() {
        TestWindow test;
        auto* popup = new QWidget(&test.window, Qt::Popup);  // a window of its own
        popup->setGeometry(0, 0, 10, 10);
        CWndResizeTool tool;
        test.Record(tool);
        QCOMPARE(tool.RecordedCount(), 5);
        QCOMPARE(tool.RecordedRect(0), QRect(11, 7, 73, 23));
        QCOMPARE(tool.RecordedRect(1), QRect(101, 3, 297, 295));
        QCOMPARE(tool.RecordedRect(2), QRect(13, 17, 57, 21));  // in the page's coordinates
        QCOMPARE(tool.RecordedRect(3), QRect(77, 41, 33, 13));
        QCOMPARE(tool.RecordedRect(4), QRect(5, 200, 67, 22));
        QCOMPARE(tool.RecordedRect(5), QRect());
        test.Record(tool);  // clearing first: nothing is recorded twice
        QCOMPARE(tool.RecordedCount(), 5);
    }

    void doublingTheWidthKeepsHeightsAndFonts() {
        TestWindow test;
        CWndResizeTool tool;
        test.Record(tool);
        const std::vector<QRect> before = test.Rects();
        const std::vector<QFont> fonts = test.Fonts();
        double sx = 0, sy = 0;
        QVERIFY(tool.ResizeChildren(2 * kReferenceWidth, kReferenceHeight, &sx, &sy));
        QCOMPARE(sx, 2.0);
        QCOMPARE(sy, 1.0);
        const std::vector<QRect> after = test.Rects();
        for (size_t i = 0; i < before.size(); ++i) {
            QCOMPARE(after[i].x(), 2 * before[i].x());
            QCOMPARE(after[i].width(), 2 * before[i].width());
            QCOMPARE(after[i].y(), before[i].y());
            QCOMPARE(after[i].height(), before[i].height());
            QCOMPARE(test.recorded[i]->font().pointSizeF(), fonts[i].pointSizeF());
            QCOMPARE(test.recorded[i]->font().pixelSize(), fonts[i].pixelSize());
        }
    }

    void fontsFollowTheSmallerFactor() {
        TestWindow test;
        CWndResizeTool tool;
        test.Record(tool);
        double sx = 0, sy = 0;
        QVERIFY(tool.ResizeChildren(2 * kReferenceWidth, 2 * kReferenceHeight, &sx, &sy));
        QCOMPARE(PointSize(test.button), 20.0);
        QCOMPARE(PointSize(test.edit), 20.0);
        QCOMPARE(test.pixelLabel->font().pixelSize(), 26);
        QCOMPARE(test.edit->geometry(), QRect(26, 34, 114, 42));

        // Half the height with a wider window: the height decides.
        QVERIFY(tool.ResizeChildren(3 * kReferenceWidth, kReferenceHeight / 2, &sx, &sy));
        QCOMPARE(sy, 0.5);
        QCOMPARE(PointSize(test.button), 5.0);
        QCOMPARE(test.pixelLabel->font().pixelSize(), 6);  // 6.5 truncated
        QCOMPARE(test.button->geometry(), QRect(33, 3, 219, 12));
    }

    void theReferenceSizeRestoresEverythingExactly() {
        TestWindow test;
        CWndResizeTool tool;
        test.Record(tool);
        const std::vector<QRect> rects = test.Rects();
        const std::vector<QFont> fonts = test.Fonts();
        QRandomGenerator random(20240611);
        double sx = 0, sy = 0;
        for (int i = 0; i < 200; ++i)
            QVERIFY(
                tool.ResizeChildren(random.bounded(1, 2000), random.bounded(1, 1500), &sx, &sy));
        QVERIFY(test.Rects() != rects);
        QVERIFY(tool.ResizeChildren(kReferenceWidth, kReferenceHeight, &sx, &sy));
        QCOMPARE(sx, 1.0);
        QCOMPARE(sy, 1.0);
        QCOMPARE(test.Rects(), rects);
        for (size_t i = 0; i < fonts.size(); ++i) {
            QCOMPARE(test.recorded[i]->font().pointSizeF(), fonts[i].pointSizeF());
            QCOMPARE(test.recorded[i]->font().pixelSize(), fonts[i].pixelSize());
            QCOMPARE(test.recorded[i]->font().family(), fonts[i].family());
        }
        QVERIFY(test.window.updatesEnabled());
    }

    void nothingMovesBeforeEnablingOrWithoutAReferenceSize() {
        TestWindow test;
        const std::vector<QRect> rects = test.Rects();
        CWndResizeTool tool;
        double sx = 0, sy = 0;
        QVERIFY(!tool.ResizeChildren(800, 600, &sx, &sy));
        QCOMPARE(sx, 1.0);
        QCOMPARE(sy, 1.0);

        // Recorded while the window had no size yet.
        tool.SetReferenceSize(0, 0);
        tool.RegisterChildren(&test.window);
        tool.SetOwner(&test.window);
        tool.Enable();
        QVERIFY(tool.IsEnabled());
        QVERIFY(!tool.ResizeChildren(800, 600, &sx, &sy));
        QCOMPARE(sx, 1.0);
        QCOMPARE(sy, 1.0);
        tool.SetReferenceSize(400, 0);
        QVERIFY(!tool.ResizeChildren(800, 600, &sx, &sy));
        QCOMPARE(test.Rects(), rects);
        QVERIFY(std::isfinite(PointSize(test.button)));
        QCOMPARE(PointSize(test.button), 10.0);
        QVERIFY(test.window.updatesEnabled());
    }

    void destroyedWidgetsAreSkipped() {
        TestWindow test;
        CWndResizeTool tool;
        test.Record(tool);
        delete test.edit;
        double sx = 0, sy = 0;
        QVERIFY(tool.ResizeChildren(2 * kReferenceWidth, 2 * kReferenceHeight, &sx, &sy));
        QCOMPARE(test.pixelLabel->geometry(), QRect(154, 82, 66, 26));
        QCOMPARE(tool.RecordedCount(), 5);
    }

    void layoutsAndScrollAreasPlaceTheirOwnChildren() {
        QWidget window;
        window.resize(kReferenceWidth, kReferenceHeight);
        auto* panel = new QWidget(&window);
        panel->setGeometry(0, 0, 200, 100);
        auto* layout = new QVBoxLayout(panel);
        layout->addWidget(new QLabel(QStringLiteral("laid out")));
        auto* list = new QTreeWidget(&window);
        list->setGeometry(0, 100, 200, 100);
        CWndResizeTool tool;
        tool.SetReferenceSize(kReferenceWidth, kReferenceHeight);
        tool.RegisterChildren(&window);
        QCOMPARE(tool.RecordedCount(), 2);  // the panel and the list only
        tool.Enable();
        double sx = 0, sy = 0;
        QVERIFY(tool.ResizeChildren(2 * kReferenceWidth, 2 * kReferenceHeight, &sx, &sy));
        QCOMPARE(list->geometry(), QRect(0, 200, 400, 200));
        // The list's inner parts inherit the scaled font.
        QCOMPARE(list->viewport()->font().pointSizeF(), list->font().pointSizeF());
    }
};

QTEST_MAIN(WndResizeToolTest)
#include "WndResizeToolTest.moc"
