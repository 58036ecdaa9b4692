#include "ui/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>
#include <string_view>

#include "serial/in_process_port.h"
#include "serial/port_list.h"
#include "sim/demo_ports.h"

namespace orvante::ui {

namespace {

constexpr int kExitUsage = 2;

// A COM number, as the port list numbers its ports.
std::string CheckPortNumber(std::string& text) {
    if (serial::PortNumberOf(text)) return {};
    return "expected a port number from 1 to " + std::to_string(serial::kMaxPortNumber) +
           ", got '" + text + "'";
}

std::string DemoPortName(const std::string& knobs) {
    return knobs.empty() ? std::string("demo") : "demo:" + knobs;
}

std::string CheckDemoKnobs(std::string& knobs) {
    std::string error;
    sim::ParseDemoPort(DemoPortName(knobs), &error);
    return error;
}

std::string_view Value(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// What the help says beyond the options: the display is Linux's.
constexpr char kDescription[] =
    "Orvante: the console of an infrared learning and transmitting module on a serial\n"
    "port. Without a module at hand, start it with --demo: the port list then holds\n"
    "a virtual module built into the program, which keeps its state between runs.";
#ifdef _WIN32
constexpr char kFooter[] = "Exit status: 0, 2 for a bad command line.";
#else
constexpr char kFooter[] =
    "Needs a display (DISPLAY or WAYLAND_DISPLAY); QT_QPA_PLATFORM=offscreen runs it\n"
    "without one. Exit status: 0, 1 when there is no display, 2 for a bad command\n"
    "line.";
#endif

}  // namespace

ConsoleCommandLine ParseConsoleCommandLine(int argc, const char* const* argv) {
    CLI::App app(kDescription, "orvante");
    // Narrow enough that every help line fits 80 columns.
    app.get_formatter()->column_width(24);
    app.set_version_flag("--version", "orvante " ORVANTE_VERSION);
    int port = 0;
    app.add_option("--port", port, "select COM<N> in the port list at start")
        ->type_name("N")
        ->check(CLI::Validator(CheckPortNumber, "", "port number"));
    std::string demoKnobs;
    app.add_option("--demo", demoKnobs,
                   "list the built-in virtual module and select it; KNOBS,\n"
                   "separated by commas: address=HEX, drop=N, delay=MS,\n"
                   "garbage, learn-delay=MS, library-size=N, clean")
        ->type_name("[=KNOBS]")
        ->expected(0, 1)
        ->check(CLI::Validator(CheckDemoKnobs, "", "knobs"));
    app.footer(kFooter);

    ConsoleCommandLine result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        result.exitCode = code == 0 ? 0 : kExitUsage;
        result.output = out.str();
        result.error = err.str();
        return result;
    }
    if (app.count("--port") > 0) result.port = port;
    if (app.count("--demo") > 0) result.demo = DemoPortName(demoKnobs);
    return result;
}

std::optional<std::string> MissingDisplay(const EnvironmentLookup& environment) {
    const bool x11 = !Value(environment("DISPLAY")).empty();
    const bool wayland = !Value(environment("WAYLAND_DISPLAY")).empty();
    const std::string_view platforms = Value(environment("QT_QPA_PLATFORM"));
    bool usable = platforms.empty() && (x11 || wayland);
    // Qt tries the platforms listed, in order, each with its options after a colon.
    for (std::string_view rest = platforms; !usable && !rest.empty();) {
        const std::string_view entry = rest.substr(0, rest.find(';'));
        rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            usable = x11;
        } else if (name.starts_with("wayland")) {
            usable = wayland;
        } else {
            usable = !name.empty();  // offscreen, vnc, eglfs, ...: Qt judges those itself
        }
    }
    if (usable) return std::nullopt;
    return "no display to open the window on: start orvante in a desktop session, or set "
           "DISPLAY (X11) or WAYLAND_DISPLAY";
}

std::optional<int> PortToSelect(const ConsoleCommandLine& commandLine, std::string* warning) {
    sim::RegisterDemoPorts();
    if (commandLine.demo) serial::ListInProcessPort(*commandLine.demo, sim::kDemoPortLabel);
    const serial::DeviceMap ports = serial::ScanDeviceMap();
    if (commandLine.port) {
        *warning = PortNotListedMessage(*commandLine.port, ports);
        return commandLine.port;
    }
    if (!commandLine.demo) return std::nullopt;
    for (const auto& [number, entry] : ports) {
        if (entry.devicePath == *commandLine.demo) return number;
    }
    return std::nullopt;
}

std::string PortNotListedMessage(int port, const serial::DeviceMap& ports) {
    if (ports.contains(port)) return {};
    std::string listed;
    for (const auto& [number, entry] : ports) {
        listed += (listed.empty() ? "" : ", ") + serial::PortItemText(number, entry);
    }
    return "there is no port COM" + std::to_string(port) + " (" +
           (listed.empty() ? "no ports found" : "ports: " + listed) +
           "); the first port is selected instead";
}

}  // namespace orvante::ui
