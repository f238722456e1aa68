// The application: reads the settings, chooses the interface language, then
// runs the main window as the program's only modal loop and tears down.
#pragma once

#include <string>

#include "app/StartOptions.h"

class CKVEL_ZorviRQ05_SB03ToolApp {
public:
    // Keeps the command line for the application object it makes later, and
    // the start options read from it.
    CKVEL_ZorviRQ05_SB03ToolApp(int& argc, char** argv, const StartOptions& options = {});
    CKVEL_ZorviRQ05_SB03ToolApp(const CKVEL_ZorviRQ05_SB03ToolApp&) = delete;
    CKVEL_ZorviRQ05_SB03ToolApp& operator=(const CKVEL_ZorviRQ05_SB03ToolApp&) = delete;

    // The whole life of the program. Returns false in every case: there is
    // nothing to run once the main window has closed.
    bool InitInstance();

private:
    int& m_argc;
    char** m_argv;
    StartOptions m_options;
};

// The language name the "Language" setting stands for: "ENG", "CHS" and
// "CHT" (any letter case) give "en-US", "zh-cn" and "zh-tw"; any other text
// is a language name itself (at most 31 characters); no text gives "".
std::string LanguageNameFromSetting(const char* setting);
// Chooses the interface language from the "Language" attribute of the
// settings; without one (or an empty one) the system's language applies.
void ChooseUiLanguageFromSettings();
class CKVEL_ZorviRQ05_SB03ToolDlg;
// The start options on a new main window: the named port selected, and a
// connect posted for when the window's loop runs. A named port that is not
// there leaves the choice as it was and connects nowhere.
void ApplyStartOptions(CKVEL_ZorviRQ05_SB03ToolDlg* window, const StartOptions& options);
// Start-up before the first window: the settings file read (and created
// when it lacks its element), then the language chosen.
void ReadSettingsAndChooseLanguage();
