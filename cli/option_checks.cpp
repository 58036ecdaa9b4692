#include "cli/option_checks.h"

#include <algorithm>
#include <cctype>

namespace orvante::cli {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

CLI::Validator Allowing(std::function<bool(const std::string&)> allowed, std::string what) {
    return CLI::Validator(
        [allowed = std::move(allowed), what = std::move(what)](std::string& text) -> std::string {
            if (allowed(text)) return {};
            return "'" + text + "' is not " + what;
        },
        "");
}

bool IsWholeNumberIn(const std::string& text, const functions::Range& range) {
    if (text.empty() || text.size() > 9) return false;
    if (!std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    return range.Contains(std::stol(text));
}

bool IsOneOf(const std::string& text, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](const char* word) { return Lower(text) == Lower(word); });
}

CLI::Validator WholeNumberIn(const functions::Range& range, const std::string& what) {
    return Allowing(
        [range](const std::string& text) { return IsWholeNumberIn(text, range); },
        what + " (" + std::to_string(range.min) + " to " + std::to_string(range.max) + ")");
}

CLI::Validator OneOfWords(const std::map<std::string, int>& words) {
    std::string list;
    for (const auto& [word, number] : words) list += (list.empty() ? "" : ", ") + word;
    return CLI::Validator(
        [words, list](std::string& text) -> std::string {
            const auto found = words.find(Lower(text));
            if (found == words.end()) return "'" + text + "' is not one of " + list;
            text = std::to_string(found->second);
            return {};
        },
        "");
}

}  // namespace orvante::cli
