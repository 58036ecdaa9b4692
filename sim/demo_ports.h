// The built-in virtual modules every program can open without hardware: the port names
// "demo", "demo2", ... each a module of its own whose state (address, learned codes,
// pulse capacity, timed tasks, library) is kept between runs in the user's state folder.
// A name may carry knobs after a colon, the same in every program:
//   demo:drop=5,address=5A3C,clean
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/virtual_module.h"

namespace orvante::sim {

struct DemoPort {
    std::string name = "demo";
    std::optional<std::uint16_t> address;
    std::optional<std::chrono::milliseconds> learnDelay;
    std::optional<std::size_t> librarySize;
    Faults faults;       // drop, delay and garbage; the rate is the channel's
    bool clean = false;  // forget the kept state and start as a new module
};

// Whether `text` names a built-in module ("demo", "demo7", "demo:clean", ...), well
// formed or not: what such a name gets wrong is said by ParseDemoPort.
bool IsDemoPortName(std::string_view text);
// The name and its knobs, or nothing with *error (one line naming the knob).
std::optional<DemoPort> ParseDemoPort(std::string_view text, std::string* error);
// The knobs, explained for a program's help.
std::string DemoKnobsHelp();

// The label of the built-in module in the window's port list.
inline constexpr const char* kDemoPortLabel = "内置虚拟模块";

// Where the module named `name` keeps its state, and its lock beside it.
std::string KeptStatePath(const std::string& name);

// From now on the port layer opens every demo name as a built-in module.
void RegisterDemoPorts();

}  // namespace orvante::sim
