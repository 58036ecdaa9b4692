#include "cli/cli_commands.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"
#include "cli/progress_line.h"
#include "cli/tasks_json.h"
#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "library/library_file.h"
#include "platform/thread_failure.h"
#include "protocol/commands.h"
#include "protocol/replies.h"
#include "serial/port_list.h"
#include "serial/sys_error.h"
#include "serial/utf8_path.h"
#include "session/session.h"

namespace orvante::cli {

namespace {

using json = nlohmann::ordered_json;
using session::WaitEnd;
using std::chrono::milliseconds;
using std::chrono::seconds;

// The module answers an air-conditioner request only when it could not send the code.
constexpr milliseconds kAcFailureWait{1000};

std::string WithReason(const std::string& text, const serial::SysError& error) {
    return error.text.empty() ? text : text + " (" + error.text + ")";
}

std::string OpenFailureText(const std::string& port, const serial::PortOpenResult& result) {
    const std::string prefix = "cannot open " + port + ": ";
    switch (result.status) {
        case serial::PortOpenStatus::kNotFound:
            return WithReason(prefix + "not found", result.error) + "; see orvante-cli ports";
        case serial::PortOpenStatus::kBusy:
            return prefix + "busy: another program holds it";
        case serial::PortOpenStatus::kNoPermission:
            return WithReason(prefix + "no permission", result.error) +
                   "; add your user to the dialout group (sudo usermod -aG dialout $USER) and "
                   "log in again";
        case serial::PortOpenStatus::kSettingsRefused:
            return prefix + "the line settings were refused by " + result.failedCall + " (" +
                   result.error.text + ")";
        case serial::PortOpenStatus::kLost:
            return WithReason(prefix + "the device went away", result.error);
        case serial::PortOpenStatus::kSystemFailure:
            return prefix + "the system refused " + result.failedCall + " (" + result.error.text +
                   ")";
        case serial::PortOpenStatus::kOpened:
            break;
    }
    return prefix + "unknown failure";
}

std::string FileProblemText(const std::string& path, const library::FileError& error) {
    switch (error.problem) {
        case library::FileProblem::kTooLarge:
            return path + " is larger than 65536 bytes, the largest library a module holds";
        case library::FileProblem::kNotRegular:
            return path + " is not a regular file";
        case library::FileProblem::kIsFolder:
            return path + " is a folder";
        case library::FileProblem::kCannotWrite:
            return "cannot write " + path + ": " + error.reason;
        case library::FileProblem::kCannotReplace:
            return "cannot replace " + path + ": " + error.reason;
        case library::FileProblem::kCannotOpen:
        case library::FileProblem::kNone:
            break;
    }
    return "cannot open " + path + ": " + error.reason;
}

// JSON takes names as they are on the system, which need not be UTF-8: bytes that are
// not become U+FFFD rather than an error.
std::string JsonText(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

class CommandRunner {
public:
    CommandRunner(const CliOptions& options, const CliStreams& streams)
        : options_(options),
          streams_(streams),
          progress_(streams.err, streams.errIsTerminal && !options.verbose),
          session_(MakeHooks()) {}

    int Run();

private:
    session::SessionHooks MakeHooks();
    int Fail(int status, const std::string& text);
    void Print(const json& object, const std::string& plain);
    // The status of a wait that ended without its answer.
    int WaitFailed(WaitEnd end, const std::string& what, milliseconds limit);
    // Sends a request to the target and waits for its reply: kExitSuccess with the reply in
    // *reply, or the status of the wait that ended without it (`what` names the request).
    int Exchange(std::uint8_t command, std::span<const std::uint8_t> payload,
                 const std::string& what, std::vector<std::uint8_t>* reply,
                 milliseconds limit = protocol::kReplyTimeout);

    int ListPorts();
    int CheckFilesBeforeOpening();
    // An export that did not replace its file says what became of it, after the line
    // that said why it ended.
    void TellWhatBecameOfTheExportFile();
    // A status of 0 becomes 1 when the output could not be written.
    int CheckOutput(int status);
    int OpenAndConnect();
    int RunCommand();
    int Connect();
    int Ping();
    int Learn();
    int Send();
    int ReadCapacity();
    int SetCapacity();
    int ReadTasks(functions::TimedTasks* tasks);
    int Tasks();
    int SetTasks();
    int Ac();
    int Export();
    int Import();
    // Runs one transfer to its end; the exit status of its outcome.
    int Transfer(const library::TransferJob& job, const std::string& path,
                 library::TransferProgress* result, double* seconds);
    // *readBack gets the read-back's counts.
    int Verify(const std::vector<std::uint8_t>& image, bool* verified,
               library::TransferProgress* readBack);

    const CliOptions& options_;
    CliStreams streams_;
    std::mutex errMutex_;  //!< One writer at a time on standard error
    ProgressLine progress_;
    session::Session session_;
    std::string portLabel_;
    std::vector<std::uint8_t> importImage_;
    bool exportFileExisted_ = false;
    // How the export's transfer ended, once it ran.
    std::optional<library::TransferProgress> exportResult_;
    std::string outputError_;  // why the output could not be written, once it could not
};

session::SessionHooks CommandRunner::MakeHooks() {
    session::SessionHooks hooks;
    if (options_.verbose) {
        hooks.log = [this](const std::string& entry) {
            std::lock_guard lock(errMutex_);
            std::fprintf(streams_.err, "%s\n", entry.c_str());
        };
    }
    hooks.progress = [this](const library::TransferProgress& progress) {
        progress_.Show(progress);
    };
    return hooks;
}

int CommandRunner::Fail(int status, const std::string& text) {
    progress_.Clear();
    std::lock_guard lock(errMutex_);
    std::fprintf(streams_.err, "orvante-cli: %s\n", text.c_str());
    return status;
}

void CommandRunner::Print(const json& object, const std::string& plain) {
    const std::string text = options_.json ? JsonText(object) : plain;
    if ((std::fprintf(streams_.out, "%s\n", text.c_str()) < 0 || std::fflush(streams_.out) != 0) &&
        outputError_.empty()) {
        outputError_ = serial::SysError::FromErrno(errno).text;
    }
}

int CommandRunner::CheckOutput(int status) {
    if (outputError_.empty()) return status;
    const int failed = Fail(kExitFailure, "cannot write the output: " + outputError_);
    return status == kExitSuccess ? failed : status;
}

int CommandRunner::WaitFailed(WaitEnd end, const std::string& what, milliseconds limit) {
    switch (end) {
        case WaitEnd::kCancelled:
            return Fail(kExitInterrupted, "interrupted");
        case WaitEnd::kLost: {
            const auto error = session_.LostError();
            return Fail(kExitPort,
                        WithReason(portLabel_ + " was lost", error.value_or(serial::SysError{})));
        }
        case WaitEnd::kTimedOut:
        case WaitEnd::kAnswered:
            break;
    }
    const double secondsWaited = std::chrono::duration<double>(limit).count();
    char limitText[32];
    std::snprintf(limitText, sizeof limitText, "%g", secondsWaited);
    return Fail(kExitNoAnswer, "no answer to " + what + " within " + limitText + " s");
}

int CommandRunner::Exchange(std::uint8_t command, std::span<const std::uint8_t> payload,
                            const std::string& what, std::vector<std::uint8_t>* reply,
                            milliseconds limit) {
    const WaitEnd end = session_.Request(command, payload, limit, reply);
    return end == WaitEnd::kAnswered ? kExitSuccess : WaitFailed(end, what, limit);
}

int CommandRunner::Run() {
    if (options_.command == Command::kPorts) return CheckOutput(ListPorts());
    if (const int status = CheckFilesBeforeOpening(); status != kExitSuccess) return status;
    int status = kExitSuccess;
    {
        // Ctrl+C from here on cancels the session's waits; the watcher comes before the
        // session's threads so that they inherit the blocked signals.
        InterruptWatcher watcher([this] { session_.Cancel(); });
        status = OpenAndConnect();
        if (status == kExitSuccess) status = RunCommand();
        progress_.Clear();
        if (watcher.Interrupted() && status != kExitInterrupted) {
            status = Fail(kExitInterrupted, "interrupted");
        }
    }
    if (options_.command == Command::kExport && status != kExitSuccess) {
        TellWhatBecameOfTheExportFile();
    }
    return CheckOutput(status);
}

void CommandRunner::TellWhatBecameOfTheExportFile() {
    const library::TransferProgress result = exportResult_.value_or(library::TransferProgress{});
    // Complete, or complete in its part file: its own line has said so.
    if (result.outcome == library::TransferOutcome::kSucceeded ||
        result.fileError.problem == library::FileProblem::kCannotReplace) {
        return;
    }
    const std::string file =
        options_.file + (exportFileExisted_ ? " is unchanged" : " was not created");
    if (result.keptBytes == 0) {
        Fail(kExitFailure, file + "; nothing was received");
    } else {
        Fail(kExitFailure, file + "; the " + std::to_string(result.keptBytes) +
                               " bytes received are in " + result.keptPath);
    }
}

int CommandRunner::ListPorts() {
    json list = json::array();
    std::string plain;
    for (const auto& [number, entry] : serial::ScanDeviceMap()) {
        list.push_back({{"name", "COM" + std::to_string(number)}, {"device", entry.displayName}});
        plain += (plain.empty() ? "" : "\n") + serial::PortItemText(number, entry);
    }
    if (!options_.json && plain.empty()) return kExitSuccess;
    Print({{"ports", list}}, plain);
    return kExitSuccess;
}

// A file that cannot be used is bad input: it is refused before the port is opened. The
// export file is only judged here: nothing is written before the module has answered.
int CommandRunner::CheckFilesBeforeOpening() {
    library::FileError error;
    if (options_.command == Command::kExport) {
        if (!library::ExportFile::CheckTarget(options_.file, &error)) {
            return Fail(kExitUsage, FileProblemText(options_.file, error));
        }
        std::error_code ignored;
        exportFileExisted_ = std::filesystem::exists(serial::PathFromUtf8(options_.file), ignored);
    } else if (options_.command == Command::kImport) {
        if (!library::ReadLibraryFile(options_.file, &importImage_, &error)) {
            return Fail(kExitUsage, FileProblemText(options_.file, error));
        }
    }
    return kExitSuccess;
}

int CommandRunner::OpenAndConnect() {
    const session::PortName port = session::ResolvePortName(options_.port, serial::ScanDeviceMap());
    portLabel_ = options_.port;
    if (port.devicePath.empty()) {
        return Fail(kExitPort,
                    "cannot open " + options_.port + ": no such port; see orvante-cli ports");
    }
    const serial::PortOpenResult opened = session_.Open(port, options_.line);
    if (opened.status != serial::PortOpenStatus::kOpened) {
        return Fail(kExitPort, OpenFailureText(options_.port, opened));
    }
    const WaitEnd end = session_.Connect(protocol::kReplyTimeout);
    if (end != WaitEnd::kAnswered) {
        return WaitFailed(end, "the connect handshake on " + options_.port,
                          protocol::kReplyTimeout);
    }
    if (options_.target) session_.SetTarget(*options_.target);
    return kExitSuccess;
}

int CommandRunner::RunCommand() {
    switch (options_.command) {
        case Command::kConnect:
            return Connect();
        case Command::kPing:
            return Ping();
        case Command::kLearn:
            return Learn();
        case Command::kSend:
            return Send();
        case Command::kCapacity:
            return ReadCapacity();
        case Command::kSetCapacity:
            return SetCapacity();
        case Command::kTasks:
            return Tasks();
        case Command::kSetTasks:
            return SetTasks();
        case Command::kAc:
            return Ac();
        case Command::kExport:
            return Export();
        case Command::kImport:
            return Import();
        case Command::kPorts:
            break;
    }
    return kExitSuccess;
}

// ---- the module functions ------------------------------------------------------------

int CommandRunner::Connect() {
    const std::string address = protocol::FormatAddress(session_.LocalAddress());
    Print({{"address", address}, {"target", protocol::FormatAddress(session_.Target())}}, address);
    return kExitSuccess;
}

int CommandRunner::Ping() {
    const std::uint16_t target = options_.pingTarget.value_or(session_.Target());
    const std::string name = protocol::FormatAddress(target);
    const WaitEnd end =
        session_.Request(protocol::kCmdConnect, {}, protocol::kReplyTimeout, nullptr, target);
    const bool answered = end == WaitEnd::kAnswered;
    if (answered || end == WaitEnd::kTimedOut) {
        Print({{"target", name}, {"answered", answered}},
              name + (answered ? ": answered" : ": no answer"));
    }
    if (!answered)
        return WaitFailed(end, "the test connection to " + name, protocol::kReplyTimeout);
    return kExitSuccess;
}

int CommandRunner::Learn() {
    const milliseconds limit = seconds(options_.learnTimeoutSeconds);
    if (streams_.errIsTerminal) {
        std::lock_guard lock(errMutex_);
        std::fprintf(streams_.err,
                     "Learning into slot %u: point the remote at the module and press its key "
                     "(waiting up to %d s).\n",
                     options_.slot, options_.learnTimeoutSeconds);
    }
    std::vector<std::uint8_t> reply;
    const auto request = functions::EncodeSlotRequest(options_.slot);
    if (const int status =
            Exchange(protocol::kCmdLearn, request,
                     "learning into slot " + std::to_string(options_.slot), &reply, limit);
        status != kExitSuccess) {
        return status;
    }
    const auto result = functions::DecodeLearnResult(protocol::FrameView(reply).Payload());
    const int pulses = result ? result->PulseCount() : 0;
    Print({{"slot", options_.slot}, {"pulses", pulses}}, std::to_string(pulses));
    return kExitSuccess;
}

int CommandRunner::Send() {
    std::vector<std::uint8_t> reply;
    const auto request = functions::EncodeSlotRequest(options_.slot);
    const std::string slot = std::to_string(options_.slot);
    if (const int status =
            Exchange(protocol::kCmdTransmit, request, "the transmit of slot " + slot, &reply);
        status != kExitSuccess) {
        return status;
    }
    const auto result = functions::DecodeTransmitResult(protocol::FrameView(reply).Payload());
    const bool sent = result && result->Sent();
    Print({{"slot", options_.slot}, {"sent", sent}},
          "slot " + slot + (sent ? ": sent" : ": failed"));
    if (!sent) {
        return Fail(kExitFailure, "the module could not transmit slot " + slot +
                                      " (nothing learned there, or no such slot)");
    }
    return kExitSuccess;
}

int CommandRunner::ReadCapacity() {
    std::vector<std::uint8_t> reply;
    if (const int status =
            Exchange(protocol::kCmdReadPulseCapacity, {}, "the pulse capacity read", &reply);
        status != kExitSuccess) {
        return status;
    }
    const auto capacity = functions::DecodePulseCapacity(protocol::FrameView(reply).Payload());
    const int value = capacity.value_or(0);
    Print({{"capacity", value}}, std::to_string(value));
    return kExitSuccess;
}

int CommandRunner::SetCapacity() {
    const auto request = functions::EncodeSetPulseCapacity(options_.capacity);
    if (const int status = Exchange(protocol::kCmdSetPulseCapacity, request,
                                    "setting the pulse capacity", nullptr);
        status != kExitSuccess) {
        return status;
    }
    Print({{"capacity", options_.capacity}}, "pulse capacity set to " +
                                                 std::to_string(options_.capacity) +
                                                 "; the learned codes were cleared");
    return kExitSuccess;
}

int CommandRunner::ReadTasks(functions::TimedTasks* tasks) {
    std::vector<std::uint8_t> reply;
    if (const int status =
            Exchange(protocol::kCmdReadTimedTasks, {}, "the timed tasks read", &reply);
        status != kExitSuccess) {
        return status;
    }
    *tasks = functions::DecodeTimedTasks(protocol::FrameView(reply).Payload()).value_or(*tasks);
    return kExitSuccess;
}

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

int CommandRunner::Tasks() {
    functions::TimedTasks tasks{};
    if (const int status = ReadTasks(&tasks); status != kExitSuccess) return status;
    Print(TasksToJson(tasks), TasksText(tasks));
    return kExitSuccess;
}

int CommandRunner::SetTasks() {
    const auto request = functions::EncodeTimedTasks(options_.tasks);
    if (const int status =
            Exchange(protocol::kCmdSetTimedTasks, request, "writing the timed tasks", nullptr);
        status != kExitSuccess) {
        return status;
    }
    functions::TimedTasks readBack{};
    if (const int status = ReadTasks(&readBack); status != kExitSuccess) return status;
    Print(TasksToJson(readBack), TasksText(readBack));
    for (std::size_t i = 0; i < readBack.size(); ++i) {
        if (!(readBack[i] == options_.tasks[i])) {
            return Fail(kExitFailure, "task " + std::to_string(i + 1) +
                                          " reads back differently from what was written");
        }
    }
    return kExitSuccess;
}

int CommandRunner::Ac() {
    const auto request = functions::EncodeAcCode(options_.ac);
    const WaitEnd end =
        session_.Request(protocol::kCmdSendAcCode, request, kAcFailureWait, nullptr);
    if (end == WaitEnd::kCancelled || end == WaitEnd::kLost) {
        return WaitFailed(end, "the air-conditioner code", kAcFailureWait);
    }
    const bool sent = end == WaitEnd::kTimedOut;  // silence is success
    const std::string brand = std::to_string(options_.ac.brand);
    Print({{"brand", options_.ac.brand}, {"sent", sent}},
          "brand " + brand + (sent ? ": sent" : ": failed"));
    if (!sent) return Fail(kExitFailure, "the module could not send the code of brand " + brand);
    return kExitSuccess;
}

// ---- library transfer ----------------------------------------------------------------

int CommandRunner::Transfer(const library::TransferJob& job, const std::string& path,
                            library::TransferProgress* result, double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    if (!session_.StartTransfer(job)) {
        if (session_.Cancelled()) return Fail(kExitInterrupted, "interrupted");
        return Fail(kExitFailure, "cannot start the transfer");
    }
    *result = session_.WaitTransfer();
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress_.Clear();
    switch (result->outcome) {
        case library::TransferOutcome::kSucceeded:
            return kExitSuccess;
        case library::TransferOutcome::kTimedOut:
            return Fail(kExitNoAnswer, "no answer for the block at offset " +
                                           std::to_string(result->bytes) + " after " +
                                           std::to_string(options_.retries) + " resend(s)");
        case library::TransferOutcome::kFileError:
            if (result->fileError.problem == library::FileProblem::kCannotReplace) {
                return Fail(kExitFailure, FileProblemText(path, result->fileError) +
                                              "; the library is in " + result->keptPath);
            }
            // Writing an export means writing its part file.
            if (job.op == protocol::kCmdExportBlock &&
                result->fileError.problem == library::FileProblem::kCannotWrite) {
                return Fail(kExitFailure, FileProblemText(library::ExportFile::PartPathOf(path),
                                                          result->fileError));
            }
            return Fail(kExitFailure, FileProblemText(path, result->fileError));
        case library::TransferOutcome::kTooLarge:
            return Fail(kExitFailure, "the library passed 65536 bytes without ending");
        case library::TransferOutcome::kRunning:
        case library::TransferOutcome::kAborted:
        case library::TransferOutcome::kStopped:
            break;
    }
    if (session_.Cancelled()) return Fail(kExitInterrupted, "interrupted");
    if (session_.LostError()) return WaitFailed(WaitEnd::kLost, {}, {});
    return Fail(kExitFailure, "the transfer ended early");
}

json TransferJson(const std::string& path, std::size_t bytes, double seconds, int resent,
                  int stray) {
    return {{"file", path},
            {"bytes", bytes},
            {"seconds", seconds},
            {"resent", resent},
            {"stray", stray}};
}

std::string StrayNote(int stray) {
    if (stray == 0) return {};
    return "; " + std::to_string(stray) + " stray block" + (stray == 1 ? "" : "s") + " ignored";
}

int CommandRunner::Export() {
    library::TransferProgress result;
    double seconds = 0;
    const int status = Transfer({protocol::kCmdExportBlock, options_.file, options_.retries},
                                options_.file, &result, &seconds);
    exportResult_ = result;
    if (status != kExitSuccess) return status;
    Print(
        TransferJson(options_.file, result.bytes, seconds, result.resentBlocks, result.strayBlocks),
        "exported " + TransferSummary(result.bytes, seconds) + " to " + options_.file +
            StrayNote(result.strayBlocks));
    return kExitSuccess;
}

int CommandRunner::Import() {
    library::TransferProgress result;
    double seconds = 0;
    int status = Transfer({protocol::kCmdImportBlock, options_.file, options_.retries},
                          options_.file, &result, &seconds);
    if (status != kExitSuccess) return status;
    bool verified = false;
    library::TransferProgress readBack;
    if (options_.verify) status = Verify(importImage_, &verified, &readBack);
    // Every block the command sent again, the read-back's included.
    json object = TransferJson(options_.file, result.bytes, seconds,
                               result.resentBlocks + readBack.resentBlocks, readBack.strayBlocks);
    if (options_.verify) object["verified"] = verified;
    if (status == kExitSuccess || status == kExitFailure) {
        Print(object, "imported " + TransferSummary(result.bytes, seconds) + " from " +
                          options_.file +
                          (options_.verify ? (verified ? ", verified" : ", NOT verified") : "") +
                          StrayNote(readBack.strayBlocks));
    }
    return status;
}

// An acknowledgement carries nothing to check: the library is read back into memory
// and the file's length of it compared with the file.
int CommandRunner::Verify(const std::vector<std::uint8_t>& image, bool* verified,
                          library::TransferProgress* readBack) {
    std::vector<std::uint8_t> library;
    double seconds = 0;
    const int status = Transfer({protocol::kCmdExportBlock, {}, options_.retries, &library},
                                options_.file, readBack, &seconds);
    if (status != kExitSuccess) return status;
    for (std::size_t offset = 0; offset < image.size(); ++offset) {
        if (offset >= library.size()) {
            return Fail(kExitFailure, "verify: the module's library ends at offset " +
                                          std::to_string(offset) + ", before the file's " +
                                          std::to_string(image.size()) + " bytes");
        }
        if (library[offset] != image[offset]) {
            return Fail(kExitFailure, "verify: the library differs from the file at offset " +
                                          std::to_string(offset));
        }
    }
    *verified = true;
    return kExitSuccess;
}

}  // namespace

int RunCliCommand(const CliOptions& options, const CliStreams& streams) {
    CommandRunner runner(options, streams);
    return runner.Run();
}

int RunCliProgram(int argc, const char* const* argv, bool errIsTerminal) {
    platform::SetProgramName("orvante-cli");
    try {
        const ParsedCommandLine parsed = ParseCliCommandLine(argc, argv);
        std::fputs(parsed.error.c_str(), stderr);
        if (std::fputs(parsed.output.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "orvante-cli: cannot write the output: %s\n",
                         serial::SysError::FromErrno(errno).text.c_str());
            return kExitFailure;
        }
        if (!parsed.options) return parsed.exitCode;
        return RunCliCommand(*parsed.options, CliStreams{stdout, stderr, errIsTerminal});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvante-cli: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "orvante-cli: internal error: an exception of unknown type\n");
    }
    return kExitFailure;
}

}  // namespace orvante::cli
