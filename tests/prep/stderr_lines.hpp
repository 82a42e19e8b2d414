// xcn_prep's standard error as the tests read it: its lines without the progress.
#pragma once

#include <string>
#include <vector>

namespace xcn::test {

// Lines of standard error that are not progress lines ("xcn_prep: 2/6 ...").
inline std::vector<std::string> problem_lines(const std::string& err) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < err.size()) {
    const std::size_t end = err.find('\n', from);
    const std::string line = err.substr(from, end - from);
    const std::size_t slash = line.find('/');
    const bool progress = line.starts_with("xcn_prep: ") && slash != std::string::npos &&
                          slash > 10 && line.find_first_not_of("0123456789", 10) == slash;
    if (!progress) lines.push_back(line);
    from = end + 1;
  }
  return lines;
}

}  // namespace xcn::test
