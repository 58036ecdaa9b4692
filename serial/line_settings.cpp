#include "serial/line_settings.h"

#include <termios.h>

#include <cctype>
#include <charconv>
#include <cmath>

namespace orvante::serial {

namespace {

// Kernel values that <termios.h> does not export. BOTHER in CBAUD means "the rate is in
// c_ospeed"; the same code shifted by IBSHIFT into CIBAUD means "the input rate is in
// c_ispeed". They are fixed by the kernel ABI (asm-generic/termbits.h).
constexpr std::uint32_t kBother = 0010000;
constexpr unsigned kInputBaudShift = 16;  // IBSHIFT

static_assert(VMIN < sizeof(KernelTermios::cc) && VTIME < sizeof(KernelTermios::cc),
              "the kernel record holds the VMIN and VTIME slots");

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void SkipBlanks(std::string_view* text) {
    while (!text->empty() && IsBlank(text->front())) text->remove_prefix(1);
}

// Takes `key` followed by '=' at the front of *text.
bool TakeKey(std::string_view* text, std::string_view key) {
    if (text->size() <= key.size() || text->substr(0, key.size()) != key ||
        (*text)[key.size()] != '=') {
        return false;
    }
    text->remove_prefix(key.size() + 1);
    return true;
}

// A field ends at a blank or at the end of the text.
bool AtFieldEnd(std::string_view text) {
    return text.empty() || IsBlank(text.front());
}

// Takes an unsigned decimal number (no sign, no blanks) that fills the whole field.
std::optional<int> TakeNumber(std::string_view* text) {
    if (text->empty() || !std::isdigit(static_cast<unsigned char>(text->front()))) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc()) return std::nullopt;  // too large for int
    text->remove_prefix(static_cast<std::size_t>(end - text->data()));
    if (!AtFieldEnd(*text)) return std::nullopt;
    return value;
}

std::optional<char> TakeParity(std::string_view* text) {
    if (text->empty()) return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text->front())));
    text->remove_prefix(1);
    if (!AtFieldEnd(*text)) return std::nullopt;
    if (letter != 'N' && letter != 'O' && letter != 'E') return std::nullopt;
    return letter;
}

std::optional<int> TakeNumberField(std::string_view* text, std::string_view key) {
    SkipBlanks(text);
    if (!TakeKey(text, key)) return std::nullopt;
    return TakeNumber(text);
}

std::uint32_t CharacterSizeFlag(int dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

std::uint32_t ParityFlags(char parity) {
    switch (parity) {
        case 'O':
            return PARENB | PARODD;
        case 'E':
            return PARENB;
        default:
            return 0;
    }
}

// The same effect as cfmakeraw(): bytes pass through untouched in both directions.
void MakeRaw(KernelTermios* t) {
    t->iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY);
    t->oflag &= ~static_cast<std::uint32_t>(OPOST);
    t->lflag &= ~static_cast<std::uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
}

void SetFraming(KernelTermios* t, const LineSettings& settings) {
    t->cflag &= ~static_cast<std::uint32_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t->cflag |= CharacterSizeFlag(settings.dataBits) | ParityFlags(settings.parity);
    if (settings.stopBits == 2) t->cflag |= CSTOPB;
    // CLOCAL: modem status lines do not gate the port; CREAD: the receiver is on.
    t->cflag |= CLOCAL | CREAD;
}

// The rate as an arbitrary one in both directions, so that rates without a Bxxx
// constant (43000, 56000) work like the others.
void SetArbitraryRate(KernelTermios* t, int baudRate) {
    t->cflag &= ~static_cast<std::uint32_t>(CBAUD | CIBAUD);
    t->cflag |= kBother | (kBother << kInputBaudShift);
    t->ispeed = static_cast<std::uint32_t>(baudRate);
    t->ospeed = static_cast<std::uint32_t>(baudRate);
}

}  // namespace

std::string FormatLineDefinition(int baud, char parity, int dataBits, int stopBits) {
    return "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity) +
           " data=" + std::to_string(dataBits) + " stop=" + std::to_string(stopBits);
}

std::optional<LineSettings> ParseLineDefinition(std::string_view text, const LineSettings& base) {
    const auto baud = TakeNumberField(&text, "baud");
    if (!baud || *baud <= 0) return std::nullopt;

    SkipBlanks(&text);
    if (!TakeKey(&text, "parity")) return std::nullopt;
    const auto parity = TakeParity(&text);
    if (!parity) return std::nullopt;

    const auto dataBits = TakeNumberField(&text, "data");
    if (!dataBits || *dataBits < 5 || *dataBits > 8) return std::nullopt;

    const auto stopBits = TakeNumberField(&text, "stop");
    if (!stopBits || (*stopBits != 1 && *stopBits != 2)) return std::nullopt;

    SkipBlanks(&text);
    if (!text.empty()) return std::nullopt;

    LineSettings settings = base;
    settings.baudRate = *baud;
    settings.parity = *parity;
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}

KernelTermios MakeRawTermios(const KernelTermios& current, const LineSettings& settings) {
    KernelTermios t = current;
    MakeRaw(&t);
    SetFraming(&t, settings);
    SetArbitraryRate(&t, settings.baudRate);
    // A read returns as soon as one byte is there and never times out, so a read of
    // 0 bytes can only mean a hang-up.
    t.cc[VMIN] = 1;
    t.cc[VTIME] = 0;
    return t;
}

namespace {

// Drivers that program a divisor may report the rate they really run at; a line still
// works when both ends are within about 2 % of each other.
constexpr double kRateTolerance = 0.02;

bool RateClose(std::uint32_t requested, std::uint32_t actual) {
    const double difference = std::abs(static_cast<double>(actual) - requested);
    return difference <= kRateTolerance * requested;
}

}  // namespace

bool DriverKeptRates(const KernelTermios& requested, const KernelTermios& actual) {
    // The kernel fills both speed fields on every read-back, whatever code CBAUD holds.
    if ((requested.cflag & CBAUD) == kBother && !RateClose(requested.ospeed, actual.ospeed)) {
        return false;
    }
    const std::uint32_t inputCode = (requested.cflag & CIBAUD) >> kInputBaudShift;
    if (inputCode == kBother && !RateClose(requested.ispeed, actual.ispeed)) return false;
    return true;
}

}  // namespace orvante::serial
