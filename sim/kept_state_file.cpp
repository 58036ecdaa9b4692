#include "sim/kept_state_file.h"

#include <charconv>
#include <cstdio>
#include <memory>
#include <vector>

#include "library/library_file.h"
#include "platform/utf8_path.h"

namespace orvante::sim {

namespace {

constexpr std::string_view kFirstLine = "orvante virtual module 1";
constexpr std::size_t kBytesPerLine = 64;
// The largest library in hex with its line ends, and the header: anything larger is not
// such a file.
constexpr std::size_t kMaxFileSize =
    kMaxLibrarySize * 2 + kMaxLibrarySize / kBytesPerLine * 2 + 512;

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& text, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ReadHex(std::string_view digits, std::vector<std::uint8_t>* bytes) {
    if (digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexValue(digits[i]);
        const int low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

// Reads the lines of the file one by one, line ends \n or \r\n.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    std::optional<std::string_view> Next() {
        if (text_.empty()) return std::nullopt;
        const std::size_t end = std::min(text_.find('\n'), text_.size());
        std::string_view line = text_.substr(0, end);
        text_.remove_prefix(std::min(end + 1, text_.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        ++number_;
        return line;
    }
    int Number() const { return number_; }

private:
    std::string_view text_;
    int number_ = 0;
};

// "<key> <value>": the value, when the line starts with that key.
std::optional<std::string_view> ValueOf(std::optional<std::string_view> line,
                                        std::string_view key) {
    if (!line || !line->starts_with(key) || line->size() <= key.size() + 1 ||
        (*line)[key.size()] != ' ') {
        return std::nullopt;
    }
    return line->substr(key.size() + 1);
}

std::optional<unsigned long> Number(std::string_view text, int base, unsigned long max) {
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

bool Refuse(const Lines& lines, const std::string& what, std::string* error) {
    *error = "line " + std::to_string(lines.Number()) + ": " + what;
    return false;
}

bool ReadHeader(Lines& lines, KeptState* state, std::size_t* size, std::string* error) {
    if (lines.Next() != kFirstLine) return Refuse(lines, "not a virtual module's state", error);
    const auto address = ValueOf(lines.Next(), "address");
    const auto addressValue = address ? Number(*address, 16, 0xFFFF) : std::nullopt;
    if (!addressValue || address->size() != 4) {
        return Refuse(lines, "expected 'address' and 4 hex digits", error);
    }
    state->address = static_cast<std::uint16_t>(*addressValue);
    const auto capacity = ValueOf(lines.Next(), "capacity");
    const auto capacityValue = capacity ? Number(*capacity, 10, kMaxPulseCapacity) : std::nullopt;
    if (!capacityValue || *capacityValue < kMinPulseCapacity) {
        return Refuse(lines, "expected 'capacity' and a pulse capacity", error);
    }
    state->pulseCapacity = static_cast<std::uint16_t>(*capacityValue);
    const auto tasks = ValueOf(lines.Next(), "tasks");
    std::vector<std::uint8_t> taskBytes;
    if (!tasks || !ReadHex(*tasks, &taskBytes) || taskBytes.size() != state->tasks.size()) {
        return Refuse(
            lines,
            "expected 'tasks' and " + std::to_string(state->tasks.size() * 2) + " hex digits",
            error);
    }
    std::copy(taskBytes.begin(), taskBytes.end(), state->tasks.begin());
    const auto library = ValueOf(lines.Next(), "library");
    const auto sizeValue = library ? Number(*library, 10, kMaxLibrarySize) : std::nullopt;
    if (!sizeValue || *sizeValue == 0) {
        return Refuse(lines, "expected 'library' and its size, 1 to 65536", error);
    }
    *size = *sizeValue;
    return true;
}

}  // namespace

std::string FormatKeptState(const KeptState& state) {
    std::string text(kFirstLine);
    char address[5];
    std::snprintf(address, sizeof address, "%04X", state.address);
    text += "\naddress " + std::string(address) + "\ncapacity " +
            std::to_string(state.pulseCapacity) + "\ntasks ";
    AppendHex(text, state.tasks);
    text += "\nlibrary " + std::to_string(state.library.size()) + "\n";
    const std::span<const std::uint8_t> library = state.library;
    for (std::size_t offset = 0; offset < library.size(); offset += kBytesPerLine) {
        AppendHex(text, library.subspan(offset, std::min(kBytesPerLine, library.size() - offset)));
        text += '\n';
    }
    return text;
}

std::optional<KeptState> ParseKeptState(std::string_view text, std::string* error) {
    Lines lines(text);
    KeptState state;
    std::size_t size = 0;
    if (!ReadHeader(lines, &state, &size, error)) return std::nullopt;
    state.library.reserve(size);
    while (state.library.size() < size) {
        const std::optional<std::string_view> line = lines.Next();
        const std::size_t expected = std::min(kBytesPerLine, size - state.library.size());
        if (!line || line->size() != expected * 2 || !ReadHex(*line, &state.library)) {
            Refuse(lines, "expected " + std::to_string(expected) + " library bytes in hex", error);
            return std::nullopt;
        }
    }
    if (const auto rest = lines.Next(); rest && !rest->empty()) {
        Refuse(lines, "more than the library's bytes", error);
        return std::nullopt;
    }
    return state;
}

KeptLoad LoadKeptState(const std::string& path, KeptState* state, std::string* error) {
    std::error_code missing;
    if (!std::filesystem::exists(platform::PathFromUtf8(path), missing) && !missing) {
        return KeptLoad::kMissing;
    }
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    const std::unique_ptr<std::FILE, Closer> file(
        platform::OpenFile(platform::PathFromUtf8(path), "rb"));
    if (!file) {
        *error = "cannot be read";
        return KeptLoad::kRefused;
    }
    std::string text(kMaxFileSize + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (text.size() > kMaxFileSize) {
        *error = "larger than any state";
        return KeptLoad::kRefused;
    }
    const std::optional<KeptState> parsed = ParseKeptState(text, error);
    if (!parsed) return KeptLoad::kRefused;
    *state = *parsed;
    return KeptLoad::kLoaded;
}

bool SaveKeptState(const std::string& path, const KeptState& state, std::string* error) {
    const std::string text = FormatKeptState(state);
    library::ExportFile file;
    library::FileError fileError;
    if (!file.Create(path, &fileError) ||
        !file.WriteBlock(0,
                         std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                         &fileError) ||
        !file.Commit(&fileError)) {
        *error = fileError.reason.empty() ? "cannot be written" : fileError.reason;
        return false;
    }
    return true;
}

}  // namespace orvante::sim
