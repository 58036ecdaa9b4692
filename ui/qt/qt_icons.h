// The console's icon resources, drawn at run time.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "ui/framework.h"

namespace orvante::ui::qt {

// The icon in its 16 x 16 and 32 x 32 sizes; a null icon for IconId::kNone.
QIcon MakeIcon(IconId id);
// One size of the icon, drawn for exactly that size in device-independent pixels, with
// `devicePixelRatio` device pixels to each of them so that it is sharp on a high-DPI
// screen.
QPixmap MakeIconPixmap(IconId id, int size, qreal devicePixelRatio = 1.0);

}  // namespace orvante::ui::qt
