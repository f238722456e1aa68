// The parameter page (template 2000): the 34 parameters in numeric fields,
// read from and written to the module, loaded from and saved to files.
#pragma once

#include <QString>

#include <map>

#include "params/RadarParamModel.h"
#include "ui/DialogPage.h"

class CDigitalEdit;

class CParamSettingDlg : public CDialogPage, private IRadarParamListener {
    Q_OBJECT
public:
    CParamSettingDlg();
    ~CParamSettingDlg() override;

    // Given by the main window before Create; not owned.
    void SetSession(IRadarParamSession* session) { m_session = session; }

    // Shows the session's set in the fields (no change notifications) and
    // marks those that differ from the module. The page also does it
    // whenever the set changes.
    void UpdateParamFields();
    // Marks each field whose value the module does not hold (a tinted
    // background) and names the module's value in its tooltip; clears the
    // others. Nothing is marked while the module's values are unknown.
    void UpdateModuleMarks();

    // Button handlers (also reachable from tests).
    void OnReadSensorConfig();
    void OnSetSensorConfig();
    void OnLoadConfigFile();
    void OnSaveConfigFile();

    // The numeric field `id` (2002, 2003, 2010-2025, 2030-2045), or nullptr.
    CDigitalEdit* Field(int id) const;
    // The file both parameter file dialogs propose: the data folder
    // joined with the remembered name, or with "RadarParamConfig.xml".
    static QString ParamFileInitialPath();

protected:
    QWidget* CreateControl(const DialogControl& control) override;
    // Limits, then the fields; the page follows the set from then on.
    void OnInitDialog() override;
    // Stores the set in "ParamSetting" and saves the settings file.
    void SaveSettings() override;
    void showEvent(QShowEvent* event) override;

private:
    void ConnectFields();
    void ConnectButtons();
    void OnFieldCommitted(int id);
    void OnRadarParamsChanged() override;
    void SetFieldLimits();
    void ReportModuleResult(int result, int successText, int failureText);
    // Stores the name part of `path` as the remembered parameter file.
    void RememberParamFile(const QString& path);

    IRadarParamSession* m_session = nullptr;
    std::map<int, CDigitalEdit*> m_fields;
    // A field's own commit changes the set: its text stays as typed.
    bool m_committing = false;
};
