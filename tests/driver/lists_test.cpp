// Input lists: line splitting, name and entry cutting, missing and unopenable lists, lines no
// file can be named by.
#include "driver/input/lists.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "driver/input/params.hpp"
#include "tests/common/scratch_dir.hpp"

namespace xcn {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string pad(const std::string& s) { return s + std::string(kNameWidth - s.size(), ' '); }

std::vector<std::string> texts(const std::vector<ListLine>& lines) {
  std::vector<std::string> t;
  for (const auto& l : lines) t.push_back(l.text);
  return t;
}

// What one call writes on a stream.
template <typename F>
std::string reported(F&& f) {
  std::FILE* err = std::tmpfile();
  f(err);
  std::rewind(err);
  std::string text;
  for (int c; (c = std::fgetc(err)) != EOF;) text += static_cast<char>(c);
  std::fclose(err);
  return text;
}

TEST(ListFiles, SplitsOnLfCrLfAndCrAndCountsALastLineWithoutEnd) {
  ScratchDir dir;
  const std::string bom = "\xEF\xBB\xBF";
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
      // A byte-order mark before the first line only.
      {bom + "a\n" + bom + "b\n", {"a", bom + "b"}},
      {bom, {}},
      {bom.substr(0, 2), {bom.substr(0, 2)}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    write_file(dir.path() / "list", c.bytes);
    EXPECT_EQ(texts(read_list_file((dir.path() / "list").string(), "station list")), c.lines);
  }
}

TEST(ListFiles, LongLinesKeepTheirFirst64KiBAndTheirLength) {
  ScratchDir dir;
  std::string bytes = std::string(200000, 'x') + "\nshort\n" + std::string(kMaxLine, 'y');
  write_file(dir.path() / "list", bytes);
  const auto lines = read_list_file((dir.path() / "list").string(), "station list");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (ListLine{std::string(kMaxLine, 'x'), 200000}));
  EXPECT_EQ(lines[1], (ListLine{"short", 5}));
  EXPECT_EQ(lines[2], (ListLine{std::string(kMaxLine, 'y'), kMaxLine}));
}

TEST(ListFiles, APipeIsReadAndADeviceRefused) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text = "st1.sac\nst2.sac\n";
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  // As a shell passes <(ls *.sac).
  const auto lines = read_list_file("/dev/fd/" + std::to_string(fds[0]), "station list");
  close(fds[0]);
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"st1.sac", "st2.sac"}));
  try {
    read_list_file("/dev/zero", "station list");
    FAIL() << "a device must be refused";
  } catch (const Fatal& f) {
    EXPECT_EQ(f.status, 2);
    EXPECT_EQ(f.message,
              "xcorrnet_v3: error: cannot open the station list \"/dev/zero\": it is neither a "
              "regular file nor a pipe");
  }
}

// Reads a list with a short wait for a pipe's writer, in a child with an alarm, so that a wait
// for ever fails the test instead of holding it; the child exits 0 when `check` holds.
template <typename Check>
void read_in_child(const std::string& path, Check check) {
  EXPECT_EXIT(
      {
        alarm(20);
        ListFileRules rules;
        rules.writer_wait = std::chrono::milliseconds(300);
        std::vector<ListLine> lines;
        std::string error;
        const bool ok = read_list_lines(path, "station list", rules, lines, error);
        std::fputs(error.c_str(), stderr);
        std::exit(check(ok, texts(lines)) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ListFiles, ANamedPipeIsReadFromItsWriterAndRefusedWhenNoneComes) {
  ScratchDir dir;
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Nobody opens it: refused after the wait.
  EXPECT_EXIT(
      {
        alarm(20);
        ListFileRules rules;
        rules.writer_wait = std::chrono::milliseconds(300);
        std::vector<ListLine> lines;
        std::string error;
        const bool ok = read_list_lines(fifo, "station list", rules, lines, error);
        std::fputs(error.c_str(), stderr);
        std::exit(ok ? 1 : 0);
      },
      ::testing::ExitedWithCode(0),
      "^cannot open the station list \".*/fifo\": no program opened the pipe for writing within "
      "0.3 s$");

  // A writer that comes after the reader, one that writes late, and one that writes nothing.
  const struct {
    int open_after_ms;
    int write_after_ms;
    std::string text;
    std::vector<std::string> lines;
  } writers[] = {
      {100, 0, "st1.sac\nst2.sac\n", {"st1.sac", "st2.sac"}},
      {0, 600, "late.sac\n", {"late.sac"}},
      {100, 0, "", {}},
  };
  for (const auto& w : writers) {
    const pid_t writer = fork();
    if (writer == 0) {
      usleep(static_cast<useconds_t>(w.open_after_ms) * 1000);
      const int fd = open(fifo.c_str(), O_WRONLY);
      usleep(static_cast<useconds_t>(w.write_after_ms) * 1000);
      const bool wrote =
          write(fd, w.text.data(), w.text.size()) == static_cast<ssize_t>(w.text.size());
      _exit(fd >= 0 && wrote ? 0 : 1);
    }
    read_in_child(
        fifo, [&](bool ok, const std::vector<std::string>& got) { return ok && got == w.lines; });
    // The reader in the death test's child may have come and gone before the writer opened.
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
  }
}

TEST(ListFiles, APipeWhoseWriterHasGoneWithoutWritingIsAnEmptyListAtOnce) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);
  // As a shell passes <(true): nothing to wait for.
  read_in_child("/dev/fd/" + std::to_string(fds[0]),
                [](bool ok, const std::vector<std::string>& got) { return ok && got.empty(); });
  close(fds[0]);
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
      // Trailing white space is no part of a name; the columns are taken first.
      {"p1_2.sac\t", pad("p1_2.sac"), false},
      {"p1_2.sac \t\v\f ", pad("p1_2.sac"), false},
      {std::string(10, 'd') + "p1_2.sac" + std::string(42, '\t'), pad("p1_2.sac"), true},
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
  for (const char* line : {"st.sac", "st.sac\t", "st.sac \t  "}) {
    e = entry_from_line(line, &cut);
    EXPECT_FALSE(cut);
    EXPECT_EQ(std::string(e.data(), e.size()), std::string("st.sac") + std::string(94, ' '));
  }
}

TEST(ListFiles, CutNamesAndNamesWithANulAreReportedWithTheirLineNumber) {
  ScratchDir dir;
  write_file(dir.path() / "names", "short.sac\n" + std::string(55, 'q') + "\n" +
                                       std::string("p1_3.sac\0x", 10) + "\n" +
                                       std::string(70000, 'r') + "\n");
  std::vector<Name> names;
  const std::string report = reported(
      [&](std::FILE* err) { names = read_name_list((dir.path() / "names").string(), err); });
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(report,
            "xcorrnet_v3: warning: line 2 of the name list has 55 characters; using the name \"" +
                std::string(50, 'q') +
                "\"\n"
                "xcorrnet_v3: warning: line 3 of the name list holds a NUL byte; pair 3 is "
                "skipped\n"
                "xcorrnet_v3: warning: line 4 of the name list has 70000 characters; using the "
                "name \"" +
                std::string(50, 'r') + "\"\n");
  // The pair keeps its place but has no name to be written to.
  EXPECT_EQ(std::string(names[2].data(), kNameWidth), std::string(kNameWidth, ' '));
}

TEST(ListFiles, ANulIsShownAsAnEscape) {
  EXPECT_TRUE(holds_nul(std::string("st\0one.sac", 10)));
  EXPECT_FALSE(holds_nul("st1.sac"));
  EXPECT_EQ(shown_line(std::string("st\0one.sac\0", 11)), "st\\0one.sac\\0");
}

}  // namespace
}  // namespace xcn
