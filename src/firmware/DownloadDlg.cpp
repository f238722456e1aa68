#include "firmware/DownloadDlg.h"

CDownloadDlg::CDownloadDlg() : CDialogPage(0) {}
CDownloadDlg::~CDownloadDlg() = default;
