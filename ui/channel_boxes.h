// The serial channel's boxes, shown through the window layer from whichever thread met
// the failure.
#pragma once

#include <string>

#include "ui/framework.h"

namespace orvante::ui {

// From another thread (the monitor) the box is handed to the window thread and not
// waited for: the window thread may itself be waiting for the monitor to end.
inline void ShowChannelStopBox(Window& window, const std::string& text,
                               const std::string& caption) {
    if (window.Thread().IsWindowThread()) {
        window.MessageBoxNoOwner(text, caption, BoxButtons::kOk, BoxIcon::kStop);
        return;
    }
    window.Thread().Post([&window, text, caption] {
        window.MessageBoxNoOwner(text, caption, BoxButtons::kOk, BoxIcon::kStop);
    });
}

// A box over the window; another thread waits until it has been closed.
inline void ShowChannelMessageBox(Window& window, const std::string& text) {
    if (window.Thread().IsWindowThread()) {
        window.MessageBox(text, BoxButtons::kOk);
    } else {
        window.Thread().Send([&] { window.MessageBox(text, BoxButtons::kOk); });
    }
}

}  // namespace orvante::ui
