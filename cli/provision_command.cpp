#include "cli/provision_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>

#include "cli/command_context.h"
#include "cli/exit_status.h"
#include "cli/interrupt_watcher.h"
#include "cli/option_checks.h"
#include "cli/progress_line.h"
#include "cli/provision.h"
#include "platform/utf8_path.h"
#include "serial/port_list.h"

namespace orvante::cli {

namespace {

// The progress of every module on standard error. On a terminal that moves the cursor,
// one line a port redrawn in place (port, address, step, percent, rate); otherwise one
// line a finished step.
class ProvisionProgress {
public:
    ProvisionProgress(std::FILE* err, bool live, const std::vector<std::string>& ports)
        : err_(err),
          live_(live),
          lines_(ports.size()),
          ports_(ports),
          phaseStart_(ports.size(), std::chrono::steady_clock::now()) {
        if (live_) Draw();
    }

    ProvisionEvents Events() {
        ProvisionEvents events;
        events.began = [this](std::size_t i, const ModuleReport& module, ProvisionStep step) {
            phaseStart_[i] = std::chrono::steady_clock::now();
            SetLine(i, module, std::string(StepName(step)) + "…");
        };
        events.ended = [this](std::size_t i, const ModuleReport& module, ProvisionStep step,
                              double seconds) {
            const bool failed = module.step == step;
            const std::string what =
                std::string(StepName(step)) +
                (failed ? std::string(" ") + ResultName(module.result) + ": " + module.error
                        : " done in " + SecondsText(seconds));
            if (live_) {
                SetLine(i, module, what);
            } else {
                std::fprintf(err_, "%s: %s\n", Who(i, module).c_str(), what.c_str());
            }
        };
        events.transfer = [this](std::size_t i, const library::TransferProgress& progress) {
            if (!live_) return;
            const ProgressPhase phase{
                progress.op == protocol::kCmdImportBlock ? "import" : "verify", progress.total};
            SetLineText(i, ProgressText(progress, phase,
                                        std::chrono::steady_clock::now() - phaseStart_[i]));
        };
        return events;
    }

    // The live lines' last state: each module's result.
    void Finish(const std::vector<ModuleReport>& reports) {
        if (!live_) return;
        for (std::size_t i = 0; i < reports.size() && i < lines_.size(); ++i) {
            const ModuleReport& module = reports[i];
            lines_[i] = Who(i, module) + ": " + ResultName(module.result) +
                        (module.step ? std::string(" at ") + StepName(*module.step) : "");
        }
        Draw();
    }

private:
    std::string Who(std::size_t i, const ModuleReport& module) const {
        return ports_[i] + (module.address.empty() ? "" : " (" + module.address + ")");
    }
    void SetLine(std::size_t i, const ModuleReport& module, const std::string& text) {
        if (!live_) return;
        lines_[i] = Who(i, module) + ": " + text;
        Draw();
    }
    void SetLineText(std::size_t i, const std::string& text) {
        const std::size_t colon = lines_[i].find(": ");
        lines_[i] = lines_[i].substr(0, colon) + ": " + text;
        Draw();
    }
    // Moves up over the lines drawn before and draws every line again.
    void Draw() {
        if (drawn_) std::fprintf(err_, "\x1b[%zuA", lines_.size());
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const std::string& text = lines_[i].empty() ? ports_[i] + ": waiting" : lines_[i];
            std::fprintf(err_, "\r\x1b[K%s\n", text.c_str());
        }
        std::fflush(err_);
        drawn_ = true;
    }

    std::FILE* err_;
    bool live_;
    bool drawn_ = false;
    std::vector<std::string> lines_;
    std::vector<std::string> ports_;
    std::vector<std::chrono::steady_clock::time_point> phaseStart_;
};

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

json ReportJson(const std::vector<ModuleReport>& reports) {
    json modules = json::array();
    for (const ModuleReport& module : reports) {
        modules.push_back({
            {"port", module.port},
            {"address", module.address.empty() ? json(nullptr) : json(module.address)},
            {"result", ResultName(module.result)},
            {"step", module.step ? json(StepName(*module.step)) : json(nullptr)},
            {"error", module.error.empty() ? json(nullptr) : json(module.error)},
            {"bytes", module.bytes},
            {"resent", module.resent},
            {"seconds", module.seconds},
        });
    }
    return {{"modules", modules}};
}

// port, address, result, failed step, bytes, resends, time; the reasons below the table.
std::string ReportTable(const std::vector<ModuleReport>& reports) {
    std::size_t portWidth = 4;
    for (const ModuleReport& module : reports) portWidth = std::max(portWidth, module.port.size());
    auto row = [&](const std::string& port, const std::string& address, const std::string& result,
                   const std::string& step, const std::string& bytes, const std::string& resent,
                   const std::string& seconds) {
        char line[512];
        std::snprintf(line, sizeof line, "%-*s  %-7s  %-7s  %-8s  %6s  %6s  %7s",
                      static_cast<int>(portWidth), port.c_str(), address.c_str(), result.c_str(),
                      step.c_str(), bytes.c_str(), resent.c_str(), seconds.c_str());
        return std::string(line);
    };
    std::string text = row("PORT", "ADDRESS", "RESULT", "STEP", "BYTES", "RESENT", "TIME");
    std::string reasons;
    for (const ModuleReport& module : reports) {
        text += "\n" + row(module.port, OrDash(module.address), ResultName(module.result),
                           module.step ? StepName(*module.step) : "-", std::to_string(module.bytes),
                           std::to_string(module.resent), SecondsText(module.seconds));
        if (!module.error.empty()) reasons += "\n" + module.port + ": " + module.error;
    }
    return text + reasons;
}

// With --all: the listed ports, each tried; those whose module does not answer are named
// and left out of the report.
std::vector<std::string> ListedPorts() {
    std::vector<std::string> ports;
    for (const auto& [number, entry] : serial::ScanDeviceMap()) {
        ports.push_back("COM" + std::to_string(number));
    }
    return ports;
}

ProvisionSettings SettingsFrom(const CliOptions& options) {
    ProvisionSettings settings;
    settings.profile = options.profile;
    const ProvisionProfile& profile = options.profile;
    settings.line = options.line;
    if (!options.baudGiven && profile.baud) settings.line.baud = *profile.baud;
    if (!options.parityGiven && profile.parity) settings.line.parity = *profile.parity;
    if (!options.dataBitsGiven && profile.dataBits) settings.line.dataBits = *profile.dataBits;
    if (!options.stopBitsGiven && profile.stopBits) settings.line.stopBits = *profile.stopBits;
    settings.retries =
        options.retriesGiven || !profile.retries ? options.retries : *profile.retries;
    settings.jobs = static_cast<std::size_t>(options.jobs);
    settings.logDir = options.logDir;
    return settings;
}

}  // namespace

void DefineProvision(CLI::App& command, CliOptions& options, CommandValues& values) {
    command.add_option("PROFILE", values.profileFile, "the profile, a JSON file")->required();
    command
        .add_option("-p,--port", values.provisionPorts,
                    "a module's port; give it once for every module")
        ->type_name("PORT");
    command.add_flag("--all", options.allPorts,
                     "every listed port whose module answers the handshake");
    command.add_option("--jobs", options.jobs, "modules at once (default: all)")
        ->type_name("N")
        ->check(WholeNumberIn({1, 1000}, "a number of modules"));
    command.add_option("--log-dir", options.logDir, "write each port's log into DIR")
        ->type_name("DIR");
    command
        .add_option("--retries", options.retries,
                    "resends of a block after 2 s of silence (default 1)")
        ->type_name("N")
        ->check(WholeNumberIn({0, 100}, "a number of resends"))
        ->each([&options](const std::string&) { options.retriesGiven = true; });
}

std::string FinishProvision(const CommandValues& values, CliOptions& options) {
    std::string error;
    if (!LoadProvisionProfile(values.profileFile, &options.profile, &error)) return error;
    options.ports = values.provisionPorts;
    if (options.ports.empty() && !options.port.empty()) options.ports.push_back(options.port);
    if (options.allPorts && !values.provisionPorts.empty()) {
        return "provision: give --port or --all, not both";
    }
    if (!options.allPorts && options.ports.empty()) {
        return "provision: no port given: --port PORT for each module, or --all";
    }
    std::error_code ignored;
    if (!options.logDir.empty() &&
        !std::filesystem::is_directory(platform::PathFromUtf8(options.logDir), ignored)) {
        return "--log-dir: " + options.logDir + " is not a folder";
    }
    return {};
}

int RunProvision(CommandContext& context) {
    const CliOptions& options = context.Options();
    const std::vector<std::string> ports = options.allPorts ? ListedPorts() : options.ports;
    if (ports.empty()) return context.Fail(kExitPort, "no ports are listed; see orvante-cli ports");
    ProvisionProgress progress(context.Streams().err,
#ifdef _WIN32
                               false,
#else
                               context.Streams().errIsTerminal,
#endif
                               ports);
    Provisioning provisioning(ports, SettingsFrom(options), progress.Events());
    std::vector<ModuleReport> reports;
    bool interrupted = false;
    {
        InterruptWatcher watcher([&provisioning] { provisioning.Cancel(); });
        reports = provisioning.Run();
        interrupted = watcher.Interrupted();
    }
    progress.Finish(reports);
    if (options.allPorts) {
        std::erase_if(reports, [&](const ModuleReport& module) {
            if (module.step == ProvisionStep::kConnect && module.result == ModuleResult::kFailed) {
                context.Note(module.port + " skipped: " + module.error);
                return true;
            }
            return false;
        });
    }
    context.Print(ReportJson(reports), ReportTable(reports));
    if (interrupted) return kExitInterrupted;
    const bool allPassed = std::all_of(reports.begin(), reports.end(), [](const auto& module) {
        return module.result == ModuleResult::kPassed;
    });
    return allPassed ? kExitSuccess : kExitFailure;
}

}  // namespace orvante::cli
