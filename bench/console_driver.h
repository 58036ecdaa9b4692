// The console as an operator drives it, for benchmarks: the dialog on the Qt window,
// the port and rate chosen in their lists, connected with the button, export and import
// answered through their file dialogs and boxes.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "ui/console_dlg.h"
#include "ui/qt/qt_window.h"

namespace orvante::bench {

using Clock = std::chrono::steady_clock;

// Runs `act` on the first widget of type W that is shown, once the show has been
// handled, so that it also answers dialogs run with exec(). It watches show events
// rather than polling, which would wake the window thread and count as the console's.
template <class W>
class WhenShown : public QObject {
public:
    explicit WhenShown(std::function<void(W*)> act) : act_(std::move(act)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~WhenShown() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<W*>(watched);
        if (widget != nullptr && event->type() == QEvent::Show && act_) {
            QMetaObject::invokeMethod(
                this, [act = std::exchange(act_, {}), widget] { act(widget); },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void(W*)> act_;
};

// The console on the Qt window, connected to the module, as an operator leaves it.
class Console {
public:
    // The line's rate is chosen in the baud list as an operator would; unpaced (0), the
    // highest the list offers.
    Console(int port, int baud);

    bool IsConnected() const { return connected_; }
    ui::qt::QtWindow& Window() { return window_; }

    // Clicks export or import, chooses `path`, and returns the time from the chosen file
    // to the box that reports success; nothing when it fails.
    std::optional<Clock::duration> Transfer(int button, const QString& path,
                                            const QString& successText);

    // Runs the event loop until `done` holds (false after ten minutes); sleeps while
    // nothing happens.
    static bool RunUntil(const std::function<bool()>& done);
    // Runs the event loop for `span`, sleeping while nothing happens.
    static void RunFor(Clock::duration span);

private:
    void Choose(int list, const QString& itemStart);

    ui::qt::QtWindow window_;
    ui::CConsoleDlg dialog_{window_};
    bool connected_ = false;
};

// CPU time of this process so far, user and system, in seconds.
double ProcessCpuSeconds();

// main() of a benchmark program that drives the console: a Qt application on the
// offscreen platform with the console's look, the benchmarks `registerAll` adds.
int RunConsoleBenchmarks(int argc, char** argv, void (*registerAll)());

}  // namespace orvante::bench
