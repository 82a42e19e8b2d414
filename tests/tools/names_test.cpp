// Tests of the name list: pair order, the 50-character limit, header names, safe writing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"
#include "tools/pair_names.hpp"
#include "tools/station_files.hpp"

namespace xcn::tools {
namespace {

using test::Capture;
using test::file_bytes;
using test::ScratchDir;
using test::write_text;

TEST(PairNames, FollowThePairOrderOfTheTool) {
  const std::vector<StationId> ids{{"A", "BHZ"}, {"B", "BHN"}, {"C", "BHE"}};
  const NameList list = make_name_list("", ids, "list");
  EXPECT_TRUE(list.problems.empty());
  EXPECT_EQ(list.names,
            (std::vector<std::string>{"A.BHZ_A.BHZ.sac", "A.BHZ_B.BHN.sac", "A.BHZ_C.BHE.sac",
                                      "B.BHN_B.BHN.sac", "B.BHN_C.BHE.sac", "C.BHE_C.BHE.sac"}));
  EXPECT_EQ(make_name_list("ccf", ids, "list").names[1], "ccf/A.BHZ_B.BHN.sac");
  EXPECT_EQ(make_name_list("ccf/", ids, "list").names[1], "ccf/A.BHZ_B.BHN.sac");
  EXPECT_TRUE(make_name_list("", {}, "list").names.empty());
}

TEST(PairNames, RefuseNamesOverFiftyCharactersAndNamesSharedByTwoPairs) {
  const std::vector<StationId> ids{{"AB", "Z"}, {"ABCDEFGH", "HHZ"}};
  // The longest name, of the second station with itself, has 29 characters plus the folder.
  const std::string fits(20, 'f');
  const std::string too_long(21, 'f');
  EXPECT_TRUE(make_name_list(fits, ids, "s.txt").problems.empty());
  const NameList refused = make_name_list(too_long, ids, "s.txt");
  EXPECT_TRUE(refused.names.empty());
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_EQ(refused.problems[0], "s.txt line 2: the output name \"" + too_long +
                                     "/ABCDEFGH.HHZ_ABCDEFGH.HHZ.sac\" has 51 characters; "
                                     "xcorrnet_v3 reads at most 50");

  const std::vector<StationId> twice{{"A", "Z"}, {"B", "Z"}, {"A", "Z"}};
  const NameList shared = make_name_list("", twice, "s.txt");
  EXPECT_TRUE(shared.names.empty());
  ASSERT_FALSE(shared.problems.empty());
  EXPECT_EQ(shared.problems[0],
            "s.txt lines 1 and 3: the output name \"A.Z_A.Z.sac\" is already that of line 1");
}

TEST(PairNames, PutEachResultInItsFirstRecordsFolderWhenAsked) {
  const std::vector<StationId> ids{{"A", "BHZ"}, {"B", "BHN", "XC", "00"}};
  const NameList flat = make_name_list("", ids, "list");
  EXPECT_TRUE(flat.folders.empty());
  const NameList split = make_name_list("", ids, "list", Layout::kFolderPerRecord);
  EXPECT_TRUE(split.problems.empty());
  EXPECT_EQ(split.names,
            (std::vector<std::string>{"A.BHZ/A.BHZ_A.BHZ.sac", "A.BHZ/A.BHZ_XC.B.00.BHN.sac",
                                      "XC.B.00.BHN/XC.B.00.BHN_XC.B.00.BHN.sac"}));
  EXPECT_EQ(split.folders, (std::vector<std::string>{"A.BHZ", "XC.B.00.BHN"}));
  const NameList in_ccf = make_name_list("ccf/", ids, "list", Layout::kFolderPerRecord);
  EXPECT_EQ(in_ccf.names[1], "ccf/A.BHZ/A.BHZ_XC.B.00.BHN.sac");
  EXPECT_EQ(in_ccf.folders, (std::vector<std::string>{"ccf/A.BHZ", "ccf/XC.B.00.BHN"}));

  // The folder counts towards the 50 characters: 39 fit flat, 57 do not.
  const std::vector<StationId> long_ids{{"ABCDEFGHIJKLM", "HHZ"}};
  EXPECT_TRUE(make_name_list("", long_ids, "s.txt").problems.empty());
  const NameList refused = make_name_list("", long_ids, "s.txt", Layout::kFolderPerRecord);
  EXPECT_TRUE(refused.names.empty());
  EXPECT_TRUE(refused.folders.empty());
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_EQ(refused.problems[0],
            "s.txt line 1: the output name \"ABCDEFGHIJKLM.HHZ/ABCDEFGHIJKLM.HHZ_ABCDEFGHIJKLM.HHZ."
            "sac\" has 57 characters; xcorrnet_v3 reads at most 50");
}

// Sets the umask for the life of the object.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};

mode_t mode_of(const std::filesystem::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(ResultFolders, AreMadeUnderTheUmaskAndThoseThereAlreadyServe) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "B.Z");
  std::filesystem::create_directory(dir / "elsewhere");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "C.Z");
  std::string error;
  {
    const Umask mask(002);  // 0775: neither the umask ignored nor a fixed 0755
    ASSERT_TRUE(make_folders(dir.path(), std::vector<std::string>{"A.Z", "B.Z", "C.Z"}, error))
        << error;
  }
  EXPECT_EQ(mode_of(dir / "A.Z"), 0775u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "C.Z"));
}

TEST(ResultFolders, AnObstacleOrAFolderThatCannotBeMadeStopsAllAndUndoesWhatWasMade) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "old.Z");
  write_text(dir / "file.Z", "a file\n");
  std::filesystem::create_symlink(dir / "gone", dir / "dangling.Z");
  const struct {
    std::string folder;
    std::string says;
  } cases[] = {
      {"file.Z", "something that is not a folder has that name"},
      {"dangling.Z", "something that is not a folder has that name"},
      {"file.Z/inner", "Not a directory"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(make_folders(
        dir.path(), std::vector<std::string>{"new.Z", "old.Z", c.folder, "last.Z"}, error));
    EXPECT_EQ(error, "cannot make the folder \"" + dir.file(c.folder) + "\": " + c.says);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dangling.Z", "file.Z", "old.Z"}))
        << c.folder;
  }
}

TEST(StationList, ReadsEntriesAndNamesAsTheToolDoes) {
  struct Case {
    std::string text;
    std::vector<std::string> entries;
  };
  const std::string nul("st\0.sac", 7);
  const std::vector<Case> cases = {
      {"a.sac\nb.sac\n", {"a.sac", "b.sac"}},
      {"a.sac\nb.sac", {"a.sac", "b.sac"}},  // a last line without its end counts
      {"a.sac\n\nb.sac\n", {"a.sac", "", "b.sac"}},
      {"a.sac   \n  b.sac\n", {"a.sac", "  b.sac"}},
      {std::string("\xEF\xBB\xBF") + "a.sac\t\r\nb.sac \t\n", {"a.sac", "b.sac"}},
      {"a.sac\rb.sac\r", {"a.sac", "b.sac"}},
      {nul + "\n", {nul}},
      {"", {}},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    write_text(dir / "list", c.text);
    std::vector<ListLine> lines{{"stale", 5}};
    std::string error;
    ASSERT_TRUE(read_list(dir / "list", "station list", lines, error));
    std::vector<std::string> entries;
    for (const auto& line : lines) entries.push_back(entry_text(line));
    EXPECT_EQ(entries, c.entries) << c.text;
  }
  // The result name is the tool's: the last 50 of the first 100 characters, none for a NUL.
  const struct {
    std::string line;
    std::string name;
  } names[] = {
      {"p1_2.sac  ", "p1_2.sac"},
      {std::string(60, 'x') + "p.sac", std::string(45, 'x') + "p.sac"},
      {"p.sac" + std::string(60, ' '), ""},
      {nul, ""},
  };
  for (const auto& n : names) {
    EXPECT_EQ(result_name(ListLine{n.line, n.line.size()}), n.name) << n.line;
  }
}

TEST(StationList, AMissingListOrADeviceIsRefusedAndAPipeWithoutWriterEnds) {
  ScratchDir dir;
  std::vector<ListLine> lines;
  std::string error;
  EXPECT_FALSE(read_list(dir / "missing", "station list", lines, error));
  EXPECT_EQ(error, "cannot open the station list \"" + dir.file("missing") +
                       "\": No such file or directory");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_FALSE(read_list("/dev/zero", "name list", lines, error));
  EXPECT_EQ(error,
            "cannot open the name list \"/dev/zero\": it is neither a regular file nor a pipe");
}

TEST(Outputs, AnOutputIsNoneOfTheInputsUnderAnySpellingOrLink) {
  ScratchDir dir;
  write_text(dir / "s.txt", "st1.sac\n");
  write_text(dir / "st1.sac", "record");
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_symlink(dir / "st1.sac", dir / "link.sac");
  std::filesystem::create_hard_link(dir / "s.txt", dir / "hard.txt");
  InputFiles inputs;
  inputs.add(dir.file("s.txt"), "the station list");
  inputs.add(dir.file("st1.sac"), "the record");
  inputs.add(dir.file("absent.sac"), "nothing");
  for (const auto& [path, which] : std::vector<std::pair<std::string, std::string>>{
           {dir.file("s.txt"), "the station list"},
           {dir.file("sub") + "/../s.txt", "the station list"},
           {dir.file("hard.txt"), "the station list"},
           {dir.file("link.sac"), "the record"},
           {dir.file("absent.sac"), ""},
           {dir.file("other.txt"), ""}}) {
    EXPECT_EQ(inputs.which(path), which) << path;
  }
}

TEST(Outputs, OnlyAFileOrALinkToOneIsReplacedAndNeverMoreOpenThanBefore) {
  ScratchDir dir;
  write_text(dir / "private.txt", "old\n");
  std::filesystem::permissions(dir / "private.txt", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
  std::filesystem::create_symlink(dir / "private.txt", dir / "link.txt");
  std::filesystem::create_symlink(dir / "gone.txt", dir / "dangling.txt");
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  const std::vector<std::string> lines{"new"};
  std::string error;
  ASSERT_TRUE(write_lines_atomically(dir / "link.txt", lines, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(file_bytes(dir / "private.txt"), "new\n");
  EXPECT_EQ(std::filesystem::status(dir / "private.txt").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const struct {
    const char* name;
    const char* says;
  } refused[] = {
      {"folder", "is a directory; left as it is"},
      {"fifo", "is not a regular file; left as it is"},
      {"dangling.txt", "is a symbolic link to nothing; left as it is"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(write_lines_atomically(dir / r.name, lines, error)) << r.name;
    EXPECT_EQ(error, "\"" + dir.file(r.name) + "\" " + r.says);
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dangling.txt", "fifo", "folder", "link.txt",
                                                     "private.txt"}));
}

TEST(AtomicWrite, ReplacesWholeOrLeavesNothing) {
  ScratchDir dir;
  const std::vector<std::string> lines{"one", "two"};
  std::string error;
  write_text(dir / "list", "old\n");
  ASSERT_TRUE(write_lines_atomically(dir / "list", lines, error)) << error;
  EXPECT_EQ(file_bytes(dir / "list"), "one\ntwo\n");
  EXPECT_FALSE(write_lines_atomically(dir / "no" / "list", lines, error));
  EXPECT_NE(error.find("no/list"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A folder of station records, their list, and runs of the name maker on them.
class NameMaker : public ::testing::Test {
 protected:
  // A folder argument names a folder where the tool runs: here.
  NameMaker() : home_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~NameMaker() override { std::filesystem::current_path(home_); }
  void add_station(const std::string& station, const std::string& component) {
    const auto path = dir_ / ("st" + std::to_string(++count_) + ".sac");
    std::vector<float> samples(100, 1.0f);
    std::string error;
    ASSERT_TRUE(
        write_station_record(path, {station, component, 10.0f, 20.0f, 1.0f}, samples, error))
        << error;
    list_ += path.string() + "\n";
  }
  int run(const std::vector<std::string>& extra = {}) {
    write_text(dir_ / "stations.txt", list_);
    std::vector<std::string> args{(dir_ / "stations.txt").string(), names_path()};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_names(args, out_.stream(), err_.stream());
  }
  std::string names_path() const { return (dir_ / "names.txt").string(); }
  std::string names() const { return file_bytes(dir_ / "names.txt"); }
  bool names_exist() const { return std::filesystem::exists(dir_ / "names.txt"); }
  // Nothing but the records and the two lists: no temporary file left behind.
  std::size_t files() const {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(dir_.path()), {}));
  }

  std::filesystem::path home_;
  ScratchDir dir_;
  std::string list_;
  int count_ = 0;
  Capture out_;
  Capture err_;
};

TEST_F(NameMaker, WritesNamesFromTheHeadersInPairOrder) {
  add_station("KOB", "BHZ");
  add_station("ABC", "HHN");
  std::filesystem::create_directory(dir_ / "ccf");
  ASSERT_EQ(run({"ccf"}), 0) << err_.text();
  EXPECT_EQ(names(), "ccf/KOB.BHZ_KOB.BHZ.sac\nccf/KOB.BHZ_ABC.HHN.sac\nccf/ABC.HHN_ABC.HHN.sac\n");
  EXPECT_EQ(err_.text(), "");
}

TEST_F(NameMaker, WithFoldersMakesTheFolderOfEachRecordAndNamesInIt) {
  add_station("KOB", "BHZ");
  add_station("ABC", "HHN");
  std::filesystem::create_directory(dir_ / "ccf");
  ASSERT_EQ(run({"--folders", "ccf"}), 0) << err_.text();
  EXPECT_EQ(names(),
            "ccf/KOB.BHZ/KOB.BHZ_KOB.BHZ.sac\nccf/KOB.BHZ/KOB.BHZ_ABC.HHN.sac\n"
            "ccf/ABC.HHN/ABC.HHN_ABC.HHN.sac\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "ccf" / "KOB.BHZ"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "ccf" / "ABC.HHN"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "ccf"), {}), 2);

  // The option may come anywhere; without a folder the record folders are made here.
  ASSERT_EQ(run({"--folders"}), 0) << err_.text();
  EXPECT_TRUE(names().starts_with("KOB.BHZ/KOB.BHZ_KOB.BHZ.sac\n")) << names();
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "KOB.BHZ"));

  // Without it, the list and the folder are as they always were.
  std::filesystem::remove(dir_ / "KOB.BHZ");
  std::filesystem::remove(dir_ / "ABC.HHN");
  const std::size_t before = files();
  ASSERT_EQ(run(), 0) << err_.text();
  EXPECT_EQ(names(), "KOB.BHZ_KOB.BHZ.sac\nKOB.BHZ_ABC.HHN.sac\nABC.HHN_ABC.HHN.sac\n");
  EXPECT_EQ(files(), before);
}

TEST_F(NameMaker, WithFoldersAFileInTheWayLeavesTheListAndNoFolder) {
  add_station("KOB", "BHZ");
  add_station("ABC", "HHN");
  write_text(names_path(), "earlier\n");
  write_text(dir_ / "ABC.HHN", "in the way\n");
  EXPECT_EQ(run({"--folders"}), 1);
  EXPECT_EQ(err_.text(),
            "xcn_names: cannot make the folder \"ABC.HHN\": something that is not "
            "a folder has that name\nxcn_names: " +
                names_path() + " not written\n");
  EXPECT_EQ(names(), "earlier\n");
  // KOB.BHZ, made first, is gone again.
  EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"ABC.HHN", "names.txt", "st1.sac", "st2.sac",
                                                      "stations.txt"}));
}

TEST_F(NameMaker, NamesRecordsWithANetworkOrLocationByAllFourCodes) {
  // Two stations AAK of two networks, and two locations of one station, no longer collide.
  const std::vector<StationHeader> headers{{"AAK", "BHZ", 10.0f, 20.0f, 1.0f, "II", "00"},
                                           {"AAK", "BHZ", 10.0f, 20.0f, 1.0f, "KN", "00"},
                                           {"AAK", "BHZ", 10.0f, 20.0f, 1.0f, "KN", "10"},
                                           {"OLD", "BHZ", 10.0f, 20.0f, 1.0f, "", ""},
                                           {"NOL", "BHZ", 10.0f, 20.0f, 1.0f, "XC", ""}};
  std::vector<float> samples(100, 1.0f);
  std::string error;
  for (const auto& h : headers) {
    const auto path = dir_ / ("st" + std::to_string(++count_) + ".sac");
    ASSERT_TRUE(write_station_record(path, h, samples, error)) << error;
    list_ += path.string() + "\n";
  }
  ASSERT_EQ(run(), 0) << err_.text();
  const std::string n = names();
  EXPECT_TRUE(
      n.starts_with("II.AAK.00.BHZ_II.AAK.00.BHZ.sac\nII.AAK.00.BHZ_KN.AAK.00.BHZ.sac\n"
                    "II.AAK.00.BHZ_KN.AAK.10.BHZ.sac\nII.AAK.00.BHZ_OLD.BHZ.sac\n"
                    "II.AAK.00.BHZ_XC.NOL..BHZ.sac\n"))
      << n;
  EXPECT_NE(n.find("\nOLD.BHZ_OLD.BHZ.sac\n"), std::string::npos) << n;
}

TEST_F(NameMaker, ReadsNamesEndedByANulAndListLinesEndedByTabs) {
  add_station("WBM", "BHZ");
  add_station("CLC", "HHZ");
  // As other programs write a shorter name over a fresh header: a NUL, then the old padding.
  const std::string rest = std::string(1, '\0') + "45  ";
  for (const char* file : {"st1.sac", "st2.sac"}) {
    std::string bytes = file_bytes(dir_ / file);
    bytes.replace(440 + 3, rest.size(), rest);  // KSTNM
    bytes.replace(600 + 3, rest.size(), rest);  // KCMPNM
    write_text(dir_ / file, bytes);
  }
  list_ = "\xEF\xBB\xBF" + (dir_ / "st1.sac").string() + "\t\r\n" + (dir_ / "st2.sac").string() +
          " \t\n";
  ASSERT_EQ(run(), 0) << err_.text();
  EXPECT_EQ(names(), "WBM.BHZ_WBM.BHZ.sac\nWBM.BHZ_CLC.HHZ.sac\nCLC.HHZ_CLC.HHZ.sac\n");
}

TEST_F(NameMaker, RefusesAFiftyOneCharacterNameAndLeavesNoFile) {
  add_station("AB", "Z");
  add_station("ABCDEFGH", "HHZ");
  const std::string folder(21, 'f');
  std::filesystem::create_directory(dir_ / folder);
  EXPECT_EQ(run({folder}), 1);
  EXPECT_FALSE(names_exist());
  EXPECT_EQ(files(), 4u);
  const std::string err = err_.text();
  EXPECT_NE(err.find("stations.txt line 2: the output name \"" + folder +
                     "/ABCDEFGH.HHZ_ABCDEFGH.HHZ.sac\" has 51 characters"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("names.txt not written"), std::string::npos) << err;

  // An earlier list stays as it was.
  write_text(names_path(), "earlier\n");
  EXPECT_EQ(run({folder}), 1);
  EXPECT_EQ(names(), "earlier\n");
}

TEST_F(NameMaker, RefusesUnreadableFilesAndHeadersWithoutNames) {
  add_station("GOOD", "BHZ");
  add_station("", "BHZ");
  list_ += (dir_ / "missing.sac").string() + "\n";
  list_ += std::string(101, 'x') + "\n";
  EXPECT_EQ(run(), 1);
  EXPECT_FALSE(names_exist());
  const std::string err = err_.text();
  EXPECT_EQ(err.find("line 1"), std::string::npos) << err;
  EXPECT_NE(err.find("stations.txt line 2: \"" + (dir_ / "st2.sac").string() +
                     "\": the header's station name (KSTNM) is undefined"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("stations.txt line 3: cannot read the SAC file \"" +
                     (dir_ / "missing.sac").string() + "\""),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("stations.txt line 4: the path has 101 characters"), std::string::npos) << err;
}

TEST_F(NameMaker, RefusesRecordsThatAreNoFilesAndLinesWithANulWithoutWaiting) {
  add_station("GOOD", "BHZ");
  ASSERT_EQ(mkfifo((dir_ / "fifo.sac").c_str(), 0644), 0);
  std::filesystem::create_directory(dir_ / "folder.sac");
  list_ += (dir_ / "fifo.sac").string() + "\n" + (dir_ / "folder.sac").string() + "\n" +
           std::string("st\0.sac\n", 8);
  EXPECT_EQ(run(), 1);
  EXPECT_FALSE(names_exist());
  const std::string err = err_.text();
  for (const std::string& line : std::vector<std::string>{
           "stations.txt line 2: \"" + (dir_ / "fifo.sac").string() +
               "\" cannot be read: it is not a regular file\n",
           "stations.txt line 3: \"" + (dir_ / "folder.sac").string() +
               "\" cannot be read: it is a directory\n",
           "stations.txt line 4: the line holds a NUL byte; xcorrnet_v3 reads no file from it\n"}) {
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
  }
}

TEST_F(NameMaker, RefusesAStationNameThatWouldMoveTheResult) {
  add_station("A/B", "BHZ");
  EXPECT_EQ(run(), 1);
  EXPECT_FALSE(names_exist());
  EXPECT_NE(err_.text().find("\"A/B\" holds a character that cannot be part of a file name"),
            std::string::npos)
      << err_.text();
}

}  // namespace
}  // namespace xcn::tools
