// The export file: the chosen file is replaced only by a complete library, whatever
// stood at its name, and every other end leaves it exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "library/library_file.h"
#include "tests/support/temp_dir.h"

namespace orvante::library {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::WriteFileBytes;

unsigned ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

enum class End { kComplete, kOneBlockThenFailed, kNothingThenFailed };

TEST(ExportFile, TheChosenFileIsEitherAsItWasOrTheWholeLibrary) {
    const Bytes old(70, 0x11), library = test::RandomBytes(120, 4), junk(9, 0x99);
    // What stands at the chosen name "x.db" before the export; `file` is the file that
    // an export replaces (a link's target), `part` where the blocks go.
    struct Row {
        const char* name;
        std::function<void(const test::TempDir&)> setUp;
        std::string file;
        std::string part;
        std::optional<unsigned> keptMode;  // the replaced file's bits, kept
    };
    const Row kRows[] = {
        {"nothing", [](const test::TempDir&) {}, "x.db", "x.db.part", std::nullopt},
        {"a file of the operator's",
         [&](const test::TempDir& dir) {
             WriteFileBytes(dir.File("x.db"), old);
             fs::permissions(dir.File("x.db"), fs::perms(0640));
         },
         "x.db", "x.db.part", 0640},
        {"a link to a file",
         [&](const test::TempDir& dir) {
             fs::create_directory(dir.File("real"));
             WriteFileBytes(dir.File("real/lib.db"), old);
             fs::permissions(dir.File("real/lib.db"), fs::perms(0604));
             fs::create_symlink("real/lib.db", dir.File("x.db"));
         },
         "real/lib.db", "real/lib.db.part", 0604},
        {"a link to a file not made yet",
         [](const test::TempDir& dir) { fs::create_symlink("new.db", dir.File("x.db")); }, "new.db",
         "new.db.part", std::nullopt},
        {"a stale part file",
         [&](const test::TempDir& dir) { WriteFileBytes(dir.File("x.db.part"), junk); }, "x.db",
         "x.db.part", std::nullopt},
        {"a part name that links elsewhere",
         [&](const test::TempDir& dir) {
             WriteFileBytes(dir.File("victim"), junk);
             fs::create_symlink("victim", dir.File("x.db.part"));
         },
         "x.db", "x.db.part", std::nullopt},
    };
    for (const Row& row : kRows) {
        for (const End end : {End::kComplete, End::kOneBlockThenFailed, End::kNothingThenFailed}) {
            SCOPED_TRACE(std::string(row.name) + ", end " + std::to_string(static_cast<int>(end)));
            test::TempDir dir;
            row.setUp(dir);
            const std::string file = dir.File(row.file), part = dir.File(row.part);
            const bool existed = fs::exists(file);
            const Bytes before = ReadFileBytes(file);
            {
                ExportFile exported;
                FileError error;
                ASSERT_TRUE(exported.Create(dir.File("x.db"), &error)) << error.reason;
                EXPECT_EQ(exported.PartPath(), part);
                EXPECT_EQ(ExportFile::PartPathOf(dir.File("x.db")), part);
                if (end == End::kComplete) {
                    ASSERT_TRUE(exported.WriteBlock(50, std::span(library).subspan(50), &error));
                    ASSERT_TRUE(exported.WriteBlock(0, std::span(library).first(50), &error));
                    ASSERT_TRUE(exported.Commit(&error)) << error.reason;
                } else if (end == End::kOneBlockThenFailed) {
                    ASSERT_TRUE(exported.WriteBlock(0, std::span(library).first(50), &error));
                    EXPECT_EQ(exported.Abandon(), 50u);
                }
                // Nothing then failed: the part file goes with the object.
            }
            switch (end) {
                case End::kComplete:
                    EXPECT_EQ(ReadFileBytes(file), library);
                    if (row.keptMode) {
                        EXPECT_EQ(ModeOf(file), *row.keptMode);
                    }
                    EXPECT_FALSE(fs::exists(fs::symlink_status(part)));
                    break;
                case End::kOneBlockThenFailed:
                    EXPECT_EQ(fs::exists(file), existed);
                    EXPECT_EQ(ReadFileBytes(file), before);
                    EXPECT_EQ(ReadFileBytes(part), Bytes(library.begin(), library.begin() + 50));
                    break;
                case End::kNothingThenFailed:
                    EXPECT_EQ(fs::exists(file), existed);
                    EXPECT_EQ(ReadFileBytes(file), before);
                    EXPECT_FALSE(fs::exists(fs::symlink_status(part)));
                    break;
            }
            // The name stays what it was: a link is still a link.
            EXPECT_EQ(fs::is_symlink(dir.File("x.db")), row.file != "x.db");
            if (fs::exists(dir.File("victim"))) {
                EXPECT_EQ(ReadFileBytes(dir.File("victim")), junk);
            }
        }
    }
}

// What cannot become an export file is told before anything is made, and a file that
// cannot be replaced at the end leaves the whole library in the part file.
TEST(ExportFile, TellsWhatCannotTakeAnExport) {
    test::TempDir dir;
    fs::create_directory(dir.File("folder"));
    fs::create_directory(dir.File("busy.db.part"));
    WriteFileBytes(dir.File("busy.db.part/inside"), Bytes(3));
    const struct {
        std::string path;
        FileProblem checked;  // by CheckTarget
        FileProblem created;  // by Create
    } kRows[] = {
        {dir.File("folder"), FileProblem::kIsFolder, FileProblem::kIsFolder},
        {dir.File("no-folder/x.db"), FileProblem::kCannotWrite, FileProblem::kCannotWrite},
        {"/dev/null", FileProblem::kNotRegular, FileProblem::kNotRegular},
        {dir.File("busy.db"), FileProblem::kNone, FileProblem::kCannotWrite},
        {dir.File("fine.db"), FileProblem::kNone, FileProblem::kNone},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.path);
        FileError checked, created;
        EXPECT_EQ(ExportFile::CheckTarget(row.path, &checked), row.checked == FileProblem::kNone);
        EXPECT_EQ(checked.problem, row.checked);
        ExportFile file;
        EXPECT_EQ(file.Create(row.path, &created), row.created == FileProblem::kNone);
        EXPECT_EQ(created.problem, row.created);
    }
    EXPECT_TRUE(fs::exists(dir.File("busy.db.part/inside"))) << "a folder is not ours to remove";

    // The chosen name turns into a folder before the end: the library stays in the part.
    const Bytes library(30, 0x42);
    ExportFile file;
    FileError error;
    ASSERT_TRUE(file.Create(dir.File("late.db"), &error));
    ASSERT_TRUE(file.WriteBlock(0, library, &error));
    fs::create_directory(dir.File("late.db"));
    WriteFileBytes(dir.File("late.db/inside"), Bytes(3));
    EXPECT_FALSE(file.Commit(&error));
    EXPECT_EQ(error.problem, FileProblem::kCannotReplace);
    EXPECT_EQ(file.Abandon(), library.size());
    EXPECT_EQ(ReadFileBytes(dir.File("late.db.part")), library);
}

}  // namespace
}  // namespace orvante::library
