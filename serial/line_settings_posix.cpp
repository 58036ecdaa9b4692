// Raw-mode kernel settings from a port's line settings (Linux's termios2 record).
#include <termios.h>

#include <cmath>

#include "serial/kernel_termios.h"

namespace orvante::serial {

namespace {

// Kernel values that <termios.h> does not export. BOTHER in CBAUD means "the rate is in
// c_ospeed"; the same code shifted by IBSHIFT into CIBAUD means "the input rate is in
// c_ispeed". They are fixed by the kernel ABI (asm-generic/termbits.h).
constexpr std::uint32_t kBother = 0010000;
constexpr unsigned kInputBaudShift = 16;  // IBSHIFT

static_assert(VMIN < sizeof(KernelTermios::cc) && VTIME < sizeof(KernelTermios::cc),
              "the kernel record holds the VMIN and VTIME slots");

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
