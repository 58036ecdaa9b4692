// What a command of orvante-cli runs with: the session on its port, the output, the
// failures with their exit statuses, the module's functions asked as the function table
// says they are answered, and the library transfer.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/progress_line.h"
#include "functions/module_functions.h"
#include "library/library_file.h"
#include "session/session.h"

namespace orvante::cli {

using json = nlohmann::ordered_json;

// The text of a file that cannot be used.
std::string FileProblemText(const std::string& path, const library::FileError& error);
// "TEXT (the system's reason)", or TEXT when the system gave none.
std::string WithReason(const std::string& text, const platform::SysError& error);
// Why `port` could not be opened, in one line.
std::string OpenFailureText(const std::string& port, const serial::PortOpenResult& result);

class CommandContext {
public:
    CommandContext(const CliOptions& options, const CliStreams& streams,
                   library::TransferClock& clock);

    // The whole command: the port and its handshake, the command, and what the operator
    // must know after a failure. Returns the exit status.
    int Run();

    const CliOptions& Options() const { return options_; }
    const CliStreams& Streams() const { return streams_; }
    session::Session& Session() { return session_; }

    // One line on standard error, "orvante-cli: TEXT"; returns `status`.
    int Fail(int status, const std::string& text);
    // A hint on a terminal (not in a script): a line on standard error as it is.
    void Hint(const std::string& text);
    // A note on standard error, terminal or not: "orvante-cli: note: <text>".
    void Note(const std::string& text);
    // The command's result: `object` with --json, else `plain`.
    void Print(const json& object, const std::string& plain);
    // The status of a wait that ended without its answer (`what` names the request).
    int WaitFailed(session::WaitEnd end, const std::string& what, std::chrono::milliseconds limit);

    // Sends `function`'s request with `payload` to `destination` (the target when not
    // given) and waits as the module answers it: the reply time-out, `limit` for one the
    // operator paces, a second for one answered only on failure. The reply goes to *reply.
    session::WaitEnd Ask(const functions::ModuleFunction& function,
                         std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* reply,
                         std::optional<std::uint16_t> destination = std::nullopt,
                         std::chrono::milliseconds limit = protocol::kReplyTimeout);
    // Ask, for a function that must be answered: kExitSuccess, or the failure's status.
    int Exchange(const functions::ModuleFunction& function, std::span<const std::uint8_t> payload,
                 const std::string& what, std::vector<std::uint8_t>* reply,
                 std::chrono::milliseconds limit = protocol::kReplyTimeout);
    // The time a request of `function` waits.
    static std::chrono::milliseconds WaitOf(const functions::ModuleFunction& function,
                                            std::chrono::milliseconds limit);

    // Runs one transfer to its end; the exit status of its outcome. `path` names the
    // file in messages.
    int Transfer(const library::TransferJob& job, const std::string& path,
                 library::TransferProgress* result, double* seconds);
    // The export's transfer, once it has run.
    std::optional<library::TransferProgress> exportResult;

private:
    session::SessionHooks MakeHooks();
    int OpenAndConnect();
    // A status of 0 becomes 1 when the output could not be written.
    int CheckOutput(int status);

    const CliOptions& options_;
    CliStreams streams_;
    std::mutex errMutex_;  //!< One writer at a time on standard error
    ProgressLine progress_;
    session::Session session_;
    std::string outputError_;  // why the output could not be written, once it could not
};

}  // namespace orvante::cli
