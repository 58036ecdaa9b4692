// The window templates (ui/main_template.h) as the in-memory dialog templates that
// CreateDialogIndirectParamW takes: DLGTEMPLATEEX with the dialog's font, and one
// DLGITEMTEMPLATEEX a control, in the template's order (the tab order).
#pragma once

#include <cstdint>
#include <vector>

#include "ui/main_template.h"

namespace orvante::ui::win32 {

// What the dialog is, beyond its controls: its window style and caption.
struct DialogFrame {
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
};

// The dialog font: "宋体" 9 pt, as the window was designed with.
inline constexpr wchar_t kDialogFace[] = L"宋体";
inline constexpr int kDialogPointSize = 9;

// The template's bytes, in 32-bit words so that the buffer is aligned as the system
// requires. A control with id 0 gets the id of controls nobody addresses (-1).
std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog,
                                               const DialogFrame& frame);

}  // namespace orvante::ui::win32
