#include "sim/program_options.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <string_view>

namespace orvante::sim {

namespace {

constexpr std::int64_t kMaxMilliseconds = 3'600'000;  // an hour
constexpr std::int64_t kMaxBaud = 4'000'000;
constexpr std::int64_t kMaxRepeat = 16;

// A whole number in `base` within min..max, or nothing.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max,
                                         int base = 10) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

struct Option {
    std::string_view name;
    std::string_view valueHelp;  // empty for a flag; "[=N]": a value only after '='
    std::string_view help;
    // Applies the value; false when it is not acceptable.
    std::function<bool(std::string_view value, ProgramOptions&)> apply;
    std::string_view accepts;  // what a bad value is told
};

// An option whose value is a decimal number in min..max, stored by `store`.
template <typename Store>
Option NumberOption(std::string_view name, std::string_view valueHelp, std::string_view help,
                    std::int64_t min, std::int64_t max, std::string_view accepts, Store store) {
    return Option{name, valueHelp, help,
                  [=](std::string_view value, ProgramOptions& options) {
                      const auto number = ParseInteger(value, min, max);
                      if (number) store(options, *number);
                      return number.has_value();
                  },
                  accepts};
}

Option FlagOption(std::string_view name, std::string_view help,
                  std::function<void(ProgramOptions&)> set) {
    return Option{name,
                  {},
                  help,
                  [set = std::move(set)](std::string_view, ProgramOptions& options) {
                      set(options);
                      return true;
                  },
                  {}};
}

std::chrono::milliseconds Ms(std::int64_t value) {
    return std::chrono::milliseconds(value);
}

const std::vector<Option>& Options() {
    using O = ProgramOptions;
    static const std::vector<Option> kOptions = {
        NumberOption("--port", "N", "publish as COM<N> (default: 99, or the first free above)", 1,
                     255, "a port number from 1 to 255",
                     [](O& o, std::int64_t v) { o.port = static_cast<int>(v); }),
        Option{"--address", "HEX", "the module's address, 1 to 4 hex digits (default 1234)",
               [](std::string_view value, O& o) {
                   const auto address =
                       value.size() <= 4 ? ParseInteger(value, 1, 0xFFFE, 16) : std::nullopt;
                   if (address) o.module.address = static_cast<std::uint16_t>(*address);
                   return address.has_value();
               },
               "1 to 4 hex digits, not 0 and not FFFF (the broadcast address)"},
        NumberOption("--learn-delay", "MS", "time a learn takes (default 1500)", 0,
                     kMaxMilliseconds, "milliseconds from 0 to 3600000",
                     [](O& o, std::int64_t v) { o.module.learnDelay = Ms(v); }),
        NumberOption(
            "--library-size", "BYTES", "size of the code library (default 8192)", 0,
            static_cast<std::int64_t>(kMaxLibrarySize), "a size from 0 to 65536",
            [](O& o, std::int64_t v) { o.module.librarySize = static_cast<std::size_t>(v); }),
        NumberOption(
            "--pulse-capacity", "N", "initial pulse capacity (default 100)", kMinPulseCapacity,
            kMaxPulseCapacity, "a capacity from 1 to 400",
            [](O& o, std::int64_t v) { o.module.pulseCapacity = static_cast<std::uint16_t>(v); }),
        Option{"--state-file", "PATH", "keep the timed tasks in this file across restarts",
               [](std::string_view value, O& o) {
                   o.stateFile = value;
                   return !value.empty();
               },
               "a file path"},
        NumberOption("--baud", "B", "pace the output at B baud, 10 bits a byte", 50, kMaxBaud,
                     "a rate from 50 to 4000000",
                     [](O& o, std::int64_t v) { o.faults.baud = static_cast<int>(v); }),
        NumberOption("--drop", "N", "drop every Nth reply", 1, 1'000'000,
                     "a count from 1 to 1000000",
                     [](O& o, std::int64_t v) { o.faults.dropEvery = static_cast<int>(v); }),
        FlagOption("--corrupt", "send every reply with a wrong checksum",
                   [](O& o) { o.faults.corruptChecksum = true; }),
        NumberOption("--delay", "MS", "answer every request MS later", 0, kMaxMilliseconds,
                     "milliseconds from 0 to 3600000",
                     [](O& o, std::int64_t v) { o.faults.delay = Ms(v); }),
        NumberOption(
            "--split", "K", "send replies in pieces of K bytes", 1, 4096,
            "a piece size from 1 to 4096",
            [](O& o, std::int64_t v) { o.faults.splitSize = static_cast<std::size_t>(v); }),
        NumberOption("--gap", "MS", "silence between the pieces of --split", 0, kMaxMilliseconds,
                     "milliseconds from 0 to 3600000",
                     [](O& o, std::int64_t v) { o.faults.splitGap = Ms(v); }),
        FlagOption("--garbage", "send 1 to 8 junk bytes (never 7E) before every frame",
                   [](O& o) { o.faults.garbage = true; }),
        NumberOption(
            "--seed", "N", "seed of the --garbage bytes (default 1)", 0, UINT32_MAX,
            "a number from 0 to 4294967295",
            [](O& o, std::int64_t v) { o.faults.garbageSeed = static_cast<std::uint32_t>(v); }),
        Option{"--repeat", "[=N]", "send every reply once (or N times) more",
               [](std::string_view value, O& o) {
                   const auto count = value.empty() ? 1 : ParseInteger(value, 1, kMaxRepeat);
                   if (count) o.faults.repeat = static_cast<int>(*count);
                   return count.has_value();
               },
               "a count from 1 to 16"},
        FlagOption("--stale-export",
                   "send every other export block after a stale copy of the one before",
                   [](O& o) { o.faults.staleExport = true; }),
        FlagOption("--verbose", "log every frame received and sent on standard error",
                   [](O& o) { o.verbose = true; }),
        FlagOption("--help", "show this help", [](O& o) { o.help = true; }),
    };
    return kOptions;
}

const Option* FindOption(std::string_view name) {
    for (const Option& option : Options()) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// The value of `option`: after '=', or the next argument (moving *index on to it).
bool TakeValue(const Option& option, std::optional<std::string_view> inlineValue,
               const std::vector<std::string>& args, std::size_t* index, std::string_view* value,
               std::string* error) {
    const std::string name(option.name);
    if (option.valueHelp.starts_with("[=")) {
        if (inlineValue && inlineValue->empty()) {
            *error = "option " + name + " needs a value after '='";
            return false;
        }
        *value = inlineValue.value_or(std::string_view());
    } else if (option.valueHelp.empty()) {
        if (inlineValue) {
            *error = "option " + name + " takes no value";
            return false;
        }
    } else if (inlineValue) {
        *value = *inlineValue;
    } else if (*index + 1 < args.size()) {
        *value = args[++*index];
    } else {
        *error = "option " + name + " needs a value (" + std::string(option.accepts) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options,
                         std::string* error) {
    bool gapGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (const std::size_t equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
            inlineValue = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        const Option* option = FindOption(arg);
        if (option == nullptr) {
            *error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
        std::string_view value;
        if (!TakeValue(*option, inlineValue, args, &i, &value, error)) return false;
        if (!option->apply(value, *options)) {
            *error = std::string(arg) + ": expected " + std::string(option->accepts) + ", got '" +
                     std::string(value) + "'";
            return false;
        }
        if (arg == "--gap") gapGiven = true;
    }
    if (gapGiven && options->faults.splitSize == 0) {
        *error = "--gap needs --split";
        return false;
    }
    return true;
}

std::string ProgramUsage() {
    std::string text =
        "Usage: orvante-sim [OPTION]...\n"
        "Serves a virtual infrared module on a pseudo-terminal and publishes it as a COM\n"
        "port for the Orvante console. Ends on Ctrl+C (SIGINT), SIGTERM or SIGHUP and\n"
        "removes its COM entry; an entry left by a module that was killed is taken over\n"
        "by the next one that starts.\n\nOptions:\n";
    for (const Option& option : Options()) {
        std::string left = "  " + std::string(option.name);
        if (option.valueHelp.starts_with("[=")) {
            left += option.valueHelp;
        } else if (!option.valueHelp.empty()) {
            left += " " + std::string(option.valueHelp);
        }
        left.resize(std::max<std::size_t>(left.size() + 2, 24), ' ');
        text += left + std::string(option.help) + "\n";
    }
    text +=
        "\nExit status: 0 after a signal, 1 when it cannot start or the line fails,\n"
        "2 for a bad command line.\n";
    return text;
}

}  // namespace orvante::sim
