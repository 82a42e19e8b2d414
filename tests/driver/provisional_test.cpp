// The provisional header a computed pair is written with, before the header pass replaces it.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "driver/pairs.hpp"
#include "driver/plain_loop.hpp"
#include "tests/common/scratch_dir.hpp"

namespace xcn {
namespace {

struct Bytes {
  std::vector<unsigned char> b;
  explicit Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    b.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  float f(std::size_t at) const {
    float v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  }
  int i(std::size_t at) const {
    int v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  }
  std::string k(std::size_t at, std::size_t n = 8) const {
    return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
  }
};

void set_field(std::array<char, 10>& field, const char* text) {
  field.fill(' ');
  std::memcpy(field.data(), text, std::strlen(text));
}

TEST(ProvisionalHeader, CarriesTheWindowAxisAndBothStationsBeforeTheHeaderPass) {
  const test::ScratchDir scratch;
  const std::string dir = scratch.path().string();
  StationTable table(3);
  const float coords[3][2] = {{10.0f, 20.0f}, {10.5f, 20.25f}, {10.0f, 20.0f}};
  const char* names[3] = {"AAA", "BBB", "CCC"};
  const char* comps[3] = {"HHZ", "HHN", "HHE"};
  unsigned state = 1;
  for (int s = 1; s <= 3; ++s) {
    Station& st = table.station(s);
    set_field(st.kstnm, names[s - 1]);
    set_field(st.kcmpnm, comps[s - 1]);
    st.stla = coords[s - 1][0];
    st.stlo = coords[s - 1][1];
    st.npts = 1500;
    st.delta = 1.5f;
    st.usable = true;
    for (int k = 0; k < 1500; ++k) {
      state = state * 1103515245u + 12345u;
      table.row(s)[k] = static_cast<float>((state >> 8) & 0xffff) / 65536.0f - 0.5f;
    }
  }
  PairTable pairs(3);
  xcn::Run run;
  run.params.abc = 'B';
  run.params.replace = 'Y';
  for (int ij = 1; ij <= pairs.size(); ++ij) {
    Name n;
    fill_field(n, dir + "/p" + std::to_string(ij) + ".sac");
    run.names.push_back(n);
  }
  run.table = &table;
  run.pairs = &pairs;
  run.last = LastRead{1500, 1.5f, 0.0f};
  run_pair_loop(run);

  // Pair 2 joins station 1 (the event) and station 2 (the station). At 1.5 s a 2000 s window
  // is 1333 samples: an odd length, B = -666 * 1.5 and E = 666 * 1.5.
  const Bytes p(dir + "/p2.sac");
  ASSERT_EQ(p.b.size(), 632u + 4u * 1333u);
  EXPECT_EQ(p.i(316), 1333);
  EXPECT_EQ(p.f(0), 1.5f);
  EXPECT_EQ(p.f(20), -999.0f);
  EXPECT_EQ(p.f(24), 999.0f);
  EXPECT_EQ(p.k(440), "AAA     ");              // KSTNM: the first station's name
  EXPECT_EQ(p.k(448, 16), "-12345          ");  // KEVNM still undefined
  EXPECT_EQ(p.k(600), "HHN     ");              // KCMPNM: the second station's component
  EXPECT_EQ(p.f(124), 10.5f);                   // STLA, STLO: the second station
  EXPECT_EQ(p.f(128), 20.25f);
  EXPECT_EQ(p.f(140), 10.0f);  // EVLA, EVLO: the first station
  EXPECT_EQ(p.f(144), 20.0f);
  for (std::size_t at : {200u, 204u, 208u, 212u}) EXPECT_EQ(p.f(at), -12345.0f) << at;
  // Identical positions: the writer sets AZ and BAZ to 0, DIST and GCARC stay undefined.
  const Bytes same(dir + "/p3.sac");
  EXPECT_EQ(same.f(200), -12345.0f);
  EXPECT_EQ(same.f(204), 0.0f);
  EXPECT_EQ(same.f(208), 0.0f);
  EXPECT_EQ(same.k(440), "AAA     ");
  EXPECT_EQ(same.k(600), "HHE     ");
}

}  // namespace
}  // namespace xcn
