// The orvante program as a process: what its command line does before (and instead of)
// a window, and its one line when there is no display.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "tests/support/child_process.h"
#include "tests/support/runtime_dir.h"

namespace orvante::test {
namespace {

using Env = ChildProcess::EnvChanges;

// No display of any kind: a window could not open, so none is tried.
const Env kNoDisplay = {{"DISPLAY", std::nullopt},
                        {"WAYLAND_DISPLAY", std::nullopt},
                        {"QT_QPA_PLATFORM", std::nullopt}};

TEST(ConsoleProgram, EndsWithoutAWindowWhenItShould) {
    const struct {
        std::vector<std::string> args;
        Env env;
        int exitCode;
        const char* output;  // found in standard output
        const char* error;   // standard error starts with it
        long errorLines;
    } kCases[] = {
        {{"--help"}, kNoDisplay, 0, "--port N", "", 0},
        {{"--version"}, kNoDisplay, 0, "orvante 1.0\n", "", 0},
        {{"--port", "x"}, kNoDisplay, 2, "", "--port: expected a port number", 2},
        {{"--frobnicate"}, kNoDisplay, 2, "", "The following argument was not expected", 2},
        {{}, kNoDisplay, 1, "", "orvante: no display to open the window on", 1},
        {{},
         {{"DISPLAY", ":9999"}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", "xcb"}},
         1,
         "",
         "orvante: cannot open the window: Qt found no usable display (DISPLAY=:9999, "
         "QT_QPA_PLATFORM=xcb)\n",
         1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args.front());
        ChildProcess orvante(ORVANTE_PROGRAM, c.args, c.env);
        ASSERT_TRUE(orvante.Started());
        const std::string output = orvante.Out().ReadAll();
        const std::string error = orvante.Err().ReadAll();
        EXPECT_EQ(orvante.WaitForExit(), c.exitCode);
        EXPECT_NE(output.find(c.output), std::string::npos) << output;
        EXPECT_TRUE(error.starts_with(c.error)) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), c.errorLines) << error;
    }
}

TEST(ConsoleProgram, PortThatIsNotListedIsNamedAndTheWindowStillStarts) {
    PrivateRuntimeDir runtime;  // an empty ports directory
    ChildProcess orvante(ORVANTE_PROGRAM, {"--port", "77"},
                         {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", runtime.Path()}});
    const std::string line = orvante.Err().ReadLine();
    EXPECT_TRUE(line.starts_with("orvante: there is no port COM77")) << line;
    orvante.Signal(SIGTERM);
    const auto end = orvante.WaitForEnd();
    ASSERT_TRUE(end.has_value());
    EXPECT_FALSE(end->exited) << "it ran on until ended, and did not exit on its own";
    EXPECT_EQ(end->code, SIGTERM);
}

}  // namespace
}  // namespace orvante::test
