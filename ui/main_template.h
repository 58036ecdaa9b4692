// The lists that the main window's template gives its drop-down lists, shared by the
// window backends so that the logic's indexes mean the same everywhere.
#pragma once

#include <string>
#include <vector>

namespace orvante::ui {

struct TemplateList {
    int id;
    std::vector<std::string> items;
};

// Every drop-down list of the main window except the port list, which is filled at
// start-up; in the order of the template.
const std::vector<TemplateList>& MainTemplateLists();

}  // namespace orvante::ui
