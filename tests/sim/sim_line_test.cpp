// The virtual module on real pseudo-terminals: the line server, the published port and
// the SimLine test support built on them.
#include "tests/support/sim_line.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "serial/event_fd.h"
#include "serial/port_list_posix.h"
#include "sim/line_server.h"
#include "sim/published_port.h"
#include "tests/sim/line_io.h"
#include "tests/sim/module_exchange.h"
#include "tests/support/pty_pair.h"

namespace orvante::sim {
namespace {

namespace fs = std::filesystem;
using namespace orvante::test::sim_exchange;
using test::TemporaryDirectory;
using test::Terminal;

// A LineServer running on its own thread until the object goes.
class ServerThread {
public:
    ServerThread(LineServer& server) : server_(server) {
        thread_ = std::thread([this] { end_ = server_.Run(stop_.Fd()); });
    }
    ~ServerThread() { Stop(); }
    LineServer::End Stop() {
        stop_.Set();
        if (thread_.joinable()) thread_.join();
        return end_;
    }

private:
    LineServer& server_;
    serial::EventFd stop_;
    LineServer::End end_ = LineServer::End::kLineLost;
    std::thread thread_;
};

TEST(LineServer, AnswersAHandshakeWrittenOnTheSlaveAndStopsOnRequest) {
    test::PtyPair pty;
    VirtualModule module;
    std::vector<std::string> log;
    LineServer server(module, pty.MasterFd(),
                      [&log](const std::string& line) { log.push_back(line); });
    ServerThread thread(server);
    Terminal port(pty.SlavePath());
    ASSERT_TRUE(port.IsOpen());

    port.Write(Handshake());
    EXPECT_EQ(port.Read(9), HandshakeReply());
    EXPECT_EQ(thread.Stop(), LineServer::End::kStopped);
    EXPECT_EQ(log, (std::vector<std::string>{"rx 7E 05 00 FF FF FF FF 01 80",
                                             "tx 7E 05 00 34 12 FF FF 02 C9"}));
}

TEST(LineServer, WritesAReplyNoEarlierThanItIsDue) {
    test::PtyPair pty;
    VirtualModule module;
    LineServer server(module, pty.MasterFd());
    ServerThread thread(server);
    Faults faults;
    faults.delay = std::chrono::milliseconds(40);
    faults.splitSize = 3;
    server.WithModule([&](VirtualModule& m) { m.SetFaults(faults); });

    Terminal port(pty.SlavePath());
    const auto sent = Clock::now();
    port.Write(Handshake());
    EXPECT_EQ(port.Read(9), HandshakeReply());
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(40));
}

TEST(LineServer, EndsWhenTheLineHangsUpForGood) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::close(slave);  // nobody keeps the slave open: the master reports a hang-up
    VirtualModule module;
    LineServer server(module, master);
    serial::EventFd neverSet;
    EXPECT_EQ(server.Run(neverSet.Fd()), LineServer::End::kLineLost);
    EXPECT_FALSE(server.LostReason().empty());
    ::close(master);
}

TEST(PublishedPort, TakesNinetyNineOrTheFirstFreeNumberAboveAndNeverReplaces) {
    TemporaryDirectory dir;
    const std::string ports = dir.Path() + "/orvante/ports";  // created on demand
    std::optional<PublishedPort> first(std::in_place, std::nullopt, ports);
    EXPECT_EQ(first->Number(), 99);
    EXPECT_EQ(fs::read_symlink(ports + "/COM99"), first->SlavePath());
    struct stat info {};
    ASSERT_EQ(::stat(ports.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(serial::ScanDeviceMap(ports, dir.Path() + "/no-sysfs").at(99).displayName, "虚拟模块")
        << "the port list names the virtual module";

    std::ofstream(ports + "/COM100") << "someone else's entry";
    {
        PublishedPort second(std::nullopt, ports);
        EXPECT_EQ(second.Number(), 101);
        EXPECT_THROW(PublishedPort(99, ports), std::runtime_error);
        EXPECT_THROW(PublishedPort(0, ports), std::runtime_error);
        PublishedPort chosen(7, ports);
        EXPECT_EQ(chosen.LinkPath(), ports + "/COM7");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports + "/COM101")));
    EXPECT_FALSE(fs::exists(ports + "/COM101.label"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports + "/COM7")));
    EXPECT_TRUE(fs::exists(ports + "/COM100"));

    // An entry put in place of ours is not ours to remove.
    fs::remove(ports + "/COM99");
    fs::create_symlink("/dev/null", ports + "/COM99");
    first.reset();
    EXPECT_TRUE(fs::exists(fs::symlink_status(ports + "/COM99")));
}

TEST(PublishedPort, KeepsTheMasterQuietWhileNoPortHasTheSlaveOpen) {
    TemporaryDirectory dir;
    PublishedPort port(std::nullopt, dir.Path());
    VirtualModule module;
    LineServer server(module, port.MasterFd());
    ServerThread thread(server);
    for (int round = 0; round < 3; ++round) {
        Terminal console(port.LinkPath());  // opened and closed like a console's port
        console.Write(Handshake());
        EXPECT_EQ(console.Read(9), HandshakeReply()) << round;
    }
    // A loop woken by the hang-up of each close would have counted thousands by now.
    EXPECT_LT(server.PollWakeups(), 50u);
    EXPECT_EQ(thread.Stop(), LineServer::End::kStopped);
}

TEST(SimLine, ServesTheModuleOnAPublishedPortUntilDestroyed) {
    TemporaryDirectory dir;
    std::string link;
    {
        test::SimLine line({.module = {}, .portNumber = 42, .portsDir = dir.Path()});
        link = line.LinkPath();
        EXPECT_EQ(line.PortNumber(), 42);
        EXPECT_EQ(fs::read_symlink(link), line.SlavePath());

        Terminal console(link);
        console.Write(Handshake());
        EXPECT_EQ(console.Read(9), HandshakeReply());
        EXPECT_TRUE(line.WaitForFramesReceived(1));

        line.WithModule([](VirtualModule& module) { module.SetAddress(0x4321); });
        console.Write(Handshake());
        EXPECT_EQ(console.Read(9), Frame(0x4321, kBroadcast, 2));
        EXPECT_TRUE(line.WaitUntil(
            [](const VirtualModule& module) { return module.Counters().framesAnswered == 2; }));
        EXPECT_TRUE(line.IsServing());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

}  // namespace
}  // namespace orvante::sim
