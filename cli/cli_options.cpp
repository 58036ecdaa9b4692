#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/exit_status.h"
#include "cli/option_checks.h"
#include "protocol/module_frame.h"
#include "sim/demo_ports.h"

namespace orvante::cli {

namespace {

constexpr const char* kProgram = "orvante-cli";
// Gives the port when --port is absent.
constexpr const char* kPortVariable = "ORVANTE_PORT";

constexpr const char* kDescription =
    "orvante-cli: every function of an infrared learning and transmitting module on\n"
    "a serial port, from a terminal or a script. Each command except 'ports' opens\n"
    "the port, sends the connect handshake (the module that answers is the default\n"
    "target) and then does its work. Without a module at hand, use the virtual module\n"
    "built into the program: --port demo (see orvante-cli help demo).";

constexpr const char* kFooter =
    "Exit status: 0 success; 1 the module reported a failure or a transfer could not\n"
    "finish its work (a failed transmit or air-conditioner code, tasks that read back\n"
    "differently, a --verify mismatch, a file error during a transfer, an export past\n"
    "65536 bytes); 2 bad usage or input, refused before the port is opened; 3 no\n"
    "answer in time; 4 the port could not be opened or was lost; 130 ended by Ctrl+C.\n"
    "An export that does not finish leaves FILE as it was; what it received stays in\n"
    "FILE.part. With --json each command prints one JSON object on standard output;\n"
    "errors are one plain line on standard error.";

// The common options, offered on the program and reached from every subcommand.
struct CommonValues {
    std::string target;
    std::string parity = "N";
};

void AddCommonOptions(CLI::App& app, CliOptions& options, CommonValues& values) {
    app.add_option("-p,--port", options.port, "COM<n> (see 'ports'), a device path, or demo")
        ->type_name("PORT")
        ->envname(kPortVariable);
    app.add_option("-b,--baud", options.line.baud, "line rate (default 9600)")
        ->type_name("RATE")
        ->check(Allowing(
            [](const std::string& text) {
                return IsWholeNumberIn(text, {50, 4'000'000});
            },
            "a rate (50 to 4000000)"));
    app.add_option("--parity", values.parity, "N, O or E (default N)")
        ->type_name("P")
        ->check(Allowing(
            [](const std::string& text) {
                return IsOneOf(text, {"N", "O", "E"});
            },
            "a parity (N, O or E)"));
    app.add_option("--data-bits", options.line.dataBits, "8, 7 or 6 (default 8)")
        ->type_name("N")
        ->check(Allowing(
            [](const std::string& text) {
                return IsOneOf(text, {"8", "7", "6"});
            },
            "a number of data bits (8, 7 or 6)"));
    app.add_option("--stop-bits", options.line.stopBits, "1 or 2 (default 1)")
        ->type_name("N")
        ->check(Allowing(
            [](const std::string& text) {
                return IsOneOf(text, {"1", "2"});
            },
            "a number of stop bits (1 or 2)"));
    app.add_option("--target", values.target,
                   "the module addressed, hex (default: the one answering)")
        ->type_name("HEX")
        ->check(CLI::Validator(CheckHexAddress, "", "hex address"));
    app.add_flag("--json", options.json, "print one JSON object on standard output");
    app.add_flag("--verbose", options.verbose, "print every frame on standard error");
}

CLI::App* AddCommand(CLI::App& app, const std::string& name, const std::string& summary,
                     const std::string& details) {
    CLI::App* command = app.add_subcommand(name, summary);
    // Common options after the command reach the program's own.
    command->fallthrough();
    // The exit statuses are said once, in the program's own help; a command's footer
    // explains the command.
    command->footer(details);
    return command;
}

// A positional's help shows its name alone ("SLOT REQUIRED"), not the parser's type
// ("SLOT UINT REQUIRED"): the help text says what it takes.
void NameThePositionalsOnly(CLI::App& command) {
    for (CLI::Option* option : command.get_options()) {
        if (option->get_positional() && option->get_lnames().empty()) option->type_name("");
    }
}

ParsedCommandLine Usage(const std::string& text) {
    ParsedCommandLine parsed;
    parsed.exitCode = kExitUsage;
    parsed.error = std::string(kProgram) + ": " + text + "\n";
    return parsed;
}

// The command the parser had reached, as typed: "capacity set".
std::string CommandGiven(const CLI::App& app) {
    std::string name;
    for (const CLI::App* command = &app;;) {
        const auto chosen = command->get_subcommands();
        if (chosen.empty()) return name;
        command = chosen.front();
        name += (name.empty() ? "" : " ") + command->get_name();
    }
}

// What the parser refused, in our words; or the help or version it was asked for.
ParsedCommandLine WhatTheParserSaid(CLI::App& app, const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
        std::ostringstream out;
        std::ostringstream err;
        app.exit(error, out, err);
        ParsedCommandLine parsed;
        parsed.output = out.str();
        return parsed;
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        // CLI11 lists every stray argument, last first; the first one says it best.
        const std::string first = app.remaining().empty() ? "" : app.remaining().front();
        return Usage((first.starts_with('-')
                          ? "unknown option '" + first + "'"
                          : "unknown command or stray argument '" + first + "'") +
                     " (see orvante-cli help)");
    }
    const std::string what = error.what();
    // An argument left out: CLI11 says "FILE is required".
    if (const std::size_t end = what.find(" is required");
        dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && end != std::string::npos &&
        !what.starts_with('-')) {
        const std::string command = CommandGiven(app);
        return Usage(command + ": " + what.substr(0, end) + " is missing (see orvante-cli help " +
                     command + ")");
    }
    // A value option given twice: CLI11 says "--port: At Most 1 required but received 2".
    if (const std::size_t colon = what.find(": At Most ");
        dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
        colon != std::string::npos) {
        return Usage(what.substr(0, colon) + ": given more than once");
    }
    return Usage(what);
}

using DefinedCommand = std::pair<const CliCommand*, CLI::App*>;

// Every command of the table; a two-word name is a subcommand of the first word's.
std::vector<DefinedCommand> DefineCommands(CLI::App& app, CliOptions& options,
                                           CommandValues& values) {
    std::vector<DefinedCommand> commands;
    for (const CliCommand& command : CliCommands()) {
        const std::string name = command.name;
        const std::size_t space = name.find(' ');
        CLI::App* parent = &app;
        if (space != std::string::npos) parent = app.get_subcommand(name.substr(0, space));
        CLI::App* sub = AddCommand(*parent, name.substr(space == std::string::npos ? 0 : space + 1),
                                   command.summary, command.details);
        command.define(*sub, options, values);
        NameThePositionalsOnly(*sub);
        commands.emplace_back(&command, sub);
    }
    return commands;
}

// "help" alone explains the program; "help learn" or "help capacity set" explains that
// command as its --help does.
ParsedCommandLine HelpFor(CLI::App& app, const std::vector<std::string>& topic) {
    ParsedCommandLine parsed;
    if (topic == std::vector<std::string>{"demo"}) {
        parsed.output = sim::DemoKnobsHelp();
        return parsed;
    }
    // help() would explain the subcommand chosen, which is "help" itself.
    app.clear();
    CLI::App* command = &app;
    std::string name;
    for (const std::string& word : topic) {
        name += (name.empty() ? "" : " ") + word;
        CLI::App* found = nullptr;
        for (CLI::App* sub : command->get_subcommands([](CLI::App*) { return true; })) {
            if (sub->get_name() == word) found = sub;
        }
        if (found == nullptr || found->get_name() == "help") {
            parsed.exitCode = kExitUsage;
            parsed.error =
                std::string(kProgram) + ": no command '" + name + "' (see orvante-cli help)\n";
            return parsed;
        }
        command = found;
    }
    if (command == &app) {
        parsed.output = app.help();
        return parsed;
    }
    // The usage line names the whole command, as its --help does: "orvante-cli capacity set".
    std::string parents = kProgram;
    for (std::size_t i = 0; i + 1 < topic.size(); ++i) parents += " " + topic[i];
    parsed.output = command->help(parents);
    return parsed;
}

}  // namespace

std::string CheckHexAddress(std::string& text) {
    std::string upper = text;
    const std::uint32_t value = protocol::ParseHexAddress(upper);
    if (text.size() <= 4 && value != 0) return {};
    return "expected 1 to 4 hexadecimal digits (not 0000), got '" + text + "'";
}

std::uint16_t HexAddress(std::string text) {
    return static_cast<std::uint16_t>(protocol::ParseHexAddress(text));
}

ParsedCommandLine ParseCliCommandLine(int argc, const char* const* argv) {
    CLI::App app(kDescription, kProgram);
    // Narrow enough that every help line fits 80 columns.
    app.get_formatter()->column_width(24);
    app.set_version_flag("-V,--version", std::string(kProgram) + " " ORVANTE_VERSION);
    app.footer(kFooter);
    app.require_subcommand(0, 1);
    // A name that starts with "/" is a file, never a Windows-style option ("/tmp/x.db").
    app.allow_windows_style_options(false);

    CliOptions options;
    CommonValues common;
    AddCommonOptions(app, options, common);
    CLI::App* help = AddCommand(app, "help", "explain the commands, or one: help COMMAND", "");
    std::vector<std::string> helpTopic;
    help->add_option("COMMAND", helpTopic, "a command, as 'learn' or 'capacity set'");
    NameThePositionalsOnly(*help);
    CommandValues values;
    const std::vector<DefinedCommand> commands = DefineCommands(app, options, values);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return WhatTheParserSaid(app, e);
    }
    if (*help) return HelpFor(app, helpTopic);

    // The deepest command given: "capacity set" rather than "capacity".
    for (const auto& [command, sub] : commands) {
        if (sub->parsed()) options.command = command;
    }
    if (options.command == nullptr) return Usage("no command given (see orvante-cli help)");
    if (!common.target.empty()) options.target = HexAddress(common.target);
    options.baudGiven = app.count("--baud") > 0;
    options.parityGiven = app.count("--parity") > 0;
    options.dataBitsGiven = app.count("--data-bits") > 0;
    options.stopBitsGiven = app.count("--stop-bits") > 0;
    options.line.parity =
        static_cast<char>(std::toupper(static_cast<unsigned char>(common.parity[0])));
    if (options.command->opensPort && options.port.empty()) {
        return Usage("no port given (see orvante-cli ports)");
    }
    if (std::string error;
        sim::IsDemoPortName(options.port) && !sim::ParseDemoPort(options.port, &error)) {
        return Usage("--port: " + error + " (see orvante-cli help demo)");
    }
    if (const std::string error = options.command->finish(values, options); !error.empty()) {
        return Usage(error);
    }
    ParsedCommandLine parsed;
    parsed.options = std::move(options);
    return parsed;
}

}  // namespace orvante::cli
