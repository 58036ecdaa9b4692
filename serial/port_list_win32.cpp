// The Windows port list: the system's map of serial devices to COM names.
#include <windows.h>

#include <vector>

#include "platform/wide_text.h"
#include "serial/in_process_port.h"
#include "serial/port_list.h"

namespace orvante::serial {

namespace {

// Owns an open registry key.
class RegistryKey {
public:
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// "\Device\Serial0" -> "Serial0": the device's own name, as the list shows it.
std::string DeviceNameOf(const std::wstring& valueName) {
    const std::size_t slash = valueName.find_last_of(L'\\');
    return platform::Utf8FromWide(slash == std::wstring::npos ? valueName
                                                              : valueName.substr(slash + 1));
}

std::string PortPath(int port) {
    return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace

std::optional<std::string> UnlistedPortPath(int port) {
    return PortPath(port);
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM holds one value a port: the device's name, and its
// COM name as text. A missing key means no ports; registry calls return their error.
DeviceMap ScanDeviceMap() {
    DeviceMap map;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      key.Out()) != ERROR_SUCCESS) {
        AddListedInProcessPorts(&map);
        return map;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        wchar_t data[64] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);  // room for a terminating zero
        DWORD type = 0;
        const LONG status = RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::string comName =
            platform::Utf8FromWide(std::wstring(data, dataBytes / sizeof(wchar_t)).c_str());
        const std::optional<int> number = ComPortNumber(comName);
        if (!number) continue;
        map.emplace(*number,
                    PortEntry{PortPath(*number), DeviceNameOf(std::wstring(name, nameLength))});
    }
    AddListedInProcessPorts(&map);
    return map;
}

}  // namespace orvante::serial
