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
#include <utility>
#include <vector>

#include "ui/main_template.h"
#include "ui/qt/crlf_text_edit.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/drop_down_list.h"
#include "ui/resource.h"

namespace orvante::ui::qt {

namespace {

// Window size in dialog units.
constexpr int kDialogWidth = 410;
constexpr int kDialogHeight = 445;

// A row of controls is 14 units high: buttons fill it, the rest sit one unit in.
constexpr int kRowHeight = 14;
constexpr int kFieldHeight = 12;

Dlu Field(int x, int y, int w) {
    return {x, y + 1, w, kFieldHeight};
}
Dlu ButtonAt(int x, int y, int w) {
    return {x, y, w, kRowHeight};
}

// What a screen reader says for an edit or list: its label without the closing colon.
QString NameFromLabel(QString label) {
    while (label.endsWith(u'：') || label.endsWith(u':')) label.chop(1);
    return label;
}

// Makes the controls, places them by dialog units in dialog coordinates whatever
// their parent, and records the ones with ids.
class LayoutBuilder {
public:
    explicit LayoutBuilder(QDialog& dialog) : dialog_(dialog) {}

    std::unordered_map<int, QWidget*> TakeControls() { return std::move(controls_); }
    QWidget* DialogWidget() { return &dialog_; }

    QGroupBox* Group(const QString& title, Dlu r, const char* name) {
        auto* group = MakeChild<QGroupBox>(&dialog_, title);
        group->setObjectName(QString::fromLatin1(name));
        Place(group, r);
        return group;
    }

    // A label with no id; right-aligned when it names the control after it.
    QLabel* Label(QWidget* parent, const QString& text, Dlu r,
                  Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
        auto* label = MakeChild<QLabel>(parent, text);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(align);
        Place(label, r);
        return label;
    }

    QLabel* Static(QWidget* parent, int id, const QString& text, Dlu r, bool bordered = false) {
        QLabel* label = Label(parent, text, r, Qt::AlignLeft | Qt::AlignVCenter);
        if (bordered) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setIndent(2);
        }
        Tag(label, id);
        return label;
    }

    QLabel* IconStatic(QWidget* parent, int id, Dlu r) {
        QLabel* label = Label(parent, QString(), r, Qt::AlignCenter);
        Tag(label, id);
        return label;
    }

    QLineEdit* Edit(QWidget* parent, int id, Dlu r, QLabel* label, bool digitsOnly) {
        auto* edit = MakeChild<QLineEdit>(parent);
        if (digitsOnly) {
            edit->setValidator(MakeChild<QRegularExpressionValidator>(
                edit, QRegularExpression(QStringLiteral("[0-9]*"))));
        }
        Place(edit, r);
        Tag(edit, id);
        if (label) Name(edit, label);
        return edit;
    }

    QLineEdit* LabeledEdit(QWidget* parent, const QString& text, Dlu labelRect, int id,
                           Dlu editRect, bool digitsOnly) {
        return Edit(parent, id, editRect, Label(parent, text, labelRect), digitsOnly);
    }

    QComboBox* Combo(QWidget* parent, int id, Dlu r, const QStringList& items) {
        auto* combo = MakeChild<DropDownList>(parent);
        combo->setEditable(false);
        combo->setMaxVisibleItems(16);
        combo->addItems(items);
        combo->setCurrentIndex(-1);
        Place(combo, r);
        Tag(combo, id);
        return combo;
    }

    QComboBox* LabeledCombo(QWidget* parent, const QString& text, Dlu labelRect, int id,
                            Dlu comboRect, const QStringList& items) {
        QLabel* label = Label(parent, text, labelRect);
        QComboBox* combo = Combo(parent, id, comboRect, items);
        Name(combo, label);
        return combo;
    }

    QPushButton* Button(QWidget* parent, int id, const QString& text, Dlu r) {
        auto* button = MakeChild<QPushButton>(parent, text);
        Place(button, r);
        Tag(button, id);
        return button;
    }

    QCheckBox* Check(QWidget* parent, int id, const QString& text, Dlu r) {
        auto* check = MakeChild<QCheckBox>(parent, text);
        Place(check, r);
        Tag(check, id);
        return check;
    }

    CrLfTextEdit* MultiLineEdit(QWidget* parent, int id, Dlu r, const QString& name) {
        auto* edit = MakeChild<CrLfTextEdit>(parent);
        edit->setAccessibleName(name);
        Place(edit, r);
        Tag(edit, id);
        return edit;
    }

    // Places `widget` at `r`, given in the dialog's coordinates.
    void Place(QWidget* widget, Dlu r) {
        QRect pixels = DluToPixels(r);
        if (QWidget* parent = widget->parentWidget(); parent && parent != &dialog_) {
            pixels.translate(-parent->mapTo(&dialog_, QPoint(0, 0)));
        }
        widget->setGeometry(pixels);
    }

private:
    void Tag(QWidget* widget, int id) {
        widget->setObjectName(QStringLiteral("ctl%1").arg(id));
        widget->setAccessibleDescription(QString::number(id));
        controls_[id] = widget;
    }

    static void Name(QWidget* widget, QLabel* label) {
        label->setBuddy(widget);
        widget->setAccessibleName(NameFromLabel(label->text()));
    }

    QDialog& dialog_;
    std::unordered_map<int, QWidget*> controls_;
};

// The items the template gives a drop-down list (shared with the window logic's tests).
QStringList TemplateItems(int id) {
    QStringList items;
    for (const TemplateList& list : MainTemplateLists()) {
        if (list.id != id) continue;
        for (const std::string& item : list.items) items << QString::fromStdString(item);
    }
    return items;
}

void BuildConfigGroup(LayoutBuilder& b) {
    QGroupBox* g = b.Group(QStringLiteral("配置区域"), {5, 4, 395, 39}, "groupConfig");
    const int y = 20;
    QComboBox* port =
        b.LabeledCombo(g, QStringLiteral("串口"), Field(12, y, 18), IDC_PORT, Field(32, y, 90), {});
    port->setMaxVisibleItems(20);
    port->setProperty(kSortedListProperty, true);
    b.LabeledCombo(g, QStringLiteral("波特率"), Field(126, y, 28), IDC_BAUD, Field(156, y, 44),
                   TemplateItems(IDC_BAUD));
    b.Button(g, IDC_CONNECT, QStringLiteral("连接红外"), ButtonAt(206, y, 46));
    b.IconStatic(g, IDC_INDICATOR, Field(256, y, 12));
    b.LabeledEdit(g, QStringLiteral("目标地址："), Field(268, y, 44), IDC_TARGET_ADDR,
                  Field(314, y, 28), false);
    b.Button(g, IDC_TEST_CONNECTION, QStringLiteral("测试连接"), ButtonAt(348, y, 46));

    // The line settings other than the rate are fixed at 8-N-1 for the module; their
    // lists exist, are filled and work, but are never shown.
    struct Hidden {
        const char* label;
        int x;
        int id;
    };
    const std::array<Hidden, 3> hidden{{{"校验位", 202, IDC_PARITY},
                                        {"停止位", 274, IDC_STOP_BITS},
                                        {"数据位", 336, IDC_DATA_BITS}}};
    for (const Hidden& h : hidden) {
        QLabel* label = b.Label(g, QString::fromUtf8(h.label), Field(h.x, y, 26));
        QComboBox* combo =
            b.Combo(g, h.id, Field(h.x + 28, y, h.id == IDC_PARITY ? 40 : 30), TemplateItems(h.id));
        label->setBuddy(combo);
        combo->setAccessibleName(label->text());
        label->hide();
        combo->hide();
    }
}

void BuildLearnGroup(LayoutBuilder& b) {
    QGroupBox* g = b.Group(QStringLiteral("学习功能"), {4, 45, 398, 34}, "groupLearn");
    const int y = 59;
    const QString slot = QStringLiteral("存储序号：");
    b.LabeledEdit(g, slot, Field(12, y, 42), IDC_LEARN_INDEX, Field(56, y, 20), true);
    b.Button(g, IDC_LEARN, QStringLiteral("学习"), ButtonAt(80, y, 36));
    b.Label(g, QStringLiteral("脉冲个数："), Field(122, y, 44));
    b.Static(g, IDC_PULSE_COUNT, QStringLiteral("0"), Field(168, y, 24));
    b.LabeledEdit(g, slot, Field(196, y, 44), IDC_SEND_INDEX, Field(242, y, 20), true);
    b.Button(g, IDC_TRANSMIT, QStringLiteral("发射"), ButtonAt(266, y, 36));
    b.Button(g, IDC_IMPORT_LIBRARY, QStringLiteral("导入库"), ButtonAt(310, y, 40));
    b.Button(g, IDC_EXPORT_LIBRARY, QStringLiteral("导出库"), ButtonAt(354, y, 40));
}

void BuildAcGroup(LayoutBuilder& b) {
    QGroupBox* g = b.Group(QStringLiteral("空调码库操作"), {3, 80, 398, 27}, "groupAcLibrary");
    const int y = 90;
    b.LabeledEdit(g, QStringLiteral("品牌编码："), Field(11, y, 42), IDC_AC_BRAND, Field(55, y, 30),
                  true);
    // The five lists have no labels on screen; their items say what they set.
    struct AcList {
        int id;
        int x, w;
        const char* name;
    };
    const std::array<AcList, 5> lists{{
        {IDC_AC_POWER, 91, 32, "开关"},
        {IDC_AC_MODE, 127, 42, "模式"},
        {IDC_AC_TEMPERATURE, 173, 42, "温度"},
        {IDC_AC_FAN, 219, 46, "风量"},
        {IDC_AC_SWING, 269, 56, "摆风"},
    }};
    for (const AcList& list : lists) {
        b.Combo(g, list.id, Field(list.x, y, list.w), TemplateItems(list.id))
            ->setAccessibleName(QString::fromUtf8(list.name));
    }
    b.Button(g, IDC_AC_SEND, QStringLiteral("发射"), ButtonAt(353, y, 40));
}

void BuildAdvancedGroup(LayoutBuilder& b) {
    QGroupBox* g = b.Group(QStringLiteral("高级设置"), {4, 110, 397, 27}, "groupAdvanced");
    const int y = 120;
    b.LabeledEdit(g, QStringLiteral("最大支持脉冲个数："), Field(12, y, 74), IDC_PULSE_CAPACITY,
                  Field(88, y, 36), true);
    b.Button(g, IDC_READ_PULSE_CAPACITY, QStringLiteral("读取"), ButtonAt(130, y, 36));
    b.Button(g, IDC_SET_PULSE_CAPACITY, QStringLiteral("设置"), ButtonAt(170, y, 36));
    b.Label(g, QStringLiteral("注：值越大，最大能学习的序号越小！"), Field(214, y, 140),
            Qt::AlignLeft | Qt::AlignVCenter);
    // The switch for this group was never put in use: present, hidden and disabled.
    QCheckBox* show =
        b.Check(g, IDC_SHOW_ADVANCED, QStringLiteral("显示高级设置"), Field(338, y, 60));
    show->setEnabled(false);
    show->hide();
}

void BuildRawDataGroup(LayoutBuilder& b) {
    QGroupBox* g =
        b.Group(QStringLiteral("源数据学习发送功能"), {3, 143, 398, 108}, "groupRawData");
    b.MultiLineEdit(g, IDC_RAW_TEXT, {11, 156, 336, 88}, QStringLiteral("源数据"));
    b.Button(g, IDC_RAW_LEARN, QStringLiteral("学习"), ButtonAt(353, 156, 40));
    b.Button(g, IDC_RAW_SEND, QStringLiteral("发射"), ButtonAt(353, 174, 40));
}

void BuildTimedTaskGroup(LayoutBuilder& b) {
    QGroupBox* g =
        b.Group(QStringLiteral("定时发送功能（掉电记忆）"), {3, 250, 400, 119}, "groupTimedTasks");
    struct TaskRow {
        int enable, slot, period, delay, loops;
    };
    const std::array<TaskRow, 3> rows{{
        {IDC_TASK1_ENABLE, IDC_TASK1_SLOT, IDC_TASK1_PERIOD, IDC_TASK1_DELAY, IDC_TASK1_LOOPS},
        {IDC_TASK2_ENABLE, IDC_TASK2_SLOT, IDC_TASK2_PERIOD, IDC_TASK2_DELAY, IDC_TASK2_LOOPS},
        {IDC_TASK3_ENABLE, IDC_TASK3_SLOT, IDC_TASK3_PERIOD, IDC_TASK3_DELAY, IDC_TASK3_LOOPS},
    }};
    for (int i = 0; i < 3; ++i) {
        const TaskRow& row = rows[static_cast<std::size_t>(i)];
        const int y = 264 + 18 * i;
        b.Label(g, QStringLiteral("任务%1配置").arg(i + 1), Field(11, y, 38),
                Qt::AlignLeft | Qt::AlignVCenter);
        b.Check(g, row.enable, QStringLiteral("开启"), Field(51, y, 30));
        b.LabeledEdit(g, QStringLiteral("存储序号："), Field(83, y, 42), row.slot,
                      Field(127, y, 16), true);
        b.LabeledEdit(g, QStringLiteral("定时周期(分钟)："), Field(145, y, 66), row.period,
                      Field(213, y, 24), true);
        b.LabeledEdit(g, QStringLiteral("延迟启动(分钟)："), Field(239, y, 66), row.delay,
                      Field(307, y, 24), true);
        b.LabeledEdit(g, QStringLiteral("循环次数："), Field(333, y, 44), row.loops,
                      Field(379, y, 18), true);
    }
    const std::array<const char*, 3> notes{"1、模块上电自动启动任务；",
                                           "2、延迟启动表示上电后延迟多久启动；",
                                           "3、循环次数0表示无限循环；"};
    for (int i = 0; i < 3; ++i) {
        b.Label(g, QString::fromUtf8(notes[static_cast<std::size_t>(i)]),
                {11, 322 + 13 * i, 250, 11}, Qt::AlignLeft | Qt::AlignVCenter);
    }
    b.Button(g, IDC_SET_TASKS, QStringLiteral("设置"), ButtonAt(305, 333, 44));
    b.Button(g, IDC_READ_TASKS, QStringLiteral("读取"), ButtonAt(353, 333, 44));
}

// The port functions of the module, never finished: the group and its controls are
// made, each hidden on its own (like the rest of the dialog's hidden controls, they sit
// on the dialog itself), and only the first "设置" button is routed, to a handler that
// does nothing. Its edits have no ids; nothing reads them.
void BuildIoGroup(LayoutBuilder& b) {
    QWidget* d = b.DialogWidget();
    std::vector<QWidget*> made;
    made.push_back(b.Group(QStringLiteral("IO口功能"), {3, 143, 398, 108}, "groupIo"));
    const std::array<const char*, 5> headings{"持续时间", "启动延时", "存储序号", "循环次数",
                                              "循环间隔"};
    const std::array<const char*, 2> halves{"高电平配置区域", "低电平配置区域"};
    constexpr int kColumn = 33;
    constexpr std::array<int, 2> kHalfX{24, 192};
    QFont headingFont = d->font();
    headingFont.setPointSize(8);
    for (std::size_t half = 0; half < 2; ++half) {
        made.push_back(b.Label(d, QString::fromUtf8(halves[half]),
                               {kHalfX[half], 155, 5 * kColumn, 10}, Qt::AlignCenter));
        for (std::size_t col = 0; col < headings.size(); ++col) {
            QLabel* heading =
                b.Label(d, QString::fromUtf8(headings[col]),
                        {kHalfX[half] + static_cast<int>(col) * kColumn, 166, kColumn, 10},
                        Qt::AlignCenter);
            heading->setFont(headingFont);
            made.push_back(heading);
        }
    }
    made.push_back(b.Button(d, IDC_IO_READ, QStringLiteral("读取"), ButtonAt(362, 153, 34)));
    const std::array<int, 4> setIds{IDC_IO1_SET, IDC_IO2_SET, IDC_IO3_SET, IDC_IO4_SET};
    for (int row = 0; row < 4; ++row) {
        const int y = 178 + 17 * row;
        const QString io = QStringLiteral("IO%1").arg(row + 1);
        made.push_back(b.Label(d, io, Field(9, y, 14), Qt::AlignLeft | Qt::AlignVCenter));
        for (std::size_t half = 0; half < 2; ++half) {
            for (std::size_t col = 0; col < headings.size(); ++col) {
                auto* edit = MakeChild<QLineEdit>(d);
                edit->setObjectName(
                    QStringLiteral("io%1%2%3")
                        .arg(row + 1)
                        .arg(half == 0 ? QLatin1String("High") : QLatin1String("Low"))
                        .arg(col + 1));
                edit->setAccessibleName(QStringLiteral("%1 %2 %3")
                                            .arg(io, QString::fromUtf8(halves[half]),
                                                 QString::fromUtf8(headings[col])));
                b.Place(edit,
                        Field(kHalfX[half] + static_cast<int>(col) * kColumn + 1, y, kColumn - 2));
                made.push_back(edit);
            }
        }
        made.push_back(b.Button(d, setIds[static_cast<std::size_t>(row)], QStringLiteral("设置"),
                                ButtonAt(362, y, 34)));
    }
    for (QWidget* widget : made) widget->hide();
}

constexpr Dlu kLogRect = {0, 369, kDialogWidth, 54};
constexpr std::array<std::pair<int, Dlu>, 3> kStatusFields{{
    {IDC_LOCAL_ADDR, {2, 430, 120, 12}},
    {IDC_STATUS, {126, 430, 200, 12}},
    {IDC_STATUS_SPARE, {330, 430, 78, 12}},
}};

void BuildLogAndStatus(LayoutBuilder& b, QDialog& dialog) {
    b.MultiLineEdit(&dialog, IDC_LOG, kLogRect, QStringLiteral("日志"));
    const std::array<QString, 3> texts{QStringLiteral("本机地址："), QStringLiteral("运行状态："),
                                       QString()};
    for (std::size_t i = 0; i < kStatusFields.size(); ++i) {
        b.Static(&dialog, kStatusFields[i].first, texts[i], kStatusFields[i].second, true);
    }
}

}  // namespace

std::unordered_map<int, QWidget*> BuildMainLayout(QDialog& dialog) {
    const QSize designSize(DluToPixels(kDialogWidth), DluToPixels(kDialogHeight));
    dialog.setMinimumSize(designSize);
    dialog.resize(designSize);
    LayoutBuilder builder(dialog);
    BuildConfigGroup(builder);
    BuildLearnGroup(builder);
    BuildAcGroup(builder);
    BuildAdvancedGroup(builder);
    BuildRawDataGroup(builder);
    BuildIoGroup(builder);
    BuildTimedTaskGroup(builder);
    BuildLogAndStatus(builder, dialog);
    return builder.TakeControls();
}

void FitLogToWindow(const std::unordered_map<int, QWidget*>& controls, QSize size) {
    const int extraWidth = std::max(0, size.width() - DluToPixels(kDialogWidth));
    const int extraHeight = std::max(0, size.height() - DluToPixels(kDialogHeight));
    if (const auto log = controls.find(IDC_LOG); log != controls.end()) {
        log->second->setGeometry(DluToPixels(kLogRect).adjusted(0, 0, extraWidth, extraHeight));
    }
    for (const auto& [id, rect] : kStatusFields) {
        if (const auto field = controls.find(id); field != controls.end()) {
            field->second->setGeometry(DluToPixels(rect).translated(0, extraHeight));
        }
    }
}

}  // namespace orvante::ui::qt
