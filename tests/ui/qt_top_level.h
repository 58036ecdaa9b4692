// Finding and answering the Qt windows that the code under test opens by itself.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

namespace orvante::ui::qt {

// Runs `act` on the first visible top-level widget of type W that `match` accepts, as
// soon as it shows up; polls from the event loop, so it also works inside exec().
template <class W>
class WhenShown {
public:
    WhenShown(std::function<bool(W*)> match, std::function<void(W*)> act) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, match, act] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* w = qobject_cast<W*>(top);
                if (w && w->isVisible() && match(w)) {
                    timer_.stop();
                    act(w);
                    return;
                }
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

// The message box on screen that shows `text`, if one does.
inline QMessageBox* VisibleBox(const QString& text) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (box && box->isVisible() && box->text() == text) return box;
    }
    return nullptr;
}

}  // namespace orvante::ui::qt
