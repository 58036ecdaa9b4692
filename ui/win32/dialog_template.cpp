#include "ui/win32/dialog_template.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/wide_text.h"

namespace orvante::ui::win32 {

namespace {

// The predefined window classes, by the atoms a dialog template may name them with.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;

// A dropped-down list's rows are 8 dialog units high, as a template counts them.
constexpr int kListRowHeight = 8;

// Writes the template's fields in order, 16 bits at a time, aligning where it must.
class TemplateWriter {
public:
    void Word(WORD value) { words_.push_back(value); }
    void Dword(DWORD value) {
        Word(static_cast<WORD>(value & 0xFFFF));
        Word(static_cast<WORD>(value >> 16));
    }
    void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
    void Text(const std::wstring& text) {
        for (wchar_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignToDword() {
        if (words_.size() % 2 != 0) Word(0);
    }

    std::vector<std::uint32_t> Take() {
        AlignToDword();
        std::vector<std::uint32_t> dwords(words_.size() / 2);
        std::memcpy(dwords.data(), words_.data(), words_.size() * sizeof(WORD));
        return dwords;
    }

private:
    std::vector<WORD> words_;
};

DWORD LabelAlignment(TextAlign align) {
    switch (align) {
        case TextAlign::kRight:
            return SS_RIGHT;
        case TextAlign::kCenter:
            return SS_CENTER;
        case TextAlign::kLeft:
            break;
    }
    return SS_LEFT;
}

struct ItemClass {
    WORD atom;
    DWORD style;
};

ItemClass ClassAndStyle(const ControlTemplate& control) {
    switch (control.kind) {
        case ControlKind::kGroup:
            return {kButtonClass, BS_GROUPBOX};
        case ControlKind::kLabel:
            return {kStaticClass, LabelAlignment(control.align) | SS_CENTERIMAGE | SS_NOPREFIX |
                                      (control.bordered ? SS_SUNKEN : 0u)};
        case ControlKind::kIcon:
            return {kStaticClass, SS_ICON | SS_CENTERIMAGE | SS_REALSIZEIMAGE};
        case ControlKind::kEdit:
            return {kEditClass, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP |
                                    (control.digitsOnly ? ES_NUMBER : 0u)};
        case ControlKind::kMultiLineEdit:
            return {kEditClass, ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL |
                                    WS_BORDER | WS_TABSTOP};
        case ControlKind::kDropDownList:
            return {kComboBoxClass,
                    CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | (control.sorted ? CBS_SORT : 0u)};
        case ControlKind::kButton:
            return {kButtonClass,
                    static_cast<DWORD>(control.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) |
                        WS_TABSTOP};
        case ControlKind::kCheckBox:
            return {kButtonClass, BS_AUTOCHECKBOX | WS_TABSTOP};
    }
    return {kStaticClass, 0};
}

void WriteItem(TemplateWriter& out, const ControlTemplate& control) {
    out.AlignToDword();
    const ItemClass item = ClassAndStyle(control);
    DWORD style = WS_CHILD | item.style;
    if (!control.hidden) style |= WS_VISIBLE;
    if (control.disabled) style |= WS_DISABLED;
    out.Dword(0);  // help id
    out.Dword(0);  // extended style
    out.Dword(style);
    out.Short(control.rect.x);
    out.Short(control.rect.y);
    out.Short(control.rect.w);
    // A drop-down list's height is the list's, dropped down.
    const int height = control.kind == ControlKind::kDropDownList
                           ? control.rect.h + control.visibleItems * kListRowHeight
                           : control.rect.h;
    out.Short(height);
    out.Dword(control.id != 0 ? static_cast<DWORD>(control.id) : static_cast<DWORD>(-1));
    out.Word(0xFFFF);
    out.Word(item.atom);
    out.Text(platform::WideFromUtf8(control.text));
    out.Word(0);  // no creation data
}

}  // namespace

std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog,
                                               const DialogFrame& frame) {
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: DLGTEMPLATEEX
    out.Dword(0);      // help id
    out.Dword(frame.exStyle);
    out.Dword(frame.style | DS_SETFONT);
    out.Word(static_cast<WORD>(dialog.controls.size()));
    out.Short(0);
    out.Short(0);
    out.Short(dialog.width);
    out.Short(dialog.height);
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(platform::WideFromUtf8(dialog.title));
    out.Word(static_cast<WORD>(kDialogPointSize));
    out.Word(FW_NORMAL);
    out.Word(static_cast<WORD>(GB2312_CHARSET << 8));  // not italic; the charset byte
    out.Text(kDialogFace);
    for (const ControlTemplate& control : dialog.controls) WriteItem(out, control);
    return out.Take();
}

}  // namespace orvante::ui::win32
