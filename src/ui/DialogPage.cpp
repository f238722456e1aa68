#include "ui/DialogPage.h"

#include <QKeyEvent>

#include "ui/DialogTemplate.h"

bool IsDialogCloseKey(const QKeyEvent* event) {
    const int key = event->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

CDialogPage::CDialogPage(int templateId) : m_templateId(templateId) {}
CDialogPage::~CDialogPage() = default;

bool CDialogPage::Create(QWidget* parent) {
    setParent(parent);
    if (m_templateId != 0) {
        const std::unique_ptr<DialogTemplate> dialog = LoadDialogTemplate(m_templateId);
        if (!dialog) return false;
        m_controls = BuildDialog(this, *dialog, [this](const DialogControl& control, QWidget*) {
            return CreateControl(control);
        });
    }
    OnInitDialog();
    return true;
}

void CDialogPage::Teardown() {
    if (m_tornDown) return;
    m_tornDown = true;
    StopWork();
    SaveSettings();
}

QWidget* CDialogPage::Control(int id) const {
    const auto found = m_controls.find(std::to_string(id));
    return found == m_controls.end() ? nullptr : found->second;
}

QWidget* CDialogPage::CreateControl(const DialogControl&) { return nullptr; }

void CDialogPage::keyPressEvent(QKeyEvent* event) {
    if (IsDialogCloseKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
