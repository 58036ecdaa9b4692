#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "cli/exit_status.h"
#include "cli/tasks_json.h"
#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "protocol/module_frame.h"
#include "serial/sys_error.h"
#include "serial/utf8_path.h"

namespace orvante::cli {

namespace {

constexpr const char* kProgram = "orvante-cli";

constexpr const char* kDescription =
    "orvante-cli: every function of an infrared learning and transmitting module on a serial\n"
    "port, from a terminal or a script. Each command except 'ports' opens the port, sends\n"
    "the connect handshake (the module that answers is the default target) and then does\n"
    "its work. Without a module at hand, start the virtual module (orvante-sim) and use its\n"
    "port, COM99.";

constexpr const char* kFooter =
    "Exit status: 0 success; 1 the module reported a failure or a transfer could not finish\n"
    "its work (a failed transmit or air-conditioner code, tasks that read back differently,\n"
    "a --verify mismatch, a file error during a transfer, an export past 65536 bytes); 2 bad\n"
    "usage or input, refused before the port is opened; 3 no answer in time; 4 the port\n"
    "could not be opened or was lost; 130 ended by Ctrl+C. An export that does not finish\n"
    "leaves FILE as it was; what it received stays in FILE.part.\n"
    "With --json each command prints one JSON object on standard output; errors are one\n"
    "plain line on standard error.";

// A target address: one to four hexadecimal digits, not 0.
std::string CheckHexAddress(std::string& text) {
    std::string upper = text;
    const std::uint32_t value = protocol::ParseHexAddress(upper);
    if (text.size() <= 4 && value != 0) return {};
    return "expected 1 to 4 hexadecimal digits (not 0000), got '" + text + "'";
}

std::uint16_t HexAddress(std::string text) {
    return static_cast<std::uint16_t>(protocol::ParseHexAddress(text));
}

// Names for the air-conditioner lists, in the order of the window's lists.
const std::map<std::string, int> kPowerNames = {{"off", 0}, {"on", 1}};
const std::map<std::string, int> kModeNames = {
    {"auto", 0}, {"cool", 1}, {"heat", 2}, {"fan", 3}, {"dry", 4}};
const std::map<std::string, int> kFanNames = {{"auto", 0}, {"1", 1}, {"2", 2},
                                              {"3", 3},    {"4", 4}, {"5", 5}};
const std::map<std::string, int> kSwingNames = {{"vertical", 0}, {"horizontal", 1}, {"off", 2}};

// A tasks file is a few hundred bytes; reading stops long before a file that is not one
// (a device that never ends) could fill the memory.
constexpr std::size_t kMaxInputSize = 1 << 20;

bool ReadInput(const std::string& file, std::string* text, std::string* error) {
    const bool standardInput = file == "-";
    const std::string name = standardInput ? std::string("standard input") : file;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(nullptr, &std::fclose);
    if (!standardInput) {
        std::error_code ignored;
        if (std::filesystem::is_directory(serial::PathFromUtf8(file), ignored)) {
            *error = file + " is a folder";
            return false;
        }
        opened.reset(serial::OpenFile(serial::PathFromUtf8(file), "rb"));
        if (!opened) {
            *error = "cannot read " + file + ": " + serial::SysError::FromErrno(errno).text;
            return false;
        }
    }
    std::FILE* in = standardInput ? stdin : opened.get();
    char buffer[4096];
    for (std::size_t count = sizeof buffer; count == sizeof buffer;) {
        count = std::fread(buffer, 1, sizeof buffer, in);
        text->append(buffer, count);
        if (text->size() > kMaxInputSize) {
            *error = name + " is larger than 1 MiB: not a tasks file";
            return false;
        }
    }
    if (std::ferror(in)) {
        *error = "cannot read " + name + ": " + serial::SysError::FromErrno(errno).text;
        return false;
    }
    return true;
}

// The common options, offered on the program and reached from every subcommand.
struct CommonValues {
    std::string target;
    std::string parity = "N";
};

void AddCommonOptions(CLI::App& app, CliOptions& options, CommonValues& values) {
    app.add_option("--port", options.port,
                   "the module's port: COM<n> (see 'ports') or a device path")
        ->type_name("PORT");
    app.add_option("--baud", options.line.baud, "line rate (default 9600)")
        ->check(CLI::Range(50, 4'000'000));
    app.add_option("--parity", values.parity, "N, O or E (default N)")
        ->check(CLI::IsMember({"N", "O", "E"}, CLI::ignore_case));
    app.add_option("--data-bits", options.line.dataBits, "8, 7 or 6 (default 8)")
        ->check(CLI::IsMember({8, 7, 6}));
    app.add_option("--stop-bits", options.line.stopBits, "1 or 2 (default 1)")
        ->check(CLI::IsMember({1, 2}));
    app.add_option("--target", values.target,
                   "the module addressed, in hexadecimal (default: the module that answered)")
        ->type_name("HEX")
        ->check(CLI::Validator(CheckHexAddress, "", "hex address"));
    app.add_flag("--json", options.json, "print one JSON object on standard output");
    app.add_flag("--verbose", options.verbose, "print every frame on standard error");
}

CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& help) {
    CLI::App* command = app.add_subcommand(name, help);
    // Common options after the command reach the program's own.
    command->fallthrough();
    return command;
}

}  // namespace

ParsedCommandLine ParseCliCommandLine(int argc, const char* const* argv) {
    CLI::App app(kDescription, kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " ORVANTE_VERSION);
    app.footer(kFooter);
    app.require_subcommand(0, 1);

    CliOptions options;
    CommonValues common;
    AddCommonOptions(app, options, common);

    CLI::App* help = AddCommand(app, "help", "explain the commands");
    CLI::App* ports = AddCommand(app, "ports", "list the ports as the console lists them");
    CLI::App* connect = AddCommand(app, "connect", "print the module's address");

    CLI::App* ping = AddCommand(app, "ping", "test the connection to a target module");
    std::string pingTarget;
    ping->add_option("TARGET", pingTarget, "the module to test (default: the module that answered)")
        ->check(CLI::Validator(CheckHexAddress, "", "hex address"));

    CLI::App* learn =
        AddCommand(app, "learn", "learn a remote's code into a slot; prints its pulse count");
    learn->add_option("SLOT", options.slot, "storage slot, 0 to 100")
        ->required()
        ->check(CLI::Range(0, 100));
    learn
        ->add_option("--timeout", options.learnTimeoutSeconds,
                     "seconds to wait for the remote (default 30)")
        ->type_name("S")
        ->check(CLI::Range(1, 3600));

    CLI::App* send = AddCommand(app, "send", "transmit the code stored in a slot");
    send->add_option("SLOT", options.slot, "storage slot, 0 to 100")
        ->required()
        ->check(CLI::Range(0, 100));

    CLI::App* capacity =
        AddCommand(app, "capacity", "read the pulse capacity; 'capacity set N --yes' sets it");
    CLI::App* capacitySet =
        AddCommand(*capacity, "set", "set the pulse capacity: clears every learned code");
    capacitySet->add_option("N", options.capacity, "pulses a learned code may hold, 1 to 400")
        ->required()
        ->check(CLI::Range(1, 400));
    bool confirmed = false;
    capacitySet->add_flag("--yes", confirmed, "confirm that every learned code is cleared");

    CLI::App* tasks =
        AddCommand(app, "tasks", "print the three timed tasks; 'tasks set FILE' writes them");
    CLI::App* tasksSet = AddCommand(
        *tasks, "set", "write the tasks from FILE (- for standard input), then read them back");
    std::string tasksFile;
    tasksSet->add_option("FILE", tasksFile, "JSON as printed by 'tasks --json'")->required();

    CLI::App* ac = AddCommand(app, "ac", "send an air-conditioner code from the module's library");
    int brand = 0;
    ac->add_option("BRAND", brand, "brand code, 0 to 65535")
        ->required()
        ->check(CLI::Range(0, 65535));
    int power = 0, mode = 0, temperature = 16, fan = 0, swing = 0;
    ac->add_option("--power", power, "on or off (default off)")
        ->transform(CLI::CheckedTransformer(kPowerNames, CLI::ignore_case));
    ac->add_option("--mode", mode, "auto, cool, heat, fan or dry (default auto)")
        ->transform(CLI::CheckedTransformer(kModeNames, CLI::ignore_case));
    ac->add_option("--temp", temperature, "degrees Celsius, 16 to 30 (default 16)")
        ->check(CLI::Range(16, 30));
    ac->add_option("--fan", fan, "auto or 1 to 5 (default auto)")
        ->transform(CLI::CheckedTransformer(kFanNames, CLI::ignore_case));
    ac->add_option("--swing", swing, "vertical, horizontal or off (default vertical)")
        ->transform(CLI::CheckedTransformer(kSwingNames, CLI::ignore_case));

    CLI::App* exportCommand = AddCommand(app, "export", "copy the module's code library into FILE");
    exportCommand->add_option("FILE", options.file, "the .db file to write")->required();
    CLI::App* importCommand = AddCommand(app, "import", "copy FILE into the module's code library");
    importCommand->add_option("FILE", options.file, "the .db file to read, at most 65536 bytes")
        ->required();
    importCommand->add_flag("--verify", options.verify,
                            "read the library back afterwards and compare it with FILE");
    for (CLI::App* transfer : {exportCommand, importCommand}) {
        transfer
            ->add_option("--retries", options.retries,
                         "resends of a block after 2 s of silence before giving up (default 1)")
            ->type_name("N")
            ->check(CLI::Range(0, 100));
    }

    ParsedCommandLine parsed;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError&) {
        // CLI11 lists every stray argument, last first; the first one says it best.
        const std::string first = app.remaining().empty() ? "" : app.remaining().front();
        parsed.exitCode = kExitUsage;
        parsed.error =
            std::string(kProgram) + ": " +
            (first.starts_with('-') ? "unknown option '" + first + "'"
                                    : "unknown command or stray argument '" + first + "'") +
            " (see orvante-cli help)\n";
        return parsed;
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        if (e.get_exit_code() == 0) {
            app.exit(e, out, err);
            parsed.output = out.str();
            return parsed;
        }
        parsed.exitCode = kExitUsage;
        parsed.error = std::string(kProgram) + ": " + e.what() + "\n";
        return parsed;
    }
    if (*help) {
        // help() would explain the subcommand chosen, which is "help" itself.
        app.clear();
        parsed.output = app.help();
        return parsed;
    }

    auto usage = [&](const std::string& text) {
        parsed.exitCode = kExitUsage;
        parsed.error = std::string(kProgram) + ": " + text + "\n";
        return parsed;
    };
    if (app.get_subcommands().empty()) {
        return usage("no command given (see orvante-cli help)");
    } else if (*ports) {
        options.command = Command::kPorts;
    } else if (*connect) {
        options.command = Command::kConnect;
    } else if (*ping) {
        options.command = Command::kPing;
        if (!pingTarget.empty()) options.pingTarget = HexAddress(pingTarget);
    } else if (*learn) {
        options.command = Command::kLearn;
    } else if (*send) {
        options.command = Command::kSend;
    } else if (*capacitySet) {
        if (!confirmed) {
            return usage(
                "setting the pulse capacity clears every learned code: add --yes to do it");
        }
        options.command = Command::kSetCapacity;
    } else if (*capacity) {
        options.command = Command::kCapacity;
    } else if (*tasksSet) {
        options.command = Command::kSetTasks;
        std::string text;
        std::string error;
        if (!ReadInput(tasksFile, &text, &error)) return usage(error);
        if (!TasksFromJson(text, &options.tasks, &error)) {
            return usage((tasksFile == "-" ? std::string("standard input") : tasksFile) + ": " +
                         error);
        }
    } else if (*tasks) {
        options.command = Command::kTasks;
    } else if (*ac) {
        options.command = Command::kAc;
        options.ac = functions::AcCodeRequest{
            .brand = static_cast<std::uint16_t>(brand),
            .power = static_cast<std::uint8_t>(power),
            .mode = static_cast<std::uint8_t>(mode),
            .temperatureIndex =
                static_cast<std::uint8_t>(temperature - functions::kLowestAcTemperature),
            .fan = static_cast<std::uint8_t>(fan),
            .swing = static_cast<std::uint8_t>(swing),
        };
    } else if (*exportCommand) {
        options.command = Command::kExport;
    } else if (*importCommand) {
        options.command = Command::kImport;
    }
    if (!common.target.empty()) options.target = HexAddress(common.target);
    options.line.parity =
        static_cast<char>(std::toupper(static_cast<unsigned char>(common.parity[0])));
    if (options.command != Command::kPorts && options.port.empty()) {
        return usage("no port given (see orvante-cli ports)");
    }
    parsed.options = options;
    return parsed;
}

}  // namespace orvante::cli
