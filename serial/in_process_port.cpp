#include "serial/in_process_port.h"

#include <mutex>

#include "serial/port_io.h"

namespace orvante::serial {

namespace {

struct Registry {
    std::mutex mutex;
    std::function<bool(const std::string&)> accepts;
    InProcessPortOpener open;
    std::vector<PortEntry> listed;  // devicePath and label
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

void RegisterInProcessPorts(std::function<bool(const std::string& name)> accepts,
                            InProcessPortOpener open) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepts = std::move(accepts);
    registry.open = std::move(open);
}

void ForgetInProcessPorts() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepts = nullptr;
    registry.open = nullptr;
    registry.listed.clear();
}

bool IsInProcessPortName(const std::string& path) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.accepts && registry.accepts(path);
}

std::unique_ptr<InProcessPort> OpenInProcessPort(const std::string& path,
                                                 platform::SysError* error) {
    InProcessPortOpener open;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        open = registry.open;
    }
    if (!open) {
        *error = PortIo::NoSuchDevice();
        return nullptr;
    }
    return open(path, error);
}

void ListInProcessPort(const std::string& path, const std::string& label) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.listed.push_back({path, label});
}

void AddListedInProcessPorts(DeviceMap* map) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    int number = kFirstInProcessPortNumber;
    for (const PortEntry& entry : registry.listed) {
        // A real or published port keeps its number; the in-process one moves up.
        while (map->contains(number)) ++number;
        map->emplace(number, entry);
    }
}

}  // namespace orvante::serial
