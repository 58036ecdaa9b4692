#include "ui/qt/main_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <array>

#include "ui/main_template.h"
#include "ui/qt/crlf_text_edit.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/drop_down_list.h"
#include "ui/resource.h"

namespace orvante::ui::qt {

namespace {

// What a screen reader says for an edit or list: its label without the closing colon.
QString NameFromLabel(QString label) {
    while (label.endsWith(u'：') || label.endsWith(u':')) label.chop(1);
    return label;
}

Qt::Alignment AlignmentOf(TextAlign align) {
    switch (align) {
        case TextAlign::kRight:
            return Qt::AlignRight | Qt::AlignVCenter;
        case TextAlign::kCenter:
            return Qt::AlignCenter;
        case TextAlign::kLeft:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// The items the template gives a drop-down list (shared with the window logic's tests).
QStringList TemplateItems(int id) {
    QStringList items;
    for (const TemplateList& list : MainTemplateLists()) {
        if (list.id != id) continue;
        for (const std::string& item : list.items) items << FromUtf8(item);
    }
    return items;
}

// Makes the template's controls in order, places them by dialog units in dialog
// coordinates whatever their parent, and records the ones with ids.
class LayoutBuilder {
public:
    explicit LayoutBuilder(QDialog& dialog) : dialog_(dialog) {}

    void Make(const ControlTemplate& control) {
        QWidget* parent =
            control.onDialog || group_ == nullptr ? static_cast<QWidget*>(&dialog_) : group_;
        QWidget* widget = MakeWidget(control, parent);
        Place(widget, control.rect);
        if (control.id != 0) Tag(widget, control.id);
        if (!control.name.empty()) widget->setObjectName(FromUtf8(control.name));
        if (!control.accessibleName.empty()) {
            widget->setAccessibleName(FromUtf8(control.accessibleName));
        }
        if (control.smallFont) {
            QFont font = dialog_.font();
            font.setPointSize(8);
            widget->setFont(font);
        }
        // A label names the control after it: its buddy, and its accessible name.
        if (namingLabel_ != nullptr) {
            namingLabel_->setBuddy(widget);
            widget->setAccessibleName(NameFromLabel(namingLabel_->text()));
            namingLabel_ = nullptr;
        }
        if (control.kind == ControlKind::kLabel && control.namesNext) {
            namingLabel_ = static_cast<QLabel*>(widget);
        }
        if (control.disabled) widget->setEnabled(false);
        if (control.hidden) widget->hide();
    }

    std::unordered_map<int, QWidget*> TakeControls() { return std::move(controls_); }

private:
    QWidget* MakeWidget(const ControlTemplate& control, QWidget* parent) {
        const QString text = FromUtf8(control.text);
        switch (control.kind) {
            case ControlKind::kGroup: {
                auto* group = MakeChild<QGroupBox>(parent, text);
                group_ = group;
                return group;
            }
            case ControlKind::kLabel:
            case ControlKind::kIcon: {
                auto* label = MakeChild<QLabel>(parent, text);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(control.kind == ControlKind::kIcon
                                        ? Qt::AlignCenter
                                        : AlignmentOf(control.align));
                if (control.bordered) {
                    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                    label->setIndent(2);
                }
                return label;
            }
            case ControlKind::kEdit: {
                auto* edit = MakeChild<QLineEdit>(parent);
                if (control.digitsOnly) {
                    edit->setValidator(MakeChild<QRegularExpressionValidator>(
                        edit, QRegularExpression(QStringLiteral("[0-9]*"))));
                }
                return edit;
            }
            case ControlKind::kMultiLineEdit:
                return MakeChild<CrLfTextEdit>(parent);
            case ControlKind::kDropDownList: {
                auto* combo = MakeChild<DropDownList>(parent);
                combo->setEditable(false);
                combo->setMaxVisibleItems(control.visibleItems);
                combo->addItems(TemplateItems(control.id));
                combo->setCurrentIndex(-1);
                if (control.sorted) combo->setProperty(kSortedListProperty, true);
                return combo;
            }
            case ControlKind::kButton:
                return MakeChild<QPushButton>(parent, text);
            case ControlKind::kCheckBox:
                return MakeChild<QCheckBox>(parent, text);
        }
        return MakeChild<QLabel>(parent);
    }

    // Places `widget` at `r`, given in the dialog's coordinates.
    void Place(QWidget* widget, Dlu r) {
        QRect pixels = DluToPixels(r);
        if (QWidget* parent = widget->parentWidget(); parent && parent != &dialog_) {
            pixels.translate(-parent->mapTo(&dialog_, QPoint(0, 0)));
        }
        widget->setGeometry(pixels);
    }

    void Tag(QWidget* widget, int id) {
        widget->setObjectName(QStringLiteral("ctl%1").arg(id));
        widget->setAccessibleDescription(QString::number(id));
        controls_[id] = widget;
    }

    QDialog& dialog_;
    QGroupBox* group_ = nullptr;     // the last group made
    QLabel* namingLabel_ = nullptr;  // a label waiting for the control it names
    std::unordered_map<int, QWidget*> controls_;
};

}  // namespace

std::unordered_map<int, QWidget*> BuildMainLayout(QDialog& dialog) {
    const DialogTemplate& layout = MainDialogTemplate();
    const QSize designSize(DluToPixels(layout.width), DluToPixels(layout.height));
    dialog.setMinimumSize(designSize);
    dialog.resize(designSize);
    LayoutBuilder builder(dialog);
    for (const ControlTemplate& control : layout.controls) builder.Make(control);
    return builder.TakeControls();
}

void FitLogToWindow(const std::unordered_map<int, QWidget*>& controls, QSize size) {
    const auto toPixels = [](const DialogRect& rect) {
        const QRect pixels = DluToPixels(rect);
        return PixelRect{pixels.x(), pixels.y(), pixels.width(), pixels.height()};
    };
    for (const auto& [id, rect] : MainPlacesForSize(size.width(), size.height(), toPixels)) {
        if (const auto control = controls.find(id); control != controls.end()) {
            control->second->setGeometry(rect.x, rect.y, rect.w, rect.h);
        }
    }
}

}  // namespace orvante::ui::qt
