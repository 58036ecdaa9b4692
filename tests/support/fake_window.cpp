#include "tests/support/fake_window.h"

#include <stdexcept>
#include <utility>

#include "ui/main_template.h"
#include "ui/resource.h"
#include "ui/text.h"

namespace orvante::test {

namespace {

// Cuts UTF-8 text after `characters` characters.
std::string CutToCharacters(const std::string& text, int characters) {
    int seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == characters) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace

FakeWindow::FakeWindow() = default;

FakeControl& FakeWindow::Control(int id) {
    return controls_[id];
}

const FakeControl* FakeWindow::Find(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

void FakeWindow::AnswerNextBox(int answer) {
    std::lock_guard lock(boxMutex_);
    boxAnswers_.push_back(answer);
}

std::vector<RecordedBox> FakeWindow::Boxes() const {
    std::lock_guard lock(boxMutex_);
    return boxes_;
}

void FakeWindow::ClearBoxes() {
    std::lock_guard lock(boxMutex_);
    boxes_.clear();
}

void FakeWindow::AnswerNextFileDialog(std::optional<std::string> path) {
    std::lock_guard lock(boxMutex_);
    fileAnswers_.push_back(std::move(path));
}

std::optional<int> FakeWindow::TimerPeriod(int timerId) const {
    const auto it = timers_.find(timerId);
    if (it == timers_.end()) return std::nullopt;
    return it->second;
}

void FakeWindow::FireTimer(int timerId) {
    if (timers_.count(timerId) && events_) events_->OnTimer(timerId);
}

void FakeWindow::Click(int id) {
    if (events_ && IsControlEnabled(id)) events_->OnClicked(id);
}

void FakeWindow::SelectItem(int id, int index) {
    SetCurSel(id, index);
    if (events_) events_->OnSelectionChanged(id);
}

void FakeWindow::Type(int id, const std::string& text) {
    const int limit = Control(id).limit;
    SetText(id, limit > 0 ? CutToCharacters(text, limit) : text);
}

bool FakeWindow::PumpUntil(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Pump();
        if (condition()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // Wake for a delivery, or look at the condition again every few milliseconds
        // for changes made by other threads without one.
        queue_.WaitForTask(
            std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                     std::chrono::milliseconds(5)));
    }
}

std::string FakeWindow::GetText(int id) const {
    const FakeControl* c = Find(id);
    return c ? c->text : std::string();
}

void FakeWindow::SetText(int id, const std::string& text) {
    Control(id).text = text;
    Tell("text " + std::to_string(id) + " " + text);
}

std::size_t FakeWindow::TextLength(int id) const {
    return ui::Cp936Length(GetText(id));
}

void FakeWindow::AppendText(int id, const std::string& text) {
    Control(id).text += text;
    Tell("text " + std::to_string(id) + " " + text);
}

void FakeWindow::LimitText(int id, int characters) {
    Control(id).limit = characters;
}

void FakeWindow::EnableControl(int id, bool enable) {
    Control(id).enabled = enable;
}

bool FakeWindow::IsControlEnabled(int id) const {
    const FakeControl* c = Find(id);
    return c ? c->enabled : true;
}

void FakeWindow::ShowControl(int id, bool show) {
    Control(id).visible = show;
}

bool FakeWindow::IsControlVisible(int id) const {
    const FakeControl* c = Find(id);
    return c ? c->visible : true;
}

void FakeWindow::SetIcon(int id, ui::IconId icon) {
    Control(id).icon = icon;
    Tell("icon " + std::to_string(id));
}

void FakeWindow::ResetContent(int id) {
    FakeControl& c = Control(id);
    c.items.clear();
    c.curSel = -1;
}

int FakeWindow::AddString(int id, const std::string& text) {
    FakeControl& c = Control(id);
    const std::size_t at = c.sorted ? ui::SortedInsertIndex(c.items, text) : c.items.size();
    c.items.insert(c.items.begin() + static_cast<std::ptrdiff_t>(at), text);
    return static_cast<int>(at);
}

int FakeWindow::GetCount(int id) const {
    const FakeControl* c = Find(id);
    return c ? static_cast<int>(c->items.size()) : 0;
}

std::string FakeWindow::GetItemText(int id, int index) const {
    const FakeControl* c = Find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
    return c->items[static_cast<std::size_t>(index)];
}

void FakeWindow::SetCurSel(int id, int index) {
    FakeControl& c = Control(id);
    const bool valid = index >= 0 && index < static_cast<int>(c.items.size());
    c.curSel = valid ? index : -1;
    c.text = valid ? c.items[static_cast<std::size_t>(index)] : std::string();
}

int FakeWindow::GetCurSel(int id) const {
    const FakeControl* c = Find(id);
    return c ? c->curSel : -1;
}

int FakeWindow::GetCheck(int id) const {
    const FakeControl* c = Find(id);
    return c ? c->check : 0;
}

void FakeWindow::SetCheck(int id, int state) {
    Control(id).check = state;
}

int FakeWindow::RecordBox(RecordedBox box) {
    std::lock_guard lock(boxMutex_);
    const ui::BoxButtons buttons = box.buttons;
    boxes_.push_back(std::move(box));
    if (!boxAnswers_.empty()) {
        const int answer = boxAnswers_.front();
        boxAnswers_.pop_front();
        return answer;
    }
    return buttons == ui::BoxButtons::kYesNo ? ui::IDYES : ui::IDOK;
}

int FakeWindow::MessageBox(const std::string& text, ui::BoxButtons buttons) {
    if (!queue_.IsWindowThread()) {
        throw std::logic_error("a box over the window shown from another thread: " + text);
    }
    Tell("box " + text);
    return RecordBox({text, "", buttons, ui::BoxIcon::kNone, true, true});
}

int FakeWindow::MessageBoxNoOwner(const std::string& text, const std::string& caption,
                                  ui::BoxButtons buttons, ui::BoxIcon icon) {
    const bool onWindowThread = queue_.IsWindowThread();
    const int escape = buttons == ui::BoxButtons::kYesNo ? ui::IDNO : ui::IDOK;
    if (!onWindowThread) {
        std::lock_guard lock(boxMutex_);
        if (ended_) return escape;  // the window has gone: the box is not shown
    }
    const int answer = RecordBox({text, caption, buttons, icon, false, onWindowThread});
    if (onWindowThread && whileWindowBoxOpen_) std::exchange(whileWindowBoxOpen_, nullptr)();
    if (onWindowThread || !holdBoxes_) return answer;

    std::unique_lock lock(boxMutex_);
    const std::uint64_t release = releases_;
    ++heldBoxes_;
    boxesReleased_.wait(lock, [&] { return releases_ != release || ended_; });
    --heldBoxes_;
    return releases_ != release ? answer : escape;
}

std::size_t FakeWindow::HeldBoxes() const {
    std::lock_guard lock(boxMutex_);
    return heldBoxes_;
}

void FakeWindow::ReleaseHeldBoxes() {
    {
        std::lock_guard lock(boxMutex_);
        ++releases_;
    }
    boxesReleased_.notify_all();
}

void FakeWindow::EndDialog(int result) {
    endResult_ = result;
    {
        std::lock_guard lock(boxMutex_);
        ended_ = true;
    }
    boxesReleased_.notify_all();
}

void FakeWindow::SetTimer(int timerId, int milliseconds) {
    timers_[timerId] = milliseconds;
}

void FakeWindow::KillTimer(int timerId) {
    timers_.erase(timerId);
}

std::optional<std::string> FakeWindow::NextFileAnswer() {
    std::lock_guard lock(boxMutex_);
    if (fileAnswers_.empty()) return std::nullopt;
    auto answer = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return answer;
}

std::optional<std::string> FakeWindow::OpenFileDialog(const ui::FileDialogOptions& options) {
    fileDialogs_.push_back({false, options});
    return NextFileAnswer();
}

std::optional<std::string> FakeWindow::SaveFileDialog(const ui::FileDialogOptions& options) {
    fileDialogs_.push_back({true, options});
    return NextFileAnswer();
}

}  // namespace orvante::test

namespace orvante::test {

void FakeWindow::LoadMainTemplate() {
    for (const ui::TemplateList& list : ui::MainTemplateLists())
        Control(list.id).items = list.items;
    MakeSortedCombo(ui::IDC_PORT);
    for (int id : {ui::IDC_PARITY, ui::IDC_STOP_BITS, ui::IDC_DATA_BITS, ui::IDC_SHOW_ADVANCED}) {
        Control(id).visible = false;
    }
    Control(ui::IDC_SHOW_ADVANCED).enabled = false;
    Control(ui::IDC_CONNECT).text = "连接红外";
    Control(ui::IDC_LOCAL_ADDR).text = "本机地址：";
    Control(ui::IDC_STATUS).text = "运行状态：";
    Control(ui::IDC_PULSE_COUNT).text = "0";
}

}  // namespace orvante::test
