#include "cli/command_context.h"

#include <cerrno>
#include <exception>

#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"
#include "platform/sys_error.h"
#include "platform/thread_failure.h"
#include "protocol/commands.h"
#include "serial/port_list.h"
#include "sim/demo_ports.h"

namespace orvante::cli {

using session::WaitEnd;
using std::chrono::milliseconds;

std::string WithReason(const std::string& text, const platform::SysError& error) {
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

namespace {

// JSON takes names as they are on the system, which need not be UTF-8: bytes that are
// not become U+FFFD rather than an error.
std::string JsonText(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

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

CommandContext::CommandContext(const CliOptions& options, const CliStreams& streams,
                               library::TransferClock& clock)
    : options_(options),
      streams_(streams),
      progress_(streams.err, streams.errIsTerminal && !options.verbose),
      session_(MakeHooks(), clock) {}

session::SessionHooks CommandContext::MakeHooks() {
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

int CommandContext::Run() {
    const CliCommand& command = *options_.command;
    if (!command.opensPort) return CheckOutput(command.run(*this));
    int status = kExitSuccess;
    {
        // Ctrl+C from here on cancels the session's waits; the watcher comes before the
        // session's threads so that they inherit the blocked signals.
        InterruptWatcher watcher([this] { session_.Cancel(); });
        status = OpenAndConnect();
        if (status == kExitSuccess) status = command.run(*this);
        progress_.Clear();
        if (watcher.Interrupted() && status != kExitInterrupted) {
            status = Fail(kExitInterrupted, "interrupted");
        }
    }
    if (status != kExitSuccess && command.afterFailure != nullptr) command.afterFailure(*this);
    return CheckOutput(status);
}

int CommandContext::OpenAndConnect() {
    const session::PortName port = session::ResolvePortName(options_.port, serial::ScanDeviceMap());
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

// ---- output ------------------------------------------------------------------------

int CommandContext::Fail(int status, const std::string& text) {
    progress_.Clear();
    std::lock_guard lock(errMutex_);
    std::fprintf(streams_.err, "orvante-cli: %s\n", text.c_str());
    return status;
}

void CommandContext::Note(const std::string& text) {
    std::lock_guard lock(errMutex_);
    std::fprintf(streams_.err, "orvante-cli: note: %s\n", text.c_str());
}

void CommandContext::Hint(const std::string& text) {
    if (!streams_.errIsTerminal) return;
    std::lock_guard lock(errMutex_);
    std::fprintf(streams_.err, "%s\n", text.c_str());
}

void CommandContext::Print(const json& object, const std::string& plain) {
    const std::string text = options_.json ? JsonText(object) : plain;
    if ((std::fprintf(streams_.out, "%s\n", text.c_str()) < 0 || std::fflush(streams_.out) != 0) &&
        outputError_.empty()) {
        outputError_ = platform::SysError::FromErrno(errno).text;
    }
}

int CommandContext::CheckOutput(int status) {
    if (outputError_.empty()) return status;
    const int failed = Fail(kExitFailure, "cannot write the output: " + outputError_);
    return status == kExitSuccess ? failed : status;
}

int CommandContext::WaitFailed(WaitEnd end, const std::string& what, milliseconds limit) {
    switch (end) {
        case WaitEnd::kCancelled:
            return Fail(kExitInterrupted, "interrupted");
        case WaitEnd::kLost: {
            const auto error = session_.LostError();
            return Fail(kExitPort, WithReason(options_.port + " was lost",
                                              error.value_or(platform::SysError{})));
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

// ---- the module's functions ----------------------------------------------------------

milliseconds CommandContext::WaitOf(const functions::ModuleFunction& function, milliseconds limit) {
    switch (function.answer) {
        case functions::Answer::kPrompt:
            return protocol::kReplyTimeout;
        case functions::Answer::kOperatorPaced:
            return limit;
        case functions::Answer::kOnlyOnFailure:
            return functions::kFailureAnswerWait;
    }
    return protocol::kReplyTimeout;
}

WaitEnd CommandContext::Ask(const functions::ModuleFunction& function,
                            std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* reply,
                            std::optional<std::uint16_t> destination, milliseconds limit) {
    return session_.Request(function.request, payload, WaitOf(function, limit), reply, destination);
}

int CommandContext::Exchange(const functions::ModuleFunction& function,
                             std::span<const std::uint8_t> payload, const std::string& what,
                             std::vector<std::uint8_t>* reply, milliseconds limit) {
    const WaitEnd end = Ask(function, payload, reply, std::nullopt, limit);
    return end == WaitEnd::kAnswered ? kExitSuccess
                                     : WaitFailed(end, what, WaitOf(function, limit));
}

// ---- library transfer ----------------------------------------------------------------

int CommandContext::Transfer(const library::TransferJob& job, const std::string& path,
                             library::TransferProgress* result, double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    // A read-back into memory is the verify of an import: its size is the file's.
    if (job.image != nullptr) {
        progress_.Begin({"verify", options_.importImage.size()});
    } else {
        progress_.Begin({job.op == protocol::kCmdExportBlock ? "export" : "import", 0});
    }
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

// ---- the program ---------------------------------------------------------------------

int RunCliCommand(const CliOptions& options, const CliStreams& streams,
                  library::TransferClock& clock) {
    CommandContext context(options, streams, clock);
    return context.Run();
}

int RunCliProgram(int argc, const char* const* argv, bool errIsTerminal) {
    platform::SetProgramName("orvante-cli");
    // --port demo opens the built-in virtual module.
    sim::RegisterDemoPorts();
    try {
        const ParsedCommandLine parsed = ParseCliCommandLine(argc, argv);
        std::fputs(parsed.error.c_str(), stderr);
        if (std::fputs(parsed.output.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "orvante-cli: cannot write the output: %s\n",
                         platform::SysError::FromErrno(errno).text.c_str());
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
