#include "serial/kernel_termios.h"

#include <gtest/gtest.h>
#include <termios.h>

#include "serial/port_list.h"

namespace orvante::serial {
namespace {

// The kernel's "rate in c_ospeed/c_ispeed" code, and its place in CIBAUD.
constexpr std::uint32_t kBother = 0010000;
constexpr std::uint32_t kInputBother = kBother << 16;

TEST(LineDefinition, FormatsTheFourValues) {
    EXPECT_EQ(FormatLineDefinition(9600, 'N', 8, 1), "baud=9600 parity=N data=8 stop=1");
    EXPECT_EQ(FormatLineDefinition(230400, 'E', 7, 2), "baud=230400 parity=E data=7 stop=2");
}

TEST(LineDefinition, EveryFormattedSettingParsesBack) {
    const LineSettings base{.rtsEnable = true, .eventChar = 'q'};
    for (int index = 0; index < kBaudRateCount; ++index) {
        for (char parity : {'N', 'O', 'E'}) {
            for (int dataBits : {5, 6, 7, 8}) {
                for (int stopBits : {1, 2}) {
                    const int baud = BaudRateTable(index);
                    const std::string text = FormatLineDefinition(baud, parity, dataBits, stopBits);
                    const auto parsed = ParseLineDefinition(text, base);
                    ASSERT_TRUE(parsed) << text;
                    LineSettings expected = base;
                    expected.baudRate = baud;
                    expected.parity = parity;
                    expected.dataBits = dataBits;
                    expected.stopBits = stopBits;
                    EXPECT_EQ(*parsed, expected) << text;
                }
            }
        }
    }
}

TEST(LineDefinition, AcceptsLowerCaseParityAndExtraBlanks) {
    const LineSettings expected{.baudRate = 43000, .parity = 'O', .dataBits = 6, .stopBits = 2};
    EXPECT_EQ(ParseLineDefinition("  baud=43000\tparity=o  data=6 stop=2 ", {}), expected);
}

TEST(LineDefinition, RefusesTextOfAnotherFormOrValuesOutOfRange) {
    const char* const kRefused[] = {
        "",
        "baud=9600 parity=N data=8",
        "baud=9600 parity=N data=8 stop=1 extra",
        "parity=N baud=9600 data=8 stop=1",
        "baud=9600parity=N data=8 stop=1",
        "baud= 9600 parity=N data=8 stop=1",
        "BAUD=9600 parity=N data=8 stop=1",
        "baud=0 parity=N data=8 stop=1",
        "baud=-9600 parity=N data=8 stop=1",
        "baud=+9600 parity=N data=8 stop=1",
        "baud=99999999999 parity=N data=8 stop=1",
        "baud=96x0 parity=N data=8 stop=1",
        "baud=9600 parity=M data=8 stop=1",
        "baud=9600 parity=NO data=8 stop=1",
        "baud=9600 parity= data=8 stop=1",
        "baud=9600 parity=N data=4 stop=1",
        "baud=9600 parity=N data=9 stop=1",
        "baud=9600 parity=N data=8 stop=0",
        "baud=9600 parity=N data=8 stop=3",
        "baud=9600 parity=N data=8 stop=1.5",
    };
    for (const char* text : kRefused) EXPECT_FALSE(ParseLineDefinition(text, {})) << text;
}

// Everything a cooked terminal may have switched on, at a standard rate.
KernelTermios CookedTermios() {
    KernelTermios t;
    t.iflag = 0xFFFFFFFFu;
    t.oflag = 0xFFFFFFFFu;
    t.lflag = 0xFFFFFFFFu;
    t.cflag = B9600 | (B9600 << 16) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
    t.cc[VMIN] = 0;
    t.cc[VTIME] = 5;
    return t;
}

TEST(RawTermios, SwitchesOffEveryKindOfProcessing) {
    const KernelTermios t = MakeRawTermios(CookedTermios(), LineSettings{});
    const std::uint32_t rawInput =
        IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
    EXPECT_EQ(t.iflag & rawInput, 0u);
    EXPECT_EQ(t.iflag | rawInput, 0xFFFFFFFFu) << "other input flags are kept";
    EXPECT_EQ(t.oflag & OPOST, 0u);
    EXPECT_EQ(t.lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.cflag & (CLOCAL | CREAD), static_cast<std::uint32_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.cflag & HUPCL, static_cast<std::uint32_t>(HUPCL)) << "unrelated bits are kept";
    EXPECT_EQ(t.cc[VMIN], 1);
    EXPECT_EQ(t.cc[VTIME], 0);
}

TEST(RawTermios, FramingFollowsTheSettings) {
    struct Case {
        char parity;
        int dataBits;
        int stopBits;
        std::uint32_t expected;  // CSIZE | PARENB | PARODD | CSTOPB bits
    };
    const Case kCases[] = {
        {'N', 8, 1, CS8},          {'O', 8, 1, CS8 | PARENB | PARODD},
        {'E', 8, 1, CS8 | PARENB}, {'N', 7, 2, CS7 | CSTOPB},
        {'E', 6, 1, CS6 | PARENB}, {'O', 5, 2, CS5 | PARENB | PARODD | CSTOPB},
    };
    const std::uint32_t framingBits = CSIZE | PARENB | PARODD | CSTOPB;
    for (const Case& c : kCases) {
        LineSettings settings;
        settings.parity = c.parity;
        settings.dataBits = c.dataBits;
        settings.stopBits = c.stopBits;
        const KernelTermios t = MakeRawTermios(CookedTermios(), settings);
        EXPECT_EQ(t.cflag & framingBits, c.expected)
            << c.parity << " " << c.dataBits << " " << c.stopBits;
    }
}

TEST(RawTermios, EveryTableRateIsAnArbitraryRateInBothDirections) {
    for (int index = 0; index < kBaudRateCount; ++index) {
        LineSettings settings;
        settings.baudRate = BaudRateTable(index);
        const KernelTermios t = MakeRawTermios(CookedTermios(), settings);
        EXPECT_EQ(t.cflag & CBAUD, kBother) << settings.baudRate;
        EXPECT_EQ(t.cflag & CIBAUD, kInputBother) << settings.baudRate;
        EXPECT_EQ(t.ospeed, static_cast<std::uint32_t>(settings.baudRate));
        EXPECT_EQ(t.ispeed, static_cast<std::uint32_t>(settings.baudRate));
    }
}

}  // namespace
}  // namespace orvante::serial

namespace orvante::serial {
namespace {

// What real drivers do with a rate asked for as BOTHER: a UART re-encodes a standard
// rate as its own code, and may report the rate its divisor gives.
TEST(DriverKeptRates, TakesReEncodedAndNearbyRatesAndRefusesOthers) {
    LineSettings settings;
    settings.baudRate = 9600;
    const KernelTermios requested = MakeRawTermios(KernelTermios{}, settings);

    KernelTermios reEncoded = requested;
    reEncoded.cflag = (reEncoded.cflag & ~static_cast<std::uint32_t>(CBAUD | CIBAUD)) | B9600;
    EXPECT_TRUE(DriverKeptRates(requested, reEncoded));

    KernelTermios divisor = requested;
    divisor.ospeed = divisor.ispeed = 9615;  // within 2 %
    EXPECT_TRUE(DriverKeptRates(requested, divisor));

    KernelTermios fallback = requested;
    fallback.ospeed = fallback.ispeed = 38400;  // a driver that fell back to its default
    EXPECT_FALSE(DriverKeptRates(requested, fallback));

    KernelTermios inputOnly = requested;
    inputOnly.ispeed = 4800;
    EXPECT_FALSE(DriverKeptRates(requested, inputOnly));
}

}  // namespace
}  // namespace orvante::serial
