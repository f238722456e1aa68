// The application: reads the settings, chooses the interface language, then
// runs the main window as the program's only modal loop and tears down.
#pragma once

#include <string>

class CKVEL_ZorviRQ05_SB03ToolApp {
public:
    // Keeps the command line for the application object it makes later.
    CKVEL_ZorviRQ05_SB03ToolApp(int& argc, char** argv);
    CKVEL_ZorviRQ05_SB03ToolApp(const CKVEL_ZorviRQ05_SB03ToolApp&) = delete;
    CKVEL_ZorviRQ05_SB03ToolApp& operator=(const CKVEL_ZorviRQ05_SB03ToolApp&) = delete;

    // The whole life of the program. Returns false in every case: there is
    // nothing to run once the main window has closed.
    bool InitInstance();

private:
    int& m_argc;
    char** m_argv;
};

// The language name the "Language" setting stands for: "ENG", "CHS" and
// "CHT" (any letter case) give "en-US", "zh-cn" and "zh-tw"; any other text
// is a language name itself (at most 31 characters); no text gives "".
std::string LanguageNameFromSetting(const char* setting);
// Chooses the interface language from the "Language" attribute of the
// settings; without one (or an empty one) the system's language applies.
void ChooseUiLanguageFromSettings();
// Start-up before the first window: the settings file read (and created
// when it lacks its element), then the language chosen.
void ReadSettingsAndChooseLanguage();
