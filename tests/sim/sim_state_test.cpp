// The code library image, the state file of the timed tasks and the program's options.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/code_library.h"
#include "sim/program_options.h"
#include "sim/task_state_file.h"
#include "tests/sim/line_io.h"

namespace orvante::sim {
namespace {

namespace fs = std::filesystem;

TEST(CodeLibrary, FitsFewerSlotsTheLargerTheCapacity) {
    const struct {
        std::size_t size;
        std::uint16_t capacity;
        int slots;
    } kCases[] = {
        {8192, 100, 40}, {8192, 400, 10}, {8192, 1, 101},   {0, 1, 0},
        {23, 10, 0},     {24, 10, 1},     {65536, 400, 81},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(CodeLibrary(c.size, c.capacity).SlotCount(), c.slots)
            << c.size << " bytes, capacity " << c.capacity;
    }
    EXPECT_THROW(CodeLibrary(kMaxLibrarySize + 1, 10), std::invalid_argument);
    EXPECT_THROW(CodeLibrary(100, 0), std::invalid_argument);
    EXPECT_THROW(CodeLibrary(100, kMaxPulseCapacity + 1), std::invalid_argument);
}

TEST(CodeLibrary, StoresCodesThatFitAndReadsThemBack) {
    CodeLibrary library(100, 3);  // records of 10 bytes
    const std::vector<std::uint16_t> code = {9000, 4500, 560};
    EXPECT_TRUE(library.WriteCode(9, code));
    EXPECT_EQ(library.ReadCode(9), code);
    EXPECT_FALSE(library.WriteCode(10, code));  // no such slot
    EXPECT_FALSE(library.WriteCode(-1, code));
    EXPECT_FALSE(library.WriteCode(0, {}));
    EXPECT_FALSE(library.WriteCode(0, std::vector<std::uint16_t>{1, 2, 3, 4}));
    EXPECT_FALSE(library.ReadCode(0).has_value());
    EXPECT_FALSE(library.ReadCode(10).has_value());

    EXPECT_FALSE(library.SetCapacity(0));
    EXPECT_EQ(library.ReadCode(9), code);
    EXPECT_TRUE(library.SetCapacity(3));
    EXPECT_FALSE(library.ReadCode(9).has_value());
}

// ---- state file ----

TaskBytes SomeTasks() {
    TaskBytes tasks{};
    for (std::size_t i = 0; i < tasks.size(); ++i) tasks[i] = static_cast<std::uint8_t>(i * 37);
    return tasks;
}

TEST(TaskStateFile, RoundTripsEveryByte) {
    std::string error;
    const auto parsed = ParseTaskState(FormatTaskState(SomeTasks()), &error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_EQ(*parsed, SomeTasks());
    EXPECT_EQ(FormatTaskState(TaskBytes{}),
              "orvante-sim timed-tasks 1\ntask 1 0 0 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n");
}

TEST(TaskStateFile, RefusesAnythingElse) {
    const std::string good = FormatTaskState(TaskBytes{});
    const char* kBad[] = {
        "",
        "orvante-sim timed-tasks 2\ntask 1 0 0 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 0 0 0 0\ntask 2 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 0 0 0 0\ntask 3 0 0 0 0 0\ntask 2 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 256 0 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 65536 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 -1 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 0x1 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "orvante-sim timed-tasks 1\ntask 1 0 0 0 0 0 0\ntask 2 0 0 0 0 0\ntask 3 0 0 0 0 0\n",
        "\x7F"
        "ELF\x02\x01\x01",
    };
    for (const char* text : kBad) {
        std::string error;
        EXPECT_FALSE(ParseTaskState(text, &error).has_value()) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    EXPECT_TRUE(ParseTaskState(good + "\n\n", &error).has_value());
    std::string crlf = good;
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
        crlf.insert(at, "\r");
    }
    EXPECT_TRUE(ParseTaskState(crlf, &error).has_value()) << error;
}

TEST(TaskStateFile, SavesAndLoadsAFileAndTellsMissingFromRefused) {
    test::TemporaryDirectory dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir.Path() + "/tasks";
    TaskBytes tasks{};
    std::string error;
    EXPECT_EQ(LoadTaskStateFile(path, &tasks, &error), LoadResult::kMissing);

    ASSERT_TRUE(SaveTaskStateFile(path, SomeTasks(), &error)) << error;
    EXPECT_EQ(LoadTaskStateFile(path, &tasks, &error), LoadResult::kLoaded);
    EXPECT_EQ(tasks, SomeTasks());
    EXPECT_FALSE(fs::exists(path + ".new"));

    std::ofstream(path) << std::string(5000, 'x');
    EXPECT_EQ(LoadTaskStateFile(path, &tasks, &error), LoadResult::kRefused);
    EXPECT_EQ(tasks, SomeTasks());  // untouched
    EXPECT_EQ(LoadTaskStateFile(dir.Path(), &tasks, &error), LoadResult::kRefused);
    EXPECT_FALSE(SaveTaskStateFile(dir.Path() + "/no/such/dir/tasks", tasks, &error));
}

// ---- options ----

TEST(ProgramOptions, ReadsEveryOption) {
    ProgramOptions options;
    std::string error;
    ASSERT_TRUE(ParseProgramOptions({"--port",
                                     "120",
                                     "--address=beef",
                                     "--learn-delay",
                                     "0",
                                     "--library-size",
                                     "65536",
                                     "--pulse-capacity",
                                     "400",
                                     "--state-file",
                                     "/x/y",
                                     "--baud",
                                     "9600",
                                     "--drop",
                                     "3",
                                     "--corrupt",
                                     "--delay",
                                     "250",
                                     "--split=4",
                                     "--gap",
                                     "7",
                                     "--garbage",
                                     "--seed",
                                     "42",
                                     "--repeat",
                                     "--stale-export",
                                     "--verbose"},
                                    &options, &error))
        << error;
    EXPECT_EQ(options.port, 120);
    EXPECT_EQ(options.module.address, 0xBEEF);
    EXPECT_EQ(options.module.learnDelay.count(), 0);
    EXPECT_EQ(options.module.librarySize, 65536u);
    EXPECT_EQ(options.module.pulseCapacity, 400);
    EXPECT_EQ(options.stateFile, "/x/y");
    EXPECT_EQ(options.faults.baud, 9600);
    EXPECT_EQ(options.faults.dropEvery, 3);
    EXPECT_TRUE(options.faults.corruptChecksum);
    EXPECT_EQ(options.faults.delay.count(), 250);
    EXPECT_EQ(options.faults.splitSize, 4u);
    EXPECT_EQ(options.faults.splitGap.count(), 7);
    EXPECT_TRUE(options.faults.garbage);
    EXPECT_EQ(options.faults.garbageSeed, 42u);
    EXPECT_EQ(options.faults.repeat, 1);
    EXPECT_TRUE(options.faults.staleExport);
    EXPECT_TRUE(options.verbose);
    EXPECT_FALSE(options.help);

    ProgramOptions repeatThree;
    EXPECT_TRUE(ParseProgramOptions({"--repeat=3"}, &repeatThree, &error));
    EXPECT_EQ(repeatThree.faults.repeat, 3);
}

TEST(ProgramOptions, RefusesBadCommandLinesWithAMessage) {
    const std::vector<std::vector<std::string>> kBad = {
        {"--port"},
        {"--port", "0"},
        {"--port", "256"},
        {"--port", "9x"},
        {"--address", "0"},
        {"--address", "FFFF"},
        {"--address", "12345"},
        {"--address", "xyz"},
        {"--library-size", "65537"},
        {"--pulse-capacity", "0"},
        {"--baud", "0"},
        {"--drop", "0"},
        {"--split", "0"},
        {"--gap", "5"},
        {"--repeat=0"},
        {"--repeat="},
        {"--corrupt=1"},
        {"--state-file="},
        {"--learn-delay", "-1"},
        {"--unknown"},
        {"COM99"},
    };
    for (const auto& args : kBad) {
        ProgramOptions options;
        std::string error;
        EXPECT_FALSE(ParseProgramOptions(args, &options, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

}  // namespace
}  // namespace orvante::sim
