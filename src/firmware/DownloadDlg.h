// The firmware update window: queries the module's boot loader and writes a
// firmware image. It owns a device handle of its own and opens the port only
// while an operation runs; its layout comes from a skin file read at run
// time rather than a dialog template. For now an empty page with the
// operations the main window calls; they are filled in with the window.
#pragma once

#include "ui/DialogPage.h"

class CDownloadDlg : public CDialogPage {
    Q_OBJECT
public:
    CDownloadDlg();
    ~CDownloadDlg() override;
};
