// Fills the port list of the window from the machine's serial ports.
#pragma once

#include "serial/port_list.h"
#include "ui/framework.h"

namespace orvante::ui {

// Empties the combo, adds one "COM<n> (<device>)" item per port of `ports`, selects
// the first item and returns how many were added.
int EnumeratePorts(Window& window, int comboId, const serial::DeviceMap& ports);
// The same over the ports found on this machine now.
int EnumeratePorts(Window& window, int comboId);

// The index of the item for `port`, or -1.
int FindPortItem(const Window& window, int comboId, int port);

// Refills the combo from `ports` and returns the port number of the item then selected
// (0 when none). The selection never moves on its own: a selected port that has gone
// keeps its item, with its last text, until its number is listed again (the item then
// takes the new text). With nothing selected, the first item is selected.
int RefreshPortList(Window& window, int comboId, const serial::DeviceMap& ports);

}  // namespace orvante::ui
