#include "cli/progress_line.h"

#include <cmath>

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

std::string ProgressText(const library::TransferProgress& progress,
                         std::chrono::duration<double> elapsed) {
    const double seconds = elapsed.count();
    const std::string rate = Rate(progress.bytes, seconds);
    if (progress.op == protocol::kCmdExportBlock) {
        return "export: " + std::to_string(progress.bytes) + " bytes, " + rate;
    }
    std::string text = "import: " + std::to_string(progress.bytes) + "/" +
                       std::to_string(progress.total) + " bytes";
    if (progress.total > 0) {
        const auto percent = static_cast<int>(100.0 * static_cast<double>(progress.bytes) /
                                              static_cast<double>(progress.total));
        text += " (" + std::to_string(percent) + "%)";
    }
    text += ", " + rate;
    if (progress.bytes > 0 && seconds > 0 && progress.total >= progress.bytes) {
        const double left = static_cast<double>(progress.total - progress.bytes) * seconds /
                            static_cast<double>(progress.bytes);
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

void ProgressLine::Show(const library::TransferProgress& progress) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    const bool last = progress.outcome != library::TransferOutcome::kRunning;
    if (shown_ && !last && now - lastShown_ < kRedrawInterval) return;
    lastShown_ = now;
    shown_ = true;
    // Carriage return, the text, then erase what a longer earlier text left.
    std::fprintf(stream_, "\r%s\x1b[K", ProgressText(progress, now - start_).c_str());
    std::fflush(stream_);
}

void ProgressLine::Clear() {
    std::lock_guard lock(mutex_);
    if (!enabled_ || !shown_) return;
    std::fprintf(stream_, "\r\x1b[K");
    std::fflush(stream_);
    shown_ = false;
}

}  // namespace orvante::cli
