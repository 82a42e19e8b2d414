// The tool's fixed sizes, shared with the helper programs that read what it reads and writes.
#pragma once

#include <cstddef>

namespace xcn {

inline constexpr std::size_t kNameWidth = 50;    // output names
inline constexpr std::size_t kEntryWidth = 100;  // station list entries

}  // namespace xcn
