// The About box (template 100).
#pragma once

#include <QDialog>

namespace orvante::ui::qt {

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* owner);
};

}  // namespace orvante::ui::qt
