// The command line of the console program, and what it checks before a window is made.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "serial/port_list.h"

namespace orvante::ui {

struct ConsoleCommandLine {
    // Set when the program ends at once, without a window (--help, --version, a bad
    // command line), with this exit status after printing `output` and `error`.
    std::optional<int> exitCode;
    std::string output;       // for standard output
    std::string error;        // for standard error
    std::optional<int> port;  // --port: the COM number to select at start
    // --demo: the built-in virtual module's port name with its knobs ("demo:drop=5"),
    // listed and selected at start.
    std::optional<std::string> demo;
};

ConsoleCommandLine ParseConsoleCommandLine(int argc, const char* const* argv);

// Looks up an environment variable; nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// Why no window can be opened, or nothing when there is a display to open it on (or
// another Qt platform was asked for, such as offscreen). Judged from the environment
// only, before Qt is started, since Qt ends the program when it finds no display.
std::optional<std::string> MissingDisplay(const EnvironmentLookup& environment);

// The message for a --port that the port list does not hold; empty when it does.
std::string PortNotListedMessage(int port, const serial::DeviceMap& ports);

// What the command line asks of the port list: the built-in module listed (and
// selected, unless --port names another port), a --port looked up. Returns the port to
// select, and *warning when --port names no listed port.
std::optional<int> PortToSelect(const ConsoleCommandLine& commandLine, std::string* warning);

}  // namespace orvante::ui
