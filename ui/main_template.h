// The main window's template: every control with its place in dialog units, and the
// lists it gives its drop-down lists. Each window backend builds the window from it, so
// the window looks and is named the same everywhere, and the logic's indexes mean the
// same.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "ui/resource.h"

namespace orvante::ui {

// A rectangle in dialog units: x, y, width, height.
struct DialogRect {
    int x, y, w, h;
};

enum class ControlKind {
    kGroup,          // a group box; the controls after it sit in it unless on the dialog
    kLabel,          // text, with an id when the logic writes it
    kIcon,           // a picture the logic sets
    kEdit,           // one line
    kMultiLineEdit,  // lines ending in CR LF, scrolled
    kDropDownList,   // a list to choose from, no typing
    kButton,
    kCheckBox,
};

enum class TextAlign { kLeft, kRight, kCenter };

struct ControlTemplate {
    ControlKind kind = ControlKind::kLabel;
    int id = 0;  // 0: the logic never addresses it
    std::string text;
    DialogRect rect{};                   // in the dialog's coordinates, also inside a group
    bool onDialog = false;               // placed on the dialog itself, not in the group before it
    TextAlign align = TextAlign::kLeft;  // labels
    bool namesNext = false;              // a label that names the control after it
    bool bordered = false;               // a sunken label, as the status fields are
    bool digitsOnly = false;             // edits
    bool sorted = false;                 // lists that keep their items sorted
    int visibleItems = 16;               // lists: rows shown when it drops down
    bool hidden = false;
    bool disabled = false;
    bool smallFont = false;  // 8 pt instead of the dialog's 9 pt
    bool isDefault = false;  // the button Enter presses
    std::string name;        // an object name for a control without an id (groups, the IO edits)
    std::string accessibleName;  // for a control no label names
};

struct DialogTemplate {
    std::string title;                      // empty: the backend's own
    int width = 0, height = 0;              // the smallest the window is, in dialog units
    std::vector<ControlTemplate> controls;  // in the order they are made (the tab order)
};

// The main window (template 102).
const DialogTemplate& MainDialogTemplate();
// The About box (template 100), naming `version`: the application's icon, its name and
// version, and "确定" (IDOK).
DialogTemplate AboutDialogTemplate(const std::string& version);
// The rectangle of the control with `id`; the log and the status fields follow the
// window's size from these.
DialogRect MainControlRect(int id);

// A place in a backend's pixels: x, y, width, height.
struct PixelRect {
    int x, y, w, h;
};
struct ControlPlace {
    int id;
    PixelRect rect;
};
// Where the controls that follow the main window's size go when its client area is
// `width` × `height` pixels: whatever it has beyond its design size, the smallest it can
// be, goes to the log, and the status fields below it keep their distance to the bottom
// edge. The rest stays where the template puts it. `toPixels` is the backend's scale.
std::vector<ControlPlace> MainPlacesForSize(
    int width, int height, const std::function<PixelRect(const DialogRect&)>& toPixels);

struct TemplateList {
    int id;
    std::vector<std::string> items;
};

// Every drop-down list of the main window except the port list, which is filled at
// start-up; in the order of the template.
const std::vector<TemplateList>& MainTemplateLists();

}  // namespace orvante::ui
