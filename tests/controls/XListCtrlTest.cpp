#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

#include <cstdlib>

#include "controls/XListCtrl.h"

namespace {

constexpr int kRows = 4;

// A shown list of three centred columns and a few rows, beside an edit that
// can take the focus away from it.
struct ListWindow {
    ListWindow() {
        auto* layout = new QVBoxLayout(&window);
        list = new CXListCtrl(&window);
        other = new QLineEdit(&window);
        layout->addWidget(list);
        layout->addWidget(other);
        list->AddCentredColumn(0, QStringLiteral("Range Gate"), 60);
        list->AddCentredColumn(1, QStringLiteral("Trigger Energy"), 90);
        list->AddCentredColumn(2, QStringLiteral("Hold Energy"), 90);
        for (int row = 0; row < kRows; ++row) {
            list->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::number(row)}));
            list->SetCellText(row, 1, QStringLiteral("0.00"));
        }
        list->SetMinimumRowHeight(20);
        window.resize(300, 260);
        window.show();
    }
    QImage Picture() const { return list->viewport()->grab().toImage(); }
    // A pixel inside the cell's fill, left of any centred text.
    QRgb CellFill(int row, int column) const {
        const QRect cell = list->visualRect(list->model()->index(row, column));
        return Picture().pixel(cell.left() + 3, cell.center().y());
    }

    QWidget window;
    CXListCtrl* list = nullptr;
    QLineEdit* other = nullptr;
};

}  // namespace

class XListCtrlTest : public QObject {
    Q_OBJECT
private slots:
    void cellsAlternateTheirColoursAndKeepTheirTextInside() {
        ListWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QCOMPARE(w.CellFill(0, 0), CXListCtrl::kEvenBackground);
        QCOMPARE(w.CellFill(1, 0), CXListCtrl::kOddBackground);
        QCOMPARE(w.CellFill(2, 2), CXListCtrl::kEvenBackground);
        QCOMPARE(w.list->ColorsFor(0, false).text.rgba(), CXListCtrl::kEvenText);
        QCOMPARE(w.list->ColorsFor(1, false).text.rgba(), CXListCtrl::kOddText);
        // The cell text is drawn in the row's text colour.
        const QRect cell = w.list->visualRect(w.list->model()->index(1, 1));
        QImage picture = w.Picture();
        bool inked = false;
        for (int x = cell.left(); x <= cell.right() && !inked; ++x)
            for (int y = cell.top(); y <= cell.bottom() && !inked; ++y)
                inked = qRed(picture.pixel(x, y)) > 150 && qGreen(picture.pixel(x, y)) < 100;
        QVERIFY(inked);

        for (int column = 0; column < 3; ++column)
            QCOMPARE(w.list->ColumnAlignment(column), Qt::Alignment(Qt::AlignHCenter));
        // A text far wider than its column stays inside it.
        w.list->SetCellText(0, 1, QString(60, QChar('W')));
        const QRect next = w.list->visualRect(w.list->model()->index(0, 2));
        picture = w.Picture();
        for (int x = next.left() + 3; x < next.left() + 12; ++x)
            QCOMPARE(picture.pixel(x, next.center().y()), CXListCtrl::kEvenBackground);

        // Rows are at least the minimum high.
        w.list->SetMinimumRowHeight(40);
        QVERIFY(QTest::qWaitFor(
            [&] { return w.list->visualRect(w.list->model()->index(0, 0)).height() >= 40; }));
    }

    void selectionShowsOnlyWhileTheListHasTheFocus() {
        ListWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        w.window.activateWindow();
        w.list->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return w.list->hasFocus(); }));
        w.list->setCurrentItem(w.list->topLevelItem(1));
        const QRgb highlight = w.list->ColorsFor(1, true).background.rgba();
        QVERIFY(highlight != CXListCtrl::kOddBackground);
        QCOMPARE(w.CellFill(1, 0), highlight);
        QCOMPARE(w.CellFill(1, 2), highlight);  // the whole row
        w.other->setFocus();
        QVERIFY(QTest::qWaitFor([&] { return !w.list->hasFocus(); }));
        QCOMPARE(w.CellFill(1, 0), CXListCtrl::kOddBackground);
        QVERIFY(w.list->topLevelItem(1)->isSelected());
    }

    void clickBelowTheLastRowKeepsTheSelection() {
        ListWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QRect second = w.list->visualRect(w.list->model()->index(1, 0));
        QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, second.center());
        QVERIFY(w.list->topLevelItem(1)->isSelected());
        const QRect last = w.list->visualRect(w.list->model()->index(kRows - 1, 0));
        const QPoint below(last.center().x(), last.bottom() + 15);
        QVERIFY(below.y() < w.list->viewport()->height());
        QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, below);
        QTest::mouseDClick(w.list->viewport(), Qt::LeftButton, {}, below);
        QVERIFY(w.list->topLevelItem(1)->isSelected());
        QCOMPARE(w.list->selectedItems().size(), 1);
    }

    void cellTextOnlyWithinRangeAndTooltipsFollowTheText() {
        ListWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QCOMPARE(w.list->SetCellText(kRows, 0, QStringLiteral("x")), 0);
        QCOMPARE(w.list->SetCellText(0, 3, QStringLiteral("x")), 0);
        QCOMPARE(w.list->SetCellText(-1, 0, QStringLiteral("x")), 0);
        QCOMPARE(w.list->SetCellText(2, 2, QStringLiteral("12.50")), 1);
        QCOMPARE(w.list->CellText(2, 2), QStringLiteral("12.50"));
        QCOMPARE(w.list->TooltipText(2, 2), QStringLiteral("12.50"));
        QVERIFY(w.list->TooltipText(3, 2).isEmpty());  // an empty cell has none
        w.list->SetCellText(0, 2, QString(200, QChar('7')));
        QCOMPARE(w.list->TooltipText(0, 2).size(), CXListCtrl::kTooltipLength);
        w.list->RedrawCell(99, 99);  // out of range: nothing happens

        // Hovering a cell shows its text; an empty cell, nothing.
        w.list->SetCellText(1, 1, QStringLiteral("26.99"));
        auto hover = [&](int row, int column) {
            const QPoint at = w.list->visualRect(w.list->model()->index(row, column)).center();
            QHelpEvent help(QEvent::ToolTip, at, w.list->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(w.list->viewport(), &help);
        };
        hover(1, 1);
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("26.99"));
        hover(1, 2);  // never given a text
        QVERIFY(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
    }

    void headerTitlesAreBlueWithEtchedSeparators() {
        ListWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        CXHeaderCtrl* header = w.list->Header();
        QCOMPARE(header->ItemsWidth(), 240);
        const QImage picture = header->viewport()->grab().toImage();
        int blue = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < 60; ++x)
                if (qBlue(picture.pixel(x, y)) > 200 && qRed(picture.pixel(x, y)) < 80) ++blue;
        QVERIFY(blue > 5);
        // The separator after the first title: shadow, then highlight.
        const int y = picture.height() / 2;
        QCOMPARE(picture.pixel(59, y), header->palette().color(QPalette::Dark).rgba());
        QCOMPARE(picture.pixel(60, y), header->palette().color(QPalette::Light).rgba());
        // The centred title leaves the cell's left part face-coloured.
        QCOMPARE(picture.pixel(3, y), header->palette().color(QPalette::Button).rgba());
    }
};

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    XListCtrlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "XListCtrlTest.moc"
