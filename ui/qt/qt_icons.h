// The console's icon resources, drawn at run time.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "ui/framework.h"

namespace orvante::ui::qt {

// The icon in its 16 x 16 and 32 x 32 sizes; a null icon for IconId::kNone.
QIcon MakeIcon(IconId id);
// One size of the icon, drawn for exactly that size.
QPixmap MakeIconPixmap(IconId id, int size);

}  // namespace orvante::ui::qt
