// Dialog templates are XML files compiled in as Qt resources
// (":/dialogs/<language>/<id>.xml"):
//   <Dialog id="1000" width="426" height="220" font="SimHei" pointSize="9" caption="...">
//     <Control id="1103" kind="defbutton" x="39" y="172" w="38" h="14" text="Connect"
//              styles="..."/>
//   </Dialog>
// Attribute texts are taken as XML gives them (use &#10; for a line break).
#include "ui/DialogTemplate.h"

#include <cmath>
#include <sstream>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <pugixml.hpp>

#include "ui/Strings.h"

static void InitialiseDialogResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(kvel_resources);
        return true;
    }();
    (void)done;
}

namespace {

QString LanguageFolder(UiLanguage language) {
    return language == UiLanguage::Chinese ? QStringLiteral("zh-CN") : QStringLiteral("en-US");
}

std::vector<std::string> SplitWords(const char* text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

std::unique_ptr<DialogTemplate> ParseTemplate(const QByteArray& data) {
    pugi::xml_document document;
    if (!document.load_buffer(data.constData(), static_cast<size_t>(data.size()))) return nullptr;
    const pugi::xml_node root = document.child("Dialog");
    if (!root) return nullptr;
    auto dialog = std::make_unique<DialogTemplate>();
    dialog->id = root.attribute("id").as_int();
    dialog->width = root.attribute("width").as_int();
    dialog->height = root.attribute("height").as_int();
    dialog->caption = QString::fromUtf8(root.attribute("caption").value());
    dialog->fontFamily = QString::fromUtf8(root.attribute("font").value());
    dialog->fontPointSize = root.attribute("pointSize").as_int(9);
    for (pugi::xml_node node : root.children("Control")) {
        DialogControl control;
        control.id = node.attribute("id").value();
        control.kind = node.attribute("kind").value();
        control.x = node.attribute("x").as_int();
        control.y = node.attribute("y").as_int();
        control.w = node.attribute("w").as_int();
        control.h = node.attribute("h").as_int();
        control.text = QString::fromUtf8(node.attribute("text").value());
        control.styles = SplitWords(node.attribute("styles").value());
        dialog->controls.push_back(std::move(control));
    }
    return dialog;
}

std::unique_ptr<DialogTemplate> LoadTemplateFile(int id, UiLanguage language) {
    QFile file(QStringLiteral(":/dialogs/%1/%2.xml").arg(LanguageFolder(language)).arg(id));
    if (!file.open(QIODevice::ReadOnly)) return nullptr;
    return ParseTemplate(file.readAll());
}

bool HasStyle(const DialogControl& control, const char* style) {
    for (const std::string& word : control.styles)
        if (word == style) return true;
    return false;
}

// The family to draw a template font with: the named one when installed,
// else a CJK sans family (the templates carry Chinese texts), else the
// application default.
QString SubstituteFamily(const QString& named) {
    const QStringList families = QFontDatabase::families();
    if (!named.isEmpty() && families.contains(named, Qt::CaseInsensitive)) return named;
    static const QString fallback = [&families] {
        const QString preferred = QStringLiteral("WenQuanYi Micro Hei");
        if (families.contains(preferred, Qt::CaseInsensitive)) return preferred;
        for (const QString& family : families)
            if (QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese))
                return family;
        return QString();
    }();
    return fallback;
}

Qt::Alignment HorizontalAlignment(const DialogControl& control) {
    if (HasStyle(control, "center")) return Qt::AlignHCenter;
    if (HasStyle(control, "right")) return Qt::AlignRight;
    return Qt::AlignLeft;
}

QWidget* MakeLabel(const DialogControl& control, QWidget* parent, bool framed) {
    auto* label = new QLabel(control.text, parent);
    const Qt::Alignment vertical = HasStyle(control, "vcenter") ? Qt::AlignVCenter : Qt::AlignTop;
    label->setAlignment(HorizontalAlignment(control) | vertical);
    label->setWordWrap(HasStyle(control, "twolines") || HasStyle(control, "wrap"));
    if (framed || HasStyle(control, "border")) label->setFrameShape(QFrame::Box);
    return label;
}

QWidget* MakeEdit(const DialogControl& control, QWidget* parent) {
    auto* edit = new QLineEdit(control.text, parent);
    edit->setFrame(HasStyle(control, "border"));
    edit->setAlignment(HorizontalAlignment(control) | Qt::AlignVCenter);
    edit->setReadOnly(HasStyle(control, "readonly"));
    return edit;
}

QPushButton* MakeButton(const DialogControl& control, QWidget* parent) {
    auto* button = new QPushButton(control.text, parent);
    // A button never becomes the default just by taking the focus, so that
    // Enter in a page does not press whichever button was last clicked.
    button->setAutoDefault(false);
    return button;
}

QWidget* MakeDefaultWidget(const DialogControl& control, QWidget* parent) {
    const std::string& kind = control.kind;
    if (kind == "edit") return MakeEdit(control, parent);
    if (kind == "button") return MakeButton(control, parent);
    if (kind == "defbutton") {
        QPushButton* button = MakeButton(control, parent);
        button->setDefault(true);
        return button;
    }
    if (kind == "pushradio") {
        QPushButton* button = MakeButton(control, parent);
        button->setCheckable(true);
        button->setAutoExclusive(true);
        return button;
    }
    if (kind == "combo") return new QComboBox(parent);
    if (kind == "group") return new QGroupBox(control.text, parent);
    if (kind == "check" && HasStyle(control, "pushlike")) {
        QPushButton* button = MakeButton(control, parent);
        button->setCheckable(true);
        return button;
    }
    if (kind == "check") return new QCheckBox(control.text, parent);
    if (kind == "list") {
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        return list;
    }
    if (kind == "progress") {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        return bar;
    }
    if (kind == "frame") return MakeLabel(control, parent, true);
    return MakeLabel(control, parent, false);
}

// A widget supplied by the factory still shows the template's text.
void ApplyText(QWidget* widget, const QString& text) {
    if (text.isEmpty()) return;
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(text);
}

// Consecutive push-like radio buttons form one exclusive group, as a run of
// auto radio buttons does in a dialog.
class RadioGrouper {
public:
    explicit RadioGrouper(QWidget* page) : page_(page) {}
    void Add(const DialogControl& control, QWidget* widget) {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (control.kind != "pushradio" || !button) {
            group_ = nullptr;
            return;
        }
        if (!group_) {
            group_ = new QButtonGroup(page_);
            group_->setExclusive(true);
        }
        group_->addButton(button);
    }

private:
    QWidget* page_;
    QButtonGroup* group_ = nullptr;
};

}  // namespace

std::unique_ptr<DialogTemplate> LoadDialogTemplate(int id) {
    InitialiseDialogResources();
    if (CurrentUiLanguage() != UiLanguage::English)
        if (auto dialog = LoadTemplateFile(id, CurrentUiLanguage())) return dialog;
    return LoadTemplateFile(id, UiLanguage::English);
}

QFont DialogFont(const DialogTemplate& dialog) {
    QFont font;
    const QString family = SubstituteFamily(dialog.fontFamily);
    if (!family.isEmpty()) font.setFamily(family);
    font.setPointSize(dialog.fontPointSize > 0 ? dialog.fontPointSize : 9);
    return font;
}

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int w, int h) {
    const QFontMetrics metrics(font);
    // The horizontal base is the mean width of the Latin alphabet, rounded,
    // which is what dialog layouts have always been measured against (the
    // font's own average width is skewed by wide CJK glyphs).
    static const QString alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
    const int baseY = std::max(1, metrics.height());
    const auto scale = [](int units, int base, int divisor) {
        return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
    };
    return QRect(scale(x, baseX, 4), scale(y, baseY, 8), scale(w, baseX, 4), scale(h, baseY, 8));
}

std::map<std::string, QWidget*> BuildDialog(QWidget* page, const DialogTemplate& dialog,
                                            const DialogControlFactory& factory) {
    std::map<std::string, QWidget*> widgets;
    const QFont font = DialogFont(dialog);
    page->setFont(font);
    page->setProperty("kvelDialog", true);
    if (!dialog.caption.isEmpty()) page->setWindowTitle(dialog.caption);
    page->resize(DialogUnitsToPixels(font, 0, 0, dialog.width, dialog.height).size());

    RadioGrouper radios(page);
    for (const DialogControl& control : dialog.controls) {
        QWidget* widget = factory ? factory(control, page) : nullptr;
        if (widget) {
            if (widget->parentWidget() != page) widget->setParent(page);
            ApplyText(widget, control.text);
        } else {
            widget = MakeDefaultWidget(control, page);
        }
        QRect rect = DialogUnitsToPixels(font, control.x, control.y, control.w, control.h);
        // A drop-down list's template height includes its open list; the
        // closed box is as high as its font needs.
        if (qobject_cast<QComboBox*>(widget))
            rect.setHeight(std::min(rect.height(), widget->sizeHint().height()));
        widget->setGeometry(rect);
        if (!control.id.empty()) {
            widget->setObjectName(QString::fromStdString(control.id));
            widgets[control.id] = widget;
        }
        if (HasStyle(control, "disabled")) widget->setEnabled(false);
        radios.Add(control, widget);
        widget->show();
    }
    return widgets;
}
