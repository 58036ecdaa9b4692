#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "serial/port_list_posix.h"
#include "tests/support/pty_pair.h"

namespace orvante::serial {
namespace {

namespace fs = std::filesystem;

TEST(PortNumberFromName, ReadsTheNumberAfterTheFirstThreeCharacters) {
    const std::pair<const char*, int> kCases[] = {
        {"COM3", 3},
        {"COM12", 12},
        {"COM33 (ttyUSB0)", 33},
        {"COM99 (虚拟模块)", 99},
        {"COM", 0},
        {"CO", 0},
        {"", 0},
        {"COM 7", 7},
        {"COM\t\n\v\f\r8", 8},
        {"COM+4", 4},
        {"COM-2", -2},
        {"COM1.9", 1},
        {"COM-1.9", -1},
        {"COM.5", 0},
        {"COM7.", 7},
        {"COM2e1", 20},
        {"COM25E-1", 2},
        {"COM3e", 3},
        {"COM3e+", 3},
        {"COM0x10", 0},
        {"COMx", 0},
        {"COMinf", 0},
        {"COMnan", 0},
        {"COM-", 0},
        {"COM.", 0},
        {"XYZ5", 5},
        {"COM2147483647", INT_MAX},
        {"COM99999999999999999999", INT_MAX},
        {"COM-99999999999999999999", INT_MIN},
        {"COM1e999999999999", INT_MAX},
        {"COM1e-999999999999", 0},
        {"COM0e999999999999", 0},
    };
    for (const auto& [text, expected] : kCases) {
        EXPECT_EQ(PortNumberFromName(text), expected) << text;
    }
}

TEST(PortNumberFromName, ReadsBackTheListItem) {
    EXPECT_EQ(PortItemText(33, PortEntry{"/dev/ttyUSB0", "ttyUSB0"}), "COM33 (ttyUSB0)");
    EXPECT_EQ(PortNumberFromName(PortItemText(255, PortEntry{"/x", "pts/3"})), 255);
}

// The one reading of a typed or listed port name: the command lines, the ports
// directory and the system's list all go through it.
TEST(ComPortNumber, TakesComAndPlainDigitsOnly) {
    const struct {
        std::string_view name;
        std::optional<int> number;
    } kCases[] = {
        {"COM1", 1},          {"com7", 7},
        {"Com12", 12},        {"COM4096", 4096},
        {"COM4097", {}},      {"COM0", {}},
        {"COM07", {}},        {"COM", {}},
        {"COM 7", {}},        {"COM+7", {}},
        {"COM-7", {}},        {"COM7 ", {}},
        {"COM7 (pts/3)", {}}, {"COM99999999999", {}},
        {"CON7", {}},         {"/dev/ttyUSB0", {}},
    };
    for (const auto& [name, number] : kCases) {
        EXPECT_EQ(ComPortNumber(name), number) << name;
        if (name.size() > 3 && number) {
            EXPECT_EQ(PortNumberOf(name.substr(3)), number) << name;
        }
    }
}

TEST(BaudRateTable, MapsTheComboIndexToItsRate) {
    const int kRates[kBaudRateCount] = {300,   600,   1200,  2400,  4800,   9600,  19200,
                                        38400, 43000, 56000, 57600, 115200, 230400};
    for (int index = 0; index < kBaudRateCount; ++index) {
        EXPECT_EQ(BaudRateTable(index), kRates[index]);
    }
    EXPECT_EQ(BaudRateTable(-1), 0);
    EXPECT_EQ(BaudRateTable(kBaudRateCount), 0);
    EXPECT_EQ(BaudRateTable(INT_MIN), 0);
}

TEST(HardwarePortNumber, NumbersTheKnownFamilies) {
    const std::pair<const char*, std::optional<int>> kCases[] = {
        {"ttyS0", 1},     {"ttyS31", 32},   {"ttyUSB0", 33},
        {"ttyUSB31", 64}, {"ttyACM0", 65},  {"ttyACM31", 96},
        {"ttyS32", {}},   {"ttyUSB32", {}}, {"ttyAMA0", {}},
        {"rfcomm0", {}},  {"ttyS", {}},     {"ttyS01", {}},
        {"ttySAC0", {}},  {"ttyUSB-1", {}}, {"ttyS99999999999", {}},
        {"tty1", {}},
    };
    for (const auto& [name, expected] : kCases) {
        EXPECT_EQ(HardwarePortNumber(name), expected) << name;
    }
}

// A scratch directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "orvante-ports-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

class ScanDeviceMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.Path().empty());
        fs::create_directories(portsDir_);
        fs::permissions(portsDir_, fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(sysDir_);
    }

    void Link(const std::string& name, const fs::path& target) {
        fs::create_symlink(target, portsDir_ / name);
    }
    // A tty in the fake sysfs; hardware ones have a device link, 8250 ones a type.
    void Tty(const std::string& name, bool hardware, const char* uartType = nullptr) {
        fs::create_directories(sysDir_ / name);
        if (hardware) fs::create_directories(sysDir_ / name / "device");
        if (uartType != nullptr) std::ofstream(sysDir_ / name / "type") << uartType << "\n";
    }
    std::map<int, std::pair<std::string, std::string>> Scan() const {
        std::map<int, std::pair<std::string, std::string>> out;
        for (const auto& [n, e] : ScanDeviceMap(portsDir_, sysDir_)) {
            out[n] = {e.devicePath, e.displayName};
        }
        return out;
    }

    TempDir temp_;
    fs::path portsDir_ = temp_.Path() / "ports";
    fs::path sysDir_ = temp_.Path() / "sys";
    test::PtyPair pty_;
};

TEST_F(ScanDeviceMapTest, CombinesLinkedPortsAndHardware) {
    const std::string ptsName = fs::path(pty_.SlavePath()).lexically_relative("/dev").string();
    Link("COM7", pty_.SlavePath());
    Link("COM33", pty_.SlavePath());  // takes the number of ttyUSB0
    Link("COM97", pty_.SlavePath());  // the first number of the other hardware
    Link("COM8", temp_.Path() / "gone");
    Link("COM0", pty_.SlavePath());
    Link("COM4097", pty_.SlavePath());
    Link("COM07", pty_.SlavePath());
    Link("ttyVirtual", pty_.SlavePath());
    std::ofstream(portsDir_ / "COM9") << "not a link";
    Tty("ttyS0", true, "4");
    Tty("ttyS1", true, "0");  // an 8250 slot without a UART
    Tty("ttyS2", true);
    Tty("ttyUSB0", true);
    Tty("ttyUSB1", true);
    Tty("ttyUSB40", true);
    Tty("ttyACM3", true);
    Tty("ttyAMA10", true);
    Tty("ttyAMA2", true);
    Tty("ttyAMA0", true);
    Tty("rfcomm0", true);
    Tty("tty1", false);
    Tty("ttyS3", false, "4");

    const auto linked = [&](const char* name) {
        return std::pair((portsDir_ / name).string(), ptsName);
    };
    const auto hardware = [](const std::string& name) { return std::pair("/dev/" + name, name); };
    const std::map<int, std::pair<std::string, std::string>> expected = {
        {1, hardware("ttyS0")},      {7, linked("COM7")},         {33, linked("COM33")},
        {34, hardware("ttyUSB1")},   {68, hardware("ttyACM3")},   {97, linked("COM97")},
        {98, hardware("rfcomm0")},   {99, hardware("ttyAMA0")},   {100, hardware("ttyAMA2")},
        {101, hardware("ttyAMA10")}, {102, hardware("ttyUSB40")},
    };
    EXPECT_EQ(Scan(), expected);
}

TEST_F(ScanDeviceMapTest, LabelBesideALinkNamesThePort) {
    const std::string ptsName = fs::path(pty_.SlavePath()).lexically_relative("/dev").string();
    Link("COM7", pty_.SlavePath());
    std::ofstream(portsDir_ / "COM7.label") << "虚拟模块\nsecond line\n";
    Link("COM8", pty_.SlavePath());
    std::ofstream(portsDir_ / "COM8.label") << "bad\x01label\n";
    Link("COM9", pty_.SlavePath());
    std::ofstream(portsDir_ / "COM9.label") << std::string(300, 'x');
    const auto ports = Scan();
    EXPECT_EQ(ports.at(7).second, "虚拟模块");
    EXPECT_EQ(ports.at(8).second, ptsName) << "a label with control characters is not shown";
    EXPECT_EQ(ports.at(9).second, ptsName) << "nor an overlong one";
}

// A link that comes with a lock file counts only while someone holds the lock: its
// target may be a pseudo-terminal whose name was handed out again after its module
// ended. The lock is held here through another open file, as a module's would be.
TEST_F(ScanDeviceMapTest, LinkWithALockFileIsListedOnlyWhileTheLockIsHeld) {
    const auto lockFile = [&](const char* name) {
        const fs::path path = portsDir_ / (std::string(name) + kLinkLockSuffix);
        std::ofstream(path).put('\n');
        return path;
    };
    Link("COM1", pty_.SlavePath());  // made by hand: no lock file
    Link("COM2", pty_.SlavePath());
    const int held = ::open(lockFile("COM2").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Link("COM3", pty_.SlavePath());
    lockFile("COM3");  // its module has ended
    Link("COM4", pty_.SlavePath());
    fs::create_directory(portsDir_ / "COM4.lock");  // not a lock file at all
    Link("COM5", pty_.SlavePath());
    fs::create_symlink(lockFile("COM2"), portsDir_ / "COM5.lock");

    std::vector<int> listed;
    for (const auto& [number, entry] : Scan()) listed.push_back(number);
    EXPECT_EQ(listed, (std::vector<int>{1, 2}));
    ::close(held);
    EXPECT_FALSE(Scan().contains(2)) << "its module has just ended";
}

TEST_F(ScanDeviceMapTest, PortsDirectoryOthersCanWriteToIsNotTrusted) {
    Link("COM7", pty_.SlavePath());
    fs::permissions(portsDir_, fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::add);
    EXPECT_TRUE(Scan().empty());
}

TEST_F(ScanDeviceMapTest, MissingDirectoriesGiveNoPorts) {
    const std::string missing = (temp_.Path() / "none").string();
    EXPECT_TRUE(ScanDeviceMap(missing, missing).empty());
}

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PortsDirectory, FollowsTheRuntimeDirectory) {
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/4321");
        EXPECT_EQ(PortsDirectory(), "/run/user/4321/orvante/ports");
    }
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv env("XDG_RUNTIME_DIR", unset);
        EXPECT_EQ(PortsDirectory(), "/tmp/orvante-" + std::to_string(getuid()) + "/ports");
    }
}

}  // namespace
}  // namespace orvante::serial
