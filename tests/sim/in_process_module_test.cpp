// The virtual module as a port inside the program: its line, its place in the port layer,
// its kept state and the names and knobs that open it.
#include "sim/in_process_module.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "protocol/commands.h"
#include "serial/in_process_port.h"
#include "serial/port_io.h"
#include "serial/port_list.h"
#include "sim/demo_ports.h"
#include "sim/kept_state_file.h"
#include "tests/sim/line_io.h"

namespace orvante::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// The port with the channel's side played by the test: its wake counted, its input
// awaited.
class ChannelSide {
public:
    explicit ChannelSide(InProcessModule& port) : port_(port) {
        port_.SetWake([this] {
            std::lock_guard lock(mutex_);
            ++wakes_;
            woken_.notify_all();
        });
    }
    bool WaitForInput(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex_);
        return woken_.wait_for(lock, timeout, [&] { return port_.InputCount() >= count; });
    }
    int Wakes() {
        std::lock_guard lock(mutex_);
        return wakes_;
    }
    Bytes ReadAll() {
        Bytes bytes(port_.InputCount());
        platform::SysError error;
        bytes.resize(static_cast<std::size_t>(port_.Read(bytes.data(), bytes.size(), &error)));
        return bytes;
    }
    void Write(std::span<const std::uint8_t> bytes) {
        platform::SysError error;
        ASSERT_EQ(port_.Write(bytes.data(), bytes.size(), &error),
                  static_cast<std::ptrdiff_t>(bytes.size()));
    }

private:
    InProcessModule& port_;
    std::mutex mutex_;
    std::condition_variable woken_;
    int wakes_ = 0;
};

const Bytes kHandshakeAnswer = {0x7E, 0x05, 0x00, 0x34, 0x12, 0xFF, 0xFF, 0x02, 0xC9};

// The handshake's request and answer cross the line at the rate set, 10 bits a byte:
// the answer never comes sooner, at any rate of the window's list.
TEST(InProcessModule, AnswersNoSoonerThanTheLineAtEveryRate) {
    for (int index = 0; index < serial::kBaudRateCount; ++index) {
        const int baud = serial::BaudRateTable(index);
        SCOPED_TRACE(baud);
        InProcessModule port(VirtualModule{}, Faults{});
        ChannelSide channel(port);
        serial::LineSettings settings;
        ASSERT_FALSE(port.Configure(serial::FormatLineDefinition(baud, 'N', 8, 1), settings));
        EXPECT_EQ(settings.baudRate, baud);

        const auto start = Clock::now();
        channel.Write(protocol::kHandshakeFrame);
        ASSERT_TRUE(channel.WaitForInput(kHandshakeAnswer.size()));
        const auto elapsed = Clock::now() - start;
        const auto lineTime = std::chrono::microseconds(
            (protocol::kHandshakeFrame.size() + kHandshakeAnswer.size()) * 10'000'000 / baud);
        EXPECT_GE(elapsed, lineTime);
        EXPECT_EQ(channel.ReadAll(), kHandshakeAnswer);
    }
}

TEST(InProcessModule, PurgesItsInputAndIsLostWhenUnplugged) {
    InProcessModule port(VirtualModule{}, Faults{});
    ChannelSide channel(port);
    serial::LineSettings settings;
    ASSERT_FALSE(port.Configure("baud=230400 parity=N data=8 stop=1", settings));
    EXPECT_TRUE(port.Configure("baud=fast parity=N data=8 stop=1", settings));

    channel.Write(protocol::kHandshakeFrame);
    ASSERT_TRUE(channel.WaitForInput(kHandshakeAnswer.size()));
    EXPECT_GE(channel.Wakes(), 1);
    port.Purge();
    EXPECT_EQ(port.InputCount(), 0u);

    // A reply still on the line when the cable goes never arrives.
    channel.Write(protocol::kHandshakeFrame);
    port.Unplug();
    const int wakes = channel.Wakes();
    EXPECT_GE(wakes, 2);
    platform::SysError error;
    EXPECT_TRUE(port.IsLost(&error));
    EXPECT_TRUE(error.IsDeviceLost());
    std::uint8_t byte;
    EXPECT_EQ(port.Read(&byte, 1, &error), -1);
    EXPECT_EQ(port.Write(&byte, 1, &error), -1);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port.InputCount(), 0u);
}

// The port layer takes a name its in-process opener accepts to that opener, and every
// other name to the system; the port's news wakes the monitor's wait.
TEST(InProcessPorts, AreOpenedByNameThroughThePortLayer) {
    InProcessModule* opened = nullptr;
    std::optional<KeptState> keptOnClose;
    serial::RegisterInProcessPorts([](const std::string& name) { return name == "inside"; },
                                   [&](const std::string&, platform::SysError*) {
                                       auto port = std::make_unique<InProcessModule>(
                                           VirtualModule{}, Faults{},
                                           [&](const KeptState& kept) { keptOnClose = kept; });
                                       opened = port.get();
                                       return port;
                                   });
    serial::PortIo io;
    platform::SysError error;
    EXPECT_FALSE(io.Open("/dev/no-such-port", &error));
    EXPECT_EQ(error.category, platform::ErrorCategory::kNotFound);
    ASSERT_TRUE(io.Open("inside", &error));
    ASSERT_NE(opened, nullptr);
    serial::LineSettings settings;
    ASSERT_FALSE(io.Configure("baud=115200 parity=N data=8 stop=1", settings));
    ASSERT_EQ(io.Write(protocol::kHandshakeFrame.data(), protocol::kHandshakeFrame.size(), &error),
              static_cast<std::ptrdiff_t>(protocol::kHandshakeFrame.size()));

    Bytes received;
    while (received.size() < kHandshakeAnswer.size()) {
        serial::PortWake wake;
        ASSERT_TRUE(io.Wait(false, &wake, &error));
        ASSERT_FALSE(wake.lost || wake.stop);
        std::uint8_t buffer[64];
        const std::ptrdiff_t count = io.Read(buffer, sizeof buffer, &error);
        ASSERT_GE(count, 0);
        received.insert(received.end(), buffer, buffer + count);
    }
    EXPECT_EQ(received, kHandshakeAnswer);

    opened->Unplug();
    serial::PortWake wake;
    ASSERT_TRUE(io.Wait(false, &wake, &error));
    EXPECT_TRUE(wake.lost);
    io.SetStop();
    ASSERT_TRUE(io.Wait(false, &wake, &error));
    EXPECT_TRUE(wake.stop);

    io.Close();
    ASSERT_TRUE(keptOnClose);
    EXPECT_EQ(keptOnClose->address, kDefaultAddress);
    serial::ForgetInProcessPorts();
}

// The in-process ports are listed from COM200 up, around the system's own numbers.
TEST(InProcessPorts, TakeTheNumbersTheSystemLeavesFree) {
    serial::ListInProcessPort("demo", kDemoPortLabel);
    serial::ListInProcessPort("demo2", kDemoPortLabel);
    serial::DeviceMap ports = {{200, {"/dev/ttyX", "ttyX"}}, {202, {"/dev/ttyY", "ttyY"}}};
    serial::AddListedInProcessPorts(&ports);
    EXPECT_EQ(ports[201].devicePath, "demo");
    EXPECT_EQ(ports[203].devicePath, "demo2");
    EXPECT_EQ(ports[200].devicePath, "/dev/ttyX");
    serial::ForgetInProcessPorts();
}

TEST(KeptStateFile, KeepsEveryByteOfTheState) {
    test::TemporaryDirectory dir;
    const std::string path = dir.Path() + "/demo.module";
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{64}, std::size_t{65}, kMaxLibrarySize}) {
        SCOPED_TRACE(size);
        KeptState state{0xA5C3, 400, {}, Bytes(size)};
        for (std::size_t i = 0; i < size; ++i) state.library[i] = static_cast<std::uint8_t>(i * 7);
        state.tasks[0] = 1;
        state.tasks.back() = 0xFE;
        std::string error;
        ASSERT_TRUE(SaveKeptState(path, state, &error)) << error;
        KeptState loaded;
        ASSERT_EQ(LoadKeptState(path, &loaded, &error), KeptLoad::kLoaded) << error;
        EXPECT_EQ(loaded, state);
    }
    KeptState untouched;
    std::string error;
    EXPECT_EQ(LoadKeptState(dir.Path() + "/none.module", &untouched, &error), KeptLoad::kMissing);
}

TEST(KeptStateFile, RefusesWhatIsNotAWholeState) {
    const std::string tasks = "tasks " + std::string(54, '0') + "\n";
    const std::string head = "orvante virtual module 1\naddress 1234\ncapacity 100\n" + tasks;
    const struct {
        std::string text;
        std::string error;  // a part of it
    } kRows[] = {
        {"", "line 0: not a virtual module"},
        {"orvante-sim timed-tasks 1\n", "line 1: not a virtual module"},
        {"orvante virtual module 1\naddress 12345\n", "line 2: expected 'address'"},
        {"orvante virtual module 1\naddress 1234\ncapacity 401\n", "line 3:"},
        {"orvante virtual module 1\naddress 1234\ncapacity 0\n", "line 3:"},
        {"orvante virtual module 1\naddress 1234\ncapacity 100\ntasks 00\n", "54 hex digits"},
        {head + "library 0\n", "line 5:"},
        {head + "library 65537\n", "line 5:"},
        {head + "library 3\nAABB\n", "line 6: expected 3 library bytes"},
        {head + "library 2\nAAXY\n", "line 6:"},
        {head + "library 2\n", "line 5: expected 2 library bytes"},
        {head + "library 2\nAABB\nCC\n", "line 7: more than"},
    };
    for (const auto& row : kRows) {
        std::string error;
        EXPECT_FALSE(ParseKeptState(row.text, &error)) << row.text;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.text << ": " << error;
    }
    std::string error;
    EXPECT_TRUE(ParseKeptState(head + "library 2\r\nAABB\r\n", &error)) << error;
}

TEST(DemoPorts, ReadTheNameAndTheKnobs) {
    std::string error;
    const auto demo = ParseDemoPort(
        "demo2:drop=5,address=5a3c,garbage,delay=20,learn-delay=0,"
        "library-size=100,clean",
        &error);
    ASSERT_TRUE(demo) << error;
    EXPECT_EQ(demo->name, "demo2");
    EXPECT_EQ(demo->faults.dropEvery, 5);
    EXPECT_EQ(demo->address, 0x5A3C);
    EXPECT_TRUE(demo->faults.garbage);
    EXPECT_EQ(demo->faults.delay, 20ms);
    EXPECT_EQ(demo->learnDelay, 0ms);
    EXPECT_EQ(demo->librarySize, 100u);
    EXPECT_TRUE(demo->clean);

    const struct {
        const char* text;
        const char* error;
    } kRefused[] = {
        {"demo1", "not a built-in module"},  {"demo100", "not a built-in module"},
        {"demo02", "not a built-in module"}, {"demo:", "not one of"},
        {"demo:drop=0", "'drop=0'"},         {"demo:clean=1", "takes no value"},
        {"demo:address=FFFF", "hex digits"}, {"demo:library-size=65537", "1 to 65536"},
        {"demo:delay=-1", "milliseconds"},   {"demo:drop=5,,clean", "not one of"},
    };
    for (const auto& row : kRefused) {
        EXPECT_TRUE(IsDemoPortName(row.text)) << row.text;
        EXPECT_FALSE(ParseDemoPort(row.text, &error)) << row.text;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.text << ": " << error;
    }
    for (const char* other : {"/dev/ttyUSB0", "COM3", "demolition", "Demo"}) {
        EXPECT_FALSE(IsDemoPortName(other)) << other;
    }
}

}  // namespace
}  // namespace orvante::sim
