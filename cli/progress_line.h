// The transfer's progress on a terminal: one line on standard error, replaced in place,
// at most a few times a second. An export shows bytes and rate (its length is unknown
// until its last block); an import bytes, percent, rate and the time left.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "library/library_transfer.h"

namespace orvante::cli {

// What a transfer is doing ("export", "import", "verify") and, where it is known
// before the end, how many bytes it moves (0: only the transfer's own total).
struct ProgressPhase {
    std::string label;
    std::size_t total = 0;
};

// The line's text for `progress` of `phase` after `elapsed`: bytes and rate, and with a
// known total the percent and the time left.
std::string ProgressText(const library::TransferProgress& progress, const ProgressPhase& phase,
                         std::chrono::duration<double> elapsed);
// "8192 bytes in 0.9 s (9.1 KB/s)".
std::string TransferSummary(std::size_t bytes, double seconds);
// "12.6 s".
std::string SecondsText(double seconds);

class ProgressLine {
public:
    // Shows nothing unless `enabled` (standard error is a terminal).
    ProgressLine(std::FILE* stream, bool enabled);
    // A new phase: its label and total, and its time counted from now.
    void Begin(ProgressPhase phase);
    // Worker thread: shows a step, skipping those that come too fast to read.
    void Show(const library::TransferProgress& progress);
    // Removes the line, so that what follows starts on a clean one.
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* stream_;
    bool enabled_;
    std::size_t shownLength_ = 0;
    ProgressPhase phase_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastShown_{};
    bool shown_ = false;
    std::mutex mutex_;  //!< Protects the members above
};

}  // namespace orvante::cli
