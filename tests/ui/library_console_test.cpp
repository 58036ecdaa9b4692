// Library export and import as the operator meets them in the window: the buttons, the
// file dialogs, the boxes, the progress in field 1013 and the log; against the virtual
// module, and against a line the test plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "protocol/commands.h"
#include "serial/port_list.h"
#include "tests/support/console_fixture.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr std::uint16_t kModule = sim::kDefaultAddress;
const std::string kFirstExportRequest = "发送7E 08 00 34 12 FF FF 31 00 00 32 2D ";

// ---- against the virtual module --------------------------------------------------

// The console connected to the virtual module, whose library holds `size` bytes.
struct ModuleConsole {
    explicit ModuleConsole(std::size_t size) : line(Options(size)) {
        window.LoadMainTemplate();
        dialog.OnInitDialog();
        for (int i = 0; i < window.GetCount(IDC_PORT); ++i) {
            if (serial::PortNumberFromName(window.GetItemText(IDC_PORT, i)) == line.PortNumber())
                window.SelectItem(IDC_PORT, i);
        }
        window.Click(IDC_CONNECT);
        connected = window.PumpUntil([&] { return dialog.LocalAddress() == kModule; });
    }
    static test::SimLineOptions Options(std::size_t size) {
        test::SimLineOptions options;
        options.module.librarySize = size;
        return options;
    }
    ConsoleEnvironment Environment() {
        ConsoleEnvironment environment;
        environment.transferClock = &clock;
        return environment;
    }
    void Start(int button, const std::string& path) {
        window.AnswerNextFileDialog(path);
        window.Click(button);
        disabledWhileRunning = !window.IsControlEnabled(IDC_IMPORT_LIBRARY) &&
                               !window.IsControlEnabled(IDC_EXPORT_LIBRARY);
    }
    bool WaitForTheEnd() {
        return window.PumpUntil([&] { return !dialog.IsLibraryTransferActive(); }, 60s);
    }
    Bytes Library() {
        Bytes image;
        line.WithModule(
            [&](sim::VirtualModule& m) { image.assign(m.Library().begin(), m.Library().end()); });
        return image;
    }

    test::PrivateRuntimeDir runtimeDir;
    test::SimLine line;
    test::FakeWindow window;
    test::ManualClock clock;
    CConsoleDlg dialog{window, Environment()};
    bool connected = false;
    bool disabledWhileRunning = false;
};

TEST(LibraryConsole, AnImportedFileComesBackWhole) {
    test::TempDir dir;
    unsigned seed = 1;
    for (std::size_t size : {std::size_t{1}, std::size_t{120}, library::kMaxLibrarySize}) {
        SCOPED_TRACE(size);
        ModuleConsole console(size);
        ASSERT_TRUE(console.connected);
        const Bytes image = RandomBytes(size, seed++);
        const std::string in = dir.File("in.db"), out = dir.File("out.db");
        WriteFileBytes(in, image);
        WriteFileBytes(out, Bytes(70000, 0x55));  // an export replaces what was there

        console.Start(IDC_IMPORT_LIBRARY, in);
        EXPECT_TRUE(console.disabledWhileRunning);
        ASSERT_TRUE(console.WaitForTheEnd());
        EXPECT_EQ(console.Library(), image);
        EXPECT_EQ(console.window.GetText(IDC_STATUS_TRANSFER),
                  "导入完成 " + std::to_string(size) + " 字节");

        console.Start(IDC_EXPORT_LIBRARY, out);
        EXPECT_TRUE(console.disabledWhileRunning);
        ASSERT_TRUE(console.WaitForTheEnd());
        EXPECT_EQ(ReadFileBytes(out), image);
        EXPECT_EQ(console.window.GetText(IDC_STATUS_TRANSFER),
                  "导出完成 " + std::to_string(size) + " 字节");
        EXPECT_TRUE(console.window.IsControlEnabled(IDC_IMPORT_LIBRARY));
        EXPECT_TRUE(console.window.IsControlEnabled(IDC_EXPORT_LIBRARY));

        // The import's box has no owner and its own caption; the export's is the window's.
        const auto boxes = console.window.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text, "导入成功！");
        EXPECT_EQ(boxes[0].caption, "成功");
        EXPECT_FALSE(boxes[0].owned || boxes[0].onWindowThread);
        EXPECT_EQ(boxes[1].text, "导出成功！");
        EXPECT_TRUE(boxes[1].owned);

        // The first dialog opens at home, the next one in the folder of the file chosen.
        const auto& dialogs = console.window.FileDialogs();
        ASSERT_EQ(dialogs.size(), 2u);
        EXPECT_FALSE(dialogs[0].save);
        EXPECT_TRUE(dialogs[1].save);
        EXPECT_EQ(dialogs[0].options.initialDir, std::getenv("HOME"));
        EXPECT_EQ(dialogs[1].options.initialDir + "/in.db", in);
        EXPECT_EQ(dialogs[1].options.filter, "红外数据(*.db)|*.db|所有文件(*.*)|*.*||");
        EXPECT_EQ(dialogs[0].options.defaultSuffix, "");
        EXPECT_EQ(dialogs[1].options.defaultSuffix, "db");
    }
}

TEST(LibraryConsole, AReplyLostOnTheLineIsAskedForOnceMore) {
    test::TempDir dir;
    ModuleConsole console(120);
    ASSERT_TRUE(console.connected);
    console.line.WithModule([](sim::VirtualModule& m) { m.SetFaults({.dropNext = 1}); });
    console.Start(IDC_EXPORT_LIBRARY, dir.File("out.db"));
    ASSERT_TRUE(console.window.PumpUntil([&] {
        std::uint64_t dropped = 0;
        console.line.WithModule(
            [&](sim::VirtualModule& m) { dropped = m.Counters().repliesDropped; });
        return dropped == 1 && console.clock.IsWaiting();
    }));
    console.clock.ExpireWait();
    ASSERT_TRUE(console.WaitForTheEnd());
    EXPECT_EQ(ReadFileBytes(dir.File("out.db")), console.Library());
    const auto log = test::LogLinesOf(console.window);
    const auto first = std::find(log.begin(), log.end(), kFirstExportRequest);
    ASSERT_LT(first + 1, log.end());
    EXPECT_EQ(first[1], kFirstExportRequest);
}

// ---- against a line the test plays -----------------------------------------------

class LibraryLine : public test::ConsoleFixture {
protected:
    LibraryLine() { ConnectTo(kModule); }

    void Choose(int button, const std::string& path) {
        window_.AnswerNextFileDialog(path);
        window_.Click(button);
    }
    void AnswerExport(std::size_t offset, const Bytes& block) {
        Bytes payload{static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                      static_cast<std::uint8_t>(block.size())};
        payload.insert(payload.end(), block.begin(), block.end());
        pty_.Write(test::Reply(kModule, kModule, protocol::kCmdExportBlockReply, payload));
    }
    void AcknowledgeImport() {
        pty_.Write(test::Reply(kModule, kModule, protocol::kCmdImportBlockReply));
    }
    // The worker has sent its request and waits for the reply.
    bool Waiting() {
        return PumpUntil([&] { return transferClock_.IsWaiting(); });
    }
    void LetTheWaitTimeOut() {
        ASSERT_TRUE(Waiting());
        transferClock_.ExpireWait();
    }
    bool Ended() {
        return PumpUntil([&] { return !Dialog().IsLibraryTransferActive(); });
    }
    bool StatusShows(const std::string& text) {
        return PumpUntil([&] { return window_.GetText(IDC_STATUS_TRANSFER) == text; });
    }
    // Starts an export whose first block (50 bytes of 0xAB) arrives; the worker then
    // waits for the second.
    void ExportOneBlock(const std::string& path) {
        Choose(IDC_EXPORT_LIBRARY, path);
        ReadFromConsole(12);
        AnswerExport(0, Bytes(50, 0xAB));
        ReadFromConsole(12);
        ASSERT_TRUE(Waiting());
    }

    test::TempDir dir_;
};

TEST_F(LibraryLine, AnExportReplyAfterItsExportHasEndedChangesNoFile) {
    const std::string exported = dir_.File("e.db"), imported = dir_.File("i.db");
    const Bytes source = RandomBytes(100, 3);
    WriteFileBytes(imported, source);
    Choose(IDC_EXPORT_LIBRARY, exported);
    ReadFromConsole(12);
    LetTheWaitTimeOut();
    ReadFromConsole(12);
    LetTheWaitTimeOut();
    ASSERT_TRUE(Ended());
    EXPECT_EQ(BoxesWithText("导出文件超时！"), 1u);

    Choose(IDC_IMPORT_LIBRARY, imported);
    EXPECT_EQ(ReadFromConsole(62).size(), 62u);
    AnswerExport(0, Bytes(50, 0xEE));  // the module answers the export at last
    AcknowledgeImport();
    EXPECT_EQ(ReadFromConsole(62).size(), 62u);
    EXPECT_TRUE(StatusShows("导入 50/100"));
    AcknowledgeImport();
    EXPECT_EQ(ReadFromConsole(12).size(), 12u);
    AcknowledgeImport();
    ASSERT_TRUE(Ended());
    EXPECT_EQ(BoxesWithText("导入成功！"), 1u);
    EXPECT_EQ(ReadFileBytes(imported), source);
    EXPECT_EQ(ReadFileBytes(exported), Bytes{});
}

// Every way an export can end, with and without a file at the chosen name: the file is
// either the module's whole library or exactly as it was (absent if it was absent);
// what came stays in the part file. What the operator is told: the box, the outcome in
// field 1013 and, where bytes were kept, the log's line that says where.
enum class ExportEnd {
    kComplete,
    kDoubleTimeOut,
    kDeviceLoss,
    kDisconnect,
    kPortChange,
    kWindowClosed,
    kPartCannotBeMade,
    kNoLine,
};
enum class PartAfter { kAbsent, kFirstBlock, kOperatorsFolder };

class ExportEnding : public LibraryLine,
                     public testing::WithParamInterface<std::tuple<ExportEnd, bool>> {};

TEST_P(ExportEnding, LeavesTheChosenFileWholeOrAsItWas) {
    const auto [end, existed] = GetParam();
    const Bytes old(70, 0x11), library = [] {
        Bytes bytes(50, 0xAB);
        bytes.insert(bytes.end(), 5, 0xCD);
        return bytes;
    }();
    const struct {
        ExportEnd end;
        std::string box;  // its text, or its caption; empty: none
        std::string status;
        PartAfter part;
    } kRows[] = {
        {ExportEnd::kComplete, "导出成功！", "导出完成 55 字节", PartAfter::kAbsent},
        {ExportEnd::kDoubleTimeOut, "导出文件超时！", "导出超时 50 字节", PartAfter::kFirstBlock},
        {ExportEnd::kDeviceLoss, serial::kPortErrorCaption, "导出中止 50 字节",
         PartAfter::kFirstBlock},
        {ExportEnd::kDisconnect, "", "导出中止 50 字节", PartAfter::kFirstBlock},
        {ExportEnd::kPortChange, "", "导出中止 50 字节", PartAfter::kFirstBlock},
        {ExportEnd::kWindowClosed, "确定退出软件？", "", PartAfter::kFirstBlock},
        {ExportEnd::kPartCannotBeMade, "无法写入文件“" + dir_.File("x.db.part") + "”：File exists",
         "导出失败 0 字节", PartAfter::kOperatorsFolder},
        {ExportEnd::kNoLine, "请先打开串口!\n", "", PartAfter::kAbsent},
    };
    const auto& row = *std::find_if(std::begin(kRows), std::end(kRows),
                                    [&](const auto& r) { return r.end == end; });
    const std::string path = dir_.File("x.db"), part = dir_.File("x.db.part");
    if (existed) WriteFileBytes(path, old);
    window_.ClearBoxes();

    switch (end) {
        case ExportEnd::kComplete:
            ExportOneBlock(path);
            AnswerExport(50, Bytes(5, 0xCD));
            break;
        case ExportEnd::kDoubleTimeOut:
            ExportOneBlock(path);
            LetTheWaitTimeOut();
            ReadFromConsole(12);
            LetTheWaitTimeOut();
            break;
        case ExportEnd::kDeviceLoss:
            ExportOneBlock(path);
            pty_.CloseMaster();
            break;
        case ExportEnd::kDisconnect:
            ExportOneBlock(path);
            window_.Click(IDC_CONNECT);
            break;
        case ExportEnd::kPortChange:
            ExportOneBlock(path);
            window_.SelectItem(IDC_PORT, 1);
            break;
        case ExportEnd::kWindowClosed:
            ExportOneBlock(path);
            Dialog().OnCancel();
            ASSERT_EQ(window_.EndResult().value_or(0), IDCANCEL);
            dialog_.reset();
            break;
        case ExportEnd::kPartCannotBeMade:
            std::filesystem::create_directory(part);
            WriteFileBytes(part + "/keep", Bytes(3));
            Choose(IDC_EXPORT_LIBRARY, path);
            break;
        case ExportEnd::kNoLine: {
            window_.Click(IDC_CONNECT);
            const std::size_t dialogs = window_.FileDialogs().size();
            window_.Click(IDC_EXPORT_LIBRARY);
            EXPECT_EQ(window_.FileDialogs().size(), dialogs) << "no file is chosen without a line";
            break;
        }
    }

    if (dialog_) {
        ASSERT_TRUE(Ended());
        EXPECT_TRUE(StatusShows(row.status));
        EXPECT_TRUE(window_.IsControlEnabled(IDC_EXPORT_LIBRARY));
        Settle();
    }
    const auto boxes = window_.Boxes();
    ASSERT_EQ(boxes.size(), row.box.empty() ? 0u : 1u);
    if (!row.box.empty()) {
        EXPECT_TRUE(boxes[0].caption == row.box || boxes[0].text == row.box) << boxes[0].text;
    }
    if (end == ExportEnd::kComplete) {
        EXPECT_EQ(ReadFileBytes(path), library);
    } else {
        EXPECT_EQ(std::filesystem::exists(path), existed);
        EXPECT_EQ(ReadFileBytes(path), existed ? old : Bytes{});
    }
    switch (row.part) {
        case PartAfter::kAbsent:
            EXPECT_FALSE(std::filesystem::exists(part));
            break;
        case PartAfter::kFirstBlock:
            EXPECT_EQ(ReadFileBytes(part), Bytes(50, 0xAB));
            if (dialog_) {
                EXPECT_TRUE(LogHas("已接收的50字节保存在" + part));
            }
            break;
        case PartAfter::kOperatorsFolder:
            EXPECT_TRUE(std::filesystem::exists(part + "/keep"));
            break;
    }
}

std::string ExportEndingName(const testing::TestParamInfo<std::tuple<ExportEnd, bool>>& info) {
    static const char* const kNames[] = {"Complete",         "DoubleTimeOut", "DeviceLoss",
                                         "Disconnect",       "PortChange",    "WindowClosed",
                                         "PartCannotBeMade", "NoLine"};
    return std::string(kNames[static_cast<int>(std::get<0>(info.param))]) +
           (std::get<1>(info.param) ? "_OverAFile" : "_NoFileBefore");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ExportEnding,
    testing::Combine(testing::Values(ExportEnd::kComplete, ExportEnd::kDoubleTimeOut,
                                     ExportEnd::kDeviceLoss, ExportEnd::kDisconnect,
                                     ExportEnd::kPortChange, ExportEnd::kWindowClosed,
                                     ExportEnd::kPartCannotBeMade, ExportEnd::kNoLine),
                     testing::Bool()),
    ExportEndingName);

// The line is lost under an export, and the operator leaves the channel's box open a
// while: the transfer has ended already, from the monitor thread, with the window thread
// not even running. No frame follows the loss, no "导出文件超时！" comes however long the
// box stays, and the log is in order: the loss, the transfer's end, where its bytes are.
TEST_F(LibraryLine, ALostLineEndsTheTransferBeforeTheChannelsBox) {
    const std::string path = dir_.File("e.db");
    ExportOneBlock(path);
    pty_.CloseMaster();
    EXPECT_TRUE(test::WaitFor([&] { return !transferClock_.IsWaiting(); }, 1s))
        << "the worker stopped waiting within a second, the window thread held up";
    bool boxWasOpen = false;
    window_.WhileNextWindowBoxIsOpen([&] {
        boxWasOpen = true;
        EXPECT_TRUE(window_.PumpUntil([&] { return !Dialog().IsLibraryTransferActive(); }, 1s));
        // Long enough for any wait of the transfer's to run out twice.
        transferClock_.AdvanceTo(transferClock_.Now() + 10s);
        Settle();
        EXPECT_EQ(window_.Boxes().size(), 1u);
    });
    ASSERT_TRUE(PumpUntil([&] { return boxWasOpen; }));
    Settle();
    ASSERT_EQ(window_.Boxes().size(), 1u);
    EXPECT_EQ(window_.Boxes()[0].caption, serial::kPortErrorCaption);

    const std::vector<std::string> lines = LogLines();
    const auto lost = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("串口COM3已断开");
    });
    ASSERT_NE(lost, lines.end());
    EXPECT_EQ(std::vector<std::string>(lost + 1, lines.end()),
              (std::vector<std::string>{"码库传输中止：串口已断开",
                                        "已接收的50字节保存在" + path + ".part"}));
    EXPECT_EQ(ReadFileBytes(path + ".part"), Bytes(50, 0xAB));
}

// With the window thread held up (here: not pumping, as while a box of its own is open),
// the transfer takes its reply where it arrives and asks for the next block all the same.
TEST_F(LibraryLine, AReplyReachesTheTransferWhileTheWindowThreadIsHeldUp) {
    const std::string path = dir_.File("e.db");
    Choose(IDC_EXPORT_LIBRARY, path);
    ASSERT_EQ(ReadFromConsole(12).size(), 12u);
    ASSERT_TRUE(Waiting());
    AnswerExport(0, Bytes(50, 0xAB));
    EXPECT_EQ(pty_.Read(12, 5s).size(), 12u) << "the second request, the window not pumped";
    AnswerExport(50, Bytes(5, 0xCD));
    ASSERT_TRUE(Ended());
    Bytes expected(50, 0xAB);
    expected.insert(expected.end(), 5, 0xCD);
    EXPECT_EQ(ReadFileBytes(path), expected);
    // The window thread logged every frame once it ran again, each reply after its request.
    std::string order;
    for (const std::string& line : test::LogLinesOf(window_)) {
        if (line.starts_with("发送")) order += 'S';
        if (line.starts_with("接收:")) order += 'R';
    }
    EXPECT_EQ(order, "SRSRSR");  // the handshake, then two blocks
}

TEST_F(LibraryLine, AFileThatCannotBeReadEndsTheImportAtOnce) {
    const std::string path = dir_.File("missing.db");
    Choose(IDC_IMPORT_LIBRARY, path);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(BoxesWithText("无法读取文件“" + path + "”：No such file or directory"), 1u);
    EXPECT_EQ(window_.GetText(IDC_STATUS_TRANSFER), "导入失败 0 字节");
    EXPECT_TRUE(window_.IsControlEnabled(IDC_IMPORT_LIBRARY));
    EXPECT_TRUE(pty_.ReadAvailable(50ms).empty());

    window_.AnswerNextFileDialog(std::nullopt);  // cancelled: nothing starts
    window_.Click(IDC_EXPORT_LIBRARY);
    EXPECT_FALSE(Dialog().IsLibraryTransferActive());
    EXPECT_EQ(window_.Boxes().size(), 1u);
}

// Closing the window (answering Yes to "确定退出软件？") while the worker's own box is
// open: the dialog goes without a hang, and the part file keeps the block. (Closing
// while it waits for a reply is a row of ExportEnding.)
TEST_F(LibraryLine, ClosingTheWindowWithTheTransfersBoxOpenKeepsTheBlocks) {
    const std::string path = dir_.File("e.db");
    ExportOneBlock(path);
    window_.HoldOwnerlessBoxes();
    LetTheWaitTimeOut();
    ReadFromConsole(12);
    LetTheWaitTimeOut();
    ASSERT_TRUE(PumpUntil([&] { return window_.HeldBoxes() == 1; }));
    EXPECT_TRUE(StatusShows("导出超时 50 字节")) << "shown while the box is open";
    Dialog().OnCancel();
    ASSERT_EQ(window_.EndResult().value_or(0), IDCANCEL);
    dialog_.reset();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadFileBytes(path + ".part"), Bytes(50, 0xAB));
}

}  // namespace
}  // namespace orvante::ui
