// The console's icons as files, drawn by the same code as the window's icons: PNG files
// for desktops and a Windows .ico for the Windows programs' resources.
#pragma once

#include <QByteArray>
#include <QImage>
#include <vector>

#include "ui/framework.h"

namespace orvante::ui::qt {

// The sizes desktops look for, and the ones an .ico carries.
inline constexpr int kIconPngSizes[] = {16, 24, 32, 48, 64, 128, 256};
inline constexpr int kIconIcoSizes[] = {16, 32, 48, 256};

// `id` drawn at `size` pixels, 32-bit with alpha.
QImage IconImage(IconId id, int size);

// An .ico holding each image: 32-bit bitmaps with their mask up to 48 pixels (what every
// Windows version reads), a PNG at 256 (as Windows itself stores its large icons).
QByteArray IcoFile(const std::vector<QImage>& images);

}  // namespace orvante::ui::qt
