// Result names before the pair loop: which spellings are one file, and how long lists read.
#include "driver/results/result_names.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "driver/pairs.hpp"

namespace xcn {
namespace {

namespace fs = std::filesystem;

std::string read_stream(std::FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(AndList, JoinsItemsAndCountsThoseNotShown) {
  const struct {
    std::vector<std::string> items;
    std::size_t shown;
    std::string text;
  } cases[] = {
      {{"2"}, 10, "2"},
      {{"2", "5"}, 10, "2 and 5"},
      {{"2", "5", "7"}, 10, "2, 5 and 7"},
      {{"2", "5", "7"}, 3, "2, 5 and 7"},
      {{"2", "5", "7", "9"}, 2, "2, 5 and 2 more"},
  };
  for (const auto& c : cases) EXPECT_EQ(and_list(c.items, c.shown), c.text);
}

// Two stations, so three pairs, named by `names`.
std::vector<ResultUse> uses_of(const std::vector<std::string>& names, std::string* said) {
  StationTable table(2);
  for (int i = 1; i <= 2; ++i) {
    table.station(i).entry.fill(' ');
    table.station(i).usable = true;
  }
  PairTable pairs(2);
  Run run;
  run.params.sac_list.fill(' ');
  run.params.ccf_list.fill(' ');
  for (const auto& n : names) {
    Name name;
    fill_field(name, n);
    run.names.push_back(name);
  }
  run.table = &table;
  run.pairs = &pairs;
  std::FILE* err = std::tmpfile();
  std::vector<ResultUse> uses = check_result_names(run, err);
  *said = read_stream(err);
  std::fclose(err);
  return uses;
}

TEST(ResultNames, SpellingsOfOneFileInAMissingFolderAreOneName) {
  char pattern[] = "/tmp/xcn-names-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string none = dir + "/none";
  const struct {
    std::vector<std::string> names;
    std::vector<ResultUse> uses;
  } cases[] = {
      {{none + "/a.sac", none + "//a.sac", dir + "/./none/a.sac"},
       {ResultUse::kWrite, ResultUse::kRepeated, ResultUse::kRepeated}},
      {{none + "/a.sac", none + "/sub/../a.sac", none + "/b.sac"},
       {ResultUse::kWrite, ResultUse::kRepeated, ResultUse::kWrite}},
      {{none + "/a.sac", "", none + "/a.sac"},
       {ResultUse::kWrite, ResultUse::kUnnamed, ResultUse::kRepeated}},
      {{none + "/a.sac", none + "/A.sac"},
       {ResultUse::kWrite, ResultUse::kWrite, ResultUse::kUnnamed}},
  };
  for (const auto& c : cases) {
    std::string said;
    EXPECT_EQ(uses_of(c.names, &said), c.uses) << c.names[1];
    EXPECT_EQ(said.empty(), c.uses[1] != ResultUse::kRepeated && c.uses[2] != ResultUse::kRepeated)
        << said;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace xcn
