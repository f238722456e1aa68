#include "app/App.h"

#include <QApplication>
#include <QTimer>

#include "app/MainDlg.h"
#include "app/SignalClose.h"
#include "settings/AppConfig.h"
#include "ui/Strings.h"

namespace {

// A language name as the system takes it: 32 characters with the end mark.
constexpr size_t kMaxLanguageNameChars = 31;

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    const std::string other(b);
    if (a.size() != other.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(other[i])) return false;
    }
    return true;
}

// Shortens UTF-8 text to at most `maxChars` characters, never splitting one.
std::string TruncateUtf8(const std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && chars++ == maxChars) return text.substr(0, i);
    }
    return text;
}

}  // namespace

void ApplyStartOptions(CKVEL_ZorviRQ05_SB03ToolDlg* window, const StartOptions& options) {
    // A port that was named but is not there is not swapped for another.
    const bool portChosen = options.port == 0 || window->SelectPort(options.port);
    // Connecting waits for the loop, so that its messages have a window.
    if (options.connect && portChosen)
        QTimer::singleShot(0, window, [window] {
            if (!window->IsConnected()) window->OnConnectButton();
        });
}

std::string LanguageNameFromSetting(const char* setting) {
    if (!setting || !*setting) return std::string();
    const std::string text(setting);
    if (EqualsIgnoringCase(text, "ENG")) return "en-US";
    if (EqualsIgnoringCase(text, "CHS")) return "zh-cn";
    if (EqualsIgnoringCase(text, "CHT")) return "zh-tw";
    return TruncateUtf8(text, kMaxLanguageNameChars);
}

void ChooseUiLanguageFromSettings() {
    const std::string name =
        LanguageNameFromSetting(AppConfigElement().GetAttribute(app_config::kLanguage));
    if (name.empty() || !SetPreferredUiLanguageName(name)) SetUiLanguage(SystemUiLanguage());
}

void ReadSettingsAndChooseLanguage() {
    LoadAppConfigAtStartup();
    ChooseUiLanguageFromSettings();
}

CKVEL_ZorviRQ05_SB03ToolApp::CKVEL_ZorviRQ05_SB03ToolApp(int& argc, char** argv,
                                                         const StartOptions& options)
    : m_argc(argc), m_argv(argv), m_options(options) {}

bool CKVEL_ZorviRQ05_SB03ToolApp::InitInstance() {
    ReadSettingsAndChooseLanguage();

    // The application object carries the windowing and imaging services;
    // it is made after the settings are read, before the first window, and
    // outlives the main window.
    QApplication application(m_argc, m_argv);
    InstallQtTranslations();
    {
        CKVEL_ZorviRQ05_SB03ToolDlg mainWindow;
        CSignalClose closeOnSignal(&mainWindow);
        ApplyStartOptions(&mainWindow, m_options);
        mainWindow.exec();
    }
    return false;
}
