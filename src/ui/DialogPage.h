// What every page of the main window shares: it is built from its dialog
// template as a child of the main window, stops its work and saves its
// settings section once when it goes, and lets neither Enter nor Escape close
// anything.
#pragma once

#include <map>
#include <string>

#include <QWidget>

class QKeyEvent;
struct DialogControl;

// Enter and Escape, the keys that would close a dialog: the main window and
// its pages swallow them, so that neither key closes anything.
bool IsDialogCloseKey(const QKeyEvent* event);

class CDialogPage : public QWidget {
    Q_OBJECT
public:
    // `templateId` 0: the page lays itself out without a dialog template.
    explicit CDialogPage(int templateId);
    ~CDialogPage() override;

    // Makes the page a child of `parent`, builds its template's controls and
    // runs its initialisation. False when the template cannot be loaded.
    bool Create(QWidget* parent);
    // The page's window goes: its work stops and its settings section is
    // saved. Called by the main window in its order; later calls do nothing.
    void Teardown();

    // The control of the page's template with this ID, nullptr when none.
    QWidget* Control(int id) const;

protected:
    // The widget for a template control, or nullptr for the default kind.
    virtual QWidget* CreateControl(const DialogControl& control);
    // After the controls exist: connect them and fill them in.
    virtual void OnInitDialog() {}
    // Ends running work; returns when it has stopped.
    virtual void StopWork() {}
    // Writes the page's section of the settings.
    virtual void SaveSettings() {}

    void keyPressEvent(QKeyEvent* event) override;

private:
    const int m_templateId;
    std::map<std::string, QWidget*> m_controls;
    bool m_tornDown = false;
};
