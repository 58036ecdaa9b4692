#include "ui/main_template.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "ui/framework.h"
#include "ui/resource.h"

namespace orvante::ui {

namespace {

std::vector<std::string> TemperatureItems() {
    std::vector<std::string> items;
    for (int degrees = 16; degrees <= 30; ++degrees)
        items.push_back(std::to_string(degrees) + "度");
    return items;
}

// Builds the template control by control, in the order the window makes them.
class TemplateBuilder {
public:
    // A row of controls is 14 units high: buttons fill it, the rest sit one unit in.
    static constexpr int kRowHeight = 14;
    static constexpr int kFieldHeight = 12;

    static DialogRect Field(int x, int y, int w) { return {x, y + 1, w, kFieldHeight}; }
    static DialogRect ButtonAt(int x, int y, int w) { return {x, y, w, kRowHeight}; }

    // A control of `kind` at `r`; the other fields are set on what it returns.
    ControlTemplate& Add(ControlKind kind, int id, std::string text, DialogRect r) {
        ControlTemplate& control = controls_.emplace_back();
        control.kind = kind;
        control.id = id;
        control.text = std::move(text);
        control.rect = r;
        return control;
    }
    ControlTemplate& Group(std::string text, DialogRect r, std::string name) {
        ControlTemplate& group = Add(ControlKind::kGroup, 0, std::move(text), r);
        group.onDialog = true;
        group.name = std::move(name);
        return group;
    }
    ControlTemplate& Label(std::string text, DialogRect r, TextAlign align = TextAlign::kRight) {
        ControlTemplate& label = Add(ControlKind::kLabel, 0, std::move(text), r);
        label.align = align;
        return label;
    }
    ControlTemplate& Static(int id, std::string text, DialogRect r) {
        return Add(ControlKind::kLabel, id, std::move(text), r);
    }
    ControlTemplate& Edit(int id, DialogRect r, bool digitsOnly) {
        ControlTemplate& edit = Add(ControlKind::kEdit, id, {}, r);
        edit.digitsOnly = digitsOnly;
        return edit;
    }
    // A label that names the edit after it.
    ControlTemplate& LabeledEdit(std::string text, DialogRect labelRect, int id, DialogRect r,
                                 bool digitsOnly) {
        Label(std::move(text), labelRect).namesNext = true;
        return Edit(id, r, digitsOnly);
    }
    ControlTemplate& List(int id, DialogRect r) {
        return Add(ControlKind::kDropDownList, id, {}, r);
    }
    ControlTemplate& LabeledList(std::string text, DialogRect labelRect, int id, DialogRect r) {
        Label(std::move(text), labelRect).namesNext = true;
        return List(id, r);
    }
    ControlTemplate& Button(int id, std::string text, DialogRect r) {
        return Add(ControlKind::kButton, id, std::move(text), r);
    }
    ControlTemplate& Check(int id, std::string text, DialogRect r) {
        return Add(ControlKind::kCheckBox, id, std::move(text), r);
    }
    ControlTemplate& MultiLineEdit(int id, DialogRect r, std::string accessibleName) {
        ControlTemplate& edit = Add(ControlKind::kMultiLineEdit, id, {}, r);
        edit.accessibleName = std::move(accessibleName);
        return edit;
    }

    std::vector<ControlTemplate> Take() { return std::move(controls_); }

private:
    std::vector<ControlTemplate> controls_;
};

void AddConfigGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("配置区域", {5, 4, 395, 39}, "groupConfig");
    const int y = 20;
    ControlTemplate& port =
        b.LabeledList("串口", B::Field(12, y, 18), IDC_PORT, B::Field(32, y, 90));
    port.sorted = true;
    port.visibleItems = 20;
    b.LabeledList("波特率", B::Field(126, y, 28), IDC_BAUD, B::Field(156, y, 44));
    b.Button(IDC_CONNECT, "连接红外", B::ButtonAt(206, y, 46));
    b.Add(ControlKind::kIcon, IDC_INDICATOR, {}, B::Field(256, y, 12));
    b.LabeledEdit("目标地址：", B::Field(268, y, 44), IDC_TARGET_ADDR, B::Field(314, y, 28), false);
    b.Button(IDC_TEST_CONNECTION, "测试连接", B::ButtonAt(348, y, 46));
    // The line settings other than the rate are fixed at 8-N-1 for the module; their
    // lists exist, are filled and work, but are never shown.
    struct Hidden {
        const char* label;
        int x;
        int id;
    };
    for (const Hidden& h : std::array<Hidden, 3>{{{"校验位", 202, IDC_PARITY},
                                                  {"停止位", 274, IDC_STOP_BITS},
                                                  {"数据位", 336, IDC_DATA_BITS}}}) {
        ControlTemplate& label = b.Label(h.label, B::Field(h.x, y, 26));
        label.namesNext = true;
        label.hidden = true;
        b.List(h.id, B::Field(h.x + 28, y, h.id == IDC_PARITY ? 40 : 30)).hidden = true;
    }
}

void AddLearnGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("学习功能", {4, 45, 398, 34}, "groupLearn");
    const int y = 59;
    b.LabeledEdit("存储序号：", B::Field(12, y, 42), IDC_LEARN_INDEX, B::Field(56, y, 20), true);
    b.Button(IDC_LEARN, "学习", B::ButtonAt(80, y, 36));
    b.Label("脉冲个数：", B::Field(122, y, 44));
    b.Static(IDC_PULSE_COUNT, "0", B::Field(168, y, 24));
    b.LabeledEdit("存储序号：", B::Field(196, y, 44), IDC_SEND_INDEX, B::Field(242, y, 20), true);
    b.Button(IDC_TRANSMIT, "发射", B::ButtonAt(266, y, 36));
    b.Button(IDC_IMPORT_LIBRARY, "导入库", B::ButtonAt(310, y, 40));
    b.Button(IDC_EXPORT_LIBRARY, "导出库", B::ButtonAt(354, y, 40));
}

void AddAcGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("空调码库操作", {3, 80, 398, 27}, "groupAcLibrary");
    const int y = 90;
    b.LabeledEdit("品牌编码：", B::Field(11, y, 42), IDC_AC_BRAND, B::Field(55, y, 30), true);
    // The five lists have no labels on screen; their items say what they set.
    struct AcList {
        int id;
        int x, w;
        const char* name;
    };
    for (const AcList& list : std::array<AcList, 5>{{
             {IDC_AC_POWER, 91, 32, "开关"},
             {IDC_AC_MODE, 127, 42, "模式"},
             {IDC_AC_TEMPERATURE, 173, 42, "温度"},
             {IDC_AC_FAN, 219, 46, "风量"},
             {IDC_AC_SWING, 269, 56, "摆风"},
         }}) {
        b.List(list.id, B::Field(list.x, y, list.w)).accessibleName = list.name;
    }
    b.Button(IDC_AC_SEND, "发射", B::ButtonAt(353, y, 40));
}

void AddAdvancedGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("高级设置", {4, 110, 397, 27}, "groupAdvanced");
    const int y = 120;
    b.LabeledEdit("最大支持脉冲个数：", B::Field(12, y, 74), IDC_PULSE_CAPACITY,
                  B::Field(88, y, 36), true);
    b.Button(IDC_READ_PULSE_CAPACITY, "读取", B::ButtonAt(130, y, 36));
    b.Button(IDC_SET_PULSE_CAPACITY, "设置", B::ButtonAt(170, y, 36));
    b.Label("注：值越大，最大能学习的序号越小！", B::Field(214, y, 140), TextAlign::kLeft);
    // The switch for this group was never put in use: present, hidden and disabled.
    ControlTemplate& show = b.Check(IDC_SHOW_ADVANCED, "显示高级设置", B::Field(338, y, 60));
    show.hidden = true;
    show.disabled = true;
}

void AddRawDataGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("源数据学习发送功能", {3, 143, 398, 108}, "groupRawData");
    b.MultiLineEdit(IDC_RAW_TEXT, {11, 156, 336, 88}, "源数据");
    b.Button(IDC_RAW_LEARN, "学习", B::ButtonAt(353, 156, 40));
    b.Button(IDC_RAW_SEND, "发射", B::ButtonAt(353, 174, 40));
}

// The port functions of the module, never finished: the group and its controls are
// made, each hidden on its own (like the rest of the dialog's hidden controls, they sit
// on the dialog itself), and only the first "设置" button is routed, to a handler that
// does nothing. Its edits have no ids; nothing reads them.
void AddIoGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    auto hiddenOnDialog = [](ControlTemplate& control) {
        control.onDialog = true;
        control.hidden = true;
    };
    b.Group("IO口功能", {3, 143, 398, 108}, "groupIo").hidden = true;
    const std::array<const char*, 5> headings{"持续时间", "启动延时", "存储序号", "循环次数",
                                              "循环间隔"};
    const std::array<const char*, 2> halves{"高电平配置区域", "低电平配置区域"};
    constexpr int kColumn = 33;
    constexpr std::array<int, 2> kHalfX{24, 192};
    for (std::size_t half = 0; half < 2; ++half) {
        hiddenOnDialog(
            b.Label(halves[half], {kHalfX[half], 155, 5 * kColumn, 10}, TextAlign::kCenter));
        for (std::size_t col = 0; col < headings.size(); ++col) {
            ControlTemplate& heading = b.Label(
                headings[col], {kHalfX[half] + static_cast<int>(col) * kColumn, 166, kColumn, 10},
                TextAlign::kCenter);
            heading.smallFont = true;
            hiddenOnDialog(heading);
        }
    }
    hiddenOnDialog(b.Button(IDC_IO_READ, "读取", B::ButtonAt(362, 153, 34)));
    const std::array<int, 4> setIds{IDC_IO1_SET, IDC_IO2_SET, IDC_IO3_SET, IDC_IO4_SET};
    for (int row = 0; row < 4; ++row) {
        const int y = 178 + 17 * row;
        const std::string io = "IO" + std::to_string(row + 1);
        hiddenOnDialog(b.Label(io, B::Field(9, y, 14), TextAlign::kLeft));
        for (std::size_t half = 0; half < 2; ++half) {
            for (std::size_t col = 0; col < headings.size(); ++col) {
                ControlTemplate& edit = b.Edit(
                    0, B::Field(kHalfX[half] + static_cast<int>(col) * kColumn + 1, y, kColumn - 2),
                    false);
                edit.name = "io" + std::to_string(row + 1) + (half == 0 ? "High" : "Low") +
                            std::to_string(col + 1);
                edit.accessibleName = io + " " + halves[half] + " " + headings[col];
                hiddenOnDialog(edit);
            }
        }
        hiddenOnDialog(
            b.Button(setIds[static_cast<std::size_t>(row)], "设置", B::ButtonAt(362, y, 34)));
    }
}

void AddTimedTaskGroup(TemplateBuilder& b) {
    using B = TemplateBuilder;
    b.Group("定时发送功能（掉电记忆）", {3, 250, 400, 119}, "groupTimedTasks");
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
        b.Label("任务" + std::to_string(i + 1) + "配置", B::Field(11, y, 38), TextAlign::kLeft);
        b.Check(row.enable, "开启", B::Field(51, y, 30));
        b.LabeledEdit("存储序号：", B::Field(83, y, 42), row.slot, B::Field(127, y, 16), true);
        b.LabeledEdit("定时周期(分钟)：", B::Field(145, y, 66), row.period, B::Field(213, y, 24),
                      true);
        b.LabeledEdit("延迟启动(分钟)：", B::Field(239, y, 66), row.delay, B::Field(307, y, 24),
                      true);
        b.LabeledEdit("循环次数：", B::Field(333, y, 44), row.loops, B::Field(379, y, 18), true);
    }
    const std::array<const char*, 3> notes{"1、模块上电自动启动任务；",
                                           "2、延迟启动表示上电后延迟多久启动；",
                                           "3、循环次数0表示无限循环；"};
    for (int i = 0; i < 3; ++i) {
        b.Label(notes[static_cast<std::size_t>(i)], {11, 322 + 13 * i, 250, 11}, TextAlign::kLeft);
    }
    b.Button(IDC_SET_TASKS, "设置", B::ButtonAt(305, 333, 44));
    b.Button(IDC_READ_TASKS, "读取", B::ButtonAt(353, 333, 44));
}

void AddLogAndStatus(TemplateBuilder& b, int dialogWidth) {
    b.MultiLineEdit(IDC_LOG, {0, 369, dialogWidth, 54}, "日志").onDialog = true;
    struct Field {
        int id;
        const char* text;
        DialogRect rect;
    };
    for (const Field& f : std::array<Field, 3>{{{IDC_LOCAL_ADDR, "本机地址：", {2, 430, 120, 12}},
                                                {IDC_STATUS, "运行状态：", {126, 430, 200, 12}},
                                                {IDC_STATUS_TRANSFER, "", {330, 430, 78, 12}}}}) {
        ControlTemplate& status = b.Static(f.id, f.text, f.rect);
        status.onDialog = true;
        status.bordered = true;
    }
}

}  // namespace

const DialogTemplate& MainDialogTemplate() {
    static const DialogTemplate dialog = [] {
        DialogTemplate d;
        d.width = 410;
        d.height = 445;
        TemplateBuilder b;
        AddConfigGroup(b);
        AddLearnGroup(b);
        AddAcGroup(b);
        AddAdvancedGroup(b);
        AddRawDataGroup(b);
        AddIoGroup(b);
        AddTimedTaskGroup(b);
        AddLogAndStatus(b, d.width);
        d.controls = b.Take();
        return d;
    }();
    return dialog;
}

DialogTemplate AboutDialogTemplate(const std::string& version) {
    DialogTemplate d;
    d.title = "关于 ORVANTE";
    d.width = 235;
    d.height = 55;
    TemplateBuilder b;
    b.Add(ControlKind::kIcon, 0, {}, {11, 17, 21, 21}).accessibleName = "ORVANTE";
    b.Static(0, "ORVANTE " + version + " 版", {40, 21, 130, 12});
    b.Button(IDOK, "确定", {178, 7, 50, 14}).isDefault = true;
    d.controls = b.Take();
    return d;
}

DialogRect MainControlRect(int id) {
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        if (control.id == id) return control.rect;
    }
    throw std::out_of_range("no control " + std::to_string(id) + " in the main window");
}

std::vector<ControlPlace> MainPlacesForSize(
    int width, int height, const std::function<PixelRect(const DialogRect&)>& toPixels) {
    const DialogTemplate& layout = MainDialogTemplate();
    const PixelRect design = toPixels({0, 0, layout.width, layout.height});
    const int extraWidth = std::max(0, width - design.w);
    const int extraHeight = std::max(0, height - design.h);
    PixelRect log = toPixels(MainControlRect(IDC_LOG));
    log.w += extraWidth;
    log.h += extraHeight;
    std::vector<ControlPlace> places{{IDC_LOG, log}};
    for (int id : {IDC_LOCAL_ADDR, IDC_STATUS, IDC_STATUS_TRANSFER}) {
        PixelRect field = toPixels(MainControlRect(id));
        field.y += extraHeight;
        places.push_back({id, field});
    }
    return places;
}

const std::vector<TemplateList>& MainTemplateLists() {
    static const std::vector<TemplateList> lists = {
        {IDC_BAUD,
         {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "43000", "56000", "57600",
          "115200", "230400"}},
        {IDC_PARITY, {"NONE", "ODD", "EVEN"}},
        {IDC_STOP_BITS, {"1", "2"}},
        {IDC_DATA_BITS, {"8", "7", "6"}},
        {IDC_AC_POWER, {"关", "开"}},
        {IDC_AC_MODE, {"自动", "制冷", "制热", "送风", "去湿"}},
        {IDC_AC_TEMPERATURE, TemperatureItems()},
        {IDC_AC_FAN, {"自动风", "风量1", "风量2", "风量3", "风量4", "风量5"}},
        {IDC_AC_SWING, {"上下摆风", "左右摆风", "摆风关闭"}},
    };
    return lists;
}

}  // namespace orvante::ui
