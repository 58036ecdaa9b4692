#include "ui/command_line.h"

#include <gtest/gtest.h>

#include <map>

namespace orvante::ui {
namespace {

// Whether a window can open, judged from the environment before Qt starts.
TEST(MissingDisplay, AsksForADisplayOnlyWhereQtWouldNeedOne) {
    const struct {
        const char* display;
        const char* wayland;
        const char* platform;
        bool usable;
    } kCases[] = {
        {":0", nullptr, nullptr, true},
        {nullptr, "wayland-0", nullptr, true},
        {"", "", "", false},
        {nullptr, nullptr, "offscreen", true},
        {":0", nullptr, "xcb", true},
        {":0", nullptr, "wayland", false},
        {nullptr, "wayland-0", "wayland-egl", true},
        {nullptr, nullptr, "wayland;xcb", false},
        {":0", nullptr, "wayland;xcb", true},
        {nullptr, nullptr, "xcb;offscreen", true},
        {nullptr, nullptr, ";", false},
    };
    for (const auto& c : kCases) {
        std::map<std::string, const char*> env = {{"DISPLAY", c.display},
                                                  {"WAYLAND_DISPLAY", c.wayland},
                                                  {"QT_QPA_PLATFORM", c.platform}};
        const auto missing =
            MissingDisplay([&](const char* name) -> const char* { return env[name]; });
        EXPECT_EQ(!missing.has_value(), c.usable)
            << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-") << " "
            << (c.platform ? c.platform : "-");
    }
}

}  // namespace
}  // namespace orvante::ui
