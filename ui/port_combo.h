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

}  // namespace orvante::ui
