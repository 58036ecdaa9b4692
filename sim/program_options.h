// The command line of orvante-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_module.h"

namespace orvante::sim {

struct ProgramOptions {
    std::optional<int> port;  // COM number; the first free from 99 when not given
    ModuleConfig module;
    Faults faults;
    std::string stateFile;  // empty: timed tasks are not kept across restarts
    bool verbose = false;
    bool help = false;     // --help: print ProgramUsage() and end
    bool version = false;  // --version: print ProgramVersion() and end
};

// Reads the arguments after the program name. Each option with a value takes it as the
// next argument or after '='; --repeat takes its count only after '='. When an option is
// given twice the last one counts. False with *error, one line naming the option and
// what it accepts.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options,
                         std::string* error);

std::string ProgramUsage();

// "orvante-sim <version>" and a newline.
std::string ProgramVersion();

}  // namespace orvante::sim
