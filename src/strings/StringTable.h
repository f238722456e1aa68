// The string table: every user-visible text by its numeric identifier, in
// English (United States) and Chinese (PRC). Tables live in
// resources/strings/ and are compiled into the program.
#pragma once

#include <string_view>

#include <QString>

enum class UiLanguage { English, Chinese };

// The language of every table and dialog template loaded from now on.
// Chosen once at start-up, before the first window.
void SetUiLanguage(UiLanguage language);
UiLanguage CurrentUiLanguage();
// The process's preferred language from a language name: Chinese for "zh"
// names ("zh-cn", "zh-tw": the program carries the PRC texts only), English
// for "en" names. Returns false and changes nothing for any other name
// ("de-DE", "garbage", ""): the program has no texts for it.
bool SetPreferredUiLanguageName(std::string_view languageName);
// The language the system asks for through its locale (LC_ALL, LC_MESSAGES,
// LANG), used when the settings name none.
UiLanguage SystemUiLanguage();
// Installs Qt's own translations for the current language on the running
// application object, so that what Qt draws itself (the message boxes'
// buttons, the file dialogs) speaks the same language as the program's
// tables; a translation installed by an earlier call is removed first.
// False for English, without an application object, or when the system has
// no Qt translations for the language (Debian: qt6-translations-l10n).
bool InstallQtTranslations();

// Entries several windows share; each window names its other entries itself.
namespace shared_text {
constexpr int kError = 10000;    // "Error": the caption of every failure's box
constexpr int kNote = 10001;     // "Note"
constexpr int kSuccess = 10002;  // "Success"
constexpr int kStart = 10003;
constexpr int kPause = 10004;
constexpr int kChartHint = 10005;     // the charts' mouse help
constexpr int kNotConnected = 10103;  // "Device Not Connected"
}  // namespace shared_text

// The text of `id` in the current language, the English text when the
// current table lacks it, and an empty text when neither has it.
QString LoadStringW(int id);

class QByteArray;
// Replaces the table of `language` by one in the compiled tables' XML form
// (tests of lookups and of the table format). Returns false, keeping the
// table, when `xml` does not hold a string table.
bool ReplaceStringTable(UiLanguage language, const QByteArray& xml);
