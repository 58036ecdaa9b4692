// orvante-cli's help, as the parser makes it: every line of the program's and of each
// command's help fits an 80-column terminal.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

namespace orvante::cli {
namespace {

// Columns of a UTF-8 line (every character here is one column wide).
std::size_t Columns(const std::string& line) {
    std::size_t columns = 0;
    for (const char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

std::string HelpOf(const std::string& command) {
    std::vector<std::string> words = {"orvante-cli"};
    std::istringstream names(command);
    for (std::string word; names >> word;) words.push_back(word);
    words.push_back("--help");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    return ParseCliCommandLine(static_cast<int>(argv.size()), argv.data()).output;
}

TEST(CliHelp, EveryLineFitsEightyColumns) {
    std::vector<std::string> commands = {""};
    for (const CliCommand& command : CliCommands()) commands.push_back(command.name);
    for (const std::string& command : commands) {
        const std::string help = HelpOf(command);
        EXPECT_FALSE(help.empty()) << "'" << command << "'";
        std::istringstream lines(help);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(Columns(line), 80u) << "'" << command << " --help': " << line;
            // What the parser calls a value's type is none of the operator's business.
            for (const char* type : {" INT", " UINT", " TEXT", " FLOAT"}) {
                EXPECT_EQ(line.find(type), std::string::npos)
                    << "'" << command << " --help': " << line;
            }
        }
    }
}

}  // namespace
}  // namespace orvante::cli
