// The threshold collection dialog (template 3500): the 16 range gates with
// the running averages of their proposed trigger and hold energies, the
// collection's progress, and OK to accept them. The realtime page creates it
// once, hidden, drives the collection and shows and hides it; the dialog
// owns the two averaging collectors the page feeds.
//
// While it is shown its owner's window (the main window) takes no input.
#pragma once

#include <QDialog>
#include <QPointer>

#include <cstdint>

#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"

class CXListCtrl;
class QProgressBar;
class QPushButton;

class ISensingCollectorDlgListener {
public:
    virtual ~ISensingCollectorDlgListener() = default;
    // The user accepted the collection; the dialog has hidden itself.
    virtual void OnSensingCollectorDlgOK(uint64_t userValue) = 0;
};

namespace sensing_collector {
constexpr int kTemplateId = 3500;
constexpr int kGateList = 3501;
constexpr int kProgress = 3502;
constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;
constexpr int kGateCount = radar_protocol::kGateCount;

// The gate table's geometry, from the list's client size in pixels.
struct GateTableLayout {
    int usableWidth = 0;
    int rowHeight = 0;  // rows are at least this high
    int columnWidths[3] = {};
};
GateTableLayout LayOutGateTable(int clientWidth, int clientHeight);
}  // namespace sensing_collector

class CSensingCollectorDlg : public QDialog {
    Q_OBJECT
public:
    // `owner` is the widget whose window the dialog disables while shown;
    // the dialog is a window of its own, not a child of it.
    explicit CSensingCollectorDlg(QWidget* owner);
    ~CSensingCollectorDlg() override;

    // Builds the controls from the template and fills the table; false when
    // the template cannot be loaded.
    bool Create();
    void SetListener(ISensingCollectorDlgListener* listener, uint64_t userValue = 0);

    // Row `gate` shows `trigger` and `hold`, each with two decimals.
    void SetRow(int gate, double trigger, double hold);

    CXListCtrl* List() const { return m_list; }
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void SetUpGateTable();
    void EnableOwner(bool enabled);

    QPointer<QWidget> m_owner;
    CXListCtrl* m_list = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    ISensingCollectorDlgListener* m_listener = nullptr;
    uint64_t m_listenerValue = 0;
};
