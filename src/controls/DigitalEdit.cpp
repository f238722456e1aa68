#include "controls/DigitalEdit.h"

#include <QDialog>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QVariant>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "controls/BalloonWnd.h"

namespace {

const QString kInputErrorTitle = QStringLiteral("Input Error");
const QString kDataInvalidTitle = QStringLiteral("Data Invalid");
constexpr int kReportIcon = BALLOON_ICON_ERROR;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// An overflowing number parses as infinity, an underflowing one as zero,
// as the runtime's conversion does.
double OutOfRangeValue(const char* begin, const char* end, bool negative) {
    for (const char* p = begin; p < end; ++p) {
        if ((*p == 'e' || *p == 'E') && p + 1 < end && p[1] == '-') return negative ? -0.0 : 0.0;
    }
    const double huge = std::numeric_limits<double>::infinity();
    return negative ? -huge : huge;
}

// The character a key press types, with Ctrl+letter as the control
// character it stands for; none for keys that type nothing.
std::optional<char32_t> TypedCharacter(const QKeyEvent* event) {
    const int key = event->key();
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && key >= Qt::Key_A && key <= Qt::Key_Z) return char32_t(key - Qt::Key_A + 1);
    const QString text = event->text();
    if (text.isEmpty()) return std::nullopt;
    const QList<uint> codes = text.toUcs4();
    if (codes.isEmpty()) return std::nullopt;
    return char32_t(codes.front());
}

bool IsControlCharacter(char32_t c) { return c < 0x20 || c == 0x7f; }

}  // namespace

DigitalValueCell DigitalCellFromInt32(int32_t value) { return static_cast<uint32_t>(value); }
DigitalValueCell DigitalCellFromUInt32(uint32_t value) { return value; }
DigitalValueCell DigitalCellFromInt64(int64_t value) { return static_cast<uint64_t>(value); }
DigitalValueCell DigitalCellFromUInt64(uint64_t value) { return value; }
DigitalValueCell DigitalCellFromFloat(float value) { return std::bit_cast<uint32_t>(value); }
DigitalValueCell DigitalCellFromDouble(double value) { return std::bit_cast<uint64_t>(value); }

double DigitalCellToDouble(DigitalValueCell cell, int valueType) {
    const auto low = static_cast<uint32_t>(cell);
    switch (valueType) {
        case DIGITAL_INT32:
            return static_cast<int32_t>(low);
        case DIGITAL_UINT32:
            return low;
        case DIGITAL_INT64:
            return static_cast<double>(static_cast<int64_t>(cell));
        case DIGITAL_UINT64:
            return static_cast<double>(cell);
        case DIGITAL_FLOAT:
            return std::bit_cast<float>(low);
        case DIGITAL_DOUBLE:
            return std::bit_cast<double>(cell);
        default:
            return static_cast<int32_t>(low);
    }
}

double DigitalLeadingNumber(const QString& text) {
    const std::string utf8 = text.toStdString();
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    while (p < end && IsBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // A second sign is not part of a number ("--5" and "+-5" read as 0).
    if (p < end && (*p == '+' || *p == '-')) return 0.0;
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        return OutOfRangeValue(p, result.ptr, negative);
    if (result.ec != std::errc()) return 0.0;
    return negative ? -value : value;
}

int CountDecimals(double value, int maxDecimals) {
    if (maxDecimals <= 0) return 0;
    // Nothing finite to print decimals of.
    if (!std::isfinite(value)) return 0;
    const double eps = 1.0 / std::pow(10.0, maxDecimals);
    for (int k = 0; k < maxDecimals; ++k) {
        // The fraction is taken on the double itself: a value from a file may
        // lie far outside any integer type.
        const double fraction = std::fabs(value - std::trunc(value));
        if (fraction < 0.01 && fraction < eps) return k;
        value = fraction * 10.0;
    }
    return maxDecimals;
}

double GetDlgItemDouble(QWidget* dialog, int id) {
    if (!dialog) return 0.0;
    auto* item = dialog->findChild<QWidget*>(QString::number(id));
    if (!item) return 0.0;
    if (auto* edit = qobject_cast<QLineEdit*>(item)) return DigitalLeadingNumber(edit->text());
    return DigitalLeadingNumber(item->property("text").toString());
}

void SetDlgItemDouble(QWidget* dialog, int id, double value) {
    if (!dialog) return;
    auto* item = dialog->findChild<QWidget*>(QString::number(id));
    if (!item) return;
    const QString text = QString::asprintf("%.*f", CountDecimals(value, 2), value);
    if (auto* edit = qobject_cast<QLineEdit*>(item))
        edit->setText(text);
    else
        item->setProperty("text", text);
}

CDigitalEdit::CDigitalEdit(QWidget* parent) : QLineEdit(parent) {
    // Every change the user makes through the field (keys without a
    // character such as Delete, the context menu, drag and drop) is an
    // entry to commit; text set by code never is.
    connect(this, &QLineEdit::textEdited, this, [this] { m_edited = true; });
}

CDigitalEdit::~CDigitalEdit() { delete m_balloon.data(); }

void CDigitalEdit::SetValueType(int valueType) { m_valueType = valueType; }

void CDigitalEdit::SetMinValue(DigitalValueCell value, double tolerance) {
    m_min = Limit{value, tolerance, "MinValue"};
}

void CDigitalEdit::SetMaxValue(DigitalValueCell value, double tolerance) {
    m_max = Limit{value, tolerance, "MaxValue"};
}

void CDigitalEdit::ClearLimits() {
    m_min.reset();
    m_max.reset();
}

bool CDigitalEdit::IsFloatingType() const {
    return m_valueType == DIGITAL_FLOAT || m_valueType == DIGITAL_DOUBLE;
}

bool CDigitalEdit::IsOnDialog() const {
    QWidget* parent = parentWidget();
    if (!parent) return false;
    return parent->property("kvelDialog").toBool() || qobject_cast<QDialog*>(parent) != nullptr;
}

bool CDigitalEdit::event(QEvent* event) {
    // Tab reaches the keystroke filter like any other key, so that it
    // moves the focus on a dialog only.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CDigitalEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
        key == Qt::Key_Enter) {
        // Tab and Enter change no text and make no entry of their own; on a
        // dialog they move to the next field, which commits this one.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) QLineEdit::keyPressEvent(event);
        event->accept();
        if (IsOnDialog()) {
            const bool backwards =
                key == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
            focusNextPrevChild(!backwards);
        }
        return;
    }

    const std::optional<char32_t> typed = TypedCharacter(event);
    if (!typed) {
        QLineEdit::keyPressEvent(event);
        return;
    }

    const QString oldText = text();
    const int oldCursor = cursorPosition();
    const bool wasEdited = m_edited;
    QLineEdit::keyPressEvent(event);

    QString report;
    if (AcceptsCharacter(*typed, text(), &report)) {
        m_edited = true;
        return;
    }
    m_edited = wasEdited;
    ShowBalloonTip(kInputErrorTitle, report, kReportIcon);
    setText(oldText);
    setCursorPosition(oldCursor);
}

void CDigitalEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString committed = event->commitString();
    if (committed.isEmpty()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    // The composition still being typed passes as it is; what is committed
    // is typed one character at a time and stops at the first refused one.
    QInputMethodEvent composing(event->preeditString(), event->attributes());
    QLineEdit::inputMethodEvent(&composing);
    for (char32_t c : committed.toUcs4()) {
        if (!TypeCharacter(c)) break;
    }
    event->accept();
}

bool CDigitalEdit::TypeCharacter(char32_t c) {
    const QString oldText = text();
    const int oldCursor = cursorPosition();
    const bool wasEdited = m_edited;
    insert(QString::fromUcs4(&c, 1));
    QString report;
    if (AcceptsCharacter(c, text(), &report)) {
        m_edited = true;
        return true;
    }
    m_edited = wasEdited;
    ShowBalloonTip(kInputErrorTitle, report, kReportIcon);
    setText(oldText);
    setCursorPosition(oldCursor);
    return false;
}

bool CDigitalEdit::AcceptsCharacter(char32_t c, const QString& newText, QString* report) const {
    if (c == U'.') {
        *report = QStringLiteral("Invalid character '.'");
        return IsFloatingType() && newText.count(u'.') <= 1;
    }
    if (c == U'-') {
        *report = QStringLiteral("Invalid character '-'");
        if (m_valueType == DIGITAL_UINT32 || m_valueType == DIGITAL_UINT64) return false;
        return newText.startsWith(u'-') && newText.indexOf(u'-', 1) < 0;
    }
    if (c >= U'0' && c <= U'9') return true;
    if (IsControlCharacter(c)) return true;
    *report = QStringLiteral("Invalid character '%1'").arg(QString::fromUcs4(&c, 1));
    return false;
}

void CDigitalEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A context menu of the field takes the focus only for a moment.
    if (event->reason() == Qt::PopupFocusReason) return;
    if (!m_edited) return;
    Commit();
}

void CDigitalEdit::Commit() {
    m_edited = false;
    QString message;
    const std::optional<QString> limitText = BrokenLimitText(text(), &message);
    if (limitText) {
        ShowBalloonTip(kDataInvalidTitle, message, kReportIcon);
        setText(*limitText);
    }
    emit ValueCommitted();
}

std::optional<QString> CDigitalEdit::BrokenLimitText(const QString& text, QString* message) const {
    const double x = DigitalLeadingNumber(text);
    const double integerSlack = 0.5;
    auto slack = [&](const Limit& limit) {
        return IsFloatingType() ? limit.tolerance : integerSlack;
    };
    auto broken = [&](const Limit& limit, const char* relation) {
        const QString limitText = LimitText(limit);
        *message =
            QString::asprintf("%s %s %s", limit.name, relation, limitText.toUtf8().constData());
        return limitText;
    };
    // "nan" or "inf" (pasted, or from a file) is no number a limit can hold.
    if (!std::isfinite(x)) {
        if (m_min) return broken(*m_min, "Must >=");
        if (m_max) return broken(*m_max, "Must <=");
        return std::nullopt;
    }
    if (m_min && x < DigitalCellToDouble(m_min->value, m_valueType) - slack(*m_min))
        return broken(*m_min, "Must >=");
    if (m_max && x > DigitalCellToDouble(m_max->value, m_valueType) + slack(*m_max))
        return broken(*m_max, "Must <=");
    return std::nullopt;
}

QString CDigitalEdit::LimitText(const Limit& limit) const {
    const auto low = static_cast<uint32_t>(limit.value);
    switch (m_valueType) {
        case DIGITAL_INT32:
            return QString::asprintf("%d", static_cast<int32_t>(low));
        case DIGITAL_UINT32:
            return QString::asprintf("%u", low);
        case DIGITAL_INT64:
            return QString::asprintf("%lld",
                                     static_cast<long long>(static_cast<int64_t>(limit.value)));
        case DIGITAL_UINT64:
            return QString::asprintf("%llu", static_cast<unsigned long long>(limit.value));
        case DIGITAL_FLOAT:
        case DIGITAL_DOUBLE: {
            const double value = DigitalCellToDouble(limit.value, m_valueType);
            return QString::asprintf("%.*f", CountDecimals(value, 10), value);
        }
        default:
            return QString::asprintf("%d", static_cast<int32_t>(low));
    }
}

void CDigitalEdit::ShowBalloonTip(const QString& title, const QString& text, int icon) {
    if (!m_balloon) m_balloon = new CBalloonWnd(window());
    const QPoint anchor = mapToGlobal(QPoint(0, height() - 2));
    m_balloon->ShowBalloon(anchor, title, text, icon);
}
