// The Qt implementation of the prompt: message boxes and file dialogs.
#include "ui/Prompt.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>

#include "ui/Strings.h"

namespace {

QMessageBox::Icon ToMessageBoxIcon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Error:
            return QMessageBox::Critical;
        case PromptIcon::Warning:
            return QMessageBox::Warning;
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Question:
            return QMessageBox::Question;
        case PromptIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// Without a screen nobody can answer a dialog; rather than wait forever the
// prompt reports what it would have asked and answers "cancel".
bool NobodyCanAnswer() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// Message texts carry "\r\n" line ends; a Qt label wants plain line feeds.
QString PlainLineEnds(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void SplitInitialPath(const QString& initialPath, QString* folder, QString* fileName) {
    const QFileInfo info(initialPath);
    if (initialPath.isEmpty() || info.isDir()) {
        *folder = initialPath;
        fileName->clear();
    } else {
        *folder = info.path();
        *fileName = info.fileName();
    }
}

bool RunFileDialog(const FileDialogRequest& request, QFileDialog::AcceptMode mode,
                   QString* chosen) {
    if (NobodyCanAnswer()) {
        qWarning("File dialog without a screen, answered with cancel: %s",
                 qUtf8Printable(request.initialPath));
        return false;
    }
    QString folder, fileName;
    SplitInitialPath(request.initialPath, &folder, &fileName);
    QFileDialog dialog(request.owner, QString(), folder);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen && request.mustExist
                           ? QFileDialog::ExistingFile
                           : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    const QString filters = ConvertFileFilter(request.filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters.split(QLatin1String(";;")));
    if (!request.defaultExtension.isEmpty()) dialog.setDefaultSuffix(request.defaultExtension);
    if (!fileName.isEmpty()) dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return false;
    *chosen = files.front();
    return true;
}

class QtPrompt : public IPrompt {
public:
    void ShowMessageBox(const MessageBoxRequest& request) override {
        if (NobodyCanAnswer()) {
            qWarning("%s: %s", qUtf8Printable(request.caption), qUtf8Printable(request.text));
            return;
        }
        QMessageBox box(ToMessageBoxIcon(request.icon), request.caption,
                        PlainLineEnds(request.text), QMessageBox::Ok, request.owner);
        if (request.topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        box.exec();
    }

    bool GetOpenFileName(const FileDialogRequest& request, QString* chosen) override {
        return RunFileDialog(request, QFileDialog::AcceptOpen, chosen);
    }

    bool GetSaveFileName(const FileDialogRequest& request, QString* chosen) override {
        return RunFileDialog(request, QFileDialog::AcceptSave, chosen);
    }

    bool BrowseForFolder(QWidget* owner, const QString& title, const QString& start,
                         QString* chosen) override {
        if (NobodyCanAnswer()) {
            qWarning("Folder dialog without a screen, answered with cancel: %s",
                     qUtf8Printable(title));
            return false;
        }
        const QString folder = QFileDialog::getExistingDirectory(owner, title, start);
        if (folder.isEmpty()) return false;
        *chosen = folder;
        return true;
    }
};

IPrompt* g_installed = nullptr;

// One filter entry "Name(*.a;*.b)" for the pattern list "*.a;*.b". Qt reads
// the patterns from the parentheses, separated by blanks.
QString FilterEntry(const QString& name, const QString& patterns) {
    QString qtPatterns = patterns.trimmed();
    qtPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    static const QRegularExpression trailingPatterns(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    const QRegularExpressionMatch match = trailingPatterns.match(name);
    if (match.hasMatch() && match.captured(1).trimmed() == qtPatterns) return name;
    QString bareName = match.hasMatch() ? name.left(match.capturedStart()) : name;
    if (qtPatterns.isEmpty()) return bareName;
    return bareName + QLatin1Char('(') + qtPatterns + QLatin1Char(')');
}

}  // namespace

IPrompt& Prompt() {
    static QtPrompt qtPrompt;
    return g_installed ? *g_installed : qtPrompt;
}

void SetPrompt(IPrompt* prompt) { g_installed = prompt; }

QString ConvertFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    // Name and pattern alternate; an empty name ends the list ("||").
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        entries << FilterEntry(parts[i], parts[i + 1]);
    }
    return entries.join(QLatin1String(";;"));
}

void ShowStringMessageBox(QWidget* owner, int textId, int captionId, PromptIcon icon,
                          bool topmost) {
    MessageBoxRequest request;
    request.owner = owner;
    request.text = LoadStringW(textId);
    request.caption = LoadStringW(captionId);
    request.icon = icon;
    request.topmost = topmost;
    Prompt().ShowMessageBox(request);
}
