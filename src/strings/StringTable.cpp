// The string tables are XML files compiled in as Qt resources
// (":/strings/<language>.xml"), parsed once on first use.
#include "strings/StringTable.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>
#include <QtGlobal>

#include <pugixml.hpp>

// The resources live in a static library; naming its initialiser here makes
// sure the linker keeps them in every program that looks up a string.
static void InitialiseResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(kvel_resources);
        return true;
    }();
    (void)done;
}

namespace {

using StringTable = std::unordered_map<int, QString>;

std::atomic<UiLanguage> g_language{UiLanguage::English};

// Backslash escapes in the table: \r \n \t \\ (anything else stays as it is).
QString Unescape(const QString& raw) {
    QString text;
    text.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            text += c;
            continue;
        }
        const QChar next = raw[i + 1];
        switch (next.unicode()) {
            case u'r':
                text += u'\r';
                break;
            case u'n':
                text += u'\n';
                break;
            case u't':
                text += u'\t';
                break;
            case u'\\':
                text += u'\\';
                break;
            default:
                text += c;
                text += next;
                break;
        }
        ++i;
    }
    return text;
}

bool ParseTable(const QByteArray& data, StringTable* table) {
    pugi::xml_document document;
    // Default parsing keeps leading and trailing blanks of element text.
    if (!document.load_buffer(data.constData(), static_cast<size_t>(data.size()))) return false;
    const pugi::xml_node root = document.child("Strings");
    if (!root) return false;
    table->clear();
    for (pugi::xml_node node : root.children("String")) {
        const int id = node.attribute("id").as_int(-1);
        if (id < 0) continue;
        (*table)[id] = Unescape(QString::fromUtf8(node.text().get()));
    }
    return true;
}

StringTable LoadCompiledTable(UiLanguage language) {
    InitialiseResources();
    StringTable table;
    const QString name =
        language == UiLanguage::Chinese ? QStringLiteral("zh-CN") : QStringLiteral("en-US");
    QFile file(QStringLiteral(":/strings/%1.xml").arg(name));
    if (file.open(QIODevice::ReadOnly)) ParseTable(file.readAll(), &table);
    return table;
}

// Both tables, loaded together on first use. Lookups may come from worker
// threads (log texts), hence the lock.
struct Tables {
    std::mutex lock;
    bool loaded = false;
    StringTable english, chinese;

    StringTable& Of(UiLanguage language) {
        if (!loaded) {
            english = LoadCompiledTable(UiLanguage::English);
            chinese = LoadCompiledTable(UiLanguage::Chinese);
            loaded = true;
        }
        return language == UiLanguage::Chinese ? chinese : english;
    }
};

Tables& TheTables() {
    static Tables tables;
    return tables;
}

bool StartsWithChinese(std::string_view name) {
    return name.size() >= 2 && std::tolower(static_cast<unsigned char>(name[0])) == 'z' &&
           std::tolower(static_cast<unsigned char>(name[1])) == 'h';
}

// The name's language subtag ("zh" of "zh-CN" or "zh_TW"), in lower case.
std::string PrimaryLanguageTag(std::string_view name) {
    std::string tag;
    for (char c : name) {
        if (c == '-' || c == '_' || c == '.' || c == '@') break;
        tag += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return tag;
}

}  // namespace

void SetUiLanguage(UiLanguage language) { g_language.store(language); }

UiLanguage CurrentUiLanguage() { return g_language.load(); }

bool InstallQtTranslations() {
    // Owned by the application object; gone with it.
    static QPointer<QTranslator> installed;
    if (installed) QCoreApplication::removeTranslator(installed);
    delete installed;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || CurrentUiLanguage() != UiLanguage::Chinese) return false;
    auto* translator = new QTranslator(application);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

bool SetPreferredUiLanguageName(std::string_view languageName) {
    // Only a language the program has texts for can be chosen; any other
    // name leaves the system's choice in place.
    const std::string tag = PrimaryLanguageTag(languageName);
    if (tag == "zh") {
        SetUiLanguage(UiLanguage::Chinese);
        return true;
    }
    if (tag == "en") {
        SetUiLanguage(UiLanguage::English);
        return true;
    }
    return false;
}

UiLanguage SystemUiLanguage() {
    // The first of these that is set decides, as for the C library's
    // message catalogues.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return StartsWithChinese(value) ? UiLanguage::Chinese : UiLanguage::English;
    }
    return UiLanguage::English;
}

QString LoadStringW(int id) {
    Tables& tables = TheTables();
    std::lock_guard<std::mutex> guard(tables.lock);
    if (CurrentUiLanguage() == UiLanguage::Chinese) {
        const StringTable& chinese = tables.Of(UiLanguage::Chinese);
        if (auto found = chinese.find(id); found != chinese.end()) return found->second;
    }
    const StringTable& english = tables.Of(UiLanguage::English);
    if (auto found = english.find(id); found != english.end()) return found->second;
    return QString();
}

bool ReplaceStringTable(UiLanguage language, const QByteArray& xml) {
    StringTable table;
    if (!ParseTable(xml, &table)) return false;
    Tables& tables = TheTables();
    std::lock_guard<std::mutex> guard(tables.lock);
    tables.Of(language) = std::move(table);
    return true;
}
