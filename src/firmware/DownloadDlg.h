// The firmware update window: queries the module's boot loader and writes a
// firmware image. It owns a device handle of its own and opens the port only
// while an operation runs. For now an empty page with the operations the
// main window calls; they are filled in with the window.
#pragma once

#include <QWidget>

class CDownloadDlg : public QWidget {
    Q_OBJECT
public:
    CDownloadDlg();
    ~CDownloadDlg() override;

    // Makes the window a child of `parent`.
    bool Create(QWidget* parent);
    // The window goes: ends a running operation and closes its port.
    void Teardown();

protected:
    void keyPressEvent(QKeyEvent* event) override;  // Enter and Escape do nothing
};
