// orvante-sim as a process: it publishes its port, answers on it, and cleans up on the
// end signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "serial/port_list_posix.h"
#include "serial/serial_channel.h"
#include "sim/program_options.h"
#include "tests/sim/line_io.h"
#include "tests/sim/module_exchange.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/runtime_dir.h"

namespace orvante::test {
namespace {

namespace fs = std::filesystem;
using namespace sim_exchange;

// orvante-sim started with its ports directory below `runtimeDir`.
class SimProcess : public ChildProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& runtimeDir)
        : ChildProcess(ORVANTE_SIM_PROGRAM, args, {{"XDG_RUNTIME_DIR", runtimeDir}}) {}

    std::string ReadyLine() { return Out().ReadLine(); }
    std::string ErrorLine() { return Err().ReadLine(); }
};

// The slave path announced by the ready line, or empty when the line is not as expected.
std::string AnnouncedDevice(const std::string& readyLine, int port, const char* address) {
    const std::string prefix = "orvante-sim: COM" + std::to_string(port) + " -> /dev/pts/";
    const std::string suffix = " (address " + std::string(address) + ")\n";
    if (!readyLine.starts_with(prefix) || !readyLine.ends_with(suffix)) return {};
    const std::string number =
        readyLine.substr(prefix.size(), readyLine.size() - prefix.size() - suffix.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return {};
    return "/dev/pts/" + number;
}

TEST(SimProgram, PublishesItsPortAnswersOnItAndRemovesItOnEveryEndSignal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TemporaryDirectory runtime;
        SimProcess sim({}, runtime.Path());
        ASSERT_TRUE(sim.Started());
        const std::string device = AnnouncedDevice(sim.ReadyLine(), 99, "1234");
        ASSERT_FALSE(device.empty()) << strsignal(signal);
        const std::string link = runtime.Path() + "/orvante/ports/COM99";
        EXPECT_EQ(fs::read_symlink(link), device);
        {
            Terminal port(link);
            port.Write(Handshake());
            EXPECT_EQ(port.Read(9), HandshakeReply()) << strsignal(signal);
        }
        sim.Signal(signal);
        EXPECT_EQ(sim.WaitForExit(), 0) << strsignal(signal);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << strsignal(signal);
    }
}

TEST(SimProgram, KeepsTheTimedTasksInItsStateFileAcrossRestarts) {
    TemporaryDirectory runtime;
    const std::string stateFile = runtime.Path() + "/tasks";
    Bytes tasks(27, 0);
    tasks[0] = 1;
    tasks[1] = 5;
    tasks[3] = 10;
    const std::vector<std::string> args = {"--address", "BEEF",         "--port",
                                           "120",       "--state-file", stateFile};
    const std::string link = runtime.Path() + "/orvante/ports/COM120";
    const auto request = [](std::uint8_t command, const Bytes& payload = {}) {
        return Frame(kConsole, 0xBEEF, command, payload);
    };
    {
        SimProcess sim(args, runtime.Path());
        ASSERT_FALSE(AnnouncedDevice(sim.ReadyLine(), 120, "BEEF").empty());
        Terminal port(link);
        port.Write(request(24, tasks));
        EXPECT_EQ(port.Read(10), Frame(0xBEEF, kConsole, 25, {1}));
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.WaitForExit(), 0);
    }
    SimProcess restarted(args, runtime.Path());
    ASSERT_FALSE(AnnouncedDevice(restarted.ReadyLine(), 120, "BEEF").empty());
    Terminal port(link);
    port.Write(request(22));
    EXPECT_EQ(port.Read(36), Frame(0xBEEF, kConsole, 23, tasks));
}

// Pseudo-terminal names are handed out lowest free first: opens ptys until one gets
// `slavePath`, keeping all of them open. Empty when another program took it first.
std::vector<std::unique_ptr<PtyPair>> TakePtyName(const std::string& slavePath) {
    std::vector<std::unique_ptr<PtyPair>> opened;
    for (int i = 0; i < 256; ++i) {
        opened.push_back(std::make_unique<PtyPair>());
        if (opened.back()->SlavePath() == slavePath) return opened;
    }
    return {};
}

// A killed module leaves its link behind: the console neither lists nor opens it, also
// once another program has its pseudo-terminal's name; a restarted module takes the
// number over. A live module's number is never taken.
TEST(SimProgram, KilledModulesLinkIsIgnoredAndTakenOverButALiveOneNever) {
    PrivateRuntimeDir runtime;  // the console's ports directory is the modules'
    const std::string ports = runtime.Path() + "/orvante/ports";
    auto killed = std::make_unique<SimProcess>(std::vector<std::string>{}, runtime.Path());
    const std::string device = AnnouncedDevice(killed->ReadyLine(), 99, "1234");
    ASSERT_FALSE(device.empty());
    SimProcess live({}, runtime.Path());
    ASSERT_FALSE(AnnouncedDevice(live.ReadyLine(), 100, "1234").empty());
    killed.reset();  // SIGKILL: no clean-up
    ASSERT_EQ(fs::read_symlink(ports + "/COM99"), device) << "the link is left behind";

    const auto reused = TakePtyName(device);
    if (reused.empty()) GTEST_SKIP() << "another program took " << device << " first";
    EXPECT_FALSE(serial::ScanDeviceMap(ports, runtime.Path() + "/no-sysfs").contains(99));
    EXPECT_FALSE(serial::ResolvePortFromDeviceMap(99)) << "the console would open " << device;
    EXPECT_TRUE(serial::ResolvePortFromDeviceMap(100));

    SimProcess taken({"--port", "100"}, runtime.Path());
    EXPECT_EQ(taken.WaitForExit(), 1);
    EXPECT_NE(taken.ErrorLine().find("COM100 is taken"), std::string::npos);
    SimProcess restarted({}, runtime.Path());
    const std::string newDevice = AnnouncedDevice(restarted.ReadyLine(), 99, "1234");
    ASSERT_FALSE(newDevice.empty());
    EXPECT_EQ(serial::ResolvePortFromDeviceMap(99), ports + "/COM99");
    EXPECT_EQ(fs::read_symlink(ports + "/COM99"), newDevice);
    Terminal port(ports + "/COM99");
    port.Write(Handshake());
    EXPECT_EQ(port.Read(9), HandshakeReply());
}

TEST(SimProgram, RefusesABadCommandLineOrStateFileWithoutPublishing) {
    TemporaryDirectory runtime;
    const std::string garbage = runtime.Path() + "/garbage";
    std::ofstream(garbage) << "\x01\x02 not a state file\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } kCases[] = {
        {{"--port", "0"}, 2, "--port"},
        {{"--baud"}, 2, "--baud"},
        {{"--frobnicate"}, 2, "--frobnicate"},
        {{"--repeat", "3"}, 2, "'3'"},  // its count goes only after '='
        {{"--state-file", garbage}, 1, "state file"},
    };
    for (const auto& c : kCases) {
        SimProcess sim(c.args, runtime.Path());
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.WaitForExit(), c.exitCode) << c.args[0];
        EXPECT_NE(sim.ErrorLine().find(c.message), std::string::npos) << c.args[0];
    }
    EXPECT_FALSE(fs::exists(runtime.Path() + "/orvante"));
}

TEST(SimProgram, PrintsItsHelpOrVersionAndEndsWithoutPublishing) {
    TemporaryDirectory runtime;
    const struct {
        const char* arg;
        std::string output;
    } kCases[] = {
        {"--help", sim::ProgramUsage()},
        {"--version", sim::ProgramVersion()},
    };
    for (const auto& c : kCases) {
        SimProcess sim({c.arg}, runtime.Path());
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.Out().ReadAll(), c.output) << c.arg;
        EXPECT_EQ(sim.WaitForExit(), 0) << c.arg;
    }
    EXPECT_FALSE(fs::exists(runtime.Path() + "/orvante"));
    // The project's version, as the build passes it: "orvante-sim 1.0".
    const std::string version = sim::ProgramVersion();
    EXPECT_TRUE(version.starts_with("orvante-sim ") && version.size() > 13 &&
                std::isdigit(static_cast<unsigned char>(version[12])) && version.ends_with("\n"))
        << version;
}

}  // namespace
}  // namespace orvante::test
