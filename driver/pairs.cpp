// Pair table, worker blocks, pair names and the test of which pairs are computed.
#include "driver/pairs.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "driver/console.hpp"
#include "driver/ranks.hpp"

namespace xcn {

PairTable::PairTable(int n) {
  const std::size_t nij = static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 1) / 2;
  ni_.reserve(nij);
  nj_.reserve(nij);
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      ni_.push_back(i);
      nj_.push_back(j);
    }
  }
}

int pair_number(int n, int i, int j) {
  // Rows 1 .. i-1 hold n, n-1, ..., n-i+2 pairs.
  const long long before =
      static_cast<long long>(i - 1) * n - static_cast<long long>(i - 1) * (i - 2) / 2;
  return static_cast<int>(before + (j - i) + 1);
}

Block worker_block(int nij, int workers, int t) {
  const int q = nij / workers;
  const int r = nij % workers;
  const int first = t < r ? t * (q + 1) + 1 : t * q + r + 1;
  const int count = t < r ? q + 1 : q;
  return {first, first + count - 1};
}

std::string_view Run::name(int ij) const {
  static const Name blank = [] {
    Name b;
    b.fill(' ');
    return b;
  }();
  const Name& n =
      ij <= static_cast<int>(names.size()) ? names[static_cast<std::size_t>(ij - 1)] : blank;
  return std::string_view(n.data(), kNameWidth);
}

std::string Run::path(int ij) const { return trimmed(name(ij)); }

bool Run::has_name(int ij) const {
  if (ij > static_cast<int>(names.size())) return false;
  const Name& n = names[static_cast<std::size_t>(ij - 1)];
  return std::any_of(n.begin(), n.end(), [](char c) { return c != ' '; });
}

bool Run::may_write(int ij) const {
  if (uses.empty()) return has_name(ij);
  return ij <= static_cast<int>(uses.size()) &&
         uses[static_cast<std::size_t>(ij - 1)] == ResultUse::kWrite;
}

void print_pair_table(const Run& run) {
  ConsoleLine().text(" ").print();
  ConsoleLine().text("          Output:").print();
  {
    ConsoleBatch lines;
    for (int ij = 1; ij <= run.pairs->size(); ++ij) {
      lines.add(ConsoleLine()
                    .integer(ij)
                    .integer(run.pairs->ni(ij))
                    .integer(run.pairs->ni(ij))
                    .integer(run.pairs->nj(ij))
                    .integer(run.pairs->nj(ij))
                    .text(run.name(ij)));
    }
  }
  ConsoleLine().text(" ").print();
}

bool result_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

namespace {

bool pair_selected(const Run& run, int ij) {
  const int i = run.pairs->ni(ij);
  const int j = run.pairs->nj(ij);
  const StationTable& t = *run.table;
  const char abc = run.params.abc;
  const bool selected = i == j ? (abc == 'A' || abc == 'B') : (abc == 'B' || abc == 'C');
  return selected && run.may_write(ij) && t.station(i).usable && t.station(j).usable &&
         !t.lost(i) && !t.lost(j);
}

}  // namespace

bool pair_may_run(const Run& run, int ij) {
  if (!run.mine(ij) || !pair_selected(run, ij)) return false;
  // An existing output is left alone unless the replace flag is Y.
  if (run.params.replace == 'Y') return true;
  if (ij <= static_cast<int>(run.present.size())) {
    return run.present[static_cast<std::size_t>(ij - 1)] == 0;
  }
  return !result_exists(run.path(ij));
}

bool pair_would_run(const Run& run, int ij) {
  return pair_may_run(run, ij) &&
         !(run.recheck_outputs && run.params.replace != 'Y' && result_exists(run.path(ij)));
}

std::vector<bool> stations_in_use(const Run& run) {
  std::vector<bool> in_use(static_cast<std::size_t>(run.table->size()), false);
  for (int ij = 1; ij <= run.pairs->size(); ++ij) {
    if (!pair_may_run(run, ij)) continue;
    in_use[static_cast<std::size_t>(run.pairs->ni(ij) - 1)] = true;
    in_use[static_cast<std::size_t>(run.pairs->nj(ij) - 1)] = true;
  }
  return in_use;
}

bool pair_wanted(const Run& run, int ij, std::string& skipped) {
  if (!run.mine(ij)) return false;
  if (pair_would_run(run, ij)) return true;
  skipped += ConsoleLine().text("         skip ").text(run.name(ij)).str();
  skipped += '\n';
  return false;
}

bool pair_wanted(const Run& run, int ij) {
  std::string skipped;
  const bool wanted = pair_wanted(run, ij, skipped);
  if (!skipped.empty()) ranks::print_lines(skipped);
  return wanted;
}

}  // namespace xcn
