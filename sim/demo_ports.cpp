#include "sim/demo_ports.h"

#include <charconv>
#include <filesystem>
#include <memory>

#include "platform/file_lock.h"
#include "platform/home_folder.h"
#include "platform/utf8_path.h"
#include "serial/in_process_port.h"
#include "sim/in_process_module.h"
#include "sim/kept_state_file.h"
#include "sim/whole_number.h"

namespace orvante::sim {

namespace {

constexpr std::string_view kPrefix = "demo";

// "demo" alone, or followed by 2 to 99.
bool IsDemoName(std::string_view name) {
    if (!name.starts_with(kPrefix)) return false;
    const std::string_view number = name.substr(kPrefix.size());
    return number.empty() || (number.front() != '0' && ParseWholeNumber(number, 2, 99));
}

bool ReadKnob(std::string_view knob, DemoPort* demo, std::string* error) {
    const std::size_t equals = knob.find('=');
    const std::string_view key = knob.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : knob.substr(equals + 1);
    const bool hasValue = equals != std::string_view::npos;
    auto refuse = [&](const std::string& allowed) {
        *error = "demo knob '" + std::string(knob) + "': " + allowed;
        return false;
    };
    if (key == "clean" || key == "garbage") {
        if (hasValue) return refuse("takes no value");
        (key == "clean" ? demo->clean : demo->faults.garbage) = true;
        return true;
    }
    if (key == "address") {
        const auto address =
            value.size() <= 4 ? ParseWholeNumber(value, 1, 0xFFFE, 16) : std::nullopt;
        if (!address) return refuse("expected 1 to 4 hex digits (not 0 or FFFF)");
        demo->address = static_cast<std::uint16_t>(*address);
        return true;
    }
    if (key == "drop") {
        const auto every = ParseWholeNumber(value, 1, 1'000'000);
        if (!every) return refuse("expected a whole number from 1 (every Nth reply is dropped)");
        demo->faults.dropEvery = static_cast<int>(*every);
        return true;
    }
    if (key == "delay" || key == "learn-delay") {
        const auto ms = ParseWholeNumber(value, 0, kMaxMilliseconds);
        if (!ms) return refuse("expected milliseconds, 0 to 3600000");
        (key == "delay" ? demo->faults.delay : demo->learnDelay.emplace()) =
            std::chrono::milliseconds(*ms);
        return true;
    }
    if (key == "library-size") {
        const auto size = ParseWholeNumber(value, 1, static_cast<std::int64_t>(kMaxLibrarySize));
        if (!size) return refuse("expected bytes, 1 to 65536");
        demo->librarySize = static_cast<std::size_t>(*size);
        return true;
    }
    return refuse("not one of address, clean, delay, drop, garbage, learn-delay, library-size");
}

// The module as it was kept (*file: what the file held, when it counts), with the knobs
// applied; a fresh one when nothing was kept or the knobs ask for it.
std::optional<VirtualModule> LoadModule(const DemoPort& demo, const std::string& path,
                                        std::optional<KeptState>* file, std::string* error) {
    ModuleConfig config;
    if (demo.learnDelay) config.learnDelay = *demo.learnDelay;
    VirtualModule module(config);
    KeptState kept = module.Kept();
    if (!demo.clean) {
        const KeptLoad load = LoadKeptState(path, &kept, error);
        if (load == KeptLoad::kRefused) return std::nullopt;
        if (load == KeptLoad::kLoaded) *file = kept;
    }
    // The address and the library's size stay with the module, as if it were set up so.
    if (demo.address) kept.address = *demo.address;
    // A new size keeps what fits and erases the rest.
    if (demo.librarySize) kept.library.resize(*demo.librarySize, kErasedByte);
    module.Restore(kept);
    return module;
}

platform::SysError OpenFailure(const std::string& text) {
    platform::SysError error;
    error.text = text;
    return error;
}

std::unique_ptr<serial::InProcessPort> OpenDemoPort(const std::string& text,
                                                    platform::SysError* error) {
    std::string problem;
    const std::optional<DemoPort> demo = ParseDemoPort(text, &problem);
    if (!demo) {
        *error = OpenFailure(problem);
        return nullptr;
    }
    const std::string path = KeptStatePath(demo->name);
    if (path.empty()) {
        *error = OpenFailure("no folder to keep the module's state in (HOME is not set)");
        return nullptr;
    }
    std::error_code ignored;
    std::filesystem::create_directories(platform::PathFromUtf8(path).parent_path(), ignored);
    // One program at a time, as with a real port: the state is the module's one memory.
    std::shared_ptr<platform::FileLock> lock = platform::FileLock::TryLock(path + ".lock", error);
    if (!lock) return nullptr;
    std::optional<KeptState> file;
    std::optional<VirtualModule> module = LoadModule(*demo, path, &file, &problem);
    if (!module) {
        *error = OpenFailure("the state kept in " + path + " is refused (" + problem + "); '" +
                             demo->name + ":clean' starts the module afresh");
        return nullptr;
    }
    // Saved when the port closes unless the file holds it already; the lock goes after.
    auto save = [path, file, lock](const KeptState& state) {
        std::string ignoredError;
        if (state != file) SaveKeptState(path, state, &ignoredError);
    };
    return std::make_unique<InProcessModule>(std::move(*module), demo->faults, save);
}

}  // namespace

bool IsDemoPortName(std::string_view text) {
    const std::string_view name = text.substr(0, text.find(':'));
    return name.starts_with(kPrefix) &&
           name.find_first_not_of("0123456789", kPrefix.size()) == std::string_view::npos;
}

std::optional<DemoPort> ParseDemoPort(std::string_view text, std::string* error) {
    DemoPort demo;
    const std::size_t colon = text.find(':');
    demo.name = std::string(text.substr(0, colon));
    if (!IsDemoName(demo.name)) {
        *error = "'" + demo.name + "' is not a built-in module: demo, or demo2 to demo99";
        return std::nullopt;
    }
    if (colon == std::string_view::npos) return demo;
    std::string_view knobs = text.substr(colon + 1);
    while (true) {
        const std::size_t comma = knobs.find(',');
        if (!ReadKnob(knobs.substr(0, comma), &demo, error)) return std::nullopt;
        if (comma == std::string_view::npos) return demo;
        knobs.remove_prefix(comma + 1);
    }
}

std::string DemoKnobsHelp() {
    return "A built-in virtual module: demo, or demo2 to demo99, each keeping its state\n"
           "between runs. Knobs after a colon, separated by commas:\n"
           "  address=HEX       the module's address (default 1234)\n"
           "  drop=N            drop every Nth reply\n"
           "  delay=MS          answer every request MS later\n"
           "  garbage           junk bytes before every frame\n"
           "  learn-delay=MS    time a learn takes (default 1500)\n"
           "  library-size=N    bytes of code library, 1 to 65536 (default 8192)\n"
           "  clean             forget the kept state and start afresh\n"
           "for example demo:drop=5,address=5A3C\n";
}

std::string KeptStatePath(const std::string& name) {
    const std::string folder = platform::StateFolder();
    if (folder.empty()) return {};
    return platform::Utf8FromPath(platform::PathFromUtf8(folder) /
                                  platform::PathFromUtf8(name + ".module"));
}

void RegisterDemoPorts() {
    serial::RegisterInProcessPorts([](const std::string& name) { return IsDemoPortName(name); },
                                   OpenDemoPort);
}

}  // namespace orvante::sim
