#include "cli/provision.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "cli/command_context.h"
#include "functions/module_functions.h"
#include "functions/pulse_capacity.h"
#include "functions/timed_tasks.h"
#include "platform/thread_failure.h"
#include "platform/utf8_path.h"
#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"
#include "serial/port_list.h"

namespace orvante::cli {

namespace {

using session::WaitEnd;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The log of one port, in the console's format, a line an entry.
class PortLog {
public:
    PortLog(const std::string& folder, const std::string& port) {
        if (folder.empty()) return;
        const auto path =
            platform::PathFromUtf8(folder) / platform::PathFromUtf8(LogFileName(port));
        file_.reset(platform::OpenFile(path, "wb"));
    }
    bool IsOpen() const { return file_ != nullptr; }
    void Write(const std::string& entry) {
        std::lock_guard lock(mutex_);
        if (!file_) return;
        std::fprintf(file_.get(), "%s\n", entry.c_str());
        std::fflush(file_.get());
    }

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::mutex mutex_;
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace

const char* StepName(ProvisionStep step) {
    switch (step) {
        case ProvisionStep::kConnect:
            return "connect";
        case ProvisionStep::kCapacity:
            return "capacity";
        case ProvisionStep::kImport:
            return "import";
        case ProvisionStep::kVerify:
            return "verify";
        case ProvisionStep::kTasks:
            return "tasks";
    }
    return "";
}

const char* ResultName(ModuleResult result) {
    switch (result) {
        case ModuleResult::kPassed:
            return "passed";
        case ModuleResult::kFailed:
            return "failed";
        case ModuleResult::kStopped:
            return "stopped";
    }
    return "";
}

std::string LogFileName(const std::string& port) {
    if (serial::ComPortNumber(port)) return port + ".log";
    // "/dev/pts/3" -> "pts-3": the last two parts when the last is a bare number.
    const std::filesystem::path path = platform::PathFromUtf8(port);
    std::string name = platform::Utf8FromPath(path.filename());
    const std::string parent = platform::Utf8FromPath(path.parent_path().filename());
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
        !parent.empty()) {
        name = parent + "-" + name;
    }
    // A name that is no file name (a demo module's knobs) keeps only what files take.
    for (char& c : name) {
        if (c == ':' || c == ',' || c == '=' || c == '\\' || c == '/') c = '-';
    }
    return (name.empty() ? std::string("port") : name) + ".log";
}

struct Provisioning::Module {
    std::size_t index;
    ModuleReport report;
    PortLog log;  // before the session, whose log hook writes to it
    session::Session session;
    std::thread thread;

    Module(std::size_t i, const std::string& port, const std::string& logDir,
           std::function<void(const library::TransferProgress&)> progress)
        : index(i), log(logDir, port), session(Hooks(std::move(progress))) {
        report.port = port;
    }

    session::SessionHooks Hooks(std::function<void(const library::TransferProgress&)> progress) {
        session::SessionHooks hooks;
        if (log.IsOpen()) hooks.log = [this](const std::string& entry) { log.Write(entry); };
        hooks.progress = std::move(progress);
        return hooks;
    }
};

Provisioning::Provisioning(std::vector<std::string> ports, ProvisionSettings settings,
                           ProvisionEvents events)
    : settings_(std::move(settings)), events_(std::move(events)) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        modules_.push_back(std::make_unique<Module>(
            i, ports[i], settings_.logDir, [this, i](const library::TransferProgress& progress) {
                if (!events_.transfer) return;
                std::lock_guard lock(eventsMutex_);
                events_.transfer(i, progress);
            }));
    }
}

Provisioning::~Provisioning() {
    Cancel();
    for (const auto& module : modules_) {
        if (module->thread.joinable()) module->thread.join();
    }
}

std::vector<ModuleReport> Provisioning::Run() {
    for (const auto& module : modules_) {
        module->thread = std::thread([this, &module = *module] {
            platform::RunGuarded("provisioning", [this, &module] { Provision(module); });
        });
    }
    std::vector<ModuleReport> reports;
    for (const auto& module : modules_) {
        module->thread.join();
        reports.push_back(module->report);
    }
    return reports;
}

void Provisioning::Cancel() {
    {
        std::lock_guard lock(slotsMutex_);
        cancelled_ = true;
    }
    slotFreed_.notify_all();
    for (const auto& module : modules_) module->session.Cancel();
}

// Waits for a place among the modules at once, runs the steps, and gives the place back.
void Provisioning::Provision(Module& module) {
    const auto start = Clock::now();
    bool cancelled;
    {
        std::unique_lock lock(slotsMutex_);
        slotFreed_.wait(
            lock, [&] { return cancelled_ || settings_.jobs == 0 || running_ < settings_.jobs; });
        cancelled = cancelled_;
        if (!cancelled) ++running_;
    }
    if (cancelled) {
        module.report.result = ModuleResult::kStopped;
        module.report.step = ProvisionStep::kConnect;
        module.report.error = "interrupted";
        return;
    }
    RunSteps(module);
    module.report.seconds = SecondsSince(start);
    {
        std::lock_guard lock(slotsMutex_);
        --running_;
    }
    slotFreed_.notify_one();
}

void Provisioning::RunSteps(Module& module) {
    const ProvisionProfile& profile = settings_.profile;
    if (!Step(module, ProvisionStep::kConnect, [&] { return Connect(module); })) return;
    if (profile.capacity &&
        !Step(module, ProvisionStep::kCapacity, [&] { return SetCapacity(module); })) {
        return;
    }
    if (profile.libraryPath) {
        if (!Step(module, ProvisionStep::kImport, [&] { return Import(module); })) return;
        if (!Step(module, ProvisionStep::kVerify, [&] { return Verify(module); })) return;
    }
    if (profile.tasks) Step(module, ProvisionStep::kTasks, [&] { return SetTasks(module); });
}

// Runs one step: its failure (an error text) ends the module's run at that step, as
// stopped when it was Ctrl+C.
bool Provisioning::Step(Module& module, ProvisionStep step,
                        const std::function<std::string()>& work) {
    if (events_.began) {
        std::lock_guard lock(eventsMutex_);
        events_.began(module.index, module.report, step);
    }
    const auto start = Clock::now();
    const std::string error = work();
    if (!error.empty()) {
        module.report.step = step;
        module.report.error = error;
        module.report.result =
            module.session.Cancelled() ? ModuleResult::kStopped : ModuleResult::kFailed;
    }
    if (events_.ended) {
        std::lock_guard lock(eventsMutex_);
        events_.ended(module.index, module.report, step, SecondsSince(start));
    }
    return error.empty();
}

std::string Provisioning::WaitText(Module& module, WaitEnd end, const std::string& what) {
    switch (end) {
        case WaitEnd::kAnswered:
            return {};
        case WaitEnd::kCancelled:
            return "interrupted";
        case WaitEnd::kLost:
            return WithReason(module.report.port + " was lost",
                              module.session.LostError().value_or(platform::SysError{}));
        case WaitEnd::kTimedOut:
            break;
    }
    return "no answer to " + what + " in time";
}

std::string Provisioning::Connect(Module& module) {
    if (module.session.Cancelled()) return "interrupted";
    const session::PortName port =
        session::ResolvePortName(module.report.port, serial::ScanDeviceMap());
    if (port.devicePath.empty()) return "cannot open " + module.report.port + ": no such port";
    const serial::PortOpenResult opened = module.session.Open(port, settings_.line);
    if (opened.status != serial::PortOpenStatus::kOpened) {
        return OpenFailureText(module.report.port, opened);
    }
    const WaitEnd end = module.session.Connect(protocol::kReplyTimeout);
    if (end == WaitEnd::kTimedOut) module.report.silent = true;
    if (end == WaitEnd::kAnswered) {
        module.report.address = protocol::FormatAddress(module.session.Target());
    }
    return WaitText(module, end, "the connect handshake");
}

std::string Provisioning::SetCapacity(Module& module) {
    const std::uint16_t capacity = *settings_.profile.capacity;
    const auto set = functions::EncodeSetPulseCapacity(capacity);
    WaitEnd end = module.session.Request(functions::kSetPulseCapacity.request, set,
                                         protocol::kReplyTimeout, nullptr);
    if (end != WaitEnd::kAnswered) return WaitText(module, end, "setting the pulse capacity");
    std::vector<std::uint8_t> reply;
    end = module.session.Request(functions::kReadPulseCapacity.request, {}, protocol::kReplyTimeout,
                                 &reply);
    if (end != WaitEnd::kAnswered) return WaitText(module, end, "the pulse capacity read");
    const auto read = functions::DecodePulseCapacity(protocol::FrameView(reply).Payload());
    if (read != capacity) {
        return "the pulse capacity reads back " + (read ? std::to_string(*read) : "nothing") +
               ", not " + std::to_string(capacity);
    }
    return {};
}

std::string Provisioning::TransferText(Module& module, const library::TransferProgress& result) {
    switch (result.outcome) {
        case library::TransferOutcome::kSucceeded:
            return {};
        case library::TransferOutcome::kTimedOut:
            return "no answer for the block at offset " + std::to_string(result.bytes) + " after " +
                   std::to_string(settings_.retries) + " resend(s)";
        case library::TransferOutcome::kFileError:
        case library::TransferOutcome::kTooLarge:
            return FileProblemText(settings_.profile.libraryPath.value_or(""), result.fileError);
        case library::TransferOutcome::kRunning:
        case library::TransferOutcome::kAborted:
        case library::TransferOutcome::kStopped:
            break;
    }
    if (module.session.Cancelled()) return "interrupted";
    if (module.session.LostError()) return WaitText(module, WaitEnd::kLost, {});
    return "the transfer ended early";
}

std::string Provisioning::Import(Module& module) {
    const library::TransferJob job{protocol::kCmdImportBlock, *settings_.profile.libraryPath,
                                   settings_.retries};
    if (!module.session.StartTransfer(job)) {
        return module.session.Cancelled() ? "interrupted" : "cannot start the transfer";
    }
    const library::TransferProgress result = module.session.WaitTransfer();
    module.report.bytes = result.bytes;
    module.report.resent += result.resentBlocks;
    return TransferText(module, result);
}

std::string Provisioning::Verify(Module& module) {
    std::vector<std::uint8_t> library;
    const library::TransferJob job{protocol::kCmdExportBlock, {}, settings_.retries, &library};
    if (!module.session.StartTransfer(job)) {
        return module.session.Cancelled() ? "interrupted" : "cannot start the transfer";
    }
    const library::TransferProgress result = module.session.WaitTransfer();
    module.report.resent += result.resentBlocks;
    if (std::string error = TransferText(module, result); !error.empty()) return error;
    return LibraryDifference(settings_.profile.library, library);
}

std::string Provisioning::SetTasks(Module& module) {
    const functions::TimedTasks& tasks = *settings_.profile.tasks;
    WaitEnd end = module.session.Request(functions::kSetTimedTasks.request,
                                         functions::EncodeTimedTasks(tasks),
                                         protocol::kReplyTimeout, nullptr);
    if (end != WaitEnd::kAnswered) return WaitText(module, end, "writing the timed tasks");
    std::vector<std::uint8_t> reply;
    end = module.session.Request(functions::kReadTimedTasks.request, {}, protocol::kReplyTimeout,
                                 &reply);
    if (end != WaitEnd::kAnswered) return WaitText(module, end, "the timed tasks read");
    const auto read = functions::DecodeTimedTasks(protocol::FrameView(reply).Payload());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        if (!read || !((*read)[i] == tasks[i])) {
            return "task " + std::to_string(i + 1) +
                   " reads back differently from what was written";
        }
    }
    return {};
}

std::string LibraryDifference(const std::vector<std::uint8_t>& file,
                              const std::vector<std::uint8_t>& module) {
    for (std::size_t offset = 0; offset < file.size(); ++offset) {
        if (offset >= module.size()) {
            return "the module's library ends at offset " + std::to_string(offset) +
                   ", before the file's " + std::to_string(file.size()) + " bytes";
        }
        if (module[offset] != file[offset]) {
            return "the library differs from the file at offset " + std::to_string(offset);
        }
    }
    return {};
}

}  // namespace orvante::cli
