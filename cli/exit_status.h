// The exit statuses of orvante-cli, which scripts rely on.
#pragma once

namespace orvante::cli {

inline constexpr int kExitSuccess = 0;
// The module reported a failure, or a transfer could not finish its work.
inline constexpr int kExitFailure = 1;
// Bad usage or input, refused before the port is opened.
inline constexpr int kExitUsage = 2;
// No answer in time.
inline constexpr int kExitNoAnswer = 3;
// The port could not be opened, or was lost.
inline constexpr int kExitPort = 4;
// Ended by Ctrl+C (128 + SIGINT).
inline constexpr int kExitInterrupted = 130;

}  // namespace orvante::cli
