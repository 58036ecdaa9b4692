// orvante-cli's commands run in this process against the virtual module, on a clock the
// test moves: the ends that come from silence (no answer, a block never answered, a
// block resent) without waiting out a single time-out.
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "tests/support/manual_clock.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
#include "tests/support/temp_dir.h"

namespace orvante::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

std::string Contents(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    return text;
}

// The module's state: while it changes, an answer may still be on its way.
std::uint64_t Activity(test::SimLine& module) {
    std::uint64_t activity = 0;
    module.WithModule([&](sim::VirtualModule& m) {
        activity = m.Counters().framesReceived + m.Counters().framesAnswered;
    });
    return activity;
}

// Runs `args` as orvante-cli would, with time standing still: whenever the command waits
// and the module has stayed quiet a while (nothing on its way), that wait times out.
CliRun RunCli(const Args& args, test::SimLine& module) {
    std::vector<const char*> argv = {"orvante-cli"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const ParsedCommandLine parsed =
        ParseCliCommandLine(static_cast<int>(argv.size()), argv.data());
    if (!parsed.options) return {parsed.exitCode, parsed.output, parsed.error};

    test::ManualClock clock;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), &std::fclose);
    auto status = std::async(std::launch::async, [&] {
        return RunCliCommand(*parsed.options, CliStreams{out.get(), err.get(), false}, clock);
    });
    std::uint64_t seen = Activity(module);
    auto quietSince = std::chrono::steady_clock::now();
    while (status.wait_for(2ms) != std::future_status::ready) {
        const std::uint64_t now = Activity(module);
        if (now != seen || !clock.IsWaiting()) {
            seen = now;
            quietSince = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - quietSince > 100ms) {
            clock.ExpireWait();
        }
    }
    const int code = status.get();
    return {code, Contents(out.get()), Contents(err.get())};
}

class CliInProcess : public ::testing::Test {
protected:
    CliInProcess() : module_(Options()) {}
    static test::SimLineOptions Options() {
        test::SimLineOptions options;
        options.module.librarySize = 4096;
        return options;
    }
    Args WithPort(Args args) {
        args.insert(args.end(), {"--port", "COM" + std::to_string(module_.PortNumber())});
        return args;
    }
    void SetFaults(const sim::Faults& faults) {
        module_.WithModule([&](sim::VirtualModule& m) { m.SetFaults(faults); });
    }

    test::PrivateRuntimeDir runtime_;
    test::TempDir files_;
    test::SimLine module_;
};

// What silence means to each command: no answer in time (status 3, one line), or, for
// an air-conditioner code, which the module answers only when it failed, success.
TEST_F(CliInProcess, SilenceMeansWhatTheFunctionSays) {
    const std::string kHandshake = "no answer to the connect handshake on COM";
    const struct {
        sim::Faults faults;
        Args args;
        int status;
        std::string out;
        std::string error;  // a part of the one line; empty: none
    } kRows[] = {
        {{.dropEvery = 1}, {"connect"}, 3, "", kHandshake},
        {{.corruptChecksum = true}, {"ping"}, 3, "", kHandshake},
        // The module ignores frames addressed to another one.
        {{}, {"ping", "BEEF"}, 3, "BEEF: no answer\n", "to the test connection to BEEF within 3 s"},
        {{}, {"learn", "5", "--timeout", "7"}, 3, "", "to learning into slot 5 within 7 s"},
        {{}, {"ac", "258"}, 0, "brand 258: sent\n", ""},
        {{},
         {"ac", "258", "--power", "on", "--mode", "cool", "--temp", "24", "--fan", "3", "--swing",
          "off", "--json"},
         0,
         "{\"brand\":258,\"sent\":true}\n",
         ""},
    };
    module_.WithModule([](sim::VirtualModule& m) {
        m.SetLearnDelay(std::chrono::duration_cast<std::chrono::milliseconds>(1h));
    });
    for (const auto& row : kRows) {
        SetFaults(row.faults);
        const CliRun run = RunCli(WithPort(row.args), module_);
        EXPECT_EQ(run.status, row.status) << row.args[0] << ": " << run.err;
        EXPECT_EQ(run.out, row.out) << row.args[0];
        EXPECT_NE(run.err.find(row.error), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), row.error.empty() ? 0 : 1)
            << run.err;
    }
}

// Replies lost on the line are asked for again after the block's silence; a block never
// answered ends the export with the file left as it was.
TEST_F(CliInProcess, BlocksAreResentAndAnExportThatFallsSilentLeavesItsFile) {
    const Bytes image = test::RandomBytes(4096, 7), old(300, 0x11);
    test::WriteFileBytes(files_.File("new.db"), image);
    test::WriteFileBytes(files_.File("old.db"), old);
    const struct {
        sim::Faults faults;
        Args args;
        int status;
        std::string out;  // JSON without "seconds", or how the plain summary ends
    } kRows[] = {
        // Replies 40, 80, 120 and 160 are lost: two blocks of the import, two of its
        // read-back (82 blocks each, after the handshake's reply).
        {{.dropEvery = 40},
         {"import", files_.File("new.db"), "--verify", "--json"},
         0,
         R"({"bytes":4096,"resent":4,"stray":0,"verified":true,"file":")" + files_.File("new.db") +
             "\"}"},
        // Every 20th reply is lost: of the 87 the module makes (the handshake's, 82 blocks,
        // 4 resends), 4.
        {{.dropEvery = 20},
         {"export", files_.File("a.db"), "--retries", "1", "--json"},
         0,
         R"({"bytes":4096,"resent":4,"stray":0,"file":")" + files_.File("a.db") + "\"}"},
        // The same in words, to a module named by --target: library frames go to FFFF.
        {{.dropEvery = 20},
         {"export", files_.File("a.db"), "--retries", "1", "--target", "5678"},
         0,
         "to " + files_.File("a.db") + "; 4 blocks resent\n"},
        // Every reply after the handshake's is lost, and no block goes twice.
        {{.dropEvery = 2}, {"export", files_.File("old.db"), "--retries", "0"}, 3, ""},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        SetFaults(row.faults);
        const CliRun run = RunCli(WithPort(row.args), module_);
        ASSERT_EQ(run.status, row.status) << run.err;
        if (row.status != 0) {
            EXPECT_TRUE(run.err.ends_with(row.args[1] + " is unchanged; nothing was received\n"))
                << run.err;
            continue;
        }
        if (!row.out.starts_with('{')) {
            EXPECT_TRUE(run.out.ends_with(row.out)) << run.out;
            EXPECT_EQ(
                run.err,
                "orvante-cli: note: library frames always go to FFFF; --target is not used\n");
            continue;
        }
        nlohmann::json result = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_TRUE(result.is_object()) << run.out;
        result.erase("seconds");
        result.erase("verify_seconds");
        EXPECT_EQ(result, nlohmann::json::parse(row.out));
    }
    EXPECT_EQ(test::ReadFileBytes(files_.File("a.db")), image);
    EXPECT_EQ(test::ReadFileBytes(files_.File("old.db")), old);
    EXPECT_FALSE(fs::exists(files_.File("old.db.part"))) << "nothing came: no part kept";
}

}  // namespace
}  // namespace orvante::cli
