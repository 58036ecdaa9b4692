// orvante-cli on Windows: the command line arrives in UTF-16 and is read as UTF-8, and
// the console shows the program's UTF-8 output as such.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "platform/wide_text.h"

// After the program's own headers: <windows.h> defines EV_RXCHAR and the other comm
// event bits as macros, which the channel's header names as constants.
#include <io.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    using namespace orvante::cli;
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(orvante::platform::Utf8FromWide(argv[i]));
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    return RunCliProgram(argc, pointers.data(), _isatty(_fileno(stderr)) != 0);
}
