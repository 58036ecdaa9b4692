#include "sim/task_state_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "protocol/little_endian.h"

namespace orvante::sim {

namespace {

constexpr std::string_view kVersionLine = "orvante-sim timed-tasks 1";
constexpr std::size_t kMaxFileSize = 4096;
constexpr std::size_t kTaskCount = 3;
constexpr std::size_t kTaskRecordSize = 9;  // enabled byte and four 16-bit fields

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        words.push_back(line.substr(start, end - start));
        pos = end;
    }
    return words;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!SplitWords(line).empty()) lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

// A plain decimal number up to `limit`.
std::optional<unsigned> ParseNumber(std::string_view word, unsigned limit) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size() || value > limit) {
        return std::nullopt;
    }
    return value;
}

// "task <n> <enabled> <slot> <period> <delay> <loops>" into the record of task n.
bool ParseTaskLine(std::string_view line, std::size_t task, TaskBytes* tasks) {
    const std::vector<std::string_view> words = SplitWords(line);
    if (words.size() != 7 || words[0] != "task" || words[1] != std::to_string(task + 1)) {
        return false;
    }
    std::uint8_t* record = tasks->data() + task * kTaskRecordSize;
    const auto enabled = ParseNumber(words[2], 0xFF);
    if (!enabled) return false;
    record[0] = static_cast<std::uint8_t>(*enabled);
    for (std::size_t field = 0; field < 4; ++field) {
        const auto value = ParseNumber(words[3 + field], 0xFFFF);
        if (!value) return false;
        protocol::Write16(std::span(record, kTaskRecordSize), 1 + 2 * field,
                          static_cast<std::uint16_t>(*value));
    }
    return true;
}

std::string ErrnoText(int code) {
    return std::strerror(code);
}

// Closes a descriptor when it goes out of scope.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    // Closes now and reports whether the close succeeded (it may report a write error).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string FormatTaskState(const TaskBytes& tasks) {
    std::string text(kVersionLine);
    text += '\n';
    for (std::size_t task = 0; task < kTaskCount; ++task) {
        const std::uint8_t* record = tasks.data() + task * kTaskRecordSize;
        text += "task " + std::to_string(task + 1) + ' ' + std::to_string(record[0]);
        for (std::size_t field = 0; field < 4; ++field) {
            text += ' ' + std::to_string(
                              protocol::Read16(std::span(record, kTaskRecordSize), 1 + 2 * field));
        }
        text += '\n';
    }
    return text;
}

std::optional<TaskBytes> ParseTaskState(std::string_view text, std::string* error) {
    const std::vector<std::string_view> lines = SplitLines(text);
    if (lines.empty() || SplitWords(lines[0]) != SplitWords(kVersionLine)) {
        *error = "not a state file of this program (first line is not \"" +
                 std::string(kVersionLine) + "\")";
        return std::nullopt;
    }
    if (lines.size() != 1 + kTaskCount) {
        *error = "expected 3 task lines, found " + std::to_string(lines.size() - 1);
        return std::nullopt;
    }
    TaskBytes tasks{};
    for (std::size_t task = 0; task < kTaskCount; ++task) {
        if (!ParseTaskLine(lines[1 + task], task, &tasks)) {
            *error = "bad line for task " + std::to_string(task + 1) + " (want: task " +
                     std::to_string(task + 1) +
                     " <enabled 0-255> <slot> <period> <delay> <loops>, each 0-65535)";
            return std::nullopt;
        }
    }
    return tasks;
}

LoadResult LoadTaskStateFile(const std::string& path, TaskBytes* tasks, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return LoadResult::kMissing;
        *error = ErrnoText(errno);
        return LoadResult::kRefused;
    }
    FdCloser closer(fd);
    std::string text;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = ErrnoText(errno);
            return LoadResult::kRefused;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileSize) {
            *error = "file larger than 4 KiB, not a state file of this program";
            return LoadResult::kRefused;
        }
    }
    const auto parsed = ParseTaskState(text, error);
    if (!parsed) return LoadResult::kRefused;
    *tasks = *parsed;
    return LoadResult::kLoaded;
}

bool SaveTaskStateFile(const std::string& path, const TaskBytes& tasks, std::string* error) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = temporary + ": " + ErrnoText(errno);
        return false;
    }
    FdCloser closer(fd);
    if (!WriteAll(fd, FormatTaskState(tasks)) || ::fsync(fd) != 0 || !closer.Close()) {
        *error = temporary + ": " + ErrnoText(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + ErrnoText(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace orvante::sim
