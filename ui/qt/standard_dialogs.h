// Message boxes and file dialogs as the window logic knows them from Win32.
#pragma once

#include <QMessageBox>
#include <optional>
#include <string>
#include <string_view>

#include "ui/framework.h"

namespace orvante::ui::qt {

// "desc|pattern|desc|pattern|" (patterns separated by ';') to Qt's "desc (p1 p2);;...".
// "*.*" becomes "*": on Linux it would miss files without a dot.
QString ToQtFileFilter(std::string_view filter);

// Fills in a box: text, caption, buttons with their usual Chinese labels, icon.
void SetUpMessageBox(QMessageBox& box, const QString& text, const QString& caption,
                     BoxButtons buttons, QMessageBox::Icon icon);
// IDOK, IDYES or IDNO for the button that closed the box; a box closed another way
// counts as its escape answer (OK, or No).
int BoxAnswer(const QMessageBox& box, BoxButtons buttons);
QMessageBox::Icon ToQtIcon(BoxIcon icon);

// Runs an open or save dialog; the chosen path, or nothing when cancelled.
std::optional<std::string> RunFileDialog(QWidget* owner, bool save,
                                         const FileDialogOptions& options);

}  // namespace orvante::ui::qt
