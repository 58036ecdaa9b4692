#include "ui/main_template.h"

#include "ui/resource.h"

namespace orvante::ui {

namespace {

std::vector<std::string> TemperatureItems() {
    std::vector<std::string> items;
    for (int degrees = 16; degrees <= 30; ++degrees)
        items.push_back(std::to_string(degrees) + "度");
    return items;
}

}  // namespace

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
