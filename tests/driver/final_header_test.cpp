// The pair loop writes each result with its final header: the very bytes that writing it with
// the provisional window header and completing it in the header pass gives.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "driver/results/header_pass.hpp"
#include "driver/pairs.hpp"
#include "driver/engines/plain_loop.hpp"
#include "driver/results/result_writer.hpp"
#include "sacio/write.hpp"
#include "tests/common/scratch_dir.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Words of a big-endian file.
std::uint32_t word(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | std::uint32_t{b[at + 3]};
}
float real(const Bytes& b, std::size_t at) {
  const std::uint32_t w = word(b, at);
  float v;
  std::memcpy(&v, &w, 4);
  return v;
}
std::string text(const Bytes& b, std::size_t at, std::size_t n = 8) {
  return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
}

void set_field(std::array<char, 10>& field, const char* value) {
  field.fill(' ');
  std::memcpy(field.data(), value, std::strlen(value));
}

// Writes samples under the header the pair loop used to write first: the window axis and both
// stations, no event name and no geometry.
void write_provisional(const std::string& path, const StationTable& t, int i, int j,
                       std::vector<float> y, float dt) {
  const int n = static_cast<int>(y.size());
  newhdr();
  set_integer("NPTS", n);
  set_real("DELTA", dt);
  set_real("B", result_begin(n, dt));
  set_real("E", static_cast<float>((n - 1) / 2) * dt);
  set_text("KSTNM", t.station(i).kstnm.data(), 10);
  set_text("KCMPNM", t.station(j).kcmpnm.data(), 10);
  set_real("STLA", t.station(j).stla);
  set_real("STLO", t.station(j).stlo);
  set_real("EVLA", t.station(i).stla);
  set_real("EVLO", t.station(i).stlo);
  float xdummy = 0.0f;
  int nerr = 0;
  wsac0(path.c_str(), &xdummy, y.data(), &nerr, static_cast<int>(path.size()));
  ASSERT_EQ(nerr, 0) << path;
}

TEST(FinalHeader, ThePairLoopWritesWhatTheHeaderPassWouldMakeOfAProvisionalResult) {
  // Big-endian files, whatever the host: the comparison covers the swapped header and samples.
  ASSERT_EQ(sac_byte_order(1), CheckByteOrder() == 1 ? 0 : 1);
  const test::ScratchDir one, two;
  StationTable table(3);
  // Stations 1 and 3 stand at one place; 1 and 2 have eight-character names, so that KEVNM
  // (16 characters) cuts their joined name.
  const float coords[3][2] = {{10.0f, 20.0f}, {10.5f, 20.25f}, {10.0f, 20.0f}};
  const char* names[3] = {"ABCDEFGH", "IJKLMNOP", "CCC"};
  const char* comps[3] = {"HHZ", "HHN", "HHE"};
  unsigned state = 1;
  for (int s = 1; s <= 3; ++s) {
    Station& st = table.station(s);
    set_field(st.kstnm, names[s - 1]);
    set_field(st.kcmpnm, comps[s - 1]);
    st.stla = coords[s - 1][0];
    st.stlo = coords[s - 1][1];
    st.has_position = true;
    st.npts = 1500;
    st.delta = 1.5f;
    st.usable = true;
    table.hold(s, 1500);
    for (int k = 0; k < 1500; ++k) {
      state = state * 1103515245u + 12345u;
      table.row(s)[k] = static_cast<float>((state >> 8) & 0xffff) / 65536.0f - 0.5f;
    }
  }
  PairTable pairs(3);
  auto make_run = [&](const test::ScratchDir& dir) {
    xcn::Run run;
    run.params.abc = 'B';
    run.params.replace = 'Y';
    for (int ij = 1; ij <= pairs.size(); ++ij) {
      Name n;
      fill_field(n, dir.file("p" + std::to_string(ij) + ".sac"));
      run.names.push_back(n);
    }
    run.table = &table;
    run.pairs = &pairs;
    run.last = LastRead{1500, 1.5f, 0.0f};
    run.time = lay_out_grid(table, 1.5f, stderr);
    return run;
  };
  const xcn::Run direct = make_run(one);
  run_pair_loop(direct);

  // The same samples written the two-step way: provisional header, then the header pass.
  const xcn::Run two_step = make_run(two);
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    const Bytes b = read_bytes(direct.path(ij));
    std::vector<float> y((b.size() - 632) / 4);
    for (std::size_t k = 0; k < y.size(); ++k) y[k] = real(b, 632 + 4 * k);
    write_provisional(two_step.path(ij), table, pairs.ni(ij), pairs.nj(ij), y, 1.5f);
  }
  header_pass(two_step, stderr);
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    EXPECT_EQ(read_bytes(direct.path(ij)), read_bytes(two_step.path(ij))) << "pair " << ij;
  }

  // Pair 2 joins station 1 (the event) and station 2 (the station). At 1.5 s a 2000 s window
  // is 1333 samples: an odd length, B = -666 * 1.5; E stays undefined.
  const Bytes p = read_bytes(direct.path(2));
  ASSERT_EQ(p.size(), 632u + 4u * 1333u);
  EXPECT_EQ(word(p, 316), 1333u);
  EXPECT_EQ(real(p, 0), 1.5f);
  EXPECT_EQ(real(p, 20), -999.0f);
  EXPECT_EQ(real(p, 24), -12345.0f);
  EXPECT_EQ(text(p, 448, 16), "ABCDEFGH-IJKLMNO");
  // Each record whole: the station's in KSTNM and KCMPNM, the event's in KUSER1 and KUSER2;
  // networks, locations and angles the stations lack stay undefined.
  EXPECT_EQ(text(p, 440), "IJKLMNOP");
  EXPECT_EQ(text(p, 600), "HHN     ");
  EXPECT_EQ(text(p, 584), "ABCDEFGH");
  EXPECT_EQ(text(p, 592), "HHZ     ");
  for (const std::size_t at : {464u, 608u, 616u, 624u}) EXPECT_EQ(text(p, at), "-12345  ") << at;
  for (const std::size_t at : {168u, 172u, 228u, 232u}) EXPECT_EQ(real(p, at), -12345.0f) << at;
  EXPECT_EQ(real(p, 124), 10.5f);  // STLA, STLO: the second station
  EXPECT_EQ(real(p, 128), 20.25f);
  EXPECT_EQ(real(p, 140), 10.0f);  // EVLA, EVLO: the first station
  EXPECT_EQ(real(p, 144), 20.0f);
  EXPECT_GT(real(p, 200), 50.0f);  // DIST, AZ, BAZ from the writer
  // Identical positions: DIST 0, AZ and BAZ 0 as the writer sets them.
  const Bytes same = read_bytes(direct.path(3));
  EXPECT_EQ(real(same, 200), 0.0f);
  EXPECT_EQ(real(same, 204), 0.0f);
  EXPECT_EQ(real(same, 208), 0.0f);
  EXPECT_EQ(text(same, 448, 16), "ABCDEFGH-CCC    ");
}

}  // namespace
}  // namespace xcn
