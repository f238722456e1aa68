#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "controls/XListCtrl.h"
#include "realtime/SensingCollectorDlg.h"
#include "ui/Strings.h"

namespace {

namespace sc = sensing_collector;

// Records each call and whether the dialog was already hidden by then.
struct ListenerRecorder : ISensingCollectorDlgListener {
    void OnSensingCollectorDlgOK(uint64_t userValue) override {
        ++calls;
        lastValue = userValue;
        hiddenWhenCalled = dialog && !dialog->isVisible();
    }
    CSensingCollectorDlg* dialog = nullptr;
    int calls = 0;
    uint64_t lastValue = 0;
    bool hiddenWhenCalled = false;
};

}  // namespace

class SensingCollectorDlgTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        SetUiLanguage(UiLanguage::English);
        m_main = std::make_unique<QWidget>();
        m_main->resize(400, 300);
        m_main->show();
        m_dialog = std::make_unique<CSensingCollectorDlg>(m_main.get());
        QVERIFY(m_dialog->Create());
        m_listener.dialog = m_dialog.get();
        m_listener.calls = 0;
    }
    void cleanup() {
        m_dialog.reset();
        m_main.reset();
    }

    void gateTableLayoutFollowsTheListSize() {
        // 180 pixels high: rows of 180 / 12 - 1 = 14 pixels.
        const sc::GateTableLayout layout = sc::LayOutGateTable(403, 180);
        QCOMPARE(layout.rowHeight, 14);
        QCOMPARE(layout.usableWidth, 400);
        QCOMPARE(layout.columnWidths[0], 120);
        QCOMPARE(layout.columnWidths[1], 140);
        QCOMPARE(layout.columnWidths[2], 140);
        // Widths are truncated, never rounded up past the usable width.
        const sc::GateTableLayout odd = sc::LayOutGateTable(104, 23);
        QCOMPARE(odd.columnWidths[0] + odd.columnWidths[1] + odd.columnWidths[2] <= 101, true);
        QCOMPARE(odd.rowHeight, 0);
    }

    void tableStartsWithSixteenGatesAtZero() {
        CXListCtrl* list = m_dialog->List();
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Calculate Threshold"));
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("Range Gate"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Trigger Energy"));
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("Hold Energy"));
        QCOMPARE(list->topLevelItemCount(), 16);
        for (int gate = 0; gate < 16; ++gate) {
            QCOMPARE(list->CellText(gate, 0), QString::number(gate));
            QCOMPARE(list->CellText(gate, 1), QStringLiteral("0.00"));
            QCOMPARE(list->CellText(gate, 2), QStringLiteral("0.00"));
        }
        QCOMPARE(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(list->MinimumRowHeight(), list->contentsRect().height() / 12 - 1);
        QCOMPARE(m_dialog->Progress()->minimum(), 0);
        QCOMPARE(m_dialog->Progress()->maximum(), 100);
        // Columns share the width 0.3 / 0.35 / 0.35 and leave no need to scroll sideways.
        QVERIFY(list->columnWidth(1) == list->columnWidth(2));
        QVERIFY(list->columnWidth(0) < list->columnWidth(1));
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QVERIFY(!list->horizontalScrollBar()->isVisible());
        QVERIFY(list->visualItemRect(list->topLevelItem(0)).height() >= list->MinimumRowHeight());
    }

    void rowsShowTwoDecimals() {
        m_dialog->SetRow(3, 26.98970004, 25.440680443);
        QCOMPARE(m_dialog->List()->CellText(3, 1), QStringLiteral("26.99"));
        QCOMPARE(m_dialog->List()->CellText(3, 2), QStringLiteral("25.44"));
        m_dialog->SetRow(16, 1.0, 1.0);  // no such gate: nothing changes
        m_dialog->SetRow(-1, 1.0, 1.0);
        QCOMPARE(m_dialog->List()->topLevelItemCount(), 16);
    }

    void okHidesFirstThenTellsTheListener() {
        // Without a listener OK only hides.
        m_dialog->show();
        m_dialog->OkButton()->click();
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_main->isEnabled());

        m_dialog->SetListener(&m_listener, 7);
        m_dialog->show();
        QVERIFY(!m_main->isEnabled());
        QVERIFY(m_dialog->isEnabled());
        m_dialog->OkButton()->click();
        QCOMPARE(m_listener.calls, 1);
        QCOMPARE(m_listener.lastValue, uint64_t(7));
        QVERIFY(m_listener.hiddenWhenCalled);
        QVERIFY(m_main->isEnabled());
    }

    void cancelEscapeAndClosingHideWithoutTheListener() {
        m_dialog->SetListener(&m_listener);
        m_dialog->show();
        m_dialog->CancelButton()->click();
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_main->isEnabled());

        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QVERIFY(!m_main->isEnabled());
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_main->isEnabled());

        m_dialog->show();
        m_dialog->SetRow(0, 12.0, 11.0);
        m_dialog->close();
        QVERIFY(!m_dialog->isVisible());
        QVERIFY(m_main->isEnabled());
        QCOMPARE(m_listener.calls, 0);
        // The table keeps its contents while hidden.
        QCOMPARE(m_dialog->List()->CellText(0, 1), QStringLiteral("12.00"));
    }

    void chineseTemplateAndTitles() {
        SetUiLanguage(UiLanguage::Chinese);
        CSensingCollectorDlg dialog(m_main.get());
        QVERIFY(dialog.Create());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("门限采集"));
        QCOMPARE(dialog.List()->headerItem()->text(0), QStringLiteral("距离门"));
        QCOMPARE(dialog.OkButton()->text(), QStringLiteral("确定"));
        QCOMPARE(dialog.List()->topLevelItemCount(), 16);
    }

private:
    std::unique_ptr<QWidget> m_main;
    std::unique_ptr<CSensingCollectorDlg> m_dialog;
    ListenerRecorder m_listener;
};

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    SensingCollectorDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SensingCollectorDlgTest.moc"
