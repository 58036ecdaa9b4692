// The commands of orvante-cli, each with its arguments and its run, and the table of them.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/command_context.h"
#include "cli/exit_status.h"
#include "cli/option_checks.h"
#include "cli/progress_line.h"
#include "cli/provision.h"
#include "cli/provision_command.h"
#include "functions/ac_code.h"
#include "functions/learn_transmit.h"
#include "functions/module_functions.h"
#include "functions/pulse_capacity.h"
#include "functions/tasks_json.h"
#include "functions/timed_tasks.h"
#include "library/library_file.h"
#include "platform/sys_error.h"
#include "platform/utf8_path.h"
#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"
#include "serial/port_list.h"

namespace orvante::cli {

namespace {

using functions::Range;
using session::WaitEnd;

// ---- shared pieces -------------------------------------------------------------------

std::string RangeText(const Range& range) {
    return std::to_string(range.min) + " to " + std::to_string(range.max);
}

void AddSlot(CLI::App& command, CliOptions& options) {
    command.add_option("SLOT", options.slot, "storage slot, " + RangeText(functions::kSlotRange))
        ->required()
        ->check(WholeNumberIn(functions::kSlotRange, "a slot"));
}

void DefineNothing(CLI::App&, CliOptions&, CommandValues&) {}

std::string FinishNothing(const CommandValues&, CliOptions&) {
    return {};
}

// ---- ports, connect, ping --------------------------------------------------------------

// The device a port leads to: a link in the ports directory is shown as its target.
std::string DevicePathShown(const std::string& path) {
    std::error_code error;
    const std::filesystem::path link = platform::PathFromUtf8(path);
    if (!std::filesystem::is_symlink(link, error)) return path;
    const std::filesystem::path target = std::filesystem::read_symlink(link, error);
    return error ? path : platform::Utf8FromPath(target);
}

int RunPorts(CommandContext& context) {
    json list = json::array();
    std::string plain;
    for (const auto& [number, entry] : serial::ScanDeviceMap()) {
        list.push_back({{"name", "COM" + std::to_string(number)},
                        {"path", DevicePathShown(entry.devicePath)},
                        {"label", entry.displayName}});
        plain += (plain.empty() ? "" : "\n") + serial::PortItemText(number, entry);
    }
    if (!context.Options().json && plain.empty()) return kExitSuccess;
    context.Print({{"ports", list}}, plain);
    return kExitSuccess;
}

int RunConnect(CommandContext& context) {
    session::Session& session = context.Session();
    const std::string address = protocol::FormatAddress(session.LocalAddress());
    context.Print({{"address", address}, {"target", protocol::FormatAddress(session.Target())}},
                  address);
    return kExitSuccess;
}

void DefinePing(CLI::App& command, CliOptions&, CommandValues& values) {
    command
        .add_option("TARGET", values.pingTarget,
                    "the module to test (default: the module that answered)")
        ->check(CLI::Validator(CheckHexAddress, "", "hex address"));
}

std::string FinishPing(const CommandValues& values, CliOptions& options) {
    if (!values.pingTarget.empty()) options.pingTarget = HexAddress(values.pingTarget);
    return {};
}

int RunPing(CommandContext& context) {
    const std::uint16_t target = context.Options().pingTarget.value_or(context.Session().Target());
    const std::string name = protocol::FormatAddress(target);
    const WaitEnd end = context.Ask(functions::kTestConnection, {}, nullptr, target);
    const bool answered = end == WaitEnd::kAnswered;
    if (answered || end == WaitEnd::kTimedOut) {
        context.Print({{"target", name}, {"answered", answered}},
                      name + (answered ? ": answered" : ": no answer"));
    }
    if (answered) return kExitSuccess;
    return context.WaitFailed(end, "the test connection to " + name, protocol::kReplyTimeout);
}

// ---- learn and send ------------------------------------------------------------------

void DefineLearn(CLI::App& command, CliOptions& options, CommandValues&) {
    AddSlot(command, options);
    command
        .add_option("--timeout", options.learnTimeoutSeconds,
                    "seconds to wait for the remote (default 30)")
        ->type_name("S")
        ->check(WholeNumberIn({1, 3600}, "a number of seconds"));
}

int RunLearn(CommandContext& context) {
    const CliOptions& options = context.Options();
    context.Hint("Learning into slot " + std::to_string(options.slot) +
                 ": point the remote at the module and press its key (waiting up to " +
                 std::to_string(options.learnTimeoutSeconds) + " s).");
    std::vector<std::uint8_t> reply;
    if (const int status =
            context.Exchange(functions::kLearn, functions::EncodeSlotRequest(options.slot),
                             "learning into slot " + std::to_string(options.slot), &reply,
                             std::chrono::seconds(options.learnTimeoutSeconds));
        status != kExitSuccess) {
        return status;
    }
    const auto result = functions::DecodeLearnResult(protocol::FrameView(reply).Payload());
    const int pulses = result ? result->PulseCount() : 0;
    context.Print({{"slot", options.slot}, {"pulses", pulses}}, std::to_string(pulses));
    return kExitSuccess;
}

void DefineSend(CLI::App& command, CliOptions& options, CommandValues&) {
    AddSlot(command, options);
}

int RunSend(CommandContext& context) {
    const CliOptions& options = context.Options();
    const std::string slot = std::to_string(options.slot);
    std::vector<std::uint8_t> reply;
    if (const int status =
            context.Exchange(functions::kTransmit, functions::EncodeSlotRequest(options.slot),
                             "the transmit of slot " + slot, &reply);
        status != kExitSuccess) {
        return status;
    }
    const auto result = functions::DecodeTransmitResult(protocol::FrameView(reply).Payload());
    const bool sent = result && result->Sent();
    context.Print({{"slot", options.slot}, {"sent", sent}},
                  "slot " + slot + (sent ? ": sent" : ": failed"));
    if (sent) return kExitSuccess;
    return context.Fail(kExitFailure, "the module could not transmit slot " + slot +
                                          " (nothing learned there, or no such slot)");
}

// ---- pulse capacity ----------------------------------------------------------------

int RunCapacity(CommandContext& context) {
    std::vector<std::uint8_t> reply;
    if (const int status =
            context.Exchange(functions::kReadPulseCapacity, {}, "the pulse capacity read", &reply);
        status != kExitSuccess) {
        return status;
    }
    const auto capacity = functions::DecodePulseCapacity(protocol::FrameView(reply).Payload());
    const int value = capacity.value_or(0);
    context.Print({{"capacity", value}}, std::to_string(value));
    return kExitSuccess;
}

void DefineSetCapacity(CLI::App& command, CliOptions& options, CommandValues& values) {
    command
        .add_option("N", options.capacity,
                    "pulses a learned code may hold, " + RangeText(functions::kPulseCapacityRange))
        ->required()
        ->check(WholeNumberIn(functions::kPulseCapacityRange, "a pulse capacity"));
    command.add_flag("--yes", values.confirmed, "confirm that every learned code is cleared");
}

std::string FinishSetCapacity(const CommandValues& values, CliOptions&) {
    if (values.confirmed) return {};
    return "setting the pulse capacity clears every learned code: add --yes to do it";
}

int RunSetCapacity(CommandContext& context) {
    const std::uint16_t capacity = context.Options().capacity;
    if (const int status = context.Exchange(functions::kSetPulseCapacity,
                                            functions::EncodeSetPulseCapacity(capacity),
                                            "setting the pulse capacity", nullptr);
        status != kExitSuccess) {
        return status;
    }
    context.Print({{"capacity", capacity}}, "pulse capacity set to " + std::to_string(capacity) +
                                                "; the learned codes were cleared");
    return kExitSuccess;
}

// ---- timed tasks ---------------------------------------------------------------------

std::string TasksText(const functions::TimedTasks& tasks) {
    std::string text;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const functions::TimedTaskRecord& task = tasks[i];
        text += (i > 0 ? "\n" : "") + std::string("task ") + std::to_string(i + 1) + ": " +
                (task.enabled ? "on" : "off") + ", slot " + std::to_string(task.slot) + ", every " +
                std::to_string(task.periodMinutes) + " min, first after " +
                std::to_string(task.startDelayMinutes) + " min, " +
                (task.loopCount == 0 ? std::string("endless")
                                     : std::to_string(task.loopCount) + " times");
    }
    return text;
}

int ReadTasks(CommandContext& context, functions::TimedTasks* tasks) {
    std::vector<std::uint8_t> reply;
    if (const int status =
            context.Exchange(functions::kReadTimedTasks, {}, "the timed tasks read", &reply);
        status != kExitSuccess) {
        return status;
    }
    *tasks = functions::DecodeTimedTasks(protocol::FrameView(reply).Payload()).value_or(*tasks);
    return kExitSuccess;
}

int RunTasks(CommandContext& context) {
    functions::TimedTasks tasks{};
    if (const int status = ReadTasks(context, &tasks); status != kExitSuccess) return status;
    context.Print(functions::TasksToJson(tasks), TasksText(tasks));
    return kExitSuccess;
}

void DefineSetTasks(CLI::App& command, CliOptions&, CommandValues& values) {
    command.add_option("FILE", values.tasksFile, "JSON as printed by 'tasks --json'")->required();
}

// A tasks file is a few hundred bytes; reading stops long before a file that is not one
// (a device that never ends) could fill the memory.
constexpr std::size_t kMaxInputSize = 1 << 20;

// FILE, or standard input for "-"; a folder, a read error or a huge file is an error.
bool ReadInput(const std::string& file, std::string* text, std::string* error) {
    const bool standardInput = file == "-";
    const std::string name = standardInput ? std::string("standard input") : file;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(nullptr, &std::fclose);
    if (!standardInput) {
        std::error_code ignored;
        if (std::filesystem::is_directory(platform::PathFromUtf8(file), ignored)) {
            *error = file + " is a folder";
            return false;
        }
        opened.reset(platform::OpenFile(platform::PathFromUtf8(file), "rb"));
        if (!opened) {
            *error = "cannot read " + file + ": " + platform::SysError::FromErrno(errno).text;
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
        *error = "cannot read " + name + ": " + platform::SysError::FromErrno(errno).text;
        return false;
    }
    return true;
}

std::string FinishSetTasks(const CommandValues& values, CliOptions& options) {
    std::string text;
    std::string error;
    if (!ReadInput(values.tasksFile, &text, &error)) return error;
    if (!functions::TasksFromJson(text, &options.tasks, &error)) {
        return (values.tasksFile == "-" ? std::string("standard input") : values.tasksFile) + ": " +
               error;
    }
    return {};
}

int RunSetTasks(CommandContext& context) {
    const functions::TimedTasks& tasks = context.Options().tasks;
    if (const int status =
            context.Exchange(functions::kSetTimedTasks, functions::EncodeTimedTasks(tasks),
                             "writing the timed tasks", nullptr);
        status != kExitSuccess) {
        return status;
    }
    functions::TimedTasks readBack{};
    if (const int status = ReadTasks(context, &readBack); status != kExitSuccess) return status;
    context.Print(functions::TasksToJson(readBack), TasksText(readBack));
    for (std::size_t i = 0; i < readBack.size(); ++i) {
        if (!(readBack[i] == tasks[i])) {
            return context.Fail(kExitFailure, "task " + std::to_string(i + 1) +
                                                  " reads back differently from what was written");
        }
    }
    return kExitSuccess;
}

// ---- air-conditioner codes -----------------------------------------------------------

// The air-conditioner lists' words, as the option checks take them.
std::map<std::string, int> WordsOf(std::span<const functions::AcWord> words) {
    std::map<std::string, int> names;
    for (const functions::AcWord& entry : words) names.emplace(entry.word, entry.index);
    return names;
}

const std::map<std::string, int> kPowerNames = WordsOf(functions::kAcPowerWords);
const std::map<std::string, int> kModeNames = WordsOf(functions::kAcModeWords);
const std::map<std::string, int> kFanNames = WordsOf(functions::kAcFanWords);
const std::map<std::string, int> kSwingNames = WordsOf(functions::kAcSwingWords);

void DefineAc(CLI::App& command, CliOptions&, CommandValues& values) {
    command.add_option("BRAND", values.brand, "brand code, " + RangeText(functions::kAcBrandRange))
        ->required()
        ->check(WholeNumberIn(functions::kAcBrandRange, "a brand code"));
    command.add_option("--power", values.power, "on or off (default off)")
        ->type_name("ON|OFF")
        ->transform(OneOfWords(kPowerNames));
    command.add_option("--mode", values.mode, "auto, cool, heat, fan or dry (default auto)")
        ->type_name("MODE")
        ->transform(OneOfWords(kModeNames));
    command
        .add_option(
            "--temp", values.temperature,
            "degrees Celsius, " + RangeText(functions::kAcTemperatureRange) + " (default 16)")
        ->type_name("C")
        ->check(WholeNumberIn(functions::kAcTemperatureRange, "a temperature"));
    command.add_option("--fan", values.fan, "auto or 1 to 5 (default auto)")
        ->type_name("SPEED")
        ->transform(OneOfWords(kFanNames));
    command.add_option("--swing", values.swing, "vertical, horizontal or off (default vertical)")
        ->type_name("SWING")
        ->transform(OneOfWords(kSwingNames));
}

std::string FinishAc(const CommandValues& values, CliOptions& options) {
    options.ac = functions::AcCodeRequest{
        .brand = static_cast<std::uint16_t>(values.brand),
        .power = static_cast<std::uint8_t>(values.power),
        .mode = static_cast<std::uint8_t>(values.mode),
        .temperatureIndex =
            static_cast<std::uint8_t>(values.temperature - functions::kLowestAcTemperature),
        .fan = static_cast<std::uint8_t>(values.fan),
        .swing = static_cast<std::uint8_t>(values.swing),
    };
    return {};
}

// The module answers only when it could not send the code: silence is success.
int RunAc(CommandContext& context) {
    const functions::AcCodeRequest& ac = context.Options().ac;
    const WaitEnd end = context.Ask(functions::kSendAcCode, functions::EncodeAcCode(ac), nullptr);
    if (end == WaitEnd::kCancelled || end == WaitEnd::kLost) {
        return context.WaitFailed(end, "the air-conditioner code", functions::kFailureAnswerWait);
    }
    const bool sent = end == WaitEnd::kTimedOut;
    const std::string brand = std::to_string(ac.brand);
    context.Print({{"brand", ac.brand}, {"sent", sent}},
                  "brand " + brand + (sent ? ": sent" : ": failed"));
    if (sent) return kExitSuccess;
    return context.Fail(kExitFailure, "the module could not send the code of brand " + brand);
}

// ---- library transfer ----------------------------------------------------------------

void AddRetries(CLI::App& command, CliOptions& options) {
    command
        .add_option("--retries", options.retries,
                    "resends of a block after 2 s of silence (default 1)")
        ->type_name("N")
        ->check(WholeNumberIn({0, 100}, "a number of resends"));
}

json TransferJson(const std::string& path, std::size_t bytes, double seconds, int resent,
                  int stray) {
    return {{"file", path},
            {"bytes", bytes},
            {"seconds", seconds},
            {"resent", resent},
            {"stray", stray}};
}

std::string Blocks(int count) {
    return std::to_string(count) + " block" + (count == 1 ? "" : "s");
}

// What went otherwise than block by block: blocks sent again, replies never asked for.
std::string TransferNotes(int resent, int stray) {
    std::string notes;
    if (resent > 0) notes += "; " + Blocks(resent) + " resent";
    if (stray > 0) notes += "; " + Blocks(stray) + " stray, ignored";
    return notes;
}

// Library frames always go to the broadcast address: a target given changes nothing.
void NoteTheTargetIsNotUsed(CommandContext& context) {
    if (context.Options().target) {
        context.Note("library frames always go to FFFF; --target is not used");
    }
}

void DefineExport(CLI::App& command, CliOptions& options, CommandValues&) {
    command.add_option("FILE", options.file, "the .db file to write")->required();
    AddRetries(command, options);
}

// The export file is only judged here: nothing is written before the module has answered.
std::string FinishExport(const CommandValues&, CliOptions& options) {
    library::FileError error;
    if (!library::ExportFile::CheckTarget(options.file, &error)) {
        return FileProblemText(options.file, error);
    }
    std::error_code ignored;
    options.exportFileExisted =
        std::filesystem::exists(platform::PathFromUtf8(options.file), ignored);
    return {};
}

int RunExport(CommandContext& context) {
    const CliOptions& options = context.Options();
    NoteTheTargetIsNotUsed(context);
    library::TransferProgress result;
    double seconds = 0;
    const int status = context.Transfer({protocol::kCmdExportBlock, options.file, options.retries},
                                        options.file, &result, &seconds);
    context.exportResult = result;
    if (status != kExitSuccess) return status;
    context.Print(
        TransferJson(options.file, result.bytes, seconds, result.resentBlocks, result.strayBlocks),
        "exported " + TransferSummary(result.bytes, seconds) + " to " + options.file +
            TransferNotes(result.resentBlocks, result.strayBlocks));
    return kExitSuccess;
}

// An export that did not replace its file says what became of it, after the line that
// said why it ended.
void TellWhatBecameOfTheExportFile(CommandContext& context) {
    const CliOptions& options = context.Options();
    const library::TransferProgress result =
        context.exportResult.value_or(library::TransferProgress{});
    // Complete, or complete in its part file: its own line has said so.
    if (result.outcome == library::TransferOutcome::kSucceeded ||
        result.fileError.problem == library::FileProblem::kCannotReplace) {
        return;
    }
    const std::string file =
        options.file + (options.exportFileExisted ? " is unchanged" : " was not created");
    if (result.keptBytes == 0) {
        context.Fail(kExitFailure, file + "; nothing was received");
    } else {
        context.Fail(kExitFailure, file + "; the " + std::to_string(result.keptBytes) +
                                       " bytes received are in " + result.keptPath);
    }
}

void DefineImport(CLI::App& command, CliOptions& options, CommandValues&) {
    command.add_option("FILE", options.file, "the .db file to read, at most 65536 bytes")
        ->required();
    command.add_flag("--verify", options.verify, "read the library back and compare it with FILE");
    AddRetries(command, options);
}

std::string FinishImport(const CommandValues&, CliOptions& options) {
    library::FileError error;
    if (!library::ReadLibraryFile(options.file, &options.importImage, &error)) {
        return FileProblemText(options.file, error);
    }
    return {};
}

// An acknowledgement carries nothing to check: the library is read back into memory
// and the file's length of it compared with the file.
int Verify(CommandContext& context, bool* verified, library::TransferProgress* readBack,
           double* seconds) {
    const CliOptions& options = context.Options();
    std::vector<std::uint8_t> library;
    const int status = context.Transfer({protocol::kCmdExportBlock, {}, options.retries, &library},
                                        options.file, readBack, seconds);
    if (status != kExitSuccess) return status;
    if (const std::string difference = LibraryDifference(options.importImage, library);
        !difference.empty()) {
        return context.Fail(kExitFailure, "verify: " + difference);
    }
    *verified = true;
    return kExitSuccess;
}

int RunImport(CommandContext& context) {
    const CliOptions& options = context.Options();
    NoteTheTargetIsNotUsed(context);
    library::TransferProgress result;
    double seconds = 0;
    int status = context.Transfer({protocol::kCmdImportBlock, options.file, options.retries},
                                  options.file, &result, &seconds);
    if (status != kExitSuccess) return status;
    bool verified = false;
    library::TransferProgress readBack;
    double verifySeconds = 0;
    if (options.verify) status = Verify(context, &verified, &readBack, &verifySeconds);
    // Every block the command sent again, the read-back's included.
    const int resent = result.resentBlocks + readBack.resentBlocks;
    json object = TransferJson(options.file, result.bytes, seconds, resent, readBack.strayBlocks);
    std::string verifyText;
    if (options.verify) {
        object["verified"] = verified;
        object["verify_seconds"] = verifySeconds;
        verifyText = verified ? ", verified in " + SecondsText(verifySeconds) : ", NOT verified";
    }
    if (status == kExitSuccess || status == kExitFailure) {
        context.Print(object, "imported " + TransferSummary(result.bytes, seconds) + " from " +
                                  options.file + verifyText +
                                  TransferNotes(resent, readBack.strayBlocks));
    }
    return status;
}

// The module's library compared with FILE, nothing written.
int RunVerify(CommandContext& context) {
    NoteTheTargetIsNotUsed(context);
    bool verified = false;
    library::TransferProgress readBack;
    double seconds = 0;
    const int status = Verify(context, &verified, &readBack, &seconds);
    if (status == kExitSuccess) {
        const CliOptions& options = context.Options();
        context.Print({{"file", options.file},
                       {"verified", true},
                       {"bytes", options.importImage.size()},
                       {"seconds", seconds},
                       {"resent", readBack.resentBlocks}},
                      "verified " + std::to_string(options.importImage.size()) + " bytes against " +
                          options.file + " in " + SecondsText(seconds) +
                          TransferNotes(readBack.resentBlocks, readBack.strayBlocks));
    }
    return status;
}

void DefineVerify(CLI::App& command, CliOptions& options, CommandValues&) {
    command.add_option("FILE", options.file, "the .db file to compare, at most 65536 bytes")
        ->required();
    AddRetries(command, options);
}

}  // namespace

std::span<const CliCommand> CliCommands() {
    static const CliCommand kCommands[] = {
        {"ports", "list the ports as the console lists them",
         "Each line gives the name to use with --port (COM<n>), the device it leads to\n"
         "and a label. A port listed is not yet a module that answers.",
         false, DefineNothing, FinishNothing, RunPorts, nullptr},
        {"connect", "print the module's address",
         "Sends the connect handshake and prints the address of the module that answers\n"
         "(4 hex digits). A provisioning script runs it first to see that the module is\n"
         "there.",
         true, DefineNothing, FinishNothing, RunConnect, nullptr},
        {"ping", "test the connection to a target module",
         "Asks TARGET (or with no TARGET, the module that answered the handshake) to\n"
         "answer over the air. Status 3 when it does not answer in time.",
         true, DefinePing, FinishPing, RunPing, nullptr},
        {"learn", "learn a remote's code into a slot; prints its pulses",
         "Puts the module in learning mode; point the remote at it and press the key\n"
         "within --timeout seconds. The learned code replaces what SLOT held.",
         true, DefineLearn, FinishNothing, RunLearn, nullptr},
        {"send", "transmit the code stored in a slot",
         "Transmits the code learned into SLOT. Status 1 when the module reports that\n"
         "the transmit failed (an empty slot, for one).",
         true, DefineSend, FinishNothing, RunSend, nullptr},
        {"capacity", "read the pulse capacity ('capacity set' sets it)",
         "Prints how many pulses a learned code may hold.", true, DefineNothing, FinishNothing,
         RunCapacity, nullptr},
        {"capacity set", "set the pulse capacity: clears every learned code",
         "The module clears every learned slot when its capacity changes, so the command\n"
         "asks for --yes. Set it before the library is imported.",
         true, DefineSetCapacity, FinishSetCapacity, RunSetCapacity, nullptr},
        {"tasks", "print the three timed tasks ('tasks set' writes them)",
         "With --json the tasks come as the JSON that 'tasks set' reads (see the manual\n"
         "page for its format).",
         true, DefineNothing, FinishNothing, RunTasks, nullptr},
        {"tasks set", "write the tasks from FILE or -, then read them back",
         "FILE (or - for standard input) holds the JSON that 'tasks --json' prints. The\n"
         "tasks are read back after writing; status 1 when they differ.",
         true, DefineSetTasks, FinishSetTasks, RunSetTasks, nullptr},
        {"ac", "send an air-conditioner code from the library",
         "Sends the code of BRAND from the module's built-in library with the settings\n"
         "given; settings not given take their defaults.",
         true, DefineAc, FinishAc, RunAc, nullptr},
        {"export", "copy the module's code library into FILE",
         "The library is written into FILE.part and renamed over FILE only when the\n"
         "transfer is complete: an export that does not finish leaves FILE as it was.\n"
         "Library frames always go to address FFFF; --target does not apply.",
         true, DefineExport, FinishExport, RunExport, TellWhatBecameOfTheExportFile},
        {"import", "copy FILE into the module's code library",
         "FILE replaces the module's library. With --verify the library is read back\n"
         "into memory and compared with FILE; status 1 when they differ. Library frames\n"
         "always go to address FFFF; --target does not apply.",
         true, DefineImport, FinishImport, RunImport, nullptr},
        {"verify", "compare the module's code library with FILE",
         "Reads the library back into memory and compares it with FILE; nothing is\n"
         "written. Status 1 when they differ, naming the first differing offset (or\n"
         "where the module's library ends).",
         true, DefineVerify, FinishImport, RunVerify, nullptr},
        {"provision", "set up many modules at once from a PROFILE",
         "Each port in a session of its own, all at once (--jobs N: N at a time):\n"
         "connect, the pulse capacity (set and read back), the library (imported and\n"
         "verified), the timed tasks (written and read back), as the profile gives them.\n"
         "The profile: {\"library\": \"lib.db\", \"capacity\": 120, \"tasks\": [...],\n"
         "\"baud\": 115200, \"retries\": 2}; see the manual page. A module that fails a step\n"
         "is reported with it and skips the rest. Status 0 when every module passed,\n"
         "1 when one failed.",
         false, DefineProvision, FinishProvision, RunProvision, nullptr},
    };
    return kCommands;
}

}  // namespace orvante::cli
