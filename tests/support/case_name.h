// Table rows print as their name, so that test names and failure messages say
// which row ran instead of dumping the row's bytes.
#pragma once

#include <ostream>
#include <string>

namespace kalmuro::testcase {

// Constrained, so that it wins over the library's catch-all template.
template <typename Row>
    requires requires(const Row& row, std::ostream& os) { os << row.name; }
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// Names each instantiated test after its row.
inline constexpr auto RowName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace kalmuro::testcase
