// Placeholder until the parameter page is built: an empty page with the
// interface the main window calls.
#include "params/ParamSettingDlg.h"

#include <QKeyEvent>

CParamSettingDlg::CParamSettingDlg() = default;
CParamSettingDlg::~CParamSettingDlg() = default;

void CParamSettingDlg::SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params)
{
    m_device = device;
    m_params = params;
}

bool CParamSettingDlg::Create(QWidget* parent)
{
    setParent(parent);
    return true;
}

void CParamSettingDlg::UpdateParamFields() {}
void CParamSettingDlg::Teardown() { m_tornDown = true; }
void CParamSettingDlg::OnReadSensorConfig() {}
void CParamSettingDlg::OnSetSensorConfig() {}
void CParamSettingDlg::OnLoadConfigFile() {}
void CParamSettingDlg::OnSaveConfigFile() {}
void CParamSettingDlg::showEvent(QShowEvent* event) { QWidget::showEvent(event); }

void CParamSettingDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
