// The log's context menu: saving the whole log as UTF-8 text, and emptying it.
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/home_folder.h"
#include "platform/utf8_path.h"
#include "ui/console_dlg.h"
#include "ui/user_folders.h"

namespace orvante::ui {

namespace {

constexpr const char* kLogFileFilter = "文本文件(*.txt)|*.txt|所有文件(*.*)|*.*||";

// Writes `text` whole; the system's reason when it could not.
std::optional<std::string> WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (file) file.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (file) file.close();
    if (file) return std::nullopt;
    return errno != 0 ? std::strerror(errno) : "写入失败";
}

}  // namespace

// The log keeps its entries behind a line break each; the file starts with the first
// entry and ends with a line break, as a text file does.
void CConsoleDlg::OnSaveLog() {
    const FileDialogOptions options{
        kLogFileFilter, m_logDialogDir.empty() ? platform::HomeFolder() : m_logDialogDir, "txt"};
    const std::optional<std::string> chosen = m_window.SaveFileDialog(options);
    if (!chosen || chosen->empty()) return;
    m_logDialogDir = FolderOf(*chosen);
    std::string text = m_window.GetText(IDC_LOG);
    if (text.starts_with("\r\n")) text.erase(0, 2);
    if (!text.empty()) text += "\r\n";
    errno = 0;
    if (const std::optional<std::string> failure = WriteTextFile(*chosen, text)) {
        m_window.MessageBox("无法保存日志到文件“" + *chosen + "”：" + *failure, BoxButtons::kOk);
        return;
    }
    LogEvent("日志已保存到" + *chosen);
}

void CConsoleDlg::OnClearLog() {
    m_window.SetText(IDC_LOG, "");
}

}  // namespace orvante::ui
