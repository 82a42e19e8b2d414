// Input lists: line splitting, name and entry cutting, missing and unopenable lists.
#include "driver/lists.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "driver/params.hpp"
#include "tests/common/scratch_dir.hpp"

namespace xcn {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

TEST(ListFiles, SplitsOnLfCrLfAndCrAndCountsALastLineWithoutEnd) {
  ScratchDir dir;
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"\n\nc\n", {"", "", "c"}},
      {"x\r\r\ny", {"x", "", "y"}},
  };
  for (const auto& c : cases) {
    write_file(dir.path() / "list", c.bytes);
    EXPECT_EQ(read_list_file((dir.path() / "list").string(), "station list"), c.lines);
  }
}

TEST(ListFiles, AMissingListIsCreatedEmptyAndADirectoryIsRefused) {
  ScratchDir dir;
  const fs::path missing = dir.path() / "none.txt";
  EXPECT_TRUE(read_list_file(missing.string(), "station list").empty());
  EXPECT_TRUE(fs::exists(missing));
  EXPECT_EQ(fs::file_size(missing), 0u);
  try {
    read_list_file(dir.path().string(), "name list");
    FAIL() << "a directory must be refused";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.status, 2);
    EXPECT_NE(f.message.find("name list"), std::string::npos);
    EXPECT_NE(f.message.find(dir.path().string()), std::string::npos);
  }
  try {
    read_list_file((dir.path() / "no" / "such.txt").string(), "station list");
    FAIL() << "a list that cannot be created must be refused";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.status, 2);
  }
}

TEST(ListFiles, NamesAreTheLastFiftyOfTheFirstHundredCharacters) {
  const std::string digits60 = [] {
    std::string s;
    for (int k = 0; k < 60; ++k) s += static_cast<char>('a' + k % 26);
    return s;
  }();
  const std::string line130 = std::string(50, 'x') + std::string(50, 'y') + std::string(30, 'z');
  const struct {
    std::string line;
    std::string name;
    bool cut;
  } cases[] = {
      {"", std::string(50, ' '), false},
      {std::string(30, 'n'), std::string(30, 'n') + std::string(20, ' '), false},
      {std::string(50, 'n'), std::string(50, 'n'), false},
      {digits60, digits60.substr(10), true},
      {line130, std::string(50, 'y'), true},
  };
  for (const auto& c : cases) {
    bool cut = false;
    const Name name = name_from_line(c.line, &cut);
    EXPECT_EQ(std::string(name.data(), name.size()), c.name) << c.line;
    EXPECT_EQ(cut, c.cut) << c.line;
  }
}

TEST(ListFiles, EntriesAreTheFirstHundredCharacters) {
  bool cut = false;
  auto e = entry_from_line(std::string(120, 'p'), &cut);
  EXPECT_TRUE(cut);
  EXPECT_EQ(std::string(e.data(), e.size()), std::string(100, 'p'));
  e = entry_from_line("st.sac", &cut);
  EXPECT_FALSE(cut);
  EXPECT_EQ(trimmed(std::string_view(e.data(), e.size())), "st.sac");
}

TEST(ListFiles, CutNamesAreReportedWithTheirLineNumber) {
  ScratchDir dir;
  write_file(dir.path() / "names", "short.sac\n" + std::string(55, 'q') + "\n");
  std::FILE* err = std::tmpfile();
  const auto names = read_name_list((dir.path() / "names").string(), err);
  std::rewind(err);
  char buf[512] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, err);
  std::fclose(err);
  const std::string report(buf, n);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(report.find("line 2"), std::string::npos) << report;
  EXPECT_NE(report.find("\"" + std::string(50, 'q') + "\""), std::string::npos) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1);
}

}  // namespace
}  // namespace xcn
