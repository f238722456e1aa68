#include "realtime/SensingCollectorDlg.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QWindow>

#include <memory>

#include "controls/XListCtrl.h"
#include "ui/DialogTemplate.h"
#include "ui/Strings.h"

namespace sc = sensing_collector;

namespace {

enum StringId {
    kStrRangeGate = 10350,
    kStrTriggerEnergy = 10351,
    kStrHoldEnergy = 10352,
};

// Shares of the usable width: gate, trigger, hold.
constexpr double kColumnShares[3] = {0.3, 0.35, 0.35};
// Twelve rows fill the list's height (the header takes about one).
constexpr int kRowsPerHeight = 12;

QString TwoDecimals(double value) { return QString::asprintf("%.2f", value); }

}  // namespace

sc::GateTableLayout sc::LayOutGateTable(int clientWidth, int clientHeight) {
    GateTableLayout layout;
    // Three pixels stay free so that the columns never need a horizontal
    // scroll bar.
    layout.usableWidth = clientWidth - 3;
    layout.rowHeight = clientHeight / kRowsPerHeight - 1;
    for (int column = 0; column < 3; ++column)
        layout.columnWidths[column] = static_cast<int>(layout.usableWidth * kColumnShares[column]);
    return layout;
}

CSensingCollectorDlg::CSensingCollectorDlg(QWidget* owner) : QDialog(nullptr), m_owner(owner) {
    setModal(false);
}

CSensingCollectorDlg::~CSensingCollectorDlg() = default;

bool CSensingCollectorDlg::Create() {
    const std::unique_ptr<DialogTemplate> dialog = LoadDialogTemplate(sc::kTemplateId);
    if (!dialog) return false;
    const auto controls = BuildDialog(
        this, *dialog, [this](const DialogControl& control, QWidget* parent) -> QWidget* {
            if (control.id == std::to_string(sc::kGateList)) return m_list = new CXListCtrl(parent);
            return nullptr;
        });
    auto find = [&](int id) -> QWidget* {
        const auto at = controls.find(std::to_string(id));
        return at == controls.end() ? nullptr : at->second;
    };
    m_progress = qobject_cast<QProgressBar*>(find(sc::kProgress));
    m_ok = qobject_cast<QPushButton*>(find(sc::kOkButton));
    m_cancel = qobject_cast<QPushButton*>(find(sc::kCancelButton));
    if (!m_list || !m_progress || !m_ok || !m_cancel) return false;
    setFixedSize(size());
    connect(m_ok, &QPushButton::clicked, this, &CSensingCollectorDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CSensingCollectorDlg::reject);
    SetUpGateTable();
    m_progress->setRange(0, 100);
    return true;
}

void CSensingCollectorDlg::SetUpGateTable() {
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The client area is what lies inside the frame and beside the scroll bar.
    const QRect client = m_list->contentsRect();
    const int scrollBarWidth = m_list->verticalScrollBar()->sizeHint().width();
    const sc::GateTableLayout layout =
        sc::LayOutGateTable(client.width() - scrollBarWidth, client.height());
    m_list->SetMinimumRowHeight(layout.rowHeight);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->SetGridLines(true);
    const int titles[3] = {kStrRangeGate, kStrTriggerEnergy, kStrHoldEnergy};
    for (int column = 0; column < 3; ++column)
        m_list->AddCentredColumn(column, LoadStringW(titles[column]), layout.columnWidths[column]);
    for (int gate = 0; gate < sc::kGateCount; ++gate) {
        m_list->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::asprintf("%d", gate)}));
        m_list->SetCellText(gate, 1, TwoDecimals(0.0));
        m_list->SetCellText(gate, 2, TwoDecimals(0.0));
    }
}

void CSensingCollectorDlg::SetListener(ISensingCollectorDlgListener* listener, uint64_t userValue) {
    m_listener = listener;
    m_listenerValue = userValue;
}

void CSensingCollectorDlg::SetRow(int gate, double trigger, double hold) {
    if (!m_list) return;
    m_list->SetCellText(gate, 1, TwoDecimals(trigger));
    m_list->SetCellText(gate, 2, TwoDecimals(hold));
}

// The dialog is never ended: OK, Cancel and closing only hide it, and its
// table and progress keep their contents for the next showing.
void CSensingCollectorDlg::accept() {
    hide();
    if (m_listener) m_listener->OnSensingCollectorDlgOK(m_listenerValue);
}

void CSensingCollectorDlg::reject() { hide(); }

void CSensingCollectorDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void CSensingCollectorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) EnableOwner(false);
}

void CSensingCollectorDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) EnableOwner(true);
}

void CSensingCollectorDlg::EnableOwner(bool enabled) {
    if (!m_owner) return;
    QWidget* ownerWindow = m_owner->window();
    ownerWindow->setEnabled(enabled);
    // Kept above the window it belongs to, as an owned pop-up is.
    if (!enabled && windowHandle() && ownerWindow->windowHandle())
        windowHandle()->setTransientParent(ownerWindow->windowHandle());
}
