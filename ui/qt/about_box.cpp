#include "ui/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/framework.h"
#include "ui/main_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_icons.h"

namespace orvante::ui::qt {

namespace {

QRect PixelsOf(const DialogRect& r) {
    return DluToPixels(Dlu{r.x, r.y, r.w, r.h});
}

QString ToQString(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

AboutBox::AboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const DialogTemplate about = AboutDialogTemplate(ORVANTE_VERSION);
    setWindowTitle(ToQString(about.title));
    setFixedSize(DluToPixels(about.width), DluToPixels(about.height));
    for (const ControlTemplate& control : about.controls) {
        QWidget* widget = nullptr;
        if (control.kind == ControlKind::kIcon) {
            auto* icon = MakeChild<QLabel>(this);
            icon->setPixmap(MakeIconPixmap(IconId::kApplication, 32));
            icon->setAlignment(Qt::AlignCenter);
            widget = icon;
        } else if (control.kind == ControlKind::kButton) {
            auto* button = MakeChild<QPushButton>(this, ToQString(control.text));
            button->setDefault(control.isDefault);
            if (control.id == IDOK) connect(button, &QPushButton::clicked, this, &QDialog::accept);
            widget = button;
        } else {
            auto* label = MakeChild<QLabel>(this, ToQString(control.text));
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            widget = label;
        }
        if (control.id != 0) {
            widget->setObjectName(QStringLiteral("ctl%1").arg(control.id));
            widget->setAccessibleDescription(QString::number(control.id));
        }
        if (!control.accessibleName.empty()) {
            widget->setAccessibleName(ToQString(control.accessibleName));
        }
        widget->setGeometry(PixelsOf(control.rect));
    }
}

}  // namespace orvante::ui::qt
