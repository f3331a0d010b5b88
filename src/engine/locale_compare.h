// The desktop's case-insensitive comparison of texts under the user's
// language: both texts are upper-cased character by character (accented
// letters included) and then collated by the user's locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

// Negative, zero or positive as a sorts before, equal to or after b.
// Windows-1252 in; the locale comes from the environment (LC_COLLATE), the
// case mapping is Unicode's whatever the environment says.
int LocaleCompareText(std::string_view a, std::string_view b);

// Sorts lines in ascending LocaleCompareText order; lines that compare
// equal keep their order.
void SortLocaleText(std::vector<std::string>& lines);

}  // namespace kalmuro
