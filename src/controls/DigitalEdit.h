// The numeric edit: a single-line field for one number. It filters
// keystrokes by the kind of number it holds, checks the committed value
// against optional limits (replacing a broken one by the limit), reports
// every rejection in its own balloon under the field, and tells the page
// once per committed entry, never per keystroke and never when code sets
// the text.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

#include "controls/BalloonWnd.h"

enum DigitalValueType {
    DIGITAL_INT32 = 0,
    DIGITAL_UINT32 = 1,
    DIGITAL_INT64 = 2,
    DIGITAL_UINT64 = 3,
    DIGITAL_FLOAT = 4,
    DIGITAL_DOUBLE = 5,
};

// A limit's value in the representation of the value type that reads it;
// 32-bit values and single floats sit in the low 32 bits.
using DigitalValueCell = uint64_t;

DigitalValueCell DigitalCellFromInt32(int32_t value);
DigitalValueCell DigitalCellFromUInt32(uint32_t value);
DigitalValueCell DigitalCellFromInt64(int64_t value);
DigitalValueCell DigitalCellFromUInt64(uint64_t value);
DigitalValueCell DigitalCellFromFloat(float value);
DigitalValueCell DigitalCellFromDouble(double value);
// The cell read as `valueType` requires.
double DigitalCellToDouble(DigitalValueCell cell, int valueType);

// The longest valid leading number of `text` (leading blanks skipped, the
// decimal point always '.'); 0 for empty or non-numeric text.
double DigitalLeadingNumber(const QString& text);

class CDigitalEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CDigitalEdit(QWidget* parent = nullptr);
    ~CDigitalEdit() override;

    // Takes effect for the next keystroke and the next check. The limits
    // are read with the type in force when a check runs.
    void SetValueType(int valueType);
    int ValueType() const { return m_valueType; }
    void SetMinValue(DigitalValueCell value, double tolerance);
    void SetMaxValue(DigitalValueCell value, double tolerance);
    void ClearLimits();

    // Shows a report in the field's own balloon, pointing at the field.
    void ShowBalloonTip(const QString& title, const QString& text, int icon);
    // The balloon (nullptr until the first report).
    CBalloonWnd* Balloon() const { return m_balloon; }
    bool IsEdited() const { return m_edited; }

signals:
    // One per committed entry: after the limit check, with the final text.
    void ValueCommitted();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Text an input method commits is typed character by character through
    // the same filter as keystrokes.
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Limit {
        DigitalValueCell value = 0;
        double tolerance = 0;
        const char* name = "";
    };

    bool IsFloatingType() const;
    bool AcceptsCharacter(char32_t c, const QString& newText, QString* report) const;
    // Inserts `c` at the cursor as a keystroke would; a refused character
    // leaves the text as it was and is reported. False when refused.
    bool TypeCharacter(char32_t c);
    // Empty when every limit holds; else the limit text, with the message.
    std::optional<QString> BrokenLimitText(const QString& text, QString* message) const;
    QString LimitText(const Limit& limit) const;
    bool IsOnDialog() const;
    void Commit();

    int m_valueType = DIGITAL_INT32;
    std::optional<Limit> m_min;
    std::optional<Limit> m_max;
    QPointer<CBalloonWnd> m_balloon;
    bool m_edited = false;
};

// Decimals (0 to maxDecimals) needed to print `value`: 90.0 gives 0, 0.5
// gives 1, 1.25 gives 2. Values of any size are safe; NaN and infinities
// give 0.
int CountDecimals(double value, int maxDecimals);
// The text of the dialog item `id` (child widget named by the ID) read as
// a double; 0 when there is no such item.
double GetDlgItemDouble(QWidget* dialog, int id);
// Writes `value` into the item with at most 2 decimals (1.0 -> "1",
// 1.5 -> "1.5", 1.999 -> "2.00"), without a change notification.
void SetDlgItemDouble(QWidget* dialog, int id, double value);
