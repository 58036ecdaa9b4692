#include "ui/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/framework.h"
#include "ui/main_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_icons.h"

namespace orvante::ui::qt {

AboutBox::AboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const DialogTemplate about = AboutDialogTemplate(ORVANTE_VERSION);
    setWindowTitle(FromUtf8(about.title));
    setFixedSize(DluToPixels(about.width), DluToPixels(about.height));
    for (const ControlTemplate& control : about.controls) {
        QWidget* widget = nullptr;
        if (control.kind == ControlKind::kIcon) {
            auto* icon = MakeChild<QLabel>(this);
            icon->setPixmap(MakeIconPixmap(IconId::kApplication, 32));
            icon->setAlignment(Qt::AlignCenter);
            widget = icon;
        } else if (control.kind == ControlKind::kButton) {
            auto* button = MakeChild<QPushButton>(this, FromUtf8(control.text));
            button->setDefault(control.isDefault);
            if (control.id == IDOK) connect(button, &QPushButton::clicked, this, &QDialog::accept);
            widget = button;
        } else {
            auto* label = MakeChild<QLabel>(this, FromUtf8(control.text));
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            widget = label;
        }
        if (control.id != 0) {
            widget->setObjectName(QStringLiteral("ctl%1").arg(control.id));
            widget->setAccessibleDescription(QString::number(control.id));
        }
        if (!control.accessibleName.empty()) {
            widget->setAccessibleName(FromUtf8(control.accessibleName));
        }
        widget->setGeometry(DluToPixels(control.rect));
    }
}

}  // namespace orvante::ui::qt
