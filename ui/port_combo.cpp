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

int FindPortItem(const Window& window, int comboId, int port) {
    for (int i = 0; i < window.GetCount(comboId); ++i) {
        if (serial::PortNumberFromName(window.GetItemText(comboId, i)) == port) return i;
    }
    return -1;
}

int RefreshPortList(Window& window, int comboId, const serial::DeviceMap& ports) {
    const int selected = window.GetCurSel(comboId);
    const std::string selectedItem = window.GetItemText(comboId, selected);
    const int selectedPort = serial::PortNumberFromName(selectedItem);
    const bool stays = selected >= 0;

    EnumeratePorts(window, comboId, ports);
    if (stays) {
        if (!ports.contains(selectedPort)) window.AddString(comboId, selectedItem);
        window.SetCurSel(comboId, FindPortItem(window, comboId, selectedPort));
    }
    return serial::PortNumberFromName(window.GetItemText(comboId, window.GetCurSel(comboId)));
}

}  // namespace orvante::ui
