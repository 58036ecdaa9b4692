// Provisioning many modules at once: every port in a session of its own on a thread of
// its own, each module taken through the profile's steps in order, one report a module.
// Threads a port: its worker, its channel's monitor and, while a library moves, the
// transfer's worker: three at most.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/provision_profile.h"
#include "library/library_transfer.h"
#include "session/session.h"

namespace orvante::cli {

// In the order they run: the capacity clears the learned codes, so it comes before the
// library, and the verify reads back what the import wrote.
enum class ProvisionStep { kConnect, kCapacity, kImport, kVerify, kTasks };
const char* StepName(ProvisionStep step);

enum class ModuleResult { kPassed, kFailed, kStopped };
const char* ResultName(ModuleResult result);

struct ModuleReport {
    std::string port;     // as given
    std::string address;  // the module's, once it answered the handshake
    ModuleResult result = ModuleResult::kPassed;
    std::optional<ProvisionStep> step;  // the step that failed or was stopped
    std::string error;                  // why, one line
    std::size_t bytes = 0;              // library bytes imported
    int resent = 0;                     // blocks sent again, the verify's included
    double seconds = 0;
    bool silent = false;  // never answered the handshake (with --all: skipped)
};

struct ProvisionSettings {
    ProvisionProfile profile;
    session::LineConfig line;
    int retries = 1;
    std::size_t jobs = 0;  // modules at once; 0: all
    std::string logDir;    // empty: no logs
};

// What the run tells as it goes, from the ports' threads (one call at a time).
struct ProvisionEvents {
    // A step began on the module at `index`.
    std::function<void(std::size_t index, const ModuleReport& module, ProvisionStep step)> began;
    // The step ended: passed when `module.step` is not it.
    std::function<void(std::size_t index, const ModuleReport& module, ProvisionStep step,
                       double seconds)>
        ended;
    // A library transfer's progress.
    std::function<void(std::size_t index, const library::TransferProgress& progress)> transfer;
};

class Provisioning {
public:
    Provisioning(std::vector<std::string> ports, ProvisionSettings settings,
                 ProvisionEvents events);
    ~Provisioning();
    Provisioning(const Provisioning&) = delete;
    Provisioning& operator=(const Provisioning&) = delete;

    // Provisions every port; returns when all have ended, their reports in the ports' order.
    std::vector<ModuleReport> Run();
    // Any thread: every session stops; modules not yet started are stopped at connect.
    void Cancel();

private:
    struct Module;
    void Provision(Module& module);
    void RunSteps(Module& module);
    bool Step(Module& module, ProvisionStep step, const std::function<std::string()>& work);
    std::string Connect(Module& module);
    std::string SetCapacity(Module& module);
    std::string Import(Module& module);
    std::string Verify(Module& module);
    std::string SetTasks(Module& module);
    std::string WaitText(Module& module, session::WaitEnd end, const std::string& what);
    std::string TransferText(Module& module, const library::TransferProgress& result);

    ProvisionSettings settings_;
    ProvisionEvents events_;
    std::vector<std::unique_ptr<Module>> modules_;
    std::mutex eventsMutex_;  //!< One event at a time
    std::mutex slotsMutex_;   //!< Guards the modules at once (--jobs) and cancelled_
    std::condition_variable slotFreed_;
    std::size_t running_ = 0;
    bool cancelled_ = false;
};

// Where the module's library differs from the file's bytes: the first differing offset,
// or where the module's ends; empty when it holds the file's bytes from its start.
std::string LibraryDifference(const std::vector<std::uint8_t>& file,
                              const std::vector<std::uint8_t>& module);

// A log file's name for a port: "COM3.log", or for a path its file name ("ttyUSB0.log",
// "pts-3.log" for /dev/pts/3).
std::string LogFileName(const std::string& port);

}  // namespace orvante::cli
