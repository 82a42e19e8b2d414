// End-to-end runs of the header pass on results of an earlier run: completed on every worker to
// the very bytes a run writes, complete ones left untouched, and results of any length.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> results_of(const Network& net) {
  std::map<std::string, std::string> bytes;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("p", 0) == 0) bytes[name] = read_bytes(e.path());
  }
  return bytes;
}

// Inode and modification time of each result: a write through a temporary and a rename gives
// a new inode, one in place a new time.
std::map<std::string, std::pair<ino_t, std::int64_t>> stamps(const Network& net) {
  std::map<std::string, std::pair<ino_t, std::int64_t>> out;
  for (const auto& [name, bytes] : results_of(net)) {
    struct stat st {};
    if (stat(net.file(name).c_str(), &st) != 0) continue;
    out[name] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return out;
}

// The file as a machine of the other byte order writes it: every word of the numeric block
// and every sample reversed, the character block as it is.
std::string byte_reversed(std::string b) {
  for (std::size_t at = 0; at + 4 <= b.size(); at += 4) {
    if (at >= 440 && at < 632) continue;
    std::swap(b[at], b[at + 3]);
    std::swap(b[at + 1], b[at + 2]);
  }
  return b;
}

void put_word(std::string& b, std::size_t offset, float value) {
  b.replace(offset, 4, std::string(reinterpret_cast<const char*>(&value), 4));
}

// Ways another program leaves a result's header: each needs the samples read back and the
// file written again.
const struct Spoil {
  const char* what;
  std::string (*apply)(std::string);
} kSpoils[] = {
    {"event name", [](std::string b) { return b.replace(off::kKevnm, 16, "SPOILED         "); }},
    {"geometry undefined",
     [](std::string b) {
       for (std::size_t at : {off::kDist, off::kAz, off::kBaz, off::kGcarc}) {
         put_word(b, at, -12345.0f);
       }
       return b;
     }},
    {"other byte order", byte_reversed},
    {"bytes after the samples", [](std::string b) { return b + std::string(12, '\x01'); }},
    {"a field of its own (USER0)",
     [](std::string b) {
       put_word(b, 160, 5.0f);
       return b;
     }},
};

// A rerun with N on many workers over results whose headers were spoiled gives each its final
// header again: the very bytes of the run that wrote them, every file written once more; the
// next rerun finds them complete and touches none.
TEST(HeaderPass, ARerunOnAllWorkersCompletesEarlierResultsToTheBytesARunWrites) {
  Network net;
  Noise noise(81);
  for (int k = 1; k <= 6; ++k) {
    net.add({std::string("S").append(std::to_string(k)), "BHZ", 30.0f + 0.3f * static_cast<float>(k),
             100.0f - 0.4f * static_cast<float>(k % 3), 1.0f, noise.series(3000)});
  }
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const auto written = results_of(net);
  ASSERT_EQ(written.size(), 21u);

  std::size_t k = 0;
  for (const auto& [name, bytes] : written) {
    write_bytes(net.file(name), kSpoils[k++ % std::size(kSpoils)].apply(bytes));
  }
  const auto spoiled = stamps(net);
  const RunResult rerun = net.run("B", "N", 4);
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(rerun.err, "");
  EXPECT_EQ(results_of(net), written);
  const auto completed = stamps(net);
  for (const auto& [name, stamp] : spoiled) EXPECT_NE(completed.at(name), stamp) << name;

  const RunResult again = net.run("B", "N", 4);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(stamps(net), completed);
  EXPECT_EQ(results_of(net), written);
}

// A result longer than any record row (200000 samples, 2000 s at 100 Hz) is read whole and
// completed; one whose header promises more than the file holds is left as it is.
TEST(HeaderPass, AResultOfAnyLengthIsCompletedWhole) {
  Network net;
  Noise noise(82);
  net.add({"S1", "BHZ", 30.0f, 100.0f, 1.0f, noise.series(2400)});
  net.add({"S2", "BHZ", 30.5f, 100.5f, 1.0f, noise.series(2400)});
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const SacBytes first(net.file("p1_2.sac").string());

  // A result of another program: no event name, the pair's component, samples around lag 0.
  Record long_result{"X", "BHZ", 0.0f, 0.0f, 0.01f, noise.series(200000)};
  long_result.b = static_cast<float>(-(200000 / 2)) * 0.01f;
  ASSERT_EQ(write_record(net.file("p1_2.sac").string(), long_result), 0);
  Record short_one = long_result;
  short_one.samples.resize(1000);
  ASSERT_EQ(write_record(net.file("p2_2.sac").string(), short_one), 0);
  std::string promised = read_bytes(net.file("p2_2.sac"));
  const std::int32_t npts = 200000;
  promised.replace(off::kNpts, 4, std::string(reinterpret_cast<const char*>(&npts), 4));
  write_bytes(net.file("p2_2.sac"), promised);

  const RunResult r = net.run("B", "N", 2);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "xcorrnet_v3: result \"p2_2.sac\" cannot be read back: the file is shorter than its "
            "header says; left as it is\n"
            "xcorrnet_v3: 1 of 3 results could not be written or completed\n");
  EXPECT_EQ(read_bytes(net.file("p2_2.sac")), promised);
  const SacBytes completed(net.file("p1_2.sac").string());
  ASSERT_EQ(completed.bytes.size(), 632u + 4u * 200000u);
  EXPECT_EQ(completed.npts(), 200000);
  EXPECT_EQ(completed.samples(), long_result.samples);
  EXPECT_EQ(completed.k(off::kKevnm, 16), "S1-S2           ");
  EXPECT_EQ(completed.f(off::kDelta), 0.01f);
  for (std::size_t at : {off::kDist, off::kAz, off::kBaz, off::kStla, off::kEvlo}) {
    EXPECT_EQ(completed.word(at), first.word(at)) << at;
  }
}

}  // namespace
}  // namespace xcn::test
