// Text helpers shared by the window backends and the window logic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvante::ui {

// Length of UTF-8 text in code-page-936 bytes: one per ASCII character, two per any
// other character (Chinese characters and full-width punctuation).
std::size_t Cp936Length(std::string_view utf8);

// Where a sorted drop-down list puts a new item: after every item that does not
// compare greater, comparing case-insensitively character by character (so
// "COM10" sorts before "COM2").
std::size_t SortedInsertIndex(const std::vector<std::string>& items, std::string_view text);

}  // namespace orvante::ui
