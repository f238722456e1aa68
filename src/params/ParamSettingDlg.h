// The parameter page (template 2000): the 34 parameters in numeric fields,
// read from and written to the module, loaded from and saved to files.
#pragma once

#include <QString>
#include <QWidget>

#include <map>
#include <string>

#include "device/KVEL_DataProcess.h"
#include "params/RadarParam.h"

class CDigitalEdit;

class CParamSettingDlg : public QWidget {
    Q_OBJECT
public:
    CParamSettingDlg();
    ~CParamSettingDlg() override;

    // Given by the main window before Create; neither is owned.
    void SetDevice(KVEL_RADAR_HANDLE device, RadarParamSet* params);
    // Builds the page from template 2000 as a child of `parent` and runs
    // the dialog initialisation (limits, "ParamSetting" section, fields).
    bool Create(QWidget* parent);
    // Shows the set in the fields (no change notifications).
    void UpdateParamFields();
    // The page's window goes: stores the set in "ParamSetting" and saves
    // the settings file. Called once by the main window, in its order.
    void Teardown();

    // Button handlers (also reachable from tests).
    void OnReadSensorConfig();
    void OnSetSensorConfig();
    void OnLoadConfigFile();
    void OnSaveConfigFile();

    // The numeric field `id` (2002, 2003, 2010-2025, 2030-2045), or nullptr.
    CDigitalEdit* Field(int id) const;
    // The file both parameter file dialogs propose: the program's folder
    // joined with the remembered name, or with "RadarParamConfig.xml".
    static QString ParamFileInitialPath();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // Enter and Escape do nothing

private:
    void InitDialog();
    void ConnectFields();
    void ConnectButtons(const std::map<std::string, QWidget*>& widgets);
    void OnFieldCommitted(int id);
    void ReportModuleResult(int result, int successText, int failureText);
    // Stores the name part of `path` as the remembered parameter file.
    void RememberParamFile(const QString& path);

    std::map<int, CDigitalEdit*> m_fields;
    KVEL_RADAR_HANDLE m_device = nullptr;
    RadarParamSet* m_params = nullptr;
    bool m_tornDown = false;
};
