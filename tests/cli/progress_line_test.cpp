// orvante-cli's progress line: what each phase of a transfer shows, and a console that
// cannot redraw a line getting one plain line a phase.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace orvante::cli {
namespace {

using namespace std::chrono_literals;

library::TransferProgress Progress(std::uint8_t op, std::size_t bytes, std::size_t total) {
    library::TransferProgress progress;
    progress.op = op;
    progress.bytes = bytes;
    progress.total = total;
    return progress;
}

TEST(ProgressLineTest, EachPhaseShowsItsLabelAndWhatIsKnown) {
    const struct {
        library::TransferProgress progress;
        ProgressPhase phase;
        std::string text;
    } kRows[] = {
        // An export's length is known only at its end.
        {Progress(protocol::kCmdExportBlock, 2048, 0),
         {"export", 0},
         "export: 2048 bytes, 1.0 KB/s"},
        {Progress(protocol::kCmdImportBlock, 1024, 4096),
         {"import", 0},
         "import: 1024/4096 bytes (25%), 0.5 KB/s, 6 s left"},
        // The read-back of a verify knows the file's size; its time is its own.
        {Progress(protocol::kCmdExportBlock, 2048, 0),
         {"verify", 4096},
         "verify: 2048/4096 bytes (50%), 1.0 KB/s, 2 s left"},
        {Progress(protocol::kCmdImportBlock, 0, 4096),
         {"import", 0},
         "import: 0/4096 bytes (0%), 0.0 KB/s"},
    };
    for (const auto& row : kRows) {
        EXPECT_EQ(ProgressText(row.progress, row.phase, 2s), row.text);
    }
}

// Redrawn with a carriage return and spaces over a longer text before, and cleared so:
// no escape sequence, which a Windows console without them would print as text.
TEST(ProgressLineTest, TheLineIsRedrawnAndClearedWithoutEscapes) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ProgressLine line(stream, true);
    line.Begin({"export", 0});
    library::TransferProgress progress = Progress(protocol::kCmdExportBlock, 12345, 0);
    line.Show(progress);
    progress.bytes = 0;
    progress.outcome = library::TransferOutcome::kSucceeded;  // shown at once, as the last
    line.Show(progress);
    line.Clear();
    std::rewind(stream);
    char buffer[256] = {};
    const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, stream);
    std::fclose(stream);
    const std::string written(buffer, length);
    const std::size_t first = written.find('\r', 1), second = written.find('\r', first + 1);
    ASSERT_NE(second, std::string::npos) << written;
    const std::string longer = written.substr(1, first - 1),
                      shorter = written.substr(first + 1, second - first - 1);
    EXPECT_TRUE(longer.starts_with("export: 12345 bytes")) << written;
    EXPECT_TRUE(shorter.starts_with("export: 0 bytes")) << written;
    EXPECT_EQ(shorter.size(), longer.size()) << "the shorter text covers the longer one";
    // Cleared over the last text; past it are the spaces written with it.
    const std::size_t shorterText = shorter.find_last_not_of(' ') + 1;
    EXPECT_EQ(written.substr(second), "\r" + std::string(shorterText, ' ') + "\r");
    EXPECT_EQ(written.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace orvante::cli
