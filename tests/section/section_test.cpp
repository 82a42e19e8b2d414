// Tests of xcn_section: the picture's files, where the traces land in it, and the results and
// arguments it refuses.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "tests/e2e/process.hpp"
#include "tests/tools/tools_test_util.hpp"
#include "tools/commands.hpp"
#include "tools/section_layout.hpp"
#include "xcorrnet/sacio.h"

// fontconfig, under cairo's text, keeps its font cache for the life of the process;
// LeakSanitizer would report it at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace xcn::tools {
namespace {

using test::Capture;
using test::file_bytes;
using test::ScratchDir;
using test::write_text;

constexpr float kUndefined = -12345.0f;

// A correlation result of 2000 samples at 1 s from lag -1000 s: zero but for a unit spike at
// each given lag. A DIST of kUndefined is left undefined.
void write_result(const std::string& path, float dist, std::vector<int> spikes, float fill = 0.0f) {
  std::vector<float> y(2000, fill);
  for (const int lag : spikes) y[static_cast<std::size_t>(1000 + lag)] = 1.0f;
  int nerr = 0;
  newhdr();
  int npts = 2000;
  float delta = 1;
  float begin = -1000;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &begin, &nerr, -1);
  if (dist != kUndefined) setfhv("DIST", &dist, &nerr, -1);
  wsac0(path.c_str(), y.data(), y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);
}

// Sets character fields of a result of write_result(), as another program editing it would.
void set_texts(const std::string& path,
               std::initializer_list<std::pair<const char*, const char*>> fields) {
  int nerr = 0;
  float y[2000];
  int n = 0, max = 2000;
  float b = 0, dt = 0;
  rsac1(path.c_str(), y, &n, &b, &dt, &max, &nerr, -1);
  for (const auto& [field, value] : fields) setkhv(field, value, &nerr, -1, -1);
  wsac0(path.c_str(), y, y, &nerr, -1);
  ASSERT_EQ(nerr, 0) << path;
}

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(bytes[at + k]);
  return v;
}

std::uint32_t crc32(const std::string& bytes, std::size_t from, std::size_t count) {
  std::uint32_t crc = 0xffffffffu;
  for (std::size_t k = from; k < from + count; ++k) {
    crc ^= static_cast<unsigned char>(bytes[k]);
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xedb88320u : crc >> 1;
  }
  return ~crc;
}

// The PNG signature, then an intact IHDR chunk of the given size.
void expect_png(const std::string& bytes, std::uint32_t width, std::uint32_t height) {
  ASSERT_GE(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(big_endian(bytes, 8), 13u);  // IHDR's length
  EXPECT_EQ(bytes.substr(12, 4), "IHDR");
  EXPECT_EQ(big_endian(bytes, 16), width);
  EXPECT_EQ(big_endian(bytes, 20), height);
  EXPECT_EQ(big_endian(bytes, 29), crc32(bytes, 12, 17));
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

// The darkest grey level (0 black, 255 white) within `radius` pixels of (x, y).
int darkest_near(cairo_surface_t* image, double x, double y, int radius) {
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  int darkest = 255;
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      const int px = static_cast<int>(std::lround(x)) + dx;
      const int py = static_cast<int>(std::lround(y)) + dy;
      if (px < 0 || py < 0 || px >= cairo_image_surface_get_width(image) ||
          py >= cairo_image_surface_get_height(image)) {
        continue;
      }
      std::uint32_t pixel;
      std::memcpy(&pixel, data + py * stride + px * 4, 4);
      const int green = (pixel >> 8) & 0xff;  // grey and black have equal channels
      darkest = std::min(darkest, green);
    }
  }
  return darkest;
}

int run(const std::vector<std::string>& args, std::string* err_text = nullptr,
        std::string* out_text = nullptr) {
  Capture out;
  Capture err;
  const int status = run_section(args, out.stream(), err.stream());
  if (err_text) *err_text = err.text();
  if (out_text) *out_text = out.text();
  return status;
}

// Three stations: the name list of the tool with two cross-correlations at 30 and 90 km whose
// spikes lie at +/- distance / 3 km/s, and one with a spike at 0 lag at 60 km.
class SectionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto name = [&](const char* file) { return (dir / file).string(); };
    write_text(dir / "names.txt", name("11.sac") + "\n" + name("12.sac") + "\n" + name("13.sac") +
                                      "\n" + name("22.sac") + "\n" + name("23.sac") + "\n" +
                                      name("33.sac") + "\n");
    write_result(name("12.sac"), 30, {-10, 10});
    write_result(name("13.sac"), 90, {-30, 30});
    write_result(name("23.sac"), 60, {0});
    // The auto-correlations exist but are left out by their place in the list.
    for (const char* file : {"11.sac", "22.sac", "33.sac"}) write_result(name(file), 0, {0});
  }
  std::string names() const { return (dir / "names.txt").string(); }
  ScratchDir dir;
};

TEST_F(SectionRun, PngOfTheRequestedSizeShowsEachTraceWhereTheLayoutPutsIt) {
  const std::string picture = (dir / "section.png").string();
  std::string err;
  std::string out;
  ASSERT_EQ(run({names(), picture, "--size", "640x480", "--max-lag", "60"}, &err, &out), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_NE(out.find("3 cross-correlations drawn in " + picture), std::string::npos) << out;
  expect_png(file_bytes(picture), 640, 480);

  std::unique_ptr<cairo_surface_t, SurfaceDeleter> image(
      cairo_image_surface_create_from_png(picture.c_str()));
  ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(image.get()), 640);
  ASSERT_EQ(cairo_image_surface_get_height(image.get()), 480);

  const double distances[] = {30, 90, 60};
  const SectionLayout layout(640, 480, distances, 60);
  const double top = layout.amplitude_px();
  struct Mark {
    double lag;
    double km;
    double up;  // pixels above the baseline
  };
  // Each spike's tip, and each trace's flat stretch at -50 s.
  for (const Mark m : {Mark{-10, 30, top}, Mark{10, 30, top}, Mark{-30, 90, top}, Mark{30, 90, top},
                       Mark{0, 60, top}, Mark{-50, 30, 0}, Mark{-50, 90, 0}, Mark{-50, 60, 0}}) {
    EXPECT_LT(
        darkest_near(image.get(), layout.x_of_lag(m.lag), layout.y_of_distance(m.km) - m.up, 1),
        160)
        << m.lag << " s at " << m.km << " km";
  }
  // Halfway between two traces, away from every line, the picture is blank.
  EXPECT_EQ(darkest_near(image.get(), layout.x_of_lag(-45), layout.y_of_distance(45), 2), 255);
}

TEST_F(SectionRun, SvgAndPdfByTheExtensionInAnyCase) {
  const std::string svg = (dir / "section.svg").string();
  const std::string pdf = (dir / "section.PDF").string();
  ASSERT_EQ(run({names(), svg}), 0);
  ASSERT_EQ(run({"--size", "800x600", names(), pdf}), 0);
  const std::string svg_bytes = file_bytes(svg);
  EXPECT_EQ(svg_bytes.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg_bytes.find("<svg"), std::string::npos);
  EXPECT_NE(svg_bytes.find("width=\"1200\""), std::string::npos);
  const std::string pdf_bytes = file_bytes(pdf);
  EXPECT_EQ(pdf_bytes.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf_bytes.find("%%EOF"), std::string::npos);
}

TEST_F(SectionRun, ResultsThatCannotBeDrawnAreReportedAndLeftOut) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  write_result((dir / "12.sac").string(), kUndefined, {-10, 10});
  write_result((dir / "13.sac").string(), 90, {}, nan);
  write_text(dir / "23.sac", std::string(1000, 'x'));  // long enough for a header
  std::filesystem::remove(dir / "22.sac");             // an auto-correlation: not even looked for
  const std::string picture = (dir / "section.png").string();
  std::string err;
  EXPECT_EQ(run({names(), picture}, &err), 1);
  EXPECT_FALSE(std::filesystem::exists(picture));
  for (const std::string& line : std::vector<std::string>{
           "12.sac\" has no distance (DIST is undefined); skipped",
           "13.sac\" holds no finite sample (no window was stacked); skipped",
           "23.sac\" cannot be read: it is not a SAC file; skipped",
           "no cross-correlation of " + names() + " can be drawn; " + picture + " not written"}) {
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
  }
  EXPECT_EQ(err.find("22.sac"), std::string::npos) << err;

  // One good result is enough for a picture; a missing one is named.
  write_result((dir / "13.sac").string(), 90, {-30, 30});
  std::filesystem::remove(dir / "12.sac");
  std::string out;
  EXPECT_EQ(run({names(), picture}, &err, &out), 0) << err;
  EXPECT_NE(err.find("12.sac\" cannot be read: the file does not exist; skipped"),
            std::string::npos)
      << err;
  EXPECT_NE(out.find("1 cross-correlations drawn"), std::string::npos) << out;
  expect_png(file_bytes(picture), 1200, 800);
}

// A result longer than any record row (200000 samples, 2000 s at 100 Hz) is drawn whole: its
// spike 800 s after lag 0, past its 172800th sample, shows.
TEST_F(SectionRun, AResultOfAnyLengthIsDrawnWhole) {
  const int npts = 200000;
  std::vector<float> y(npts, 0.0f);
  y[20000] = 1.0f;   // -800 s
  y[180000] = 1.0f;  // +800 s
  int nerr = 0;
  newhdr();
  const float delta = 0.01f;
  const float begin = static_cast<float>(-(npts / 2)) * delta;
  const float dist = 30;
  setnhv("NPTS", &npts, &nerr, -1);
  setfhv("DELTA", &delta, &nerr, -1);
  setfhv("B", &begin, &nerr, -1);
  setfhv("DIST", &dist, &nerr, -1);
  wsac0((dir / "12.sac").c_str(), y.data(), y.data(), &nerr, -1);
  ASSERT_EQ(nerr, 0);

  const std::string picture = (dir / "long.png").string();
  std::string err;
  ASSERT_EQ(run({names(), picture, "--size", "640x480", "--max-lag", "900"}, &err), 0) << err;
  EXPECT_EQ(err, "");
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> image(
      cairo_image_surface_create_from_png(picture.c_str()));
  ASSERT_EQ(cairo_surface_status(image.get()), CAIRO_STATUS_SUCCESS);
  const double distances[] = {30, 90, 60};
  const SectionLayout layout(640, 480, distances, 900);
  for (const double lag : {-800.0, 800.0}) {
    EXPECT_LT(darkest_near(image.get(), layout.x_of_lag(lag),
                           layout.y_of_distance(30) - layout.amplitude_px(), 1),
              160)
        << lag;
  }
}

TEST_F(SectionRun, AListOfAnyLengthKeepsEveryResultWithADistance) {
  // Four names are no station count's pairs: DIST alone tells the auto-correlation.
  write_text(dir / "some.txt", (dir / "11.sac").string() + "\n" + (dir / "12.sac").string() +
                                   "\n\n" + (dir / "13.sac").string() + "\n");
  std::string err;
  std::string out;
  EXPECT_EQ(run({(dir / "some.txt").string(), (dir / "s.png").string()}, &err, &out), 0);
  EXPECT_NE(err.find("11.sac\" has DIST 0 km, no distance between two stations; skipped"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("line 3 of " + (dir / "some.txt").string() + " is blank; skipped"),
            std::string::npos)
      << err;
  EXPECT_NE(out.find("2 cross-correlations drawn"), std::string::npos) << out;
}

TEST_F(SectionRun, CrossCorrelationsAloneAreNotTakenForAutoCorrelationsByTheirPlace) {
  // Three names, the count of two stations' full list, but all three are pairs of two
  // stations (a run in mode C, or its stacks); a fourth list's auto-correlation says so.
  const struct {
    const char* file;
    const char* kevnm;
    float dist;
  } results[] = {{"x12.sac", "ST01-ST02", 30},
                 {"x13.sac", "ST01-ST03", 90},
                 {"x23.sac", "ST02-ST03", 60},
                 {"x11.sac", "ST01-ST01", 0}};
  for (const auto& r : results) {
    const std::string path = (dir / r.file).string();
    write_result(path, r.dist, {0});
    set_texts(path, {{"KEVNM", r.kevnm}});
  }
  const auto line = [&](const char* file) { return (dir / file).string() + "\n"; };
  write_text(dir / "cross.txt", line("x12.sac") + line("x13.sac") + line("x23.sac"));
  write_text(dir / "full.txt", line("x11.sac") + line("x12.sac") + line("x13.sac"));
  std::string err;
  std::string out;
  EXPECT_EQ(run({(dir / "cross.txt").string(), (dir / "c.png").string()}, &err, &out), 0) << err;
  EXPECT_NE(out.find("3 cross-correlations drawn"), std::string::npos) << out;
  // In a full list the auto-correlation is passed over in silence; x13.sac is no auto.
  EXPECT_EQ(run({(dir / "full.txt").string(), (dir / "f.png").string()}, &err, &out), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_NE(out.find("2 cross-correlations drawn"), std::string::npos) << out;
}

// A folder of three-component results (seven: no station count's full list, so that none is
// taken for an auto-correlation by its place): --comp draws one pair of components, known by the
// last letters of both records' components (KUSER2 and KCMPNM), and says which of the rest
// cannot tell theirs.
TEST_F(SectionRun, OnePairOfComponentsOfAFolderThatHoldsSeveral) {
  const struct {
    const char* file;
    const char* first;  // KUSER2; null: a result of an earlier version
    const char* second;
    float dist;
  } results[] = {{"zz12.sac", "BHZ", "BHZ", 30},   {"zt12.sac", "BHZ", "BHT", 30},
                 {"tz12.sac", "BHT", "BHZ", 30},   {"zz13.sac", "BHZ", "BHZ", 90},
                 {"tt13.sac", "BHT", "BHT", 90},   {"rz13.sac", "BHR", "BHZ", 90},
                 {"old23.sac", nullptr, "BHZ", 60}};
  std::string list;
  for (const auto& r : results) {
    const std::string path = (dir / r.file).string();
    write_result(path, r.dist, {0});
    set_texts(path, {{"KCMPNM", r.second}});
    if (r.first != nullptr) set_texts(path, {{"KUSER2", r.first}});
    list += path + "\n";
  }
  write_text(dir / "three.txt", list);
  std::string err;
  std::string out;
  EXPECT_EQ(
      run({(dir / "three.txt").string(), (dir / "zz.png").string(), "--comp", "ZZ"}, &err, &out),
      0);
  EXPECT_EQ(out,
            "xcn_section: 2 ZZ cross-correlations drawn in " + (dir / "zz.png").string() + "\n");
  EXPECT_EQ(err, "xcn_section: \"" + (dir / "old23.sac").string() +
                     "\" does not tell both records' components (a result of an earlier "
                     "version: run xcorrnet_v3 again with N to complete it); skipped\n");
  EXPECT_EQ(
      run({(dir / "three.txt").string(), (dir / "tz.png").string(), "--comp", "TZ"}, &err, &out),
      0);
  EXPECT_EQ(out,
            "xcn_section: 1 TZ cross-correlations drawn in " + (dir / "tz.png").string() + "\n");
  // None of a pair: no picture.
  EXPECT_EQ(run({(dir / "three.txt").string(), (dir / "rr.png").string(), "--comp", "RR"}, &err),
            1);
  EXPECT_NE(err.find("xcn_section: no RR cross-correlation of "), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "rr.png"));
  // Without --comp, every result is drawn, as always.
  EXPECT_EQ(run({(dir / "three.txt").string(), (dir / "all.png").string()}, &err, &out), 0);
  EXPECT_EQ(out, "xcn_section: 7 cross-correlations drawn in " + (dir / "all.png").string() + "\n");
}

TEST_F(SectionRun, AFailedWriteLeavesTheOldPictureAndNoTemporaryFile) {
  const std::string picture = (dir / "section.png").string();
  write_text(picture, "old picture");
  std::string err;
  EXPECT_EQ(run({names(), (dir / "missing" / "section.png").string()}, &err), 1);
  EXPECT_NE(err.find("cannot write " + (dir / "missing" / "section.png").string() + ": "),
            std::string::npos)
      << err;
  // A picture that cannot be drawn at all leaves the old one as it was.
  write_text(dir / "names.txt", "");
  EXPECT_EQ(run({names(), picture}, &err), 1);
  EXPECT_EQ(file_bytes(picture), "old picture");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  }
}

TEST_F(SectionRun, APictureThatIsAnInputOrNoFileIsRefusedBeforeAnythingIsWritten) {
  std::filesystem::create_symlink(dir / "12.sac", dir / "link.png");
  std::filesystem::create_hard_link(dir / "names.txt", dir / "names.svg");
  std::filesystem::create_directory(dir / "folder.png");
  ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0644), 0);
  const std::string result = (dir / "12.sac").string();
  const struct {
    std::string picture;
    int status;
    std::string says;
  } cases[] = {
      {"link.png", 2,
       "is the result \"" + result + "\" of " + names() + " line 2; nothing written"},
      {"names.svg", 2, "is the name list \"" + names() + "\"; nothing written"},
      {"folder.png", 1, "is a directory; left as it is"},
      {"fifo.png", 1, "is not a regular file; left as it is"},
  };
  const std::string before = file_bytes(dir / "12.sac");
  for (const auto& c : cases) {
    std::string err;
    std::string out;
    EXPECT_EQ(run({names(), (dir / c.picture).string()}, &err, &out), c.status) << c.picture;
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(file_bytes(dir / "12.sac"), before);
  EXPECT_EQ(file_bytes(dir / "names.svg"), file_bytes(dir / "names.txt"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.png"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "folder.png"));
}

TEST_F(SectionRun, ResultsThatAreNoFilesAndLinesWithANulAreLeftOutWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir / "fifo.sac").c_str(), 0644), 0);
  write_text(dir / "some.txt", (dir / "12.sac").string() + "\n" + (dir / "fifo.sac").string() +
                                   "\n" + std::string("x\0y.sac\n", 8) + "/dev/zero\n");
  std::string err;
  EXPECT_EQ(run({(dir / "some.txt").string(), (dir / "s.png").string()}, &err), 0) << err;
  for (const std::string& line : std::vector<std::string>{
           "\"" + (dir / "fifo.sac").string() + "\" cannot be read: it is not a regular file",
           "line 3 of " + (dir / "some.txt").string() + " holds a NUL byte; skipped",
           "\"/dev/zero\" cannot be read: it is not a regular file"}) {
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
  }
}

// The built program, as a user runs it: a device as the name list ends at once, and the
// picture is never the list it reads.
TEST_F(SectionRun, TheProgramRefusesADeviceListAndAPictureThatIsItsList) {
  std::filesystem::copy_file(dir / "names.txt", dir / "names.png");
  const std::string list = file_bytes(dir / "names.png");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"/dev/zero", "x.png"},
       1,
       "xcn_section: cannot open the name list \"/dev/zero\": it is neither a regular file nor "
       "a pipe\n"},
      {{"names.png", "./names.png"},
       2,
       "xcn_section: the picture \"./names.png\" is the name list \"names.png\"; nothing "
       "written\n"},
  };
  for (const auto& c : cases) {
    const auto r = xcn::test::run_program(XCN_SECTION, c.args, dir.path(), {}, [] { alarm(60); });
    EXPECT_EQ(r.status, c.status) << c.says;
    EXPECT_EQ(r.err, c.says);
  }
  EXPECT_EQ(file_bytes(dir / "names.png"), list);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

// Names of a list are taken from the list's folder, as xcn_stack takes them, so that a day's
// list serves from anywhere; a pipe has no folder, and its names are taken from here.
TEST_F(SectionRun, NamesAreTakenFromTheListsFolderOrFromHereForAPipe) {
  std::filesystem::create_directory(dir / "day");
  write_result((dir / "day/a.sac").string(), 30, {-10, 10});
  write_result((dir / "day/b.sac").string(), 90, {-30, 30});
  // Only beside the program, not in the list's folder: a name must not reach it.
  write_result((dir / "c.sac").string(), 60, {0});
  write_text(dir / "day/names.txt", "a.sac\nb.sac\nc.sac\n" + (dir / "12.sac").string() + "\n");
  const auto in_list = xcn::test::run_program(XCN_SECTION, {"day/names.txt", "day.png"}, dir.path(),
                                              {}, [] { alarm(60); });
  EXPECT_EQ(in_list.status, 0) << in_list.err;
  EXPECT_EQ(in_list.out, "xcn_section: 3 cross-correlations drawn in day.png\n");
  EXPECT_EQ(in_list.err,
            "xcn_section: \"day/c.sac\" cannot be read: the file does not exist; skipped\n");

  const auto piped = xcn::test::run_program(
      "/bin/bash", {"-c", std::string(XCN_SECTION) + " <(printf 'day/a.sac\\nc.sac\\n') p.png"},
      dir.path(), {}, [] { alarm(60); });
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "xcn_section: 2 cross-correlations drawn in p.png\n");
  EXPECT_EQ(piped.err, "");
}

// A run's container draws the picture its SAC results draw, byte for byte: the same network
// run into SAC files under a text name list called run.nc, and into a container run.nc (the
// title names the input).
TEST(SectionContainer, AContainerDrawsThePictureOfItsRunsSacResults) {
  ScratchDir dir;
  const std::vector<std::string> env = {"OMP_NUM_THREADS=2"};
  for (const char* folder : {"sac", "nc"}) {
    const auto synth = xcn::test::run_program(
        XCN_SYNTH, {"--stations", "4", "--samples", "9000", "--out", folder}, dir.path());
    ASSERT_EQ(synth.status, 0) << synth.err;
  }
  std::filesystem::copy_file(dir / "sac/names.txt", dir / "sac/run.nc");
  const auto sac =
      xcn::test::run_program(XCN_TOOL, {"stations.txt", "run.nc", "B", "Y"}, dir / "sac", env);
  ASSERT_EQ(sac.status, 0) << sac.err;
  ASSERT_TRUE(std::filesystem::exists(dir / "sac/ST01.BHZ_ST02.BHZ.sac"));
  const auto nc =
      xcn::test::run_program(XCN_TOOL, {"stations.txt", "run.nc", "B", "Y"}, dir / "nc", env);
  if (nc.status == 2 && nc.err.find("no NetCDF support") != std::string::npos) {
    // Built without libnetcdf: the text list still draws, and a container is refused.
    write_text(dir / "nc/run.nc", std::string("\x89HDF\r\n\x1a\n", 8));
    const auto r = xcn::test::run_program(XCN_SECTION, {"run.nc", "s.png"}, dir / "nc");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "xcn_section: error: \"run.nc\" names a run container, and this build has no "
              "NetCDF support (rebuild with libnetcdf-dev installed)\n");
    GTEST_SKIP() << "built without libnetcdf";
  }
  ASSERT_EQ(nc.status, 0) << nc.err;
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--comp", "ZZ", "--size", "640x480"}}) {
    std::vector<std::string> args = {"run.nc", "s.png"};
    args.insert(args.end(), options.begin(), options.end());
    const auto from_sac = xcn::test::run_program(XCN_SECTION, args, dir / "sac");
    const auto from_nc = xcn::test::run_program(XCN_SECTION, args, dir / "nc");
    ASSERT_EQ(from_sac.status, 0) << from_sac.err;
    ASSERT_EQ(from_nc.status, 0) << from_nc.err;
    EXPECT_EQ(from_nc.out, from_sac.out);
    EXPECT_EQ(from_nc.err, "");
    const std::string picture = file_bytes(dir / "nc/s.png");
    expect_png(picture, options.empty() ? 1200 : 640, options.empty() ? 800 : 480);
    EXPECT_TRUE(picture == file_bytes(dir / "sac/s.png"));
  }
  EXPECT_EQ(xcn::test::run_program(XCN_SECTION, {"run.nc", "s.png"}, dir / "nc").out,
            "xcn_section: 6 cross-correlations drawn in s.png\n");

  // The container is an input the picture may not replace, not even through a hard link.
  std::filesystem::create_hard_link(dir / "nc/run.nc", dir / "nc/run.png");
  const auto self = xcn::test::run_program(XCN_SECTION, {"run.nc", "run.png"}, dir / "nc");
  EXPECT_EQ(self.status, 2);
  EXPECT_EQ(self.err,
            "xcn_section: the picture \"run.png\" is the run container \"run.nc\"; nothing "
            "written\n");
  EXPECT_EQ(file_bytes(dir / "nc/run.png"), file_bytes(dir / "nc/run.nc"));
  // A damaged container is refused with its name and draws nothing.
  const std::string whole = file_bytes(dir / "nc/run.nc");
  write_text(dir / "nc/cut.nc", whole.substr(0, whole.size() / 2));
  const auto cut = xcn::test::run_program(XCN_SECTION, {"cut.nc", "cut.png"}, dir / "nc");
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err.rfind("xcn_section: cannot read \"cut.nc\": it is no run container of "
                          "xcorrnet_v3 (",
                          0),
            0u)
      << cut.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "nc/cut.png"));
}

TEST(SectionArguments, BadArgumentsAreRefusedWithTheirReason) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{}, 2, "expected a name list and a picture file; see xcn_section --help"},
      {{"names.txt"}, 2, "expected a name list and a picture file; see xcn_section --help"},
      {{"names.txt", "a.png", "b.png"},
       2,
       "expected a name list and a picture file; see xcn_section --help"},
      {{"names.txt", "a.jpg"},
       2,
       "a.jpg: the picture's type comes from its extension: .png, .svg or .pdf"},
      {{"names.txt", "png"},
       2,
       "png: the picture's type comes from its extension: .png, .svg or .pdf"},
      {{"names.txt", "a.png", "--size", "200x100"},
       2,
       "--size needs a size WxH of 320x240 to 10000x10000 pixels, not \"200x100\"; see "
       "xcn_section --help"},
      {{"names.txt", "a.png", "--size", "800"},
       2,
       "--size needs a size WxH of 320x240 to 10000x10000 pixels, not \"800\"; see xcn_section "
       "--help"},
      {{"names.txt", "a.png", "--velocity", "0"},
       2,
       "--velocity needs a speed in km/s over 0, not \"0\"; see xcn_section --help"},
      {{"names.txt", "a.png", "--max-lag", "-5"},
       2,
       "--max-lag needs a lag in seconds over 0, not \"-5\"; see xcn_section --help"},
      {{"names.txt", "a.png", "--max-lag", "nan"},
       2,
       "--max-lag needs a lag in seconds over 0, not \"nan\"; see xcn_section --help"},
      {{"names.txt", "a.png", "--max-lag"},
       2,
       "--max-lag needs a lag in seconds over 0; see xcn_section --help"},
      {{"names.txt", "a.png", "--comp", "ZZZ"},
       2,
       "--comp needs two letters, the last of each record's component (such as ZZ or RT), not "
       "\"ZZZ\"; see xcn_section --help"},
      {{"names.txt", "a.png", "--colour", "red"},
       2,
       "unknown option --colour; see xcn_section --help"},
      {{"/nonexistent/names.txt", "a.png"},
       1,
       "cannot open the name list \"/nonexistent/names.txt\": No such file or directory"},
      // A device would be read for ever.
      {{"/dev/zero", "a.png"},
       1,
       "cannot open the name list \"/dev/zero\": it is neither a regular file nor a pipe"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(run(c.args, &err), c.status) << c.says;
    EXPECT_EQ(err, "xcn_section: " + c.says + "\n");
  }
  std::string out;
  EXPECT_EQ(run({"--help"}, nullptr, &out), 0);
  EXPECT_EQ(out.rfind("usage: xcn_section NAME_LIST PICTURE", 0), 0u) << out;
}

}  // namespace
}  // namespace xcn::tools
