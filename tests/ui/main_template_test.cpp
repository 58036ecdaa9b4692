// The window template both backends build from: what a backend relies on without
// checking it itself.
#include "ui/main_template.h"

#include <gtest/gtest.h>

#include <set>

#include "ui/framework.h"
#include "ui/resource.h"

namespace orvante::ui {
namespace {

TEST(WindowTemplate, EveryControlFitsItsDialogIdsAreUniqueAndLabelsNameAControl) {
    for (const DialogTemplate& dialog : {MainDialogTemplate(), AboutDialogTemplate("1.0")}) {
        std::set<int> ids;
        for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
            const ControlTemplate& c = dialog.controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " (" + c.text + c.name + ")");
            EXPECT_TRUE(c.rect.x >= 0 && c.rect.y >= 0 && c.rect.w > 0 && c.rect.h > 0 &&
                        c.rect.x + c.rect.w <= dialog.width &&
                        c.rect.y + c.rect.h <= dialog.height);
            if (c.id != 0) {
                EXPECT_TRUE(ids.insert(c.id).second) << "id " << c.id << " twice";
            }
            if (c.namesNext) {
                ASSERT_LT(i + 1, dialog.controls.size());
                EXPECT_NE(dialog.controls[i + 1].kind, ControlKind::kLabel);
                EXPECT_EQ(dialog.controls[i + 1].hidden, c.hidden);
            }
        }
    }
}

// Every list the logic fills from the template is in it, and the lists it fills itself
// (the ports) are sorted.
TEST(WindowTemplate, ListsHaveTheirItemsAndThePortListIsSorted) {
    std::set<int> lists;
    for (const ControlTemplate& c : MainDialogTemplate().controls) {
        if (c.kind == ControlKind::kDropDownList) lists.insert(c.id);
    }
    for (const TemplateList& list : MainTemplateLists()) EXPECT_TRUE(lists.contains(list.id));
    EXPECT_TRUE(lists.contains(IDC_PORT));
    for (const ControlTemplate& c : MainDialogTemplate().controls) {
        EXPECT_EQ(c.sorted, c.id == IDC_PORT) << c.id;
    }
    EXPECT_EQ(MainControlRect(IDC_LOG).w, MainDialogTemplate().width);
}

}  // namespace
}  // namespace orvante::ui
