// A prompt for tests: records every message box and answers file dialogs
// from queues filled by the test (an empty queue answers "cancel").
#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "ui/Prompt.h"

class PromptRecorder : public IPrompt {
public:
    PromptRecorder() { SetPrompt(this); }
    ~PromptRecorder() override { SetPrompt(nullptr); }

    void ShowMessageBox(const MessageBoxRequest& request) override { messages.push_back(request); }
    bool GetOpenFileName(const FileDialogRequest& request, QString* chosen) override {
        return Answer(request, openAnswers, chosen);
    }
    bool GetSaveFileName(const FileDialogRequest& request, QString* chosen) override {
        return Answer(request, saveAnswers, chosen);
    }
    bool BrowseForFolder(QWidget*, const QString&, const QString& start, QString* chosen) override {
        FileDialogRequest request;
        request.initialPath = start;
        return Answer(request, folderAnswers, chosen);
    }

    std::vector<MessageBoxRequest> messages;
    std::vector<FileDialogRequest> fileRequests;
    std::deque<std::optional<QString>> openAnswers, saveAnswers, folderAnswers;

private:
    bool Answer(const FileDialogRequest& request, std::deque<std::optional<QString>>& answers,
                QString* chosen) {
        fileRequests.push_back(request);
        if (answers.empty()) return false;
        std::optional<QString> answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        *chosen = *answer;
        return true;
    }
};
