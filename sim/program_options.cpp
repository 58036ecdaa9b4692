#include "sim/program_options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "sim/whole_number.h"

namespace orvante::sim {

namespace {

constexpr std::string_view kVersionLine = "orvante-sim " ORVANTE_VERSION;

constexpr std::int64_t kMaxBaud = 4'000'000;
constexpr std::int64_t kMaxRepeat = 16;

// How an option's value is read: the number it stands for, or nothing when it is refused.
using NumberParser = std::function<std::optional<std::int64_t>(std::string_view)>;

NumberParser DecimalIn(std::int64_t min, std::int64_t max) {
    return [min, max](std::string_view text) { return ParseWholeNumber(text, min, max); };
}

// The module's address: 1 to 4 hex digits, neither 0 nor FFFF (the broadcast address).
std::optional<std::int64_t> ParseAddress(std::string_view text) {
    return text.size() <= 4 ? ParseWholeNumber(text, 1, 0xFFFE, 16) : std::nullopt;
}

std::chrono::milliseconds Ms(std::int64_t value) {
    return std::chrono::milliseconds(value);
}

// Writes every option the way it is typed: its name, then the name of its value ("--port
// N"), or for --repeat, whose count may only follow '=', "--repeat[=N]". CLI11 would add
// the count --repeat stands for alone ("{1}") and that --gap needs --split, which their
// help texts tell.
class UsageFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool) const override {
        return option->get_name();
    }

    std::string make_option_opts(const CLI::Option* option) const override {
        if (!option->get_option_text().empty()) return option->get_option_text();
        if (option->get_type_size() == 0) return {};  // a flag
        return " " + option->get_type_name();
    }
};

// The message for an argument that is no option of ours. CLI11 would list every such
// argument, last first; naming the first is clearer.
std::string NotAnOption(const std::string& arg) {
    if (arg.starts_with('-')) return "unknown option '" + arg + "'";
    return "unexpected argument '" + arg + "': neither an option nor an option's value";
}

// orvante-sim's options on a CLI11 app, each storing what it reads into `options`.
class CommandLine {
public:
    explicit CommandLine(ProgramOptions& options);

    bool Parse(const std::vector<std::string>& args, std::string* error);
    std::string Usage() const { return app_.help(); }

private:
    void AddModuleOptions();
    void AddFaultOptions();
    // Makes `option` refuse a value that `acceptable` refuses, saying that it expected
    // `accepts`.
    CLI::Option* Accepting(CLI::Option* option, const std::string& accepts,
                           std::function<bool(std::string_view)> acceptable);
    // Makes `option` a number read by `parse`, each accepted value handed to `store` in
    // the order given, so that the last one counts.
    void ReadNumber(CLI::Option* option, const std::string& accepts, NumberParser parse,
                    std::function<void(std::int64_t)> store);
    std::optional<std::string> CheckValuePlacement(const std::vector<std::string>& args) const;

    ProgramOptions& options_;
    CLI::App app_;
    // What the value of each option that takes one may be: the flags have none.
    std::map<std::string, std::string, std::less<>> accepts_;
};

CommandLine::CommandLine(ProgramOptions& options)
    : options_(options),
      app_(
          "Serves a virtual infrared module on a pseudo-terminal and publishes it as a COM\n"
          "port for the Orvante console. Ends on Ctrl+C (SIGINT), SIGTERM or SIGHUP and\n"
          "removes its COM entry; an entry left by a module that was killed is taken over\n"
          "by the next one that starts.\n",
          "orvante-sim") {
    app_.formatter(std::make_shared<UsageFormatter>());
    app_.get_formatter()->column_width(24);
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    AddModuleOptions();
    AddFaultOptions();
    app_.add_flag("--verbose", options_.verbose,
                  "log every frame received and sent on standard error");
    // Replaced rather than kept as CLI11 makes them: no -h, and listed last.
    app_.set_help_flag("--help", "show this help");
    app_.set_version_flag("--version", std::string(kVersionLine), "show the version");
    app_.footer(
        "Exit status: 0 after a signal, 1 when it cannot start or the line fails,\n"
        "2 for a bad command line.");
}

void CommandLine::AddModuleOptions() {
    ProgramOptions& o = options_;
    ReadNumber(app_.add_option("--port", "publish as COM<N> (default: 99, or the first free above)")
                   ->type_name("N"),
               "a port number from 1 to 255", DecimalIn(1, 255),
               [&o](std::int64_t v) { o.port = static_cast<int>(v); });
    ReadNumber(
        app_.add_option("--address", "the module's address, 1 to 4 hex digits (default 1234)")
            ->type_name("HEX"),
        "1 to 4 hex digits, not 0 and not FFFF (the broadcast address)", ParseAddress,
        [&o](std::int64_t v) { o.module.address = static_cast<std::uint16_t>(v); });
    ReadNumber(
        app_.add_option("--learn-delay", "time a learn takes (default 1500)")->type_name("MS"),
        "milliseconds from 0 to 3600000", DecimalIn(0, kMaxMilliseconds),
        [&o](std::int64_t v) { o.module.learnDelay = Ms(v); });
    ReadNumber(app_.add_option("--library-size", "size of the code library (default 8192)")
                   ->type_name("BYTES"),
               "a size from 0 to 65536", DecimalIn(0, static_cast<std::int64_t>(kMaxLibrarySize)),
               [&o](std::int64_t v) { o.module.librarySize = static_cast<std::size_t>(v); });
    ReadNumber(
        app_.add_option("--pulse-capacity", "initial pulse capacity (default 100)")->type_name("N"),
        "a capacity from 1 to 400", DecimalIn(kMinPulseCapacity, kMaxPulseCapacity),
        [&o](std::int64_t v) { o.module.pulseCapacity = static_cast<std::uint16_t>(v); });
    Accepting(app_.add_option("--state-file", o.stateFile,
                              "keep the timed tasks in this file across restarts")
                  ->type_name("PATH"),
              "a file path", [](std::string_view path) { return !path.empty(); });
}

void CommandLine::AddFaultOptions() {
    ProgramOptions& o = options_;
    ReadNumber(
        app_.add_option("--baud", "pace the output at B baud, 10 bits a byte")->type_name("B"),
        "a rate from 50 to 4000000", DecimalIn(50, kMaxBaud),
        [&o](std::int64_t v) { o.faults.baud = static_cast<int>(v); });
    ReadNumber(app_.add_option("--drop", "drop every Nth reply")->type_name("N"),
               "a count from 1 to 1000000", DecimalIn(1, 1'000'000),
               [&o](std::int64_t v) { o.faults.dropEvery = static_cast<int>(v); });
    app_.add_flag("--corrupt", o.faults.corruptChecksum, "send every reply with a wrong checksum");
    ReadNumber(app_.add_option("--delay", "answer every request MS later")->type_name("MS"),
               "milliseconds from 0 to 3600000", DecimalIn(0, kMaxMilliseconds),
               [&o](std::int64_t v) { o.faults.delay = Ms(v); });
    CLI::Option* split = app_.add_option("--split", "send replies in pieces of K bytes");
    ReadNumber(split->type_name("K"), "a piece size from 1 to 4096", DecimalIn(1, 4096),
               [&o](std::int64_t v) { o.faults.splitSize = static_cast<std::size_t>(v); });
    ReadNumber(app_.add_option("--gap", "silence between the pieces of --split")
                   ->type_name("MS")
                   ->needs(split),
               "milliseconds from 0 to 3600000", DecimalIn(0, kMaxMilliseconds),
               [&o](std::int64_t v) { o.faults.splitGap = Ms(v); });
    app_.add_flag("--garbage", o.faults.garbage,
                  "send 1 to 8 junk bytes (never 7E) before every frame");
    ReadNumber(app_.add_option("--seed", "seed of the --garbage bytes (default 1)")->type_name("N"),
               "a number from 0 to 4294967295", DecimalIn(0, UINT32_MAX),
               [&o](std::int64_t v) { o.faults.garbageSeed = static_cast<std::uint32_t>(v); });
    // A flag whose count, 1 when not given, may follow '=': "--repeat 3" is --repeat
    // and a stray argument, as it always was.
    const std::string repeatHelp = "send every reply once (or N times) more";
    ReadNumber(app_.add_flag("--repeat{1}", repeatHelp)->option_text("[=N]"),
               "a count from 1 to 16", DecimalIn(1, kMaxRepeat),
               [&o](std::int64_t v) { o.faults.repeat = static_cast<int>(v); });
    app_.add_flag("--stale-export", o.faults.staleExport,
                  "send every other export block after a stale copy of the one before");
}

CLI::Option* CommandLine::Accepting(CLI::Option* option, const std::string& accepts,
                                    std::function<bool(std::string_view)> acceptable) {
    accepts_.emplace(option->get_name(), accepts);
    return option->check(CLI::Validator(
        [accepts, acceptable = std::move(acceptable)](std::string& value) -> std::string {
            if (acceptable(value)) return {};
            return "expected " + accepts + ", got '" + value + "'";
        },
        "", ""));
}

void CommandLine::ReadNumber(CLI::Option* option, const std::string& accepts, NumberParser parse,
                             std::function<void(std::int64_t)> store) {
    const auto acceptable = [parse](std::string_view value) { return parse(value).has_value(); };
    // CLI11 runs the checks of an option on each of its values in the order given; this
    // last one stores what the one before has accepted.
    Accepting(option, accepts, acceptable)
        ->each(
            [parse, store = std::move(store)](const std::string& value) { store(*parse(value)); });
}

// CLI11 reads "--name=" as "--name" alone, taking the next argument as the value; lets a
// flag take "=true"; and says of a value missing at the end only that it is missing.
// Those are refused here, before CLI11 reads the arguments: the message, or nothing when
// every value is where it belongs. Unknown options are left to CLI11 to refuse.
std::optional<std::string> CommandLine::CheckValuePlacement(
    const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--") break;  // the rest are positional, which CLI11 refuses
        if (!arg.starts_with("--")) continue;
        const std::size_t equals = arg.find('=');
        const CLI::Option* option = app_.get_option_no_throw(std::string(arg.substr(0, equals)));
        if (option == nullptr) continue;
        const std::string name = option->get_name();
        const auto accepts = accepts_.find(name);
        if (equals != arg.npos) {
            if (accepts == accepts_.end()) return "option " + name + " takes no value";
            if (equals + 1 == arg.size()) return "option " + name + " needs a value after '='";
        } else if (option->get_items_expected_min() > 0) {
            if (i + 1 == args.size()) {
                const std::string what =
                    accepts != accepts_.end() ? " (" + accepts->second + ")" : "";
                return "option " + name + " needs a value" + what;
            }
            ++i;  // its value, whatever it looks like
        }
    }
    return std::nullopt;
}

bool CommandLine::Parse(const std::vector<std::string>& args, std::string* error) {
    if (std::optional<std::string> misplaced = CheckValuePlacement(args)) {
        *error = *misplaced;
        return false;
    }
    try {
        // CLI11 takes the arguments from the back of the vector.
        app_.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::CallForHelp&) {
        options_.help = true;
    } catch (const CLI::CallForVersion&) {
        options_.version = true;
    } catch (const CLI::ExtrasError&) {
        *error = NotAnOption(app_.remaining().front());
        return false;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return false;
    }
    return true;
}

}  // namespace

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options,
                         std::string* error) {
    return CommandLine(*options).Parse(args, error);
}

std::string ProgramUsage() {
    ProgramOptions unused;
    return CommandLine(unused).Usage();
}

std::string ProgramVersion() {
    return std::string(kVersionLine) + "\n";
}

}  // namespace orvante::sim
