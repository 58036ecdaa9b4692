#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvante::cli {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{200};

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Rate(std::size_t bytes, double seconds) {
    if (seconds <= 0) return "-- KB/s";
    return Fixed(static_cast<double>(bytes) / seconds / 1024.0, 1) + " KB/s";
}

}  // namespace

std::string ProgressText(const library::TransferProgress& progress, const ProgressPhase& phase,
                         std::chrono::duration<double> elapsed) {
    const double seconds = elapsed.count();
    const std::string rate = Rate(progress.bytes, seconds);
    const std::size_t total = phase.total > 0 ? phase.total : progress.total;
    // An export's length is known only at its last block.
    if (total == 0) return phase.label + ": " + std::to_string(progress.bytes) + " bytes, " + rate;
    const std::size_t done = std::min(progress.bytes, total);
    const auto percent =
        static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total));
    std::string text = phase.label + ": " + std::to_string(progress.bytes) + "/" +
                       std::to_string(total) + " bytes (" + std::to_string(percent) + "%), " + rate;
    if (done > 0 && seconds > 0) {
        const double left = static_cast<double>(total - done) * seconds / static_cast<double>(done);
        text += ", " + std::to_string(static_cast<long>(std::ceil(left))) + " s left";
    }
    return text;
}

std::string TransferSummary(std::size_t bytes, double seconds) {
    return std::to_string(bytes) + " bytes in " + SecondsText(seconds) + " (" +
           Rate(bytes, seconds) + ")";
}

std::string SecondsText(double seconds) {
    return Fixed(seconds, 1) + " s";
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}

void ProgressLine::Begin(ProgressPhase phase) {
    std::lock_guard lock(mutex_);
    phase_ = std::move(phase);
    start_ = Clock::now();
}

void ProgressLine::Show(const library::TransferProgress& progress) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    const bool last = progress.outcome != library::TransferOutcome::kRunning;
    if (shown_ && !last && now - lastShown_ < kRedrawInterval) return;
    lastShown_ = now;
    shown_ = true;
    // Carriage return, the text, then spaces over what a longer earlier text left: no
    // escape sequence, which a console that does not take them would print.
    const std::string text = ProgressText(progress, phase_, now - start_);
    const int rest = static_cast<int>(shownLength_ > text.size() ? shownLength_ - text.size() : 0);
    std::fprintf(stream_, "\r%s%*s", text.c_str(), rest, "");
    std::fflush(stream_);
    shownLength_ = text.size();
}

void ProgressLine::Clear() {
    std::lock_guard lock(mutex_);
    if (!enabled_ || !shown_) return;
    std::fprintf(stream_, "\r%*s\r", static_cast<int>(shownLength_), "");
    std::fflush(stream_);
    shown_ = false;
    shownLength_ = 0;
}

}  // namespace orvante::cli
