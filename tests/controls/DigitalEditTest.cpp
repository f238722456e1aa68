#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

#include "controls/BalloonWnd.h"
#include "controls/DigitalEdit.h"

namespace {

// A page as the dialogs build it: two numeric fields on a widget that
// declares itself a dialog.
struct Page {
    explicit Page(bool dialog) {
        widget.setProperty("kvelDialog", dialog);
        first = new CDigitalEdit(&widget);
        first->setObjectName("2002");
        first->setGeometry(10, 10, 80, 24);
        second = new CDigitalEdit(&widget);
        second->setObjectName("2003");
        second->setGeometry(10, 50, 80, 24);
        widget.resize(200, 120);
        widget.show();
        widget.activateWindow();
        active = QTest::qWaitForWindowActive(&widget);
    }
    bool active = false;
    QWidget widget;
    CDigitalEdit* first = nullptr;
    CDigitalEdit* second = nullptr;
};

void UseGateLimits(CDigitalEdit* edit) {
    edit->SetValueType(DIGITAL_UINT32);
    edit->SetMinValue(DigitalCellFromUInt32(0), 1e-16);
    edit->SetMaxValue(DigitalCellFromUInt32(15), 1e-16);
}

void UseThresholdLimits(CDigitalEdit* edit) {
    edit->SetValueType(DIGITAL_DOUBLE);
    edit->SetMinValue(DigitalCellFromDouble(1.0), 1e-16);
    edit->SetMaxValue(DigitalCellFromDouble(90.0), 1e-16);
}

QString LastReport(CDigitalEdit* edit) {
    CBalloonWnd* balloon = edit->Balloon();
    if (!balloon || balloon->EntryCount() == 0) return {};
    return balloon->EntryTitle(0) + ": " + balloon->EntryText(0);
}

void Paste(CDigitalEdit* edit, const QString& text) {
    QApplication::clipboard()->setText(text);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

}  // namespace

class DigitalEditTest : public QObject {
    Q_OBJECT
private slots:
    void brokenMaximumIsCorrectedAndNotifiedOnce();
    void emptiedThresholdBecomesTheMinimum();
    void integerLimitsAllowHalfAUnit();
    void pastedTextCountsOnlyItsLeadingNumber();
    void numbersThatAreNotFiniteBreakTheMinimum();
    void inputMethodTextIsFilteredLikeKeystrokes();
    void minusOnlyInFrontAndNeverOnUnsigned();
    void secondDecimalPointIsRejected();
    void lettersAndBlanksAreRejectedByName();
    void rejectedKeystrokeRestoresTextAndCursor();
    void untouchedFieldSendsNothing();
    void textSetByCodeSendsNothing();
    void deleteKeyMakesAnEntry();
    void tabMovesFocusOnlyOnADialog();
    void reportPointsAtTheFieldAndKeepsTheFocus();
    void countDecimals();
    void dialogItemsAsDoubles();
    void leadingNumberIgnoresTheLocale();
};

void DigitalEditTest::brokenMaximumIsCorrectedAndNotifiedOnce() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setFocus();
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);

    QTest::keyClicks(page.first, "16");
    QCOMPARE(committed.count(), 0);  // keystrokes are not entries
    QTest::keyClick(page.first, Qt::Key_Tab);

    QCOMPARE(page.first->text(), QString("15"));
    QCOMPARE(committed.count(), 1);
    QCOMPARE(LastReport(page.first), QString("Data Invalid: MaxValue Must <= 15"));
    QCOMPARE(page.first->Balloon()->EntryIcon(0), int(BALLOON_ICON_ERROR));
    QVERIFY(page.second->hasFocus());
}

void DigitalEditTest::emptiedThresholdBecomesTheMinimum() {
    Page page(true);
    QVERIFY(page.active);
    UseThresholdLimits(page.first);
    page.first->setText("30");
    page.first->setFocus();
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);

    QTest::keyClick(page.first, Qt::Key_End);
    QTest::keyClick(page.first, Qt::Key_Backspace);
    QTest::keyClick(page.first, Qt::Key_Backspace);
    QCOMPARE(page.first->text(), QString());
    page.second->setFocus();

    QCOMPARE(page.first->text(), QString("1"));
    QCOMPARE(committed.count(), 1);
    QCOMPARE(LastReport(page.first), QString("Data Invalid: MinValue Must >= 1"));

    // A fractional limit prints with the decimals it needs.
    page.first->SetMaxValue(DigitalCellFromDouble(12.25), 1e-16);
    page.first->setFocus();
    QTest::keyClicks(page.first, "3");  // "13"
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("12.25"));
    QCOMPARE(LastReport(page.first), QString("Data Invalid: MaxValue Must <= 12.25"));
}

void DigitalEditTest::integerLimitsAllowHalfAUnit() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);

    page.first->setFocus();
    Paste(page.first, "15.5");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("15.5"));
    QCOMPARE(committed.count(), 1);
    QVERIFY(!page.first->Balloon());

    page.first->setFocus();
    Paste(page.first, "15.6");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("15"));
    QCOMPARE(committed.count(), 2);

    // The same slack below the minimum, on a signed field.
    page.first->SetValueType(DIGITAL_INT32);
    page.first->SetMinValue(DigitalCellFromInt32(-3), 0);
    page.first->setFocus();
    Paste(page.first, "-3.5");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("-3.5"));
    page.first->setFocus();
    Paste(page.first, "-3.51");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("-3"));
    QCOMPARE(LastReport(page.first), QString("Data Invalid: MinValue Must >= -3"));
}

void DigitalEditTest::pastedTextCountsOnlyItsLeadingNumber() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setFocus();
    Paste(page.first, "12abc");
    QCOMPARE(page.first->text(), QString("12abc"));  // not filtered while typing
    QVERIFY(!page.first->Balloon());
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("12abc"));  // 12 is within the limits

    page.first->setFocus();
    Paste(page.first, "99x");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("15"));

    // A 64-bit unsigned limit above the signed range keeps its size.
    page.first->SetValueType(DIGITAL_UINT64);
    page.first->SetMaxValue(DigitalCellFromUInt64(18000000000000000000ull), 0);
    page.first->setFocus();
    Paste(page.first, "17000000000000000000");
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("17000000000000000000"));
}

void DigitalEditTest::numbersThatAreNotFiniteBreakTheMinimum() {
    Page page(true);
    QVERIFY(page.active);
    UseThresholdLimits(page.first);
    for (const char* pasted : {"nan", "inf", "-inf", "NaN"}) {
        page.first->setFocus();
        Paste(page.first, pasted);
        page.second->setFocus();
        QCOMPARE(page.first->text(), QString("1"));
        QCOMPARE(LastReport(page.first), QString("Data Invalid: MinValue Must >= 1"));
    }
}

void DigitalEditTest::inputMethodTextIsFilteredLikeKeystrokes() {
    Page page(true);
    QVERIFY(page.active);
    UseThresholdLimits(page.first);
    page.first->setFocus();
    auto commit = [&](const QString& text) {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(page.first, &event);
    };
    commit("12");
    QCOMPARE(page.first->text(), QString("12"));
    QVERIFY(page.first->IsEdited());
    // Digits before the first refused character stay; the rest is dropped.
    commit(QString::fromUtf8("3abc"));
    QCOMPARE(page.first->text(), QString("123"));
    QCOMPARE(LastReport(page.first), QString("Input Error: Invalid character 'a'"));
    commit(QString::fromUtf8("\u3002"));  // the full-width full stop
    QCOMPARE(page.first->text(), QString("123"));
    QCOMPARE(LastReport(page.first), QString::fromUtf8("Input Error: Invalid character '\u3002'"));
    page.second->setFocus();
    QCOMPARE(page.first->text(), QString("90"));  // committed, and corrected
}

void DigitalEditTest::minusOnlyInFrontAndNeverOnUnsigned() {
    Page page(false);
    QVERIFY(page.active);
    page.first->setFocus();

    page.first->SetValueType(DIGITAL_UINT32);
    QTest::keyClick(page.first, '-');
    QCOMPARE(page.first->text(), QString());
    QCOMPARE(LastReport(page.first), QString("Input Error: Invalid character '-'"));

    page.first->SetValueType(DIGITAL_INT32);
    QTest::keyClick(page.first, '-');
    QCOMPARE(page.first->text(), QString("-"));
    QTest::keyClicks(page.first, "12");
    QTest::keyClick(page.first, '-');
    QCOMPARE(page.first->text(), QString("-12"));

    page.first->setText("12");
    page.first->setCursorPosition(2);
    QTest::keyClick(page.first, '-');
    QCOMPARE(page.first->text(), QString("12"));

    // A digit in front of the minus is never tested for its place.
    page.first->setText("-5");
    page.first->setCursorPosition(0);
    QTest::keyClick(page.first, '3');
    QCOMPARE(page.first->text(), QString("3-5"));
    QCOMPARE(DigitalLeadingNumber(page.first->text()), 3.0);
}

void DigitalEditTest::secondDecimalPointIsRejected() {
    Page page(false);
    QVERIFY(page.active);
    page.first->setFocus();

    page.first->SetValueType(DIGITAL_UINT32);
    QTest::keyClick(page.first, '.');
    QCOMPARE(page.first->text(), QString());
    QCOMPARE(LastReport(page.first), QString("Input Error: Invalid character '.'"));

    page.first->SetValueType(DIGITAL_DOUBLE);
    page.first->setText("1.5");
    for (int position : {0, 1, 3}) {
        page.first->setCursorPosition(position);
        QTest::keyClick(page.first, '.');
        QCOMPARE(page.first->text(), QString("1.5"));
    }
    page.first->setText("15");
    page.first->setCursorPosition(1);
    QTest::keyClick(page.first, '.');
    QCOMPARE(page.first->text(), QString("1.5"));

    page.first->SetValueType(DIGITAL_FLOAT);
    page.first->setText("2");
    page.first->setCursorPosition(1);
    QTest::keyClick(page.first, '.');
    QCOMPARE(page.first->text(), QString("2."));
}

void DigitalEditTest::lettersAndBlanksAreRejectedByName() {
    Page page(false);
    QVERIFY(page.active);
    page.first->SetValueType(DIGITAL_DOUBLE);
    page.first->setFocus();
    QTest::keyClicks(page.first, "4a");
    QCOMPARE(page.first->text(), QString("4"));
    QCOMPARE(LastReport(page.first), QString("Input Error: Invalid character 'a'"));
    QTest::keyClick(page.first, ' ');
    QCOMPARE(page.first->text(), QString("4"));
    QCOMPARE(LastReport(page.first), QString("Input Error: Invalid character ' '"));
    QTest::keyClicks(page.first, "e+");
    QCOMPARE(page.first->text(), QString("4"));
    // The two reports stack; the latest is on top.
    QCOMPARE(page.first->Balloon()->EntryText(0), QString("Invalid character '+'"));
    QCOMPARE(page.first->Balloon()->EntryText(1), QString("Invalid character 'e'"));
}

void DigitalEditTest::rejectedKeystrokeRestoresTextAndCursor() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setText("1234");
    page.first->setFocus();
    page.first->setSelection(1, 2);  // "23" selected: a typed letter would replace it
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);
    QTest::keyClick(page.first, 'x');
    QCOMPARE(page.first->text(), QString("1234"));
    // A rejected keystroke is no entry: leaving sends nothing.
    page.second->setFocus();
    QCOMPARE(committed.count(), 0);
    QVERIFY(!page.first->IsEdited());
}

void DigitalEditTest::untouchedFieldSendsNothing() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setText("99");  // out of range, but the user did not enter it
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);
    page.first->setFocus();
    QTest::keyClick(page.first, Qt::Key_Tab);
    page.first->setFocus();
    page.second->setFocus();
    QCOMPARE(committed.count(), 0);
    QCOMPARE(page.first->text(), QString("99"));
    QVERIFY(!page.first->Balloon());
}

void DigitalEditTest::textSetByCodeSendsNothing() {
    Page page(true);
    QVERIFY(page.active);
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);
    page.first->setFocus();
    page.first->setText("7");
    SetDlgItemDouble(&page.widget, 2002, 2.5);
    page.second->setFocus();
    QCOMPARE(committed.count(), 0);
}

void DigitalEditTest::deleteKeyMakesAnEntry() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setText("16");
    page.first->setFocus();
    page.first->setCursorPosition(0);
    QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);
    QTest::keyClick(page.first, Qt::Key_Delete);
    QCOMPARE(page.first->text(), QString("6"));
    page.second->setFocus();
    QCOMPARE(committed.count(), 1);
}

void DigitalEditTest::tabMovesFocusOnlyOnADialog() {
    {
        Page page(false);
        QVERIFY(page.active);
        QVERIFY(page.active);
        page.first->setFocus();
        QSignalSpy committed(page.first, &CDigitalEdit::ValueCommitted);
        QTest::keyClicks(page.first, "3");
        QTest::keyClick(page.first, Qt::Key_Tab);
        QTest::keyClick(page.first, Qt::Key_Return);
        QVERIFY(page.first->hasFocus());
        QCOMPARE(page.first->text(), QString("3"));
        QCOMPARE(committed.count(), 0);
    }
    {
        Page page(true);
        QVERIFY(page.active);
        QVERIFY(page.active);
        page.first->setFocus();
        QTest::keyClick(page.first, Qt::Key_Return);
        QVERIFY(page.second->hasFocus());
        QTest::keyClick(page.second, Qt::Key_Tab, Qt::ShiftModifier);
        QVERIFY(page.first->hasFocus());
    }
}

void DigitalEditTest::reportPointsAtTheFieldAndKeepsTheFocus() {
    Page page(true);
    QVERIFY(page.active);
    UseGateLimits(page.first);
    page.first->setFocus();
    QTest::keyClick(page.first, 'q');
    CBalloonWnd* balloon = page.first->Balloon();
    QVERIFY(balloon);
    QVERIFY(balloon->isVisible());
    QCOMPARE(balloon->pos(), page.first->mapToGlobal(QPoint(0, page.first->height() - 2)));
    QCOMPARE(QApplication::focusWidget(), page.first);
    QVERIFY(!balloon->isActiveWindow());
    // The same report again is one entry.
    QTest::keyClick(page.first, 'q');
    QCOMPARE(balloon->EntryCount(), 1);
}

void DigitalEditTest::countDecimals() {
    QCOMPARE(CountDecimals(90.0, 10), 0);
    QCOMPARE(CountDecimals(0.5, 10), 1);
    QCOMPARE(CountDecimals(1.25, 10), 2);
    QCOMPARE(CountDecimals(-1.25, 10), 2);
    QCOMPARE(CountDecimals(1.999, 2), 2);
    QCOMPARE(CountDecimals(1.0, 2), 0);
    // Far beyond any 32-bit integer: still an exact answer.
    QCOMPARE(CountDecimals(1e12, 10), 0);
    QCOMPARE(CountDecimals(1e12 + 0.5, 10), 1);
    QCOMPARE(CountDecimals(-5e15, 10), 0);
    QCOMPARE(CountDecimals(std::numeric_limits<double>::quiet_NaN(), 10), 0);
    QCOMPARE(CountDecimals(std::numeric_limits<double>::infinity(), 10), 0);
    QCOMPARE(CountDecimals(1.5, 0), 0);
}

void DigitalEditTest::dialogItemsAsDoubles() {
    Page page(true);
    QVERIFY(page.active);
    SetDlgItemDouble(&page.widget, 2002, 1.0);
    QCOMPARE(page.first->text(), QString("1"));
    SetDlgItemDouble(&page.widget, 2002, 1.5);
    QCOMPARE(page.first->text(), QString("1.5"));
    SetDlgItemDouble(&page.widget, 2002, 1.999);
    QCOMPARE(page.first->text(), QString("2.00"));
    SetDlgItemDouble(&page.widget, 2002, 29.99);
    QCOMPARE(GetDlgItemDouble(&page.widget, 2002), 29.99);
    page.second->setText("  -7.25dB");
    QCOMPARE(GetDlgItemDouble(&page.widget, 2003), -7.25);
    QCOMPARE(GetDlgItemDouble(&page.widget, 9999), 0.0);  // no such item
    SetDlgItemDouble(&page.widget, 9999, 1.0);            // ignored
}

void DigitalEditTest::leadingNumberIgnoresTheLocale() {
    const std::locale previous = std::locale::global(std::locale::classic());
    setlocale(LC_NUMERIC, "de_DE.UTF-8");  // may be missing; '.' must hold either way
    QCOMPARE(DigitalLeadingNumber("12.5"), 12.5);
    setlocale(LC_NUMERIC, "C");
    std::locale::global(previous);
    QCOMPARE(DigitalLeadingNumber(""), 0.0);
    QCOMPARE(DigitalLeadingNumber("-"), 0.0);
    QCOMPARE(DigitalLeadingNumber("--5"), 0.0);
    QCOMPARE(DigitalLeadingNumber("+4"), 4.0);
    QCOMPARE(DigitalLeadingNumber(".5"), 0.5);
    QCOMPARE(DigitalLeadingNumber("3-5"), 3.0);
    QCOMPARE(DigitalLeadingNumber("1e3x"), 1000.0);
    QVERIFY(std::isinf(DigitalLeadingNumber("1e999")));
    QCOMPARE(DigitalLeadingNumber("1e-999"), 0.0);
}

QTEST_MAIN(DigitalEditTest)
#include "DigitalEditTest.moc"
