#include "ui/qt/qt_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QShortcut>
#include <QStyle>
#include <QTranslator>
#include <algorithm>
#include <future>
#include <memory>
#include <utility>

#include "ui/qt/about_box.h"
#include "ui/qt/crlf_text_edit.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/drop_down_list.h"
#include "ui/qt/main_layout.h"
#include "ui/qt/qt_icons.h"
#include "ui/qt/standard_dialogs.h"
#include "ui/resource.h"
#include "ui/text.h"

#if defined(__SANITIZE_THREAD__)
// The thread sanitizer's own marks of a hand-off it cannot see.
extern "C" void __tsan_release(void* address);
extern "C" void __tsan_acquire(void* address);
#endif

namespace orvante::ui::qt {

namespace {

// Win32 raises shorter window timer periods to this.
constexpr int kMinimumTimerMs = 10;
// What an edit holds when nobody limits it.
constexpr int kDefaultTextLimit = 32767;

}  // namespace

QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(9);
    return font;
}

void ApplyClassicLook(QApplication& app) {
    if (QStyle* style = QApplication::setStyle(QStringLiteral("Windows"))) {
        app.setPalette(style->standardPalette());
    }
    app.setFont(DialogFont());
}

namespace {

// The event that has the window thread run what other threads delivered.
const QEvent::Type kDeliveryEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// A frame of the shortest kind takes 9.4 ms on the line at 9600 baud and 0.4 ms at
// 230400: only frames in a burst ever wait for the window thread's return.
constexpr std::chrono::milliseconds kDeliveryBatchInterval{2};

// Qt orders a posted event after its posting inside its own library, where the thread
// sanitizer does not look (the thread run ignores modules built without it). The
// hand-off is marked for it: a release before posting, an acquire where the window
// thread takes events. Only the thread-sanitizer build has the marks.
#if defined(__SANITIZE_THREAD__)
char deliveryHandOff;
void MarkDeliveryPosted() {
    __tsan_release(&deliveryHandOff);
}
void MarkDeliveryTaken() {
    __tsan_acquire(&deliveryHandOff);
}
#else
void MarkDeliveryPosted() {}
void MarkDeliveryTaken() {}
#endif

}  // namespace

bool InstallQtChineseTexts(QApplication& app) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    // Owned by the application from here on, so it lasts as long as the texts it gives.
    QTranslator* installed = translator.release();
    installed->setParent(&app);
    return QCoreApplication::installTranslator(installed);
}

QtWindow::QtWindow(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QString());
    setFont(DialogFont());
    controls_ = BuildMainLayout(*this);
    ConnectNotifications();
    // F1 asks for help wherever the focus is in the window.
    auto* help = MakeChild<QShortcut>(this, QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] {
        if (events_) events_->OnHelp();
    });

    queue_.BindToCurrentThread();
    // Other threads queue work; the event loop drains it. The event is posted to this
    // object, so it is dropped if the window is gone first; Qt owns it once posted.
    queue_.SetNotifier([this] {
        auto wake = std::make_unique<QEvent>(kDeliveryEvent);
        MarkDeliveryPosted();
        QCoreApplication::postEvent(this, wake.release());
    });
    comeBack_.setSingleShot(true);
    comeBack_.setInterval(kDeliveryBatchInterval);
    connect(&comeBack_, &QTimer::timeout, this, &QtWindow::RunDeliveries);
}

bool QtWindow::event(QEvent* event) {
    MarkDeliveryTaken();
    if (event->type() != kDeliveryEvent) return QDialog::event(event);
    RunDeliveries();
    return true;
}

// Deliveries that come in a burst (a flood of frames on the line) are run a batch every
// few milliseconds rather than one wake-up each: the first of a burst runs at once. The
// come-back is armed before the batch runs: a task that opens a box (the channel's, when
// a line is lost) runs the box's own event loop, where the timer then goes on running
// what other threads deliver meanwhile, such as the end of a transfer.
void QtWindow::RunDeliveries() {
    comeBack_.start();
    if (queue_.RunPendingAndComeBack() == 0) comeBack_.stop();
}

QtWindow::~QtWindow() {
    queue_.SetNotifier({});
    // Anyone still waiting in Send is released while the window is whole.
    queue_.RunPending();
}

void QtWindow::ConnectNotifications() {
    for (const auto& [id, widget] : controls_) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this, [this, id = id] {
                if (events_) events_->OnClicked(id);
            });
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            // Only the operator's choice: a selection made by the program says nothing.
            connect(combo, &QComboBox::activated, this, [this, id = id] {
                if (events_) events_->OnSelectionChanged(id);
            });
            if (auto* list = dynamic_cast<DropDownList*>(combo)) {
                list->SetAboutToOpen([this, id = id] {
                    if (events_) events_->OnDropDown(id);
                });
            }
        }
    }
}

int QtWindow::Run() {
    if (!endResult_) {
        // Not exec(): an application-modal main window would block the boxes that other
        // threads show with no owner.
        QEventLoop loop;
        connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
        show();
        loop.exec(QEventLoop::DialogExec);
    }
    return endResult_.value_or(IDCANCEL);
}

QWidget* QtWindow::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

template <class Widget>
Widget* QtWindow::Find(int id) const {
    return qobject_cast<Widget*>(Control(id));
}

template <class Work>
auto QtWindow::OnWindowThread(Work&& work) const {
    return RunOnWindowThread(queue_, std::forward<Work>(work));
}

std::string QtWindow::GetText(int id) const {
    return OnWindowThread([&]() -> std::string {
        QWidget* widget = Control(id);
        QString text;
        if (auto* log = qobject_cast<CrLfTextEdit*>(widget)) return log->Text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
        if (auto* combo = qobject_cast<QComboBox*>(widget)) text = combo->currentText();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget)) text = group->title();
        return text.toStdString();
    });
}

void QtWindow::SetText(int id, const std::string& text) {
    OnWindowThread([&] {
        QWidget* widget = Control(id);
        if (auto* log = qobject_cast<CrLfTextEdit*>(widget)) log->SetText(text);
        // A reply that repeats what a control shows (the address of every test-connection
        // answer) leaves it alone: no new layout and paint for the same text.
        if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && edit->text() != FromUtf8(text)) {
            // Show the start of a number too wide for its narrow edit (a task's loop
            // count of 4464 read back), as a Windows edit does, not its tail.
            edit->setText(FromUtf8(text));
            edit->setCursorPosition(0);
        }
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (button && button->text() != FromUtf8(text)) button->setText(FromUtf8(text));
        if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(FromUtf8(text));
        if (auto* group = qobject_cast<QGroupBox*>(widget)) group->setTitle(FromUtf8(text));
        // A drop-down list shows its selected item; its text is not set on its own.
    });
}

std::size_t QtWindow::TextLength(int id) const {
    return OnWindowThread([&]() -> std::size_t {
        if (auto* log = Find<CrLfTextEdit>(id)) return log->Cp936Length();
        return Cp936Length(GetText(id));
    });
}

void QtWindow::AppendText(int id, const std::string& text) {
    OnWindowThread([&] {
        if (auto* log = Find<CrLfTextEdit>(id)) {
            log->Append(text);
        } else if (auto* edit = Find<QLineEdit>(id)) {
            edit->end(false);
            edit->insert(FromUtf8(text));
        }
    });
}

void QtWindow::LimitText(int id, int characters) {
    OnWindowThread([&] {
        // QLineEdit applies its limit to typing and pasting alike. 0 lifts the limit.
        if (auto* edit = Find<QLineEdit>(id)) {
            edit->setMaxLength(characters > 0 ? characters : kDefaultTextLimit);
        }
    });
}

void QtWindow::EnableControl(int id, bool enable) {
    OnWindowThread([&] {
        if (QWidget* widget = Control(id)) widget->setEnabled(enable);
    });
}

bool QtWindow::IsControlEnabled(int id) const {
    return OnWindowThread([&] {
        QWidget* widget = Control(id);
        return widget != nullptr && widget->isEnabledTo(this);
    });
}

void QtWindow::ShowControl(int id, bool show) {
    OnWindowThread([&] {
        if (QWidget* widget = Control(id)) widget->setVisible(show);
    });
}

bool QtWindow::IsControlVisible(int id) const {
    // Whether it shows once the window does, so that the answer does not depend on
    // the window being on screen yet.
    return OnWindowThread([&] {
        QWidget* widget = Control(id);
        return widget != nullptr && widget->isVisibleTo(this);
    });
}

void QtWindow::SetIcon(int id, IconId icon) {
    OnWindowThread([&] {
        auto* label = Find<QLabel>(id);
        if (!label) return;
        const int size = std::min(label->width(), label->height()) >= 32 ? 32 : 16;
        label->setPixmap(MakeIconPixmap(icon, size, label->devicePixelRatioF()));
        // The connection indicator says its state to screen readers too.
        if (id == IDC_INDICATOR) {
            label->setAccessibleName(icon == IconId::kIndicatorOn ? QStringLiteral("已连接")
                                                                  : QStringLiteral("未连接"));
        }
    });
}

void QtWindow::ResetContent(int id) {
    OnWindowThread([&] {
        if (auto* combo = Find<QComboBox>(id)) combo->clear();
    });
}

int QtWindow::AddString(int id, const std::string& text) {
    return OnWindowThread([&] {
        auto* combo = Find<QComboBox>(id);
        if (!combo) return -1;
        int at = combo->count();
        if (combo->property(kSortedListProperty).toBool()) {
            std::vector<std::string> items;
            items.reserve(static_cast<std::size_t>(combo->count()));
            for (int i = 0; i < combo->count(); ++i)
                items.push_back(combo->itemText(i).toStdString());
            at = static_cast<int>(SortedInsertIndex(items, text));
        }
        // Adding an item selects nothing; QComboBox would select the first one added.
        const bool noSelection = combo->currentIndex() < 0;
        combo->insertItem(at, FromUtf8(text));
        if (noSelection) combo->setCurrentIndex(-1);
        return at;
    });
}

int QtWindow::GetCount(int id) const {
    return OnWindowThread([&] {
        auto* combo = Find<QComboBox>(id);
        return combo ? combo->count() : 0;
    });
}

std::string QtWindow::GetItemText(int id, int index) const {
    return OnWindowThread([&]() -> std::string {
        auto* combo = Find<QComboBox>(id);
        if (!combo || index < 0 || index >= combo->count()) return {};
        return combo->itemText(index).toStdString();
    });
}

void QtWindow::SetCurSel(int id, int index) {
    OnWindowThread([&] {
        // Tells no one: only `activated`, the operator's choice, is listened to.
        auto* combo = Find<QComboBox>(id);
        if (combo) combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    });
}

int QtWindow::GetCurSel(int id) const {
    return OnWindowThread([&] {
        auto* combo = Find<QComboBox>(id);
        return combo ? combo->currentIndex() : -1;
    });
}

int QtWindow::GetCheck(int id) const {
    return OnWindowThread([&] {
        auto* button = Find<QAbstractButton>(id);
        return button && button->isCheckable() && button->isChecked() ? 1 : 0;
    });
}

void QtWindow::SetCheck(int id, int state) {
    OnWindowThread([&] {
        auto* button = Find<QAbstractButton>(id);
        if (button && button->isCheckable()) button->setChecked(state != 0);
    });
}

int QtWindow::MessageBox(const std::string& text, BoxButtons buttons) {
    return OnWindowThread([&] {
        // Like a framework box with no icon asked for: OK warns, Yes/No asks.
        QMessageBox box(this);
        SetUpMessageBox(
            box, FromUtf8(text), QCoreApplication::applicationName(), buttons,
            buttons == BoxButtons::kYesNo ? QMessageBox::Question : QMessageBox::Warning);
        box.setWindowModality(Qt::WindowModal);
        box.exec();
        return BoxAnswer(box, buttons);
    });
}

int QtWindow::MessageBoxNoOwner(const std::string& text, const std::string& caption,
                                BoxButtons buttons, BoxIcon icon) {
    if (queue_.IsWindowThread()) {
        QMessageBox box;
        SetUpMessageBox(box, FromUtf8(text), FromUtf8(caption), buttons, ToQtIcon(icon));
        box.exec();
        return BoxAnswer(box, buttons);
    }
    // Another thread: the box lives on the window thread, without modality, so that the
    // window stays usable; only this thread waits for the answer.
    struct Answer {
        std::promise<int> promise;
        bool given = false;
    };
    auto answer = std::make_shared<Answer>();
    std::future<int> future = answer->promise.get_future();
    queue_.Post([this, answer = std::move(answer), text, caption, buttons, icon] {
        // Once the window has ended nobody is left to answer: the box is not shown, and
        // the dropped promise gives the caller its escape answer.
        if (endResult_) return;
        auto box = std::make_unique<QMessageBox>();
        SetUpMessageBox(*box, FromUtf8(text), FromUtf8(caption), buttons, ToQtIcon(icon));
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);  // from here on the box owns itself
        QMessageBox* shown = box.release();
        connect(shown, &QDialog::finished, shown, [answer, shown, buttons] {
            if (answer->given) return;
            answer->given = true;
            answer->promise.set_value(BoxAnswer(*shown, buttons));
        });
        std::erase_if(foreignBoxes_, [](const QPointer<QMessageBox>& b) { return b.isNull(); });
        foreignBoxes_.emplace_back(shown);
        shown->show();
    });
    try {
        return future.get();
    } catch (const std::future_error&) {
        // The box went away unanswered (the program is ending): its escape answer.
        return buttons == BoxButtons::kYesNo ? IDNO : IDOK;
    }
}

void QtWindow::SetTimer(int timerId, int milliseconds) {
    OnWindowThread([&] {
        auto [it, made] = timers_.try_emplace(timerId);
        QTimer& timer = it->second;
        if (made) {
            connect(&timer, &QTimer::timeout, this, [this, timerId] {
                if (events_) events_->OnTimer(timerId);
            });
        }
        timer.start(std::max(milliseconds, kMinimumTimerMs));
    });
}

void QtWindow::KillTimer(int timerId) {
    OnWindowThread([&] {
        if (auto it = timers_.find(timerId); it != timers_.end()) it->second.stop();
    });
}

std::optional<std::string> QtWindow::OpenFileDialog(const FileDialogOptions& options) {
    return OnWindowThread([&] { return RunFileDialog(this, false, options); });
}

std::optional<std::string> QtWindow::SaveFileDialog(const FileDialogOptions& options) {
    return OnWindowThread([&] { return RunFileDialog(this, true, options); });
}

void QtWindow::SetWindowIcon(IconId icon) {
    OnWindowThread([&] { setWindowIcon(MakeIcon(icon)); });
}

void QtWindow::AppendSystemMenuSeparator() {
    OnWindowThread([&] { systemMenu_.push_back(MenuItem{true, 0, QString()}); });
}

void QtWindow::AppendSystemMenuItem(unsigned command, const std::string& text) {
    OnWindowThread([&] { systemMenu_.push_back(MenuItem{false, command, FromUtf8(text)}); });
}

void QtWindow::AppendEditMenuItem(int id, unsigned command, const std::string& text) {
    OnWindowThread([&] {
        QWidget* edit = Control(id);
        if (edit == nullptr) return;
        std::vector<MenuItem>& items = editMenus_[id];
        if (items.empty()) {
            edit->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(edit, &QWidget::customContextMenuRequested, this,
                    [this, id](QPoint position) { ShowEditMenu(id, position); });
        }
        items.push_back(MenuItem{false, command, FromUtf8(text)});
    });
}

void QtWindow::ShowEditMenu(int id, QPoint position) {
    QWidget* edit = Control(id);
    std::unique_ptr<QMenu> menu;
    if (auto* text = qobject_cast<QPlainTextEdit*>(edit)) {
        menu.reset(text->createStandardContextMenu(position));
    } else if (auto* line = qobject_cast<QLineEdit*>(edit)) {
        menu.reset(line->createStandardContextMenu());
    } else {
        menu = std::make_unique<QMenu>(edit);
    }
    menu->addSeparator();
    std::vector<std::pair<QAction*, unsigned>> added;
    for (const MenuItem& item : editMenus_[id]) {
        added.emplace_back(menu->addAction(item.text), item.command);
    }
    QAction* chosen = menu->exec(edit->mapToGlobal(position));
    for (const auto& [action, command] : added) {
        if (action == chosen && events_) events_->OnEditMenuCommand(id, command);
    }
}

int QtWindow::DoModalDialog(int templateId) {
    return OnWindowThread([&] {
        if (templateId != IDD_ABOUTBOX) return IDCANCEL;
        AboutBox about(this);
        about.setWindowIcon(windowIcon());
        about.setWindowModality(Qt::WindowModal);
        return about.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
    });
}

void QtWindow::EndDialog(int result) {
    OnWindowThread([&] {
        endResult_ = result;
        done(result);
        // Boxes that other threads still wait on go with the window, so that nothing
        // keeps the program from ending; their callers get the escape answer.
        for (const QPointer<QMessageBox>& box : foreignBoxes_) delete box.data();
        foreignBoxes_.clear();
    });
}

void QtWindow::reject() {
    if (events_) events_->OnCancel();
}

void QtWindow::keyPressEvent(QKeyEvent* event) {
    // Reaches the dialog only when the focused control leaves the key alone: a focused
    // push button takes Enter itself, as in any Windows dialog.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        if (events_) events_->OnOK();
        return;
    }
    if (event->matches(QKeySequence::Cancel)) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QtWindow::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 ask the logic; the window goes only by EndDialog.
    event->ignore();
    if (events_) events_->OnCancel();
}

void QtWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FitLogToWindow(controls_, event->size());
}

void QtWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (systemMenu_.empty()) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    for (const MenuItem& item : systemMenu_) {
        if (item.separator) {
            menu.addSeparator();
        } else {
            menu.addAction(item.text)->setData(item.command);
        }
    }
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen && events_) events_->OnSysCommand(chosen->data().toUInt());
}

}  // namespace orvante::ui::qt
