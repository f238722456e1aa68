// Dialog templates and the dialog builder, the filter conversion, the
// message-box convenience and the compiled-in pictures; the string tables
// themselves are tested in tests/strings.
#include <QButtonGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "../support/PromptRecorder.h"
#include "ui/DialogTemplate.h"
#include "ui/Prompt.h"
#include "ui/Strings.h"

namespace {

const DialogControl* FindControl(const DialogTemplate& dialog, const std::string& id) {
    for (const DialogControl& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}

QRect RectOf(const DialogControl& control) {
    return QRect(control.x, control.y, control.w, control.h);
}

}  // namespace

class StringsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { SetUiLanguage(UiLanguage::English); }

    void mainWindowTemplateInBothLanguages() {
        std::unique_ptr<DialogTemplate> english = LoadDialogTemplate(1000);
        QVERIFY(english);
        QCOMPARE(english->id, 1000);
        QCOMPARE(QSize(english->width, english->height), QSize(426, 220));
        QCOMPARE(english->caption, QStringLiteral("KVEL_ZorviRQ05_SB03Tool"));
        QCOMPARE(english->fontFamily, QStringLiteral("SimHei"));
        QCOMPARE(english->fontPointSize, 9);
        QCOMPARE(english->controls.size(), size_t(12));
        const DialogControl* connect = FindControl(*english, "1103");
        QVERIFY(connect);
        QCOMPARE(connect->kind, std::string("defbutton"));
        QCOMPARE(RectOf(*connect), QRect(39, 172, 38, 14));
        QCOMPARE(connect->text, QStringLiteral("Connect"));
        QCOMPARE(RectOf(*FindControl(*english, "1101")), QRect(40, 139, 37, 30));
        QCOMPARE(RectOf(*FindControl(*english, "1200")), QRect(82, 2, 340, 216));
        QCOMPARE(FindControl(*english, "1104")->text, QStringLiteral("Version：Unknown"));
        const DialogControl* baud = FindControl(*english, "1102");
        QCOMPARE(baud->styles, (std::vector<std::string>{"border", "autohscroll"}));
        QCOMPARE(english->controls[4].id, std::string());
        QCOMPARE(english->controls[4].text, QStringLiteral("Port No."));

        SetUiLanguage(UiLanguage::Chinese);
        std::unique_ptr<DialogTemplate> chinese = LoadDialogTemplate(1000);
        QVERIFY(chinese);
        QCOMPARE(chinese->controls.size(), size_t(12));
        QCOMPARE(FindControl(*chinese, "1187")->text, QStringLiteral("参数查看/设置"));
        QCOMPARE(FindControl(*chinese, "1103")->text, QStringLiteral("连接设备"));
        QCOMPARE(RectOf(*FindControl(*chinese, "1101")), QRect(34, 139, 44, 30));
        QCOMPARE(RectOf(*FindControl(*chinese, "1102")), QRect(34, 155, 44, 14));
        for (size_t i = 0; i < english->controls.size(); ++i) {
            QCOMPARE(chinese->controls[i].id, english->controls[i].id);
            QCOMPARE(chinese->controls[i].kind, english->controls[i].kind);
        }

        QVERIFY(!LoadDialogTemplate(987654));
    }

    void pageTemplatesFitAndMatchAcrossLanguages() {
        for (int id : {1000, 3000, 3500, 4000}) {
            SetUiLanguage(UiLanguage::English);
            std::unique_ptr<DialogTemplate> english = LoadDialogTemplate(id);
            SetUiLanguage(UiLanguage::Chinese);
            std::unique_ptr<DialogTemplate> chinese = LoadDialogTemplate(id);
            QVERIFY2(english && chinese, qPrintable(QString::number(id)));
            QCOMPARE(chinese->controls.size(), english->controls.size());
            for (const DialogTemplate* dialog : {english.get(), chinese.get()}) {
                const QRect bounds(0, 0, dialog->width, dialog->height);
                for (size_t i = 0; i < dialog->controls.size(); ++i) {
                    const DialogControl& control = dialog->controls[i];
                    const QString where = QStringLiteral("%1 #%2").arg(id).arg(i);
                    QVERIFY2(bounds.contains(RectOf(control)), qPrintable(where));
                    QVERIFY2(!control.kind.empty(), qPrintable(where));
                    QCOMPARE(control.id, english->controls[i].id);
                    // Controls never overlap; a drop-down list's height includes its open list.
                    for (size_t j = 0; j < i; ++j) {
                        const DialogControl& other = dialog->controls[j];
                        if (control.kind == "combo" || other.kind == "combo") continue;
                        QVERIFY2(!RectOf(control).intersects(RectOf(other)), qPrintable(where));
                    }
                }
            }
        }
    }

    void moreKindsGetTheirWidgets() {
        SetUiLanguage(UiLanguage::Chinese);
        std::unique_ptr<DialogTemplate> collector = LoadDialogTemplate(3500);
        QVERIFY(collector);
        QCOMPARE(collector->caption, QStringLiteral("门限采集"));
        QWidget dialog;
        auto widgets = BuildDialog(&dialog, *collector);
        QVERIFY(qobject_cast<QTreeWidget*>(widgets.at("3501")));
        auto* progress = qobject_cast<QProgressBar*>(widgets.at("3502"));
        QVERIFY(progress);
        QCOMPARE(progress->maximum(), 100);
        QCOMPARE(qobject_cast<QPushButton*>(widgets.at("2"))->text(), QStringLiteral("取消"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("门限采集"));

        std::unique_ptr<DialogTemplate> realtime = LoadDialogTemplate(3000);
        QWidget page;
        widgets = BuildDialog(&page, *realtime);
        auto* lamp = qobject_cast<QPushButton*>(widgets.at("3001"));
        QVERIFY(lamp);
        QVERIFY(lamp->isCheckable());
        QVERIFY(!lamp->isEnabled());
        QCOMPARE(qobject_cast<QPushButton*>(widgets.at("3004"))->text(),
                 QStringLiteral("生成门限"));
    }

    void dialogUnitsFollowTheFont() {
        DialogTemplate dialog;
        dialog.fontFamily = QStringLiteral("SimHei");
        dialog.fontPointSize = 9;
        const QFont font = DialogFont(dialog);
        QCOMPARE(font.pointSize(), 9);
        QVERIFY(QFontDatabase::families().contains(font.family()) ||
                font.family() == QFont().family());
        const QRect base = DialogUnitsToPixels(font, 4, 8, 4, 8);
        QVERIFY(base.width() > 0);
        QCOMPARE(base.height(), QFontMetrics(font).height());
        QCOMPARE(base.topLeft(), QPoint(base.width(), base.height()));
        const QRect many = DialogUnitsToPixels(font, 400, 800, 0, 0);
        QCOMPARE(many.topLeft(), QPoint(100 * base.width(), 100 * base.height()));

        QFont bigger = font;
        bigger.setPointSize(18);
        const QRect big = DialogUnitsToPixels(bigger, 4, 8, 4, 8);
        QVERIFY(big.width() > base.width());
        QVERIFY(big.height() > base.height());
    }

    void buildDialogCreatesNamedWidgets() {
        std::unique_ptr<DialogTemplate> dialog = LoadDialogTemplate(1000);
        QVERIFY(dialog);
        QWidget page;
        QLineEdit* supplied = nullptr;
        const auto factory = [&supplied](const DialogControl& control,
                                         QWidget* parent) -> QWidget* {
            if (control.id != "1102") return nullptr;
            supplied = new QLineEdit(parent);
            return supplied;
        };
        const std::map<std::string, QWidget*> widgets = BuildDialog(&page, *dialog, factory);
        const QFont font = DialogFont(*dialog);

        QCOMPARE(widgets.size(), size_t(10));
        QVERIFY(page.property("kvelDialog").toBool());
        QCOMPARE(page.font(), font);
        QCOMPARE(page.size(), DialogUnitsToPixels(font, 0, 0, 426, 220).size());

        auto* connect = qobject_cast<QPushButton*>(widgets.at("1103"));
        QVERIFY(connect);
        QCOMPARE(connect->objectName(), QStringLiteral("1103"));
        QCOMPARE(connect->text(), QStringLiteral("Connect"));
        QVERIFY(connect->isDefault());
        QCOMPARE(connect->geometry(), DialogUnitsToPixels(font, 39, 172, 38, 14));
        QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("1100"))->isDefault(), false);

        QCOMPARE(widgets.at("1102"), supplied);
        QCOMPARE(supplied->objectName(), QStringLiteral("1102"));
        QCOMPARE(supplied->geometry(), DialogUnitsToPixels(font, 40, 155, 37, 14));

        auto* ports = qobject_cast<QComboBox*>(widgets.at("1101"));
        QVERIFY(ports);
        QCOMPARE(ports->x(), DialogUnitsToPixels(font, 40, 139, 37, 30).x());
        QVERIFY(ports->height() <= DialogUnitsToPixels(font, 40, 139, 37, 30).height());

        auto* placeholder = qobject_cast<QLabel*>(widgets.at("1200"));
        QVERIFY(placeholder);
        QCOMPARE(placeholder->frameShape(), QFrame::Box);

        bool portLabel = false;
        for (QLabel* label : page.findChildren<QLabel*>())
            portLabel = portLabel || label->text() == QStringLiteral("Port No.");
        QVERIFY(portLabel);
    }

    void pushRadiosOfOneRunAreExclusive() {
        DialogTemplate dialog;
        dialog.width = 100;
        dialog.height = 100;
        const auto add = [&dialog](const char* id, const char* kind) {
            DialogControl control;
            control.id = id;
            control.kind = kind;
            control.w = 20;
            control.h = 10;
            dialog.controls.push_back(control);
        };
        add("1", "pushradio");
        add("2", "pushradio");
        add("3", "static");
        add("4", "pushradio");
        QWidget page;
        const auto widgets = BuildDialog(&page, dialog);
        auto button = [&widgets](const char* id) {
            return qobject_cast<QPushButton*>(widgets.at(id));
        };
        QVERIFY(button("1")->isCheckable());
        QVERIFY(button("1")->group());
        QCOMPARE(button("1")->group(), button("2")->group());
        QVERIFY(button("4")->group() != button("1")->group());
        button("1")->click();
        button("2")->click();
        QVERIFY(!button("1")->isChecked());
        QVERIFY(button("2")->isChecked());
        button("4")->click();
        QVERIFY(button("2")->isChecked());
        QVERIFY(button("4")->isChecked());
    }

    void fileFiltersBecomeQtFilters() {
        QCOMPARE(ConvertFileFilter(QStringLiteral("A(*.a)|*.a|B(*.*)|*.*||")),
                 QStringLiteral("A(*.a);;B(*.*)"));
        QCOMPARE(ConvertFileFilter(QStringLiteral("XML File(*.xml)|*.xml||")),
                 QStringLiteral("XML File(*.xml)"));
        QCOMPARE(ConvertFileFilter(QStringLiteral("Images(*.bin;*.hex)|*.bin;*.hex||")),
                 QStringLiteral("Images(*.bin *.hex)"));
        QCOMPARE(ConvertFileFilter(QStringLiteral("Data files|*.dat|")),
                 QStringLiteral("Data files(*.dat)"));
        QCOMPARE(ConvertFileFilter(QStringLiteral("A(*.a)|*.a")), QStringLiteral("A(*.a)"));
        QCOMPARE(ConvertFileFilter(QString()), QString());
        QCOMPARE(ConvertFileFilter(QStringLiteral("||")), QString());
    }

    void stringMessageBoxUsesTheTable() {
        PromptRecorder recorder;
        SetUiLanguage(UiLanguage::Chinese);
        ShowStringMessageBox(nullptr, 10103, 10000, PromptIcon::Error, true);
        QCOMPARE(recorder.messages.size(), size_t(1));
        QCOMPARE(recorder.messages[0].text, QStringLiteral("设备未连接"));
        QCOMPARE(recorder.messages[0].caption, QStringLiteral("错误"));
        QCOMPARE(recorder.messages[0].icon, PromptIcon::Error);
        QVERIFY(recorder.messages[0].topmost);
    }

    void qtsOwnButtonsFollowTheLanguage() {
        SetUiLanguage(UiLanguage::Chinese);
        QVERIFY(InstallQtTranslations());
        QMessageBox chinese(QMessageBox::Information, QString(), QString(), QMessageBox::Ok);
        QCOMPARE(chinese.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
        SetUiLanguage(UiLanguage::English);
        QVERIFY(!InstallQtTranslations());
        QMessageBox english(QMessageBox::Information, QString(), QString(), QMessageBox::Ok);
        QCOMPARE(english.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')), QString("OK"));
    }

    void picturesAreCompiledIn() {
        for (const char* name : {":/images/191.png", ":/images/192.png"}) {
            const QImage light(QString::fromLatin1(name));
            QCOMPARE(light.size(), QSize(356, 344));
            QVERIFY(light.hasAlphaChannel());
            QCOMPARE(qAlpha(light.pixel(0, 0)), 0);        // transparent surround
            QCOMPARE(qAlpha(light.pixel(178, 172)), 255);  // opaque lens
        }
        const QColor green = QImage(QStringLiteral(":/images/191.png")).pixelColor(178, 200);
        const QColor red = QImage(QStringLiteral(":/images/192.png")).pixelColor(178, 200);
        QVERIFY(green.green() > green.red());
        QVERIFY(red.red() > red.green());
        QVERIFY(!QImage(QStringLiteral(":/images/128.png")).isNull());
    }

    void qtPromptDoesNotWaitWithoutAScreen() {
        SetPrompt(nullptr);
        MessageBoxRequest message;
        message.text = QStringLiteral("text");
        Prompt().ShowMessageBox(message);
        QString chosen = QStringLiteral("unchanged");
        QVERIFY(!Prompt().GetOpenFileName(FileDialogRequest{}, &chosen));
        QVERIFY(!Prompt().GetSaveFileName(FileDialogRequest{}, &chosen));
        QVERIFY(!Prompt().BrowseForFolder(nullptr, QString(), QString(), &chosen));
        QCOMPARE(chosen, QStringLiteral("unchanged"));
    }
};

QTEST_MAIN(StringsTest)
#include "StringsTest.moc"
