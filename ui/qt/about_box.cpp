#include "ui/qt/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/framework.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_icons.h"

namespace orvante::ui::qt {

AboutBox::AboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("关于 ORVANTE"));
    setFixedSize(DluToPixels(235), DluToPixels(55));

    auto* icon = MakeChild<QLabel>(this);
    icon->setPixmap(MakeIconPixmap(IconId::kApplication, 32));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(QStringLiteral("ORVANTE"));
    icon->setGeometry(DluToPixels(Dlu{11, 17, 21, 21}));

    auto* version = MakeChild<QLabel>(this, QStringLiteral("ORVANTE " ORVANTE_VERSION " 版"));
    version->setTextFormat(Qt::PlainText);
    version->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    version->setGeometry(DluToPixels(Dlu{40, 21, 130, 12}));

    auto* ok = MakeChild<QPushButton>(this, QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("ctl%1").arg(IDOK));
    ok->setAccessibleDescription(QString::number(IDOK));
    ok->setDefault(true);
    ok->setGeometry(DluToPixels(Dlu{178, 7, 50, 14}));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace orvante::ui::qt
