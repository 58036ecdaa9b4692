// The controls of the main window (template 102), made and placed in a dialog.
#pragma once

#include <QDialog>
#include <unordered_map>

namespace orvante::ui::qt {

// Set (true) on drop-down lists that keep their items sorted, as QComboBox does not.
inline constexpr char kSortedListProperty[] = "orvanteSortedList";

// Makes every control of the main window in `dialog`, sizes the dialog, and returns the
// controls by id. Each carries its id as objectName "ctl<id>" and as its accessible
// description. The widgets belong to the dialog.
std::unordered_map<int, QWidget*> BuildMainLayout(QDialog& dialog);

// Places the log and the status fields below it for a window of `size`: whatever the
// window has beyond its design size, the smallest it can be, goes to the log, and the
// status fields keep their distance to the bottom edge. The rest stays where it is.
void FitLogToWindow(const std::unordered_map<int, QWidget*>& controls, QSize size);

}  // namespace orvante::ui::qt
