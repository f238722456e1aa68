// The string tables and the choice of the interface language.
#include <QFile>
#include <QtTest>

#include "strings/StringTable.h"

namespace {

// Every text identifier the program's windows use.
const int kUsedIds[] = {
    102,   10000, 10001, 10002, 10003, 10004, 10005, 10100, 10101, 10102, 10103, 10104,
    10106, 10107, 10150, 10151, 10152, 10153, 10154, 10200, 10201, 10210, 10211, 10212,
    10213, 10214, 10215, 10216, 10217, 10218, 10230, 10231, 10232, 10233, 10300, 10301,
    10302, 10310, 10311, 10312, 10313, 10314, 10315, 10316, 10317, 10318, 10330, 10331,
    10332, 10333, 10350, 10351, 10352, 10402, 10403, 10404, 10405, 10406, 10407, 10408,
    10409, 10410, 10411, 10412, 10413, 10414, 10415, 10416, 10417, 10418, 10419, 10420,
    10421, 10422, 10423, 10006, 10007, 10008,  // the chart's picture menu
    10234, 10235, 10236, 10237, 10238, 10239,  // the capture page's additions
    10424, 10425, 10426,                       // the firmware download's confirmation
};

QString TextIn(UiLanguage language, int id) {
    const UiLanguage before = CurrentUiLanguage();
    SetUiLanguage(language);
    const QString text = LoadStringW(id);
    SetUiLanguage(before);
    return text;
}

}  // namespace

class StringTableTest : public QObject {
    Q_OBJECT

private slots:
    void init() { SetUiLanguage(UiLanguage::English); }

    void everyUsedIdHasBothLanguages() {
        for (int id : kUsedIds) {
            const QString english = TextIn(UiLanguage::English, id);
            const QString chinese = TextIn(UiLanguage::Chinese, id);
            QVERIFY2(!english.isEmpty(), qPrintable(QString::number(id)));
            // A Chinese text equal to the English one would be the fallback.
            QVERIFY2(!chinese.isEmpty() && chinese != english, qPrintable(QString::number(id)));
        }
    }

    void textsKeepBlanksLineEndsAndWidePunctuation() {
        QCOMPARE(TextIn(UiLanguage::English, 10106),
                 QStringLiteral("Failed to set data transfer mode "));
        QCOMPARE(TextIn(UiLanguage::English, 10300),
                 QStringLiteral("Target Range: %.2f m\r\n\r\n"));
        QCOMPARE(TextIn(UiLanguage::Chinese, 10300), QStringLiteral("目标距离: %.2f米\r\n"));
        QCOMPARE(TextIn(UiLanguage::English, 10415), QStringLiteral("Downloading… \r\n"));
        QCOMPARE(TextIn(UiLanguage::English, 10419),
                 QStringLiteral("Download Progress: %.2f%%\r\n"));
        QCOMPARE(TextIn(UiLanguage::Chinese, 10403), QStringLiteral("端口号不能为空！"));
        QCOMPARE(TextIn(UiLanguage::Chinese, 10154), QStringLiteral("参数文件保存失败 %s：%s"));
        QCOMPARE(TextIn(UiLanguage::English, 10005),
                 QStringLiteral("Scroll (+Ctrl): Zoom Y(X) axis\r\n Click: Shift X/Y axis\r\n "
                                "Double click: Reset"));
    }

    void missingTextsFallBackToEnglishThenEmpty() {
        const QByteArray english =
            "<Strings><String id='1'>One</String><String id='2'>Two</String>"
            "<String id='3'>a\\\\b\\tc\\q</String></Strings>";
        const QByteArray chinese = "<Strings><String id='1'>一</String></Strings>";
        QVERIFY(ReplaceStringTable(UiLanguage::English, english));
        QVERIFY(ReplaceStringTable(UiLanguage::Chinese, chinese));
        QVERIFY(!ReplaceStringTable(UiLanguage::Chinese, "<NotStrings/>"));
        QVERIFY(!ReplaceStringTable(UiLanguage::Chinese, "<Strings>"));

        QCOMPARE(TextIn(UiLanguage::Chinese, 1), QStringLiteral("一"));
        QCOMPARE(TextIn(UiLanguage::Chinese, 2), QStringLiteral("Two"));
        QCOMPARE(TextIn(UiLanguage::Chinese, 4), QString());
        QCOMPARE(TextIn(UiLanguage::English, 1), QStringLiteral("One"));
        QCOMPARE(TextIn(UiLanguage::English, 3), QStringLiteral("a\\b\tc\\q"));
        RestoreCompiledTables();
    }

    void languageFromNames() {
        QVERIFY(SetPreferredUiLanguageName("zh-tw"));
        QCOMPARE(CurrentUiLanguage(), UiLanguage::Chinese);
        QVERIFY(SetPreferredUiLanguageName("en-US"));
        QCOMPARE(CurrentUiLanguage(), UiLanguage::English);
        QVERIFY(SetPreferredUiLanguageName("ZH-CN"));
        QCOMPARE(CurrentUiLanguage(), UiLanguage::Chinese);
        QVERIFY(!SetPreferredUiLanguageName(""));
        QCOMPARE(CurrentUiLanguage(), UiLanguage::Chinese);
        // Names the program has no texts for choose nothing.
        for (const char* other : {"fr-FR", "z", "garbage", "english", "zhx"}) {
            QVERIFY(!SetPreferredUiLanguageName(other));
            QCOMPARE(CurrentUiLanguage(), UiLanguage::Chinese);
        }
        QVERIFY(SetPreferredUiLanguageName("en_GB.UTF-8"));
        QCOMPARE(CurrentUiLanguage(), UiLanguage::English);
    }

    void languageFromLocaleVariables() {
        const QByteArray all = qgetenv("LC_ALL"), messages = qgetenv("LC_MESSAGES"),
                         lang = qgetenv("LANG");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        qputenv("LANG", "zh_CN.UTF-8");
        QCOMPARE(SystemUiLanguage(), UiLanguage::Chinese);
        qputenv("LC_MESSAGES", "fr_FR.UTF-8");
        QCOMPARE(SystemUiLanguage(), UiLanguage::English);
        qputenv("LC_ALL", "zh_TW.UTF-8");
        QCOMPARE(SystemUiLanguage(), UiLanguage::Chinese);
        qputenv("LC_ALL", "C");
        QCOMPARE(SystemUiLanguage(), UiLanguage::English);
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        qunsetenv("LANG");
        QCOMPARE(SystemUiLanguage(), UiLanguage::English);
        RestoreVariable("LC_ALL", all);
        RestoreVariable("LC_MESSAGES", messages);
        RestoreVariable("LANG", lang);
    }

private:
    static void RestoreVariable(const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    static void RestoreCompiledTables() {
        for (auto [language, name] : {std::pair{UiLanguage::English, ":/strings/en-US.xml"},
                                      std::pair{UiLanguage::Chinese, ":/strings/zh-CN.xml"}}) {
            QFile file(QString::fromLatin1(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(ReplaceStringTable(language, file.readAll()));
        }
    }
};

QTEST_GUILESS_MAIN(StringTableTest)
#include "StringTableTest.moc"
