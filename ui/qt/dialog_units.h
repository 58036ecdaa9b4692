// Placing widgets the way a dialog template does: rectangles in dialog units, turned
// into pixels by one scale factor for the whole dialog.
#pragma once

#include <QRect>
#include <QString>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "ui/main_template.h"

namespace orvante::ui::qt {

// Pixels per dialog unit, across and down: "宋体" 9 pt at 96 dpi has 6-pixel average
// characters (4 units across) and 12-pixel lines (8 units down).
inline constexpr double kPixelsPerDlu = 1.5;

// A rectangle in dialog units, as the window template gives it.
using Dlu = ui::DialogRect;

inline int DluToPixels(int units) {
    return static_cast<int>(std::lround(units * kPixelsPerDlu));
}

// Edges are scaled, not sizes, so that rectangles that meet in units meet in pixels.
inline QRect DluToPixels(Dlu r) {
    const int left = DluToPixels(r.x), top = DluToPixels(r.y);
    return QRect(left, top, DluToPixels(r.x + r.w) - left, DluToPixels(r.y + r.h) - top);
}

// Texts are UTF-8 in the window logic and its template.
inline QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Makes a Qt object that its parent owns and deletes (Qt's object tree).
template <class T, class Parent, class... Args>
T* MakeChild(Parent* parent, Args&&... args) {
    auto child = std::make_unique<T>(std::forward<Args>(args)...);
    child->setParent(parent);
    return child.release();
}

}  // namespace orvante::ui::qt
