#include "ui/port_combo.h"

namespace orvante::ui {

int EnumeratePorts(Window& window, int comboId, const serial::DeviceMap& ports) {
    window.ResetContent(comboId);
    for (const auto& [number, entry] : ports) {
        window.AddString(comboId, serial::PortItemText(number, entry));
    }
    window.SetCurSel(comboId, 0);
    return static_cast<int>(ports.size());
}

int EnumeratePorts(Window& window, int comboId) {
    return EnumeratePorts(window, comboId, serial::ScanDeviceMap());
}

}  // namespace orvante::ui
