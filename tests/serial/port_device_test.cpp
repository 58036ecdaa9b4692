#include "serial/port_device.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"
#include "tests/support/termios_probe.h"
#include "tests/support/wait.h"

namespace orvante::serial {
namespace {

using test::ProbedTermios;
using test::PtyPair;

class PortDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SysError error;
        ASSERT_TRUE(port_.Open(pair_.SlavePath(), &error)) << error.text;
    }

    // Applies raw mode with `settings` through the port layer, then reads what reached
    // the tty from the other side of the pair.
    ProbedTermios ApplyAndProbe(const LineSettings& settings) {
        KernelTermios current;
        platform::SysError error;
        EXPECT_TRUE(port_.GetState(&current, &error)) << error.text;
        EXPECT_TRUE(port_.SetState(MakeRawTermios(current, settings), &error)) << error.text;
        ProbedTermios probed{};
        EXPECT_TRUE(test::ProbeTermios(pair_.MasterFd(), &probed));
        return probed;
    }

    PtyPair pair_;
    PortDevice port_;
};

TEST_F(PortDeviceTest, RawModeReachesTheTty) {
    LineSettings settings;
    settings.baudRate = 9600;
    const ProbedTermios t = ApplyAndProbe(settings);
    EXPECT_EQ(t.lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.iflag & (ICRNL | IXON | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.oflag & OPOST, 0u);
    EXPECT_EQ(t.cflag & (CLOCAL | CREAD), static_cast<std::uint32_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.vmin, 1);
    EXPECT_EQ(t.vtime, 0);
}

// A pty forces 8 data bits without parity, so only the rate and the stop bits show here.
TEST_F(PortDeviceTest, ArbitraryRatesAndStopBitsReachTheTty) {
    for (int baud : {300, 9600, 43000, 56000, 230400}) {
        for (int stopBits : {1, 2}) {
            SCOPED_TRACE(std::to_string(baud) + " baud, stop bits " + std::to_string(stopBits));
            LineSettings settings;
            settings.baudRate = baud;
            settings.stopBits = stopBits;
            const ProbedTermios t = ApplyAndProbe(settings);
            EXPECT_TRUE(t.arbitraryRate);
            EXPECT_EQ(t.ospeed, static_cast<std::uint32_t>(baud));
            EXPECT_EQ(t.ispeed, static_cast<std::uint32_t>(baud));
            EXPECT_EQ((t.cflag & CSTOPB) != 0, stopBits == 2);
        }
    }
}

TEST_F(PortDeviceTest, SecondOpenIsRefusedUntilTheFirstCloses) {
    PortDevice second;
    platform::SysError error;
    EXPECT_FALSE(second.Open(pair_.SlavePath(), &error));
    EXPECT_EQ(error.code, EBUSY);
    EXPECT_FALSE(second.IsOpen());

    port_.Close();
    EXPECT_TRUE(second.Open(pair_.SlavePath(), &error)) << error.text;
}

// Real hardware, only when a port is named: ORVANTE_TEST_PORT=/dev/ttyUSB0.
// Rates up to 115200 are within every UART's reach (230400 needs a faster clock than a
// PC's 16550 has, and is refused there as it should be).
TEST(HardwarePort, TakesTheRatesOfTheTable) {
    const char* path = std::getenv("ORVANTE_TEST_PORT");
    if (path == nullptr) GTEST_SKIP() << "set ORVANTE_TEST_PORT to a serial device to run this";
    PortDevice port;
    platform::SysError error;
    ASSERT_TRUE(port.Open(path, &error)) << error.text;
    for (int rate : {300, 9600, 43000, 56000, 115200}) {
        KernelTermios current;
        ASSERT_TRUE(port.GetState(&current, &error)) << error.text;
        LineSettings settings;
        settings.baudRate = rate;
        EXPECT_TRUE(port.SetState(MakeRawTermios(current, settings), &error))
            << rate << ": " << error.text;
    }
}

TEST(PortDeviceOpen, MissingDeviceFailsWithItsError) {
    PortDevice port;
    platform::SysError error;
    EXPECT_FALSE(port.Open("/dev/orvante-no-such-tty", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(error.text.empty());
}

TEST_F(PortDeviceTest, BytesPassBothWays) {
    const std::vector<std::uint8_t> out = {0x55, 0x00, 0xFF, '\r', '\n', 0x11, 0x13};
    platform::SysError error;
    ASSERT_EQ(port_.Write(out.data(), out.size(), &error), static_cast<ssize_t>(out.size()));
    EXPECT_EQ(pair_.Read(out.size()), out);

    const std::vector<std::uint8_t> in = {0x71, 0x03, 0x7F, 0x0D, 0x04};
    pair_.Write(in);
    ASSERT_TRUE(test::WaitFor([&] { return port_.InputCount() == in.size(); }));
    std::vector<std::uint8_t> got(16);
    const ssize_t n = port_.Read(got.data(), got.size(), &error);
    ASSERT_EQ(n, static_cast<ssize_t>(in.size()));
    got.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(got, in);
    EXPECT_EQ(port_.Read(got.data(), got.size(), &error), 0) << "nothing more is waiting";
}

TEST_F(PortDeviceTest, HangUpReadsAsLostDevice) {
    pair_.CloseMaster();
    std::uint8_t byte = 0;
    platform::SysError error;
    ssize_t result = 0;
    ASSERT_TRUE(test::WaitFor([&] { return (result = port_.Read(&byte, 1, &error)) != 0; }));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(error.IsDeviceLost()) << error.code << " " << error.text;
}

// --- The kernel's exclusive flag, which only an unprivileged process sees ----------

constexpr uid_t kNobody = 65534;
enum ChildExit { kCannotDropRoot = 120, kCannotExecAccess = 121, kCannotExec = 122 };

// A copy of the probe in a fresh folder under /tmp, which every user may enter: the build
// folder may sit where user nobody cannot reach it (a home folder, for one). Removed with
// its folder at the end.
class ProbeCopy {
public:
    ProbeCopy() {
        namespace fs = std::filesystem;
        char folder[] = "/tmp/orvante-probe-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            const int code = errno;
            error_ = std::string("cannot make a folder in /tmp: ") + std::strerror(code);
            return;
        }
        folder_ = folder;
        const fs::path copy = folder_ / "port_open_probe";
        std::error_code error;
        fs::copy_file(ORVANTE_PORT_OPEN_PROBE, copy, error);
        const auto readAndRun = fs::perms::owner_all | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec;
        if (!error) fs::permissions(folder_, readAndRun, error);
        if (!error) fs::permissions(copy, readAndRun, error);
        if (error) {
            error_ = "cannot copy the probe to " + folder_.string() + ": " + error.message();
        } else {
            path_ = copy.string();
        }
    }
    ~ProbeCopy() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    ProbeCopy(const ProbeCopy&) = delete;
    ProbeCopy& operator=(const ProbeCopy&) = delete;

    // Empty when the copy failed; Error() then says why.
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

private:
    std::filesystem::path folder_;
    std::string path_;
    std::string error_;
};

// Runs `program` on the tty `path`, as nobody when `asNobody`; returns its wait status.
int RunProbe(std::string program, const std::string& path, bool asNobody) {
    std::string argument = path;
    char* const argv[] = {program.data(), argument.data(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        // Only system calls between fork and exec.
        if (asNobody &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(kCannotDropRoot);
        }
        execv(argv[0], argv);
        _exit(errno == EACCES ? kCannotExecAccess : kCannotExec);
    }
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    return status;
}

TEST(PortDeviceExclusive, PlainOpensAreRefusedWhileHeld) {
    PtyPair pair;
    const bool asRoot = geteuid() == 0;
    std::string program = ORVANTE_PORT_OPEN_PROBE;
    std::optional<ProbeCopy> copy;
    if (asRoot) {
        if (getpwuid(kNobody) == nullptr) GTEST_SKIP() << "no user 65534 (nobody)";
        copy.emplace();
        if (copy->Path().empty()) GTEST_SKIP() << copy->Error();
        program = copy->Path();
        ASSERT_EQ(fchown(pair.SlaveFd(), kNobody, kNobody), 0);
    }
    const int status = RunProbe(program, pair.SlavePath(), asRoot);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    const int code = WEXITSTATUS(status);
    if (code == kCannotDropRoot) GTEST_SKIP() << "cannot switch to user nobody";
    if (code == kCannotExecAccess) {
        GTEST_SKIP() << "user nobody may not run " << program << " (is /tmp mounted noexec?)";
    }
    EXPECT_EQ(code, 0) << "port_open_probe: 3 port not opened, 4 plain open allowed, "
                          "5 plain open failed otherwise, 6 reopen failed";
}

}  // namespace
}  // namespace orvante::serial
