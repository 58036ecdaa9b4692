// orvante-cli as a process against orvante-sim: what each command prints, its exit
// status for module faults and bad input, library transfers and Ctrl+C.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/interrupt_watcher.h"
#include "cli/provision.h"
#include "platform/file_lock.h"
#include "platform/thread_failure.h"
#include "sim/demo_ports.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

namespace orvante::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Args = std::vector<std::string>;
using namespace std::chrono_literals;

// orvante-sim publishing COM<port> in the ports directory of the test (XDG_RUNTIME_DIR,
// which the children inherit); Ready() once it has announced the port.
class Sim {
public:
    Sim(int port, Args options)
        : port_(port), process_(ORVANTE_SIM_PROGRAM, WithPort(port, options)) {
        const std::string line = process_.Out().ReadLine();
        const std::string announced = "orvante-sim: " + Port() + " -> ";
        ready_ = line.starts_with(announced);
        if (ready_)
            device_ =
                line.substr(announced.size(), line.find(' ', announced.size()) - announced.size());
    }
    ~Sim() {
        process_.Signal(SIGTERM);
        process_.WaitForExit();
    }
    bool Ready() const { return ready_; }
    std::string Port() const { return "COM" + std::to_string(port_); }
    // The pseudo-terminal it announced, "/dev/pts/<n>".
    const std::string& Device() const { return device_; }
    ChildProcess& Process() { return process_; }

    // The next frame it logged as received (it runs with --verbose); empty when none came.
    std::string NextReceived() {
        for (std::string line = process_.Err().ReadLine(); !line.empty();
             line = process_.Err().ReadLine()) {
            if (line.starts_with("orvante-sim: rx ")) return line;
        }
        return {};
    }

private:
    static Args WithPort(int port, Args options) {
        options.insert(options.end(), {"--port", std::to_string(port)});
        return options;
    }
    int port_;
    std::string device_;
    ChildProcess process_;
    bool ready_ = false;
};

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Runs orvante-cli to its end; with `redirection` ("< FILE", "> /dev/full"), through
// the shell with its standard streams so redirected.
CliRun RunCli(const Args& args, const std::string& redirection = {}) {
    Args argv = args;
    std::string program = ORVANTE_CLI_PROGRAM;
    if (!redirection.empty()) {
        argv = {"-c", R"(exec "$0" "$@" )" + redirection, program};
        argv.insert(argv.end(), args.begin(), args.end());
        program = "/bin/sh";
    }
    ChildProcess cli(program, argv);
    std::string out = cli.Out().ReadAll(10s);
    std::string err = cli.Err().ReadAll(10s);
    return {cli.WaitForExit(10s), out, err};
}

Args Concat(Args args, const Args& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Whether `out` is `expected`: for JSON the same object, whatever its spacing.
void ExpectOutput(const std::string& expected, const std::string& out, const std::string& what) {
    if (expected.starts_with('{')) {
        EXPECT_EQ(json::parse(out, nullptr, false), json::parse(expected)) << what << ": " << out;
    } else {
        EXPECT_EQ(out, expected.empty() ? "" : expected + "\n") << what;
    }
}

std::string Joined(const Args& args) {
    std::string text;
    for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
    return text;
}

TEST(CliProgram, AnswersEachCommandOfAHealthyModuleInTextAndJson) {
    PrivateRuntimeDir runtime;
    Sim sim(151, {"--learn-delay", "100", "--library-size", "4096"});
    ASSERT_TRUE(sim.Ready());
    // In order, against one module: learned codes and the capacity carry over.
    const struct {
        Args args;
        int status;
        std::string out;
    } kRows[] = {
        {{"connect"}, 0, "1234"},
        {{"connect", "--json"}, 0, R"({"address":"1234","target":"1234"})"},
        {{"connect", "--json", "--target", "beef"}, 0, R"({"address":"1234","target":"BEEF"})"},
        {{"ping"}, 0, "1234: answered"},
        {{"ping", "--json"}, 0, R"({"target":"1234","answered":true})"},
        {{"learn", "5"}, 0, "67"},
        {{"learn", "5", "--json"}, 0, R"({"slot":5,"pulses":67})"},
        {{"send", "5"}, 0, "slot 5: sent"},
        {{"send", "5", "--json"}, 0, R"({"slot":5,"sent":true})"},
        {{"send", "7"}, 1, "slot 7: failed"},
        {{"send", "7", "--json"}, 1, R"({"slot":7,"sent":false})"},
        {{"capacity"}, 0, "100"},
        {{"capacity", "set", "120", "--yes"},
         0,
         "pulse capacity set to 120; the learned codes were cleared"},
        {{"capacity", "--json"}, 0, R"({"capacity":120})"},
        {{"send", "5"}, 1, "slot 5: failed"},  // the new capacity cleared slot 5
        // A code sent is silence for a second: CliInProcess's, on a clock of the test's.
        {{"ac", "2580"}, 1, "brand 2580: failed"},
        {{"ac", "2580", "--json"}, 1, R"({"brand":2580,"sent":false})"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli(Concat({"--port", sim.Port()}, row.args));
        EXPECT_EQ(run.status, row.status) << Joined(row.args) << ": " << run.err;
        ExpectOutput(row.out, run.out, Joined(row.args));
        // A failure is told in one line; a success says nothing there.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), row.status == 0 ? 0 : 1)
            << Joined(row.args) << ": " << run.err;
    }

    const CliRun ports = RunCli({"ports", "--json"});
    EXPECT_EQ(ports.status, 0);
    const json listed = json::parse(ports.out, nullptr, false);
    ASSERT_TRUE(listed.contains("ports")) << ports.out;
    const json& list = listed["ports"];
    const json entry = {{"name", sim.Port()}, {"path", sim.Device()}, {"label", "虚拟模块"}};
    EXPECT_TRUE(std::find(list.begin(), list.end(), entry) != list.end()) << ports.out;
    EXPECT_NE(RunCli({"ports"}).out.find(sim.Port() + " (虚拟模块)\n"), std::string::npos);
}

TEST(CliProgram, WritesTheTimedTasksFromAFileOrStandardInputAndReadsThemBack) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(152, {});
    ASSERT_TRUE(sim.Ready());
    // Any 16-bit slot, as the window sends it: a backup of any module's tasks goes back.
    const std::string tasks =
        R"({"tasks":[{"enabled":true,"slot":5,"period":30,"delay":2,"loops":0},)"
        R"({"enabled":false,"slot":65535,"period":65535,"delay":65535,"loops":65535},)"
        R"({"enabled":true,"slot":0,"period":1,"delay":0,"loops":7}]})";
    std::ofstream(files.File("tasks.json")) << tasks;
    const Args port = {"--port", sim.Port()};

    const CliRun set = RunCli(Concat({"tasks", "set", files.File("tasks.json"), "--json"}, port));
    EXPECT_EQ(set.status, 0) << set.err;
    ExpectOutput(tasks, set.out, "tasks set: what it read back");

    const CliRun read = RunCli(Concat({"tasks", "--json"}, port));
    EXPECT_EQ(read.status, 0) << read.err;
    ExpectOutput(tasks, read.out, "tasks --json");
    ExpectOutput(
        "task 1: on, slot 5, every 30 min, first after 2 min, endless\n"
        "task 2: off, slot 65535, every 65535 min, first after 65535 min, 65535 times\n"
        "task 3: on, slot 0, every 1 min, first after 0 min, 7 times",
        RunCli(Concat({"tasks"}, port)).out, "tasks");

    // What 'tasks --json' printed goes back unchanged through standard input.
    std::ofstream(files.File("read.json")) << read.out;
    const CliRun again =
        RunCli(Concat({"tasks", "set", "-", "--json"}, port), "< " + files.File("read.json"));
    EXPECT_EQ(again.status, 0) << again.err;
    ExpectOutput(tasks, again.out, "tasks set -");
}

TEST(CliProgram, EndsWithStatus4WhenThePortIsBusyOrTheModuleGoesAway) {
    PrivateRuntimeDir runtime;
    for (const int signal : {SIGKILL, SIGTERM}) {
        auto sim = std::make_unique<Sim>(154, Args{"--learn-delay", "60000", "--verbose"});
        ASSERT_TRUE(sim->Ready());
        ChildProcess learn(ORVANTE_CLI_PROGRAM,
                           {"learn", "5", "--timeout", "30", "--port", "COM154"});
        ASSERT_FALSE(sim->NextReceived().empty());  // the handshake
        ASSERT_FALSE(sim->NextReceived().empty());  // the learn request
        const CliRun busy = RunCli({"connect", "--port", "COM154"});
        EXPECT_EQ(busy.status, 4);
        EXPECT_EQ(busy.err, "orvante-cli: cannot open COM154: busy: another program holds it\n");

        sim->Process().Signal(signal);
        sim.reset();
        EXPECT_EQ(learn.WaitForExit(), 4) << strsignal(signal);
        EXPECT_NE(learn.Err().ReadAll().find("COM154 was lost"), std::string::npos)
            << strsignal(signal);
    }
}

TEST(CliProgram, RefusesBadInputWithStatus2BeforeAnyFrameReachesTheModule) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(155, {"--verbose"});
    ASSERT_TRUE(sim.Ready());
    const Args port = {"--port", sim.Port()};
    // The frames of a good command, seen before the bad ones.
    const Args good = Concat({"capacity"}, port);
    ASSERT_EQ(RunCli(good).status, 0);
    const std::string handshake = sim.NextReceived();
    const std::string capacityRead = sim.NextReceived();

    std::ofstream(files.File("broken.json")) << R"({"tasks":[)";
    std::ofstream(files.File("slot.json"))
        << R"({"tasks":[{"enabled":true,"slot":1,"period":1,"delay":0,"loops":0},)"
        << R"({"enabled":true,"slot":65536,"period":1,"delay":0,"loops":0},)"
        << R"({"enabled":true,"slot":1,"period":1,"delay":0,"loops":0}]})";
    WriteFileBytes(files.File("big.db"), std::vector<std::uint8_t>(70000, 0x5A));
    const struct {
        Args args;
        std::string error;  // a part of the message
    } kRows[] = {
        {Concat({"frobnicate"}, port), "frobnicate"},
        {Concat({"connect", "--frobnicate"}, port), "--frobnicate"},
        {Concat({"learn", "101"}, port), "'101' is not a slot (0 to 100)"},
        {Concat({"learn"}, port), "learn: SLOT is missing (see orvante-cli help learn)"},
        {Concat({"capacity", "set", "0", "--yes"}, port), "1 to 400"},
        {Concat({"capacity", "set", "120"}, port), "add --yes"},
        {Concat({"ac", "258", "--temp", "31"}, port), "31"},
        {Concat({"ac", "258", "--mode", "frost"}, port),
         "--mode: 'frost' is not one of auto, cool, dry, fan, heat"},
        {Concat({"ac", "70000"}, port), "70000"},
        {Concat({"--baud", "10", "connect"}, port), "--baud"},
        // The option, the value and what is allowed, in our words; a value given twice.
        {Concat({"--baud", "abc", "connect"}, port), "--baud: 'abc' is not a rate (50 to 4000000)"},
        {Concat({"--parity", "X", "connect"}, port), "--parity: 'X' is not a parity (N, O or E)"},
        {Concat({"--port", "COM1", "connect"}, port), "--port: given more than once"},
        {{"help", "frobnicate"}, "no command 'frobnicate'"},
        {Concat({"connect", "--target", "0"}, port), "'0'"},
        {Concat({"tasks", "set", files.File("broken.json")}, port), "not valid JSON"},
        {Concat({"tasks", "set", files.File("slot.json")}, port), "task 2: \"slot\""},
        {Concat({"import", files.File("big.db")}, port), "larger than 65536"},
        {Concat({"import", files.File("missing.db")}, port),
         "cannot open " + files.File("missing.db")},
        {Concat({"export", files.File("no-dir/a.db")}, port), "cannot write"},
        // A folder where a file is wanted.
        {Concat({"tasks", "set", files.File("")}, port), "is a folder"},
        {Concat({"import", files.File("")}, port), "is a folder"},
        {Concat({"export", files.File("")}, port), "is a folder"},
        {{"connect"}, "no port given (see orvante-cli ports)"},
        {{"-p", "demo:drop=0", "connect"}, "--port: demo knob 'drop=0': expected a whole number"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.status, 2) << Joined(row.args);
        EXPECT_EQ(run.out, "") << Joined(row.args);
        EXPECT_TRUE(run.err.starts_with("orvante-cli: ") && run.err.ends_with("\n") &&
                    std::count(run.err.begin(), run.err.end(), '\n') == 1)
            << Joined(row.args) << ": " << run.err;
        EXPECT_NE(run.err.find(row.error), std::string::npos)
            << Joined(row.args) << ": " << run.err;
    }

    // The good command again: the module must have received nothing in between.
    ASSERT_EQ(RunCli(good).status, 0);
    std::vector<std::string> between;
    for (std::string frame = sim.NextReceived(); frame != capacityRead;
         frame = sim.NextReceived()) {
        ASSERT_FALSE(frame.empty()) << "the second capacity read never came";
        between.push_back(frame);
    }
    EXPECT_EQ(between, std::vector<std::string>{handshake});
}

// What a user of other flashing tools types: short options, the port from the
// environment, help for one command (without the exit statuses, said once at the top).
TEST(CliProgram, TakesShortOptionsThePortFromTheEnvironmentAndHelpForOneCommand) {
    PrivateRuntimeDir runtime;
    Sim sim(160, {});
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(RunCli({"-p", sim.Port(), "-b", "9600", "connect"}).out, "1234\n");
    setenv("ORVANTE_PORT", sim.Port().c_str(), 1);
    const CliRun fromEnvironment = RunCli({"connect"});
    const CliRun portWins = RunCli({"--port", "COM42", "connect"});
    unsetenv("ORVANTE_PORT");
    EXPECT_EQ(fromEnvironment.out, "1234\n") << fromEnvironment.err;
    EXPECT_EQ(portWins.status, 4) << "--port wins over the environment";

    for (const Args& topic : {Args{"learn"}, Args{"capacity", "set"}}) {
        const CliRun help = RunCli(Concat({"help"}, topic));
        EXPECT_EQ(help.status, 0) << Joined(topic);
        EXPECT_EQ(help.out, RunCli(Concat(topic, {"--help"})).out) << Joined(topic);
        EXPECT_EQ(help.out.find("Exit status"), std::string::npos) << help.out;
    }
    EXPECT_NE(RunCli({"help"}).out.find("Exit status"), std::string::npos);
    EXPECT_EQ(RunCli({"-V"}).out, RunCli({"--version"}).out);
}

// A library in, read back, and out again, through the program's files and outputs.
TEST(CliProgram, CopiesTheLibraryInAndOut) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(156, {"--library-size", "4096"});
    ASSERT_TRUE(sim.Ready());
    const std::vector<std::uint8_t> image = RandomBytes(4096, 7);
    WriteFileBytes(files.File("new.db"), image);
    const struct {
        Args args;
        std::string out;  // without "seconds"
    } kRows[] = {
        {{"import", files.File("new.db"), "--verify"},
         R"({"bytes":4096,"resent":0,"stray":0,"verified":true,"file":")" + files.File("new.db") +
             "\"}"},
        {{"export", files.File("b.db")},
         R"({"bytes":4096,"resent":0,"stray":0,"file":")" + files.File("b.db") + "\"}"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli(Concat(row.args, {"--json", "--port", sim.Port()}));
        EXPECT_EQ(run.status, 0) << Joined(row.args) << ": " << run.err;
        json result = json::parse(run.out, nullptr, false);
        ASSERT_TRUE(result.is_object()) << run.out;
        EXPECT_TRUE(result["seconds"].is_number()) << run.out;
        EXPECT_EQ(result.contains("verify_seconds"), row.args.back() == "--verify") << run.out;
        result.erase("seconds");
        result.erase("verify_seconds");
        EXPECT_EQ(result, json::parse(row.out)) << Joined(row.args);
    }
    EXPECT_EQ(ReadFileBytes(files.File("b.db")), image);
}

TEST(CliProgram, EndsWith130OnCtrlC) {
    PrivateRuntimeDir runtime;
    Sim sim(157, {"--learn-delay", "60000", "--verbose"});
    ASSERT_TRUE(sim.Ready());
    ChildProcess cli(ORVANTE_CLI_PROGRAM, {"learn", "5", "--timeout", "30", "--port", sim.Port()});
    for (int i = 0; i < 2; ++i) ASSERT_FALSE(sim.NextReceived().empty());
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.WaitForExit(), 130);
    EXPECT_EQ(cli.Out().ReadAll(), "");
    EXPECT_EQ(cli.Err().ReadAll(), "orvante-cli: interrupted\n");
}

// Every way an export can end, with and without a file of the operator's at its name:
// the file is then the module's whole library, or exactly as it was (absent if it was
// absent); the bytes received are in FILE.part; the last line says which.
TEST(CliProgram, AnExportLeavesItsFileWholeOrAsItWas) {
    PrivateRuntimeDir runtime;
    // The ends that come from silence are CliInProcess's, on a clock of the test's.
    enum class End { kComplete, kNoPort, kBusyPort, kModuleGone, kCtrlC };
    const struct {
        End end;
        int status;
        std::string why;  // a part of the first line
        bool kept;        // blocks came before the end
    } kRows[] = {
        {End::kComplete, 0, "", false},
        {End::kNoPort, 4, "cannot open COM250: no such port", false},
        {End::kBusyPort, 4, "busy: another program holds it", false},
        {End::kModuleGone, 4, "COM158 was lost", true},
        {End::kCtrlC, 130, "interrupted", true},
    };
    const std::vector<std::uint8_t> old = RandomBytes(8192, 3);
    for (const auto& row : kRows) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(row.end)) +
                         (existed ? " over a file" : ""));
            TempDir files;
            const std::string path = files.File("lib.db");
            if (existed) WriteFileBytes(path, old);
            // A slow line for the ends that come half-way.
            Args simOptions = {"--baud", "9600", "--library-size", "65536", "--verbose"};
            if (row.end == End::kComplete) simOptions = {"--library-size", "4096", "--verbose"};
            if (row.end == End::kBusyPort)
                simOptions.insert(simOptions.end(), {"--learn-delay", "60000"});
            std::optional<Sim> sim;
            if (row.end != End::kNoPort) {
                ASSERT_TRUE(sim.emplace(158, simOptions).Ready());
            }
            std::optional<ChildProcess> holder;
            if (row.end == End::kBusyPort) {
                holder.emplace(ORVANTE_CLI_PROGRAM, Args{"learn", "5", "--port", "COM158"});
                for (int i = 0; i < 2; ++i) ASSERT_FALSE(sim->NextReceived().empty());
            }

            ChildProcess cli(ORVANTE_CLI_PROGRAM,
                             {"export", path, "--retries", "0", "--baud", "9600", "--port",
                              row.end == End::kNoPort ? "COM250" : "COM158"});
            if (row.kept) {
                for (int i = 0; i < 5; ++i) ASSERT_FALSE(sim->NextReceived().empty());
            }
            switch (row.end) {
                case End::kModuleGone:
                    sim->Process().Signal(SIGKILL);
                    break;
                case End::kCtrlC:
                    cli.Signal(SIGINT);
                    break;
                default:
                    break;
            }
            EXPECT_EQ(cli.WaitForExit(10s), row.status);
            const std::string err = cli.Err().ReadAll();

            const std::string part = path + ".part";
            if (row.end == End::kComplete) {
                EXPECT_EQ(err, "");
                EXPECT_EQ(ReadFileBytes(path).size(), 4096u);
                EXPECT_FALSE(fs::exists(part));
                continue;
            }
            EXPECT_EQ(fs::exists(path), existed);
            EXPECT_EQ(ReadFileBytes(path), existed ? old : std::vector<std::uint8_t>{});
            const std::size_t kept = row.kept ? fs::file_size(part) : 0;
            EXPECT_EQ(fs::exists(part), row.kept);
            if (row.kept) {
                EXPECT_GT(kept, 0u);
                EXPECT_LT(kept, 65536u);
                EXPECT_EQ(kept % 50, 0u);
            }
            const std::string told =
                "orvante-cli: " + path + (existed ? " is unchanged; " : " was not created; ") +
                (row.kept ? "the " + std::to_string(kept) + " bytes received are in " + part
                          : std::string("nothing was received")) +
                "\n";
            EXPECT_TRUE(err.starts_with("orvante-cli: ")) << err;
            EXPECT_NE(err.find(row.why), std::string::npos) << err;
            EXPECT_TRUE(err.ends_with(told)) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
        }
    }
}

// No input makes the program abort, and output it cannot write is not taken for success.
TEST(CliProgram, EndsInOneLineAndAStatusAtItsEdges) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(159, {"--library-size", "120"});
    ASSERT_TRUE(sim.Ready());
    const std::string oddName = files.File("bad\xff.db");
    const struct {
        Args args;
        std::string redirection;
        int status;
        std::string out;  // for JSON, the object
        std::string error;
    } kRows[] = {
        // A name that is not UTF-8: as given on a terminal, U+FFFD in JSON.
        {{"export", oddName}, "", 0, "exported 120 bytes", ""},
        {{"export", oddName, "--json"},
         "",
         0,
         "\"file\":\"" + files.File("bad\xEF\xBF\xBD.db") + "\"",
         ""},
        {{"connect", "--json"},
         "> /dev/full",
         1,
         "",
         "orvante-cli: cannot write the output: No space left on device\n"},
        {{"--help"},
         "> /dev/full",
         1,
         "",
         "orvante-cli: cannot write the output: No space left on device\n"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli(Concat(row.args, {"--port", sim.Port()}), row.redirection);
        EXPECT_EQ(run.status, row.status) << Joined(row.args) << ": " << run.err;
        EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
        EXPECT_EQ(run.err, row.error) << Joined(row.args);
    }
    EXPECT_EQ(ReadFileBytes(oddName).size(), 120u);
}

// The built-in module, as a script uses it with no hardware: what one run learns or
// imports the next run finds, each demo name is a module of its own, "clean" starts one
// afresh, and a module held by another program is busy, as a real port would be.
TEST(CliProgram, TheBuiltInModuleKeepsItsStateBetweenRuns) {
    PrivateStateDir state;
    TempDir files;
    const std::vector<std::uint8_t> image = RandomBytes(700, 3);
    WriteFileBytes(files.File("in.db"), image);
    const struct {
        Args args;
        int status;
        std::string out;  // a part of standard output, or of the error
    } kRows[] = {
        {{"-p", "demo:learn-delay=0", "learn", "5"}, 0, ""},
        {{"-p", "demo", "send", "5"}, 0, "slot 5: sent"},
        {{"-p", "demo2", "send", "5"}, 1, "could not transmit slot 5"},
        {{"-p", "demo:clean", "send", "5"}, 1, "could not transmit slot 5"},
        {{"-p", "demo", "send", "5"}, 1, "could not transmit slot 5"},
        {{"-p", "demo:address=5A3C", "connect"}, 0, "5A3C"},
        {{"-p", "demo", "connect"}, 0, "5A3C"},
        {{"-p", "demo:library-size=700", "-b", "230400", "import", files.File("in.db")},
         0,
         "imported 700 bytes"},
        {{"-p", "demo", "-b", "230400", "export", files.File("out.db")}, 0, "exported 700 bytes"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli(row.args);
        EXPECT_EQ(run.status, row.status) << Joined(row.args) << ": " << run.err;
        EXPECT_NE((run.out + run.err).find(row.out), std::string::npos)
            << Joined(row.args) << ": " << run.out << run.err;
    }
    EXPECT_EQ(ReadFileBytes(files.File("out.db")), image);

    platform::SysError error;
    const auto held = platform::FileLock::TryLock(sim::KeptStatePath("demo") + ".lock", &error);
    ASSERT_TRUE(held);
    const CliRun busy = RunCli({"-p", "demo", "connect"});
    EXPECT_EQ(busy.status, 4);
    EXPECT_EQ(busy.err, "orvante-cli: cannot open demo: busy: another program holds it\n");
}

// ---- provisioning ----------------------------------------------------------------

const std::string kTasksArray = R"([{"enabled":true,"slot":5,"period":10,"delay":2,"loops":0},)"
                                R"({"enabled":false,"slot":0,"period":0,"delay":0,"loops":0},)"
                                R"({"enabled":false,"slot":0,"period":0,"delay":0,"loops":0}])";

// A profile that is wrong in any way is refused whole, naming the key, before any port
// is opened: the module sees nothing.
TEST(CliProvision, RefusesABadProfileBeforeAnyFrame) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(170, {"--verbose"});
    ASSERT_TRUE(sim.Ready());
    WriteFileBytes(files.File("lib.db"), std::vector<std::uint8_t>(100, 1));
    WriteFileBytes(files.File("big.db"), std::vector<std::uint8_t>(70000, 1));
    const struct {
        std::string profile;
        std::string error;  // a part of the one line
    } kRows[] = {
        {"{", "not valid JSON"},
        {"[]", "expected one JSON object"},
        {"{}", "gives none of"},
        {R"({"baud": 9600})", "gives none of"},
        {R"({"capacity": 0})", "\"capacity\": must be a pulse capacity from 1 to 400"},
        {R"({"capacity": "120"})", "\"capacity\""},
        {R"({"library": "missing.db"})", "\"library\": "},
        {R"({"library": "big.db"})", "larger than 65536 bytes"},
        {R"({"library": "lib.db", "colour": "red"})", "\"colour\": is not a key"},
        {R"({"capacity": 9, "parity": "X"})", "\"parity\""},
        {R"({"capacity": 9, "baud": 10})", "\"baud\""},
        {R"({"capacity": 9, "retries": -1})", "\"retries\""},
        {R"({"tasks": [1, 2]})", "\"tasks\": expected an array of exactly 3 tasks"},
        {R"({"tasks": )" + kTasksArray.substr(0, kTasksArray.find("\"period\":10")) +
             R"("period":70000,"delay":2,"loops":0},{},{}]})",
         "\"tasks\": task 1: \"period\""},
    };
    for (const auto& row : kRows) {
        std::ofstream(files.File("p.json"), std::ios::trunc) << row.profile;
        const CliRun run = RunCli({"provision", files.File("p.json"), "--port", sim.Port()});
        EXPECT_EQ(run.status, 2) << row.profile << ": " << run.err;
        EXPECT_NE(run.err.find(row.error), std::string::npos) << row.profile << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    std::ofstream(files.File("p.json"), std::ios::trunc) << R"({"capacity": 9})";
    EXPECT_EQ(RunCli({"provision", files.File("p.json")}).status, 2);  // no port
    EXPECT_EQ(sim.NextReceived(), "");
}

// Three modules at once: one never answers, one keeps a library smaller than the file
// (its verify fails), one passes; each is reported with its step, and each port's log
// is written.
TEST(CliProvision, ReportsEveryModuleWithItsStep) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim silent(171, {"--drop", "1"});
    Sim small(172, {"--library-size", "200"});
    Sim good(173, {});
    ASSERT_TRUE(silent.Ready() && small.Ready() && good.Ready());
    const std::vector<std::uint8_t> image = RandomBytes(600, 5);
    WriteFileBytes(files.File("lib.db"), image);
    std::ofstream(files.File("p.json")) << R"({"library": "lib.db", "capacity": 120, "tasks": )"
                                        << kTasksArray << R"(, "baud": 115200})";
    std::filesystem::create_directory(files.File("logs"));

    const CliRun run =
        RunCli({"provision", files.File("p.json"), "--json", "--log-dir", files.File("logs"), "-p",
                silent.Port(), "-p", small.Port(), "-p", good.Port()});
    EXPECT_EQ(run.status, 1) << run.err;
    const json report = json::parse(run.out, nullptr, false);
    ASSERT_TRUE(report.contains("modules")) << run.out;
    const struct {
        std::string port, result;
        json step;
        std::string error;  // a part of it
    } kExpected[] = {
        {silent.Port(), "failed", "connect", "no answer to the connect handshake"},
        {small.Port(), "failed", "verify", "ends at offset 200"},
        {good.Port(), "passed", nullptr, ""},
    };
    ASSERT_EQ(report["modules"].size(), std::size(kExpected));
    for (std::size_t i = 0; i < std::size(kExpected); ++i) {
        const json& module = report["modules"][i];
        EXPECT_EQ(module["port"], kExpected[i].port);
        EXPECT_EQ(module["result"], kExpected[i].result) << module;
        EXPECT_EQ(module["step"], kExpected[i].step) << module;
        if (!kExpected[i].error.empty()) {
            EXPECT_NE(module["error"].get<std::string>().find(kExpected[i].error),
                      std::string::npos)
                << module;
        }
        EXPECT_TRUE(std::filesystem::exists(files.File("logs/" + kExpected[i].port + ".log")));
    }
    EXPECT_EQ(report["modules"][2]["address"], "1234");
    EXPECT_EQ(report["modules"][2]["bytes"], 600);
    // The module that passed holds the library, the capacity and the tasks.
    EXPECT_EQ(RunCli({"-p", good.Port(), "capacity"}).out, "120\n");
    EXPECT_EQ(RunCli({"-p", good.Port(), "verify", files.File("lib.db")}).status, 0);
    EXPECT_NE(RunCli({"-p", good.Port(), "tasks"}).out.find("task 1: on, slot 5"),
              std::string::npos);

    // --all: every listed port; the silent one is named and left out of the report.
    const CliRun all = RunCli({"provision", files.File("p.json"), "--all", "--json"});
    EXPECT_EQ(all.status, 1) << all.err;
    EXPECT_NE(all.err.find("note: " + silent.Port() + " skipped: no answer"), std::string::npos)
        << all.err;
    const json allReport = json::parse(all.out, nullptr, false);
    std::vector<std::string> reported;
    for (const json& module : allReport.value("modules", json::array())) {
        reported.push_back(module["port"]);
    }
    EXPECT_EQ(reported, (std::vector<std::string>{small.Port(), good.Port()}));
}

TEST(CliProvision, NamesEachPortsLogAfterThePort) {
    const struct {
        const char* port;
        const char* log;
    } kRows[] = {
        {"COM3", "COM3.log"},
        {"/dev/ttyUSB0", "ttyUSB0.log"},
        {"/dev/pts/3", "pts-3.log"},
        {"demo:drop=5,clean", "demo-drop-5-clean.log"},
    };
    for (const auto& row : kRows) EXPECT_EQ(cli::LogFileName(row.port), row.log) << row.port;
}

// Ctrl+C stops every session: the modules in their import are "stopped" there, and every
// port is free again at once.
TEST(CliProvision, CtrlCStopsEveryModule) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim first(174, {"--baud", "9600"});
    Sim second(175, {"--baud", "9600"});
    ASSERT_TRUE(first.Ready() && second.Ready());
    WriteFileBytes(files.File("lib.db"), RandomBytes(8192, 9));
    std::ofstream(files.File("p.json")) << R"({"library": "lib.db"})";
    ChildProcess cli(ORVANTE_CLI_PROGRAM, {"provision", files.File("p.json"), "--json", "-p",
                                           first.Port(), "-p", second.Port()});
    std::this_thread::sleep_for(1s);  // both are importing: 8 KiB take 11 s at 9600
    cli.Signal(SIGINT);
    const std::string out = cli.Out().ReadAll(10s);
    EXPECT_EQ(cli.WaitForExit(10s), 130);
    const json report = json::parse(out, nullptr, false);
    ASSERT_TRUE(report.contains("modules")) << out;
    for (const json& module : report["modules"]) {
        EXPECT_EQ(module["result"], "stopped") << module;
        EXPECT_EQ(module["step"], "import") << module;
    }
    EXPECT_EQ(RunCli({"-p", first.Port(), "connect"}).status, 0);
}

TEST(CliProvision, VerifySaysWhetherTheLibraryIsTheFile) {
    PrivateRuntimeDir runtime;
    TempDir files;
    Sim sim(176, {"--library-size", "300"});
    ASSERT_TRUE(sim.Ready());
    const std::vector<std::uint8_t> image = RandomBytes(300, 11);
    WriteFileBytes(files.File("lib.db"), image);
    ASSERT_EQ(RunCli({"-p", sim.Port(), "import", files.File("lib.db")}).status, 0);
    std::vector<std::uint8_t> changed = image;
    changed[137] ^= 0xFF;
    WriteFileBytes(files.File("changed.db"), changed);
    WriteFileBytes(files.File("long.db"), RandomBytes(400, 11));
    const struct {
        std::string file;
        int status;
        std::string said;  // a part of standard output or error
    } kRows[] = {
        {"lib.db", 0, "verified 300 bytes"},
        {"changed.db", 1, "differs from the file at offset 137"},
        {"long.db", 1, "ends at offset 300, before the file's 400 bytes"},
    };
    for (const auto& row : kRows) {
        const CliRun run = RunCli({"-p", sim.Port(), "verify", files.File(row.file)});
        EXPECT_EQ(run.status, row.status) << row.file << ": " << run.err;
        EXPECT_NE((run.out + run.err).find(row.said), std::string::npos) << run.out << run.err;
    }
}

// An exception on a thread of the program's own ends it with one line and status 1,
// not with an abort.
TEST(CliProgramDeathTest, AnExceptionOnAnotherThreadEndsWithOneLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform::SetProgramName("orvante-cli");
            cli::InterruptWatcher watcher([] { throw std::runtime_error("no memory left"); });
            ::kill(::getpid(), SIGINT);
            std::this_thread::sleep_for(10s);
        },
        testing::ExitedWithCode(1),
        "^orvante-cli: internal error in the signal watcher thread: no memory left\n$");
}

}  // namespace
}  // namespace orvante::test
