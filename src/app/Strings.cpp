// The string tables are XML files compiled in as Qt resources
// (":/strings/<language>.xml"). Each table is parsed once, on first use, and
// is read-only afterwards, so lookups are safe from any thread.
#include "app/Strings.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <unordered_map>

#include <QFile>
#include <QtGlobal>

#include <pugixml.hpp>

// The resources live in a static library; naming its initialiser here makes
// sure the linker keeps them in every program that looks up a string.
static void InitialiseResources()
{
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
QString Unescape(const QString& raw)
{
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
        case u'r': text += u'\r'; break;
        case u'n': text += u'\n'; break;
        case u't': text += u'\t'; break;
        case u'\\': text += u'\\'; break;
        default: text += c; text += next; break;
        }
        ++i;
    }
    return text;
}

StringTable LoadTable(const char* languageName)
{
    InitialiseResources();
    StringTable table;
    QFile file(QStringLiteral(":/strings/%1.xml").arg(QLatin1String(languageName)));
    if (!file.open(QIODevice::ReadOnly)) return table;
    const QByteArray data = file.readAll();
    pugi::xml_document document;
    // Default parsing keeps leading and trailing blanks of element text.
    if (!document.load_buffer(data.constData(), static_cast<size_t>(data.size()))) return table;
    for (pugi::xml_node node : document.child("Strings").children("String")) {
        const int id = node.attribute("id").as_int(-1);
        if (id < 0) continue;
        table[id] = Unescape(QString::fromUtf8(node.text().get()));
    }
    return table;
}

const StringTable& EnglishTable()
{
    static const StringTable table = LoadTable("en-US");
    return table;
}

const StringTable& ChineseTable()
{
    static const StringTable table = LoadTable("zh-CN");
    return table;
}

bool StartsWithChinese(std::string_view name)
{
    return name.size() >= 2 && std::tolower(static_cast<unsigned char>(name[0])) == 'z'
           && std::tolower(static_cast<unsigned char>(name[1])) == 'h';
}

}  // namespace

void SetUiLanguage(UiLanguage language)
{
    g_language.store(language);
}

UiLanguage CurrentUiLanguage()
{
    return g_language.load();
}

bool SetPreferredUiLanguageName(std::string_view languageName)
{
    if (languageName.empty()) return false;
    SetUiLanguage(StartsWithChinese(languageName) ? UiLanguage::Chinese : UiLanguage::English);
    return true;
}

UiLanguage SystemUiLanguage()
{
    // The first of these that is set decides, as for the C library's
    // message catalogues.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return StartsWithChinese(value) ? UiLanguage::Chinese : UiLanguage::English;
    }
    return UiLanguage::English;
}

QString LoadStringW(int id)
{
    if (CurrentUiLanguage() == UiLanguage::Chinese) {
        const StringTable& chinese = ChineseTable();
        if (auto found = chinese.find(id); found != chinese.end()) return found->second;
    }
    const StringTable& english = EnglishTable();
    if (auto found = english.find(id); found != english.end()) return found->second;
    return QString();
}
