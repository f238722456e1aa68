// Message boxes and file dialogs go through this one interface, so that a
// test can answer them. The program installs the Qt implementation.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

enum class PromptIcon { None, Error, Warning, Information, Question };

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    PromptIcon icon = PromptIcon::None;
    bool topmost = false;
};

struct FileDialogRequest {
    QWidget* owner = nullptr;
    QString initialPath;       // folder, or folder + proposed file name
    QString filter;            // in the program's "Name(*.x)|*.x|...||" form
    QString defaultExtension;  // without dot; empty for none
    bool mustExist = false;    // only existing files are accepted
    bool confirmOverwrite = false;
};

class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual void ShowMessageBox(const MessageBoxRequest& request) = 0;
    // True with the chosen full path; false when cancelled.
    virtual bool GetOpenFileName(const FileDialogRequest& request, QString* chosen) = 0;
    virtual bool GetSaveFileName(const FileDialogRequest& request, QString* chosen) = 0;
    virtual bool BrowseForFolder(QWidget* owner, const QString& title, const QString& start,
                                 QString* chosen) = 0;
};

// The prompt every window uses. Defaults to the Qt dialogs.
IPrompt& Prompt();
// Installs another prompt (tests); nullptr restores the Qt dialogs.
void SetPrompt(IPrompt* prompt);

// The program's filter form "A(*.a)|*.a|B(*.*)|*.*||" as a Qt filter list
// "A(*.a);;B(*.*)".
QString ConvertFileFilter(const QString& filter);

// Convenience for the common case: text and caption from the string table.
void ShowStringMessageBox(QWidget* owner, int textId, int captionId, PromptIcon icon,
                          bool topmost = false);
