// Checks of option values that say in our words what a value must be: an error names
// the value and what is allowed ("'abc' is not a rate (50 to 4000000)"); CLI11 puts the
// option's name before it.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <string>

#include "functions/module_functions.h"

namespace orvante::cli {

// `allowed` is true for a good value; `what` completes "'<value>' is not …".
CLI::Validator Allowing(std::function<bool(const std::string&)> allowed, std::string what);

// A whole decimal number in `range`; `what` names it ("a slot").
CLI::Validator WholeNumberIn(const functions::Range& range, const std::string& what);

// One of `words` (any case), replaced by its number: "'turbo' is not one of auto, cool,
// dry, fan, heat".
CLI::Validator OneOfWords(const std::map<std::string, int>& words);

bool IsWholeNumberIn(const std::string& text, const functions::Range& range);
// `text` equals one of `words`, whatever the case.
bool IsOneOf(const std::string& text, std::initializer_list<const char*> words);

}  // namespace orvante::cli
