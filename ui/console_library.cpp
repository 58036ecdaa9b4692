// The console's side of the code library transfer: the file choice, the window's host
// of the transfer (frames, log, boxes, progress in status field 1013, the end), and the
// handlers of replies 50 and 52.
#include "platform/home_folder.h"
#include "protocol/commands.h"
#include "ui/console_dlg.h"
#include "ui/user_folders.h"

namespace orvante::ui {

namespace {

using library::TransferOutcome;
using library::TransferProgress;

constexpr const char* kLibraryFileFilter = "红外数据(*.db)|*.db|所有文件(*.*)|*.*||";

// Short enough for status field 1013 (about nine Chinese characters wide). A running
// import shows its share of the file as the bytes moved out of the file's bytes.
std::string LibraryStatusText(const TransferProgress& progress) {
    const bool isImport = progress.op == protocol::kCmdImportBlock;
    const std::string direction = isImport ? "导入" : "导出";
    const std::string bytes = std::to_string(progress.bytes) + " 字节";
    switch (progress.outcome) {
        case TransferOutcome::kRunning:
            if (!isImport) return direction + " " + bytes;
            return direction + " " + std::to_string(progress.bytes) + "/" +
                   std::to_string(progress.total);
        case TransferOutcome::kSucceeded:
            return direction + "完成 " + bytes;
        case TransferOutcome::kTimedOut:
            return direction + "超时 " + bytes;
        case TransferOutcome::kAborted:
        case TransferOutcome::kStopped:
            return direction + "中止 " + bytes;
        case TransferOutcome::kFileError:
        case TransferOutcome::kTooLarge:
            break;
    }
    return direction + "失败 " + bytes;
}

}  // namespace

void CConsoleDlg::OnExportLibrary() {
    StartLibraryTransfer(protocol::kCmdExportBlock);
}

void CConsoleDlg::OnImportLibrary() {
    StartLibraryTransfer(protocol::kCmdImportBlock);
}

// The chosen file goes to the worker; the controls are not refreshed from the members
// here, which would put back the log and the edits as they stood at the last read. The
// process's current directory is left alone: nothing here depends on it.
void CConsoleDlg::StartLibraryTransfer(std::uint8_t op) {
    if (m_transferActive) return;
    // Without a line nothing can move: said once, before a file is chosen or touched.
    if (!m_link.IsPortInUse()) {
        m_window.MessageBox(serial::kPortNotOpenText, BoxButtons::kOk);
        return;
    }
    m_libraryPath.clear();
    // An export named without an extension gets ".db", so that the import dialog's
    // default filter shows it.
    const FileDialogOptions options{
        kLibraryFileFilter,
        m_libraryDialogDir.empty() ? platform::HomeFolder() : m_libraryDialogDir,
        op == protocol::kCmdExportBlock ? "db" : ""};
    const std::optional<std::string> chosen = op == protocol::kCmdExportBlock
                                                  ? m_window.SaveFileDialog(options)
                                                  : m_window.OpenFileDialog(options);
    if (chosen) m_libraryPath = *chosen;
    if (m_libraryPath.empty()) return;
    m_libraryDialogDir = FolderOf(m_libraryPath);
    if (!m_link.StartTransfer(library::TransferJob{op, m_libraryPath})) return;
    m_transferActive = true;
    m_window.EnableControl(IDC_IMPORT_LIBRARY, false);
    m_window.EnableControl(IDC_EXPORT_LIBRARY, false);
}

void CConsoleDlg::EndTransferWithTheLine(const std::string& cause) {
    m_link.AbortTransfer({}, "码库传输中止：" + cause);
}

void CConsoleDlg::OnLibraryTransferEnded(const TransferProgress& result) {
    m_transferActive = false;
    m_window.SetText(IDC_STATUS_TRANSFER, LibraryStatusText(result));
    m_window.EnableControl(IDC_EXPORT_LIBRARY, true);
    m_window.EnableControl(IDC_IMPORT_LIBRARY, true);
    if (result.op == protocol::kCmdExportBlock && result.outcome == TransferOutcome::kSucceeded &&
        !m_closing) {
        m_window.MessageBox(library::kExportSucceededText, BoxButtons::kOk);
    }
}

// The worker may be inside a hand-off that needs this thread (the channel's box for a
// closed port): deliveries are served until its end has been handled here.
void CConsoleDlg::EndLibraryTransfer() {
    m_closing = true;
    m_link.StopTransfer();
    m_window.Thread().WaitServing([this] { return !m_transferActive; });
    m_link.JoinTransfer();
}

// ---- the transfer's hand-offs, on its worker thread ---------------------------------

void CConsoleDlg::ShowTransferBox(const std::string& text, const std::string& caption) {
    m_window.MessageBoxNoOwner(text, caption, BoxButtons::kOk, BoxIcon::kNone);
}

// Hands the progress to the window without waiting; while a showing is queued, later
// steps only replace what it will show.
void CConsoleDlg::ShowTransferProgress(const TransferProgress& progress) {
    {
        std::lock_guard lock(m_progressMutex);
        m_latestProgress = progress;
        if (m_progressQueued) return;
        m_progressQueued = true;
    }
    m_window.Thread().Post([this] { ShowLatestLibraryProgress(); });
}

void CConsoleDlg::ShowLatestLibraryProgress() {
    TransferProgress progress;
    {
        std::lock_guard lock(m_progressMutex);
        progress = m_latestProgress;
        m_progressQueued = false;
    }
    m_window.SetText(IDC_STATUS_TRANSFER, LibraryStatusText(progress));
}

// Posted, like every hand-off of the worker: the window may be waiting for it.
void CConsoleDlg::OnTransferEnd(const TransferProgress& result) {
    m_window.Thread().Post([this, result] { OnLibraryTransferEnded(result); });
}

}  // namespace orvante::ui
