// A drop-down list that tells when the operator is about to open it, so that its items
// can be brought up to date first.
#pragma once

#include <QComboBox>
#include <functional>
#include <utility>

namespace orvante::ui::qt {

class DropDownList final : public QComboBox {
public:
    using QComboBox::QComboBox;

    void SetAboutToOpen(std::function<void()> notify) { aboutToOpen_ = std::move(notify); }

    // Every way of opening the list (a click, Alt+Down, F4) comes through here.
    void showPopup() override {
        if (aboutToOpen_) aboutToOpen_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> aboutToOpen_;
};

}  // namespace orvante::ui::qt
