// Dialog templates: a page's controls with their rectangles in dialog units,
// one file per dialog and language under resources/dialogs/, compiled into
// the program. BuildDialog makes the widgets: object name = control ID,
// geometry converted through the template font.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

struct DialogControl {
    std::string id;                  // the control ID ("1103") or "" for unnamed labels
    std::string kind;                // "static", "edit", "button", "defbutton", "pushradio",
                                     // "combo", "group", "frame" (bordered static), "check",
                                     // "list" (report list), "progress" (0 to 100)
    int x = 0, y = 0, w = 0, h = 0;  // dialog units
    QString text;
    std::vector<std::string> styles;  // extra style words ("border", "autohscroll", "center",
                                      // "right", "vcenter", "twolines", "readonly",
                                      // "pushlike" (check), "disabled")
};

struct DialogTemplate {
    int id = 0;
    int width = 0, height = 0;  // dialog units
    QString caption;
    QString fontFamily;  // as the template names it ("SimHei")
    int fontPointSize = 9;
    std::vector<DialogControl> controls;
};

// Loads template `id` in the current UI language (English as fallback).
// Returns nullptr when neither exists.
std::unique_ptr<DialogTemplate> LoadDialogTemplate(int id);

// The template font with the family substituted by an installed CJK sans
// font where the named one is missing.
QFont DialogFont(const DialogTemplate& dialog);
// Dialog units -> pixels: x by average character width / 4, y by
// character height / 8 of `font`.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int w, int h);

// Creates a widget per control as children of `page`, sizes the page to the
// template, sets the page's font. `factory` may supply the widget for a
// control ID (return nullptr for the default kind). Returns ID -> widget.
using DialogControlFactory = std::function<QWidget*(const DialogControl&, QWidget* parent)>;
std::map<std::string, QWidget*> BuildDialog(QWidget* page, const DialogTemplate& dialog,
                                            const DialogControlFactory& factory = {});
