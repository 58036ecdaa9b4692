#include "ui/text.h"

#include <algorithm>

namespace orvante::ui {

std::size_t Cp936Length(std::string_view utf8) {
    std::size_t length = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80) {
            length += 1;
        } else if ((c & 0xC0) != 0x80) {
            length += 2;  // the lead byte of a multi-byte character; continuation bytes add nothing
        }
    }
    return length;
}

namespace {

int FoldCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

bool ComesBefore(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return FoldCase(static_cast<unsigned char>(x)) < FoldCase(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::size_t SortedInsertIndex(const std::vector<std::string>& items, std::string_view text) {
    auto it = std::upper_bound(
        items.begin(), items.end(), text,
        [](std::string_view t, const std::string& item) { return ComesBefore(t, item); });
    return static_cast<std::size_t>(it - items.begin());
}

}  // namespace orvante::ui
