// The in-memory dialog templates, made into real dialogs by the system (under Wine,
// headless through its null graphics driver): every control of the template exists,
// of its kind, with its text, style and place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "ui/main_template.h"
#include "ui/win32/dialog_template.h"

// After the program's own headers: <windows.h> defines names they use.
#include <windows.h>

namespace orvante::ui::win32 {
namespace {

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return platform::Utf8FromWide(name);
}

std::string TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(text.size() - 1);
    return platform::Utf8FromWide(text);
}

const char* ExpectedClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::kGroup:
        case ControlKind::kButton:
        case ControlKind::kCheckBox:
            return "Button";
        case ControlKind::kLabel:
        case ControlKind::kIcon:
            return "Static";
        case ControlKind::kEdit:
        case ControlKind::kMultiLineEdit:
            return "Edit";
        case ControlKind::kDropDownList:
            return "ComboBox";
    }
    return "";
}

TEST(Win32DialogTemplate, TheSystemMakesEveryControlWhereTheTemplatePutsIt) {
    for (const DialogTemplate& dialog : {MainDialogTemplate(), AboutDialogTemplate("1.0")}) {
        const std::vector<std::uint32_t> bytes =
            BuildDialogTemplate(dialog, {WS_POPUP | WS_CAPTION | WS_SYSMENU, 0});
        HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                                 nullptr, IgnoreMessages, 0);
        ASSERT_NE(window, nullptr) << GetLastError();
        std::vector<HWND> children;
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            children.push_back(child);
        }
        ASSERT_EQ(children.size(), dialog.controls.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            const ControlTemplate& control = dialog.controls[i];
            HWND child = children[i];
            SCOPED_TRACE("control " + std::to_string(i) + " " + control.text);
            EXPECT_EQ(ClassOf(child), ExpectedClass(control.kind));
            EXPECT_EQ(GetDlgCtrlID(child), control.id != 0 ? control.id : -1);
            if (control.kind != ControlKind::kDropDownList && control.kind != ControlKind::kIcon) {
                EXPECT_EQ(TextOf(child), control.text);
            }
            const LONG style = GetWindowLongW(child, GWL_STYLE);
            EXPECT_EQ((style & WS_VISIBLE) != 0, !control.hidden);
            EXPECT_EQ((style & WS_DISABLED) != 0, control.disabled);
            // The dialog manager scales a control's position and its size each on its own.
            RECT place{control.rect.x, control.rect.y, control.rect.w, control.rect.h};
            MapDialogRect(window, &place);
            const RECT expected{place.left, place.top, place.left + place.right,
                                place.top + place.bottom};
            RECT actual{};
            GetWindowRect(child, &actual);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_EQ(actual.left, expected.left);
            EXPECT_EQ(actual.top, expected.top);
            EXPECT_EQ(actual.right, expected.right);
            // A drop-down list is as high as its field, whatever its template says.
            if (control.kind != ControlKind::kDropDownList) {
                EXPECT_EQ(actual.bottom, expected.bottom);
            }
        }
        DestroyWindow(window);
    }
}

}  // namespace
}  // namespace orvante::ui::win32
