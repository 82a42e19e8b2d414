// End-to-end results: values against an independent double-precision correlation, the same
// bytes for any number of workers, a killed run completed by a rerun, and the header pass of a
// rerun, which completes earlier results of any length and leaves complete ones untouched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <map>
#include <thread>

#include "tests/e2e/network.hpp"

namespace xcn::test {
namespace {

namespace fs = std::filesystem;
using cd = std::complex<double>;

// Sample standard deviation by the one-pass formula in single precision, which decides what
// windows are accepted.
float window_std(const float* y, int n) {
  float s = 0.0f, q = 0.0f;
  for (int k = 0; k < n; ++k) {
    s += y[k];
    q += y[k] * y[k];
  }
  const float avg = s / static_cast<float>(n);
  return std::sqrt((q - (avg * avg) * static_cast<float>(n)) / static_cast<float>(n - 1));
}

// Discrete Fourier transform with exponent sign `sign`, in double precision (plain recursion).
void dft(std::vector<cd>& a, int sign) {
  const std::size_t n = a.size();
  if (n == 1) return;
  std::vector<cd> even(n / 2), odd(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    even[k] = a[2 * k];
    odd[k] = a[2 * k + 1];
  }
  dft(even, sign);
  dft(odd, sign);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const cd t =
        std::polar(1.0, sign * 2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n)) *
        odd[k];
    a[k] = even[k] + t;
    a[k + n / 2] = even[k] - t;
  }
}

// The expected stack of a pair of 2000-sample windows (1 s sampling): tapered windows, zero
// filled to 2048, correlated (phase only unless `auto_pair`), lag 0 at index 1000.
std::vector<double> expected_stack(const std::vector<float>& first,
                                   const std::vector<float>& second, bool auto_pair) {
  const int nptlen = 2000, npt = 2048, nhead = 24, ntpr = 100;
  const int np = static_cast<int>(first.size());
  const float bound1 = 1.1f * window_std(first.data(), np);
  const float bound2 = 1.1f * window_std(second.data(), np);
  std::vector<double> sum(nptlen, 0.0);
  int count = 0;
  for (int start = 0; start + nptlen <= np; start += 200) {
    if (!(window_std(first.data() + start, nptlen) < bound1 &&
          window_std(second.data() + start, nptlen) < bound2)) {
      continue;
    }
    // u1: the second station's window, u2: the first's.
    std::vector<cd> u1(npt), u2(npt);
    for (int k = 0; k < nptlen; ++k) {
      double w = 1.0;
      if (k < ntpr) w = 0.5 - 0.5 * std::cos(k * M_PI / ntpr);
      if (k >= nptlen - ntpr) w = 0.5 - 0.5 * std::cos((nptlen - k) * M_PI / ntpr);
      u1[static_cast<std::size_t>(nhead + k)] = w * second[static_cast<std::size_t>(start + k)];
      u2[static_cast<std::size_t>(nhead + k)] = w * first[static_cast<std::size_t>(start + k)];
    }
    dft(u1, +1);
    dft(u2, +1);
    std::vector<cd> p(npt);
    for (int k = 0; k < npt; ++k) {
      p[k] = u1[k] * std::conj(u2[k]);
      if (!auto_pair && std::abs(p[k]) > 0) p[k] /= std::abs(p[k]);
    }
    dft(p, -1);
    // Lag L = k - 1000 of the result is the circular correlation at L.
    for (int k = 0; k < nptlen; ++k) {
      const int lag = k - nptlen / 2;
      sum[static_cast<std::size_t>(k)] +=
          p[static_cast<std::size_t>((lag + npt) % npt)].real() / npt;
    }
    ++count;
  }
  for (auto& v : sum) v /= count;
  return sum;
}

TEST(Results, AgreeWithAnIndependentDoublePrecisionCorrelation) {
  Network net;
  Noise noise(21);
  // The second station sees the first's noise 7 s later, plus its own.
  const std::vector<float> a = noise.series(2600);
  std::vector<float> b = noise.series(2600);
  for (std::size_t k = 7; k < b.size(); ++k) b[k] = 0.5f * b[k] + a[k - 7];
  net.add({"A", "BHZ", 10.0f, 10.0f, 1.0f, a});
  net.add({"B", "BHZ", 10.0f, 10.5f, 1.0f, b});
  net.write_lists();
  ASSERT_EQ(net.run("B", "Y").status, 0);

  const auto cross = SacBytes(net.file("p1_2.sac").string()).samples();
  const auto want = expected_stack(a, b, false);
  ASSERT_EQ(cross.size(), want.size());
  double worst = 0;
  for (std::size_t k = 0; k < want.size(); ++k)
    worst = std::max(worst, std::abs(cross[k] - want[k]));
  EXPECT_LT(worst, 2e-5);
  // The peak stands 7 s after lag 0: a later arrival at the second station is a positive lag.
  const auto peak = std::max_element(cross.begin(), cross.end()) - cross.begin();
  EXPECT_EQ(peak, 1000 + 7);

  const auto self = SacBytes(net.file("p1_1.sac").string()).samples();
  const auto want_self = expected_stack(a, a, true);
  for (std::size_t k = 0; k < want_self.size(); ++k) {
    EXPECT_NEAR(self[k], want_self[k], 2e-5 * want_self[1000]) << k;
  }
}

// Noise as a recorder with a steep anti-alias filter gives it: flat to 0.4 Hz, then falling by
// 120 dB to the Nyquist frequency of 0.5 Hz. Its top bins hold almost no power.
std::vector<float> rolled_off(const std::vector<float>& white) {
  std::vector<cd> a(white.begin(), white.end());
  dft(a, -1);
  const std::size_t n = a.size();
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const double f = static_cast<double>(k) / static_cast<double>(n);
    const double gain = f <= 0.4 ? 1.0 : std::pow(10.0, -6.0 * (f - 0.4) / 0.1);
    a[k] *= gain;
    if (k > 0 && k < n / 2) a[n - k] *= gain;
  }
  dft(a, +1);
  std::vector<float> y(n);
  for (std::size_t k = 0; k < n; ++k)
    y[k] = static_cast<float>(a[k].real() / static_cast<double>(n));
  return y;
}

// Whitening gives every bin the same weight, so in single precision the bins near the Nyquist
// frequency of such records, which hold almost no power, carry their rounding into the whole
// correlation: both engines then differ from a double-precision correlation by up to about
// 1e-3 of the pair's largest value (measured 6e-4 for the exact engine and 9e-4 for the matrix
// engine on real records), against about 1e-6 on records with power in every bin.
TEST(Results, RecordsRolledOffNearNyquistAgreeWithinTheirLooserBound) {
  Network net;
  Noise noise(23);
  const std::vector<float> a = rolled_off(noise.series(4096));
  const std::vector<float> own = rolled_off(noise.series(4096));
  std::vector<float> b(a.size());
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = 0.5f * own[k] + (k >= 7 ? a[k - 7] : 0.0f);
  net.add({"A", "BHZ", 10.0f, 10.0f, 1.0f, a});
  net.add({"B", "BHZ", 10.0f, 10.5f, 1.0f, b});
  net.write_lists();
  const std::vector<double> want = expected_stack(a, b, false);
  double peak = 0.0;
  for (const double v : want) peak = std::max(peak, std::abs(v));
  for (const char* engine : {"exact", "matrix"}) {
    SCOPED_TRACE(engine);
    ASSERT_EQ(net.run("B", "Y", 2, {std::string("XCN_ENGINE=") + engine}).status, 0);
    const auto cross = SacBytes(net.file("p1_2.sac").string()).samples();
    ASSERT_EQ(cross.size(), want.size());
    double worst = 0.0;
    for (std::size_t k = 0; k < want.size(); ++k) {
      worst = std::max(worst, std::abs(cross[k] - want[k]));
    }
    RecordProperty(std::string(engine) + "_deviation", std::to_string(worst / peak));
    EXPECT_LT(worst, 1e-3 * peak);
    EXPECT_EQ(std::max_element(cross.begin(), cross.end()) - cross.begin(), 1000 + 7);
  }
}

std::map<std::string, std::vector<unsigned char>> results_of(const Network& net) {
  std::map<std::string, std::vector<unsigned char>> files;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("p", 0) == 0) files[name] = SacBytes(e.path().string()).bytes;
  }
  return files;
}

void noisy_network(Network& net, int stations, int samples) {
  Noise noise(31);
  for (int k = 0; k < stations; ++k) {
    net.add({"N" + std::to_string(k), "BHZ", 30.0f + 0.25f * static_cast<float>(k),
             100.0f - 0.5f * static_cast<float>(k % 3), 1.0f,
             noise.series(static_cast<std::size_t>(samples))});
  }
  net.write_lists();
}

TEST(Results, AreTheSameBytesForAnyNumberOfWorkers) {
  Network one, two;
  noisy_network(one, 5, 3000);
  noisy_network(two, 5, 3000);
  ASSERT_EQ(one.run("B", "Y", 1).status, 0);
  ASSERT_EQ(two.run("B", "Y", 2).status, 0);
  const auto a = results_of(one), b = results_of(two);
  EXPECT_EQ(a.size(), 15u);
  EXPECT_EQ(a, b);
  Network three;
  noisy_network(three, 5, 3000);
  ASSERT_EQ(three.run("B", "Y", 3).status, 0);
  EXPECT_EQ(results_of(three), a);
}

int progress_lines(const std::string& out) {
  int n = 0;
  for (const auto& l : split_lines(out)) n += l.find("# of stacking:") != std::string::npos;
  return n;
}

// An old result of the same pair from an earlier run: ten samples of 7 around lag 0.
Record old_result() {
  return {"OLD", "BHZ", 0.0f, 0.0f, 1.0f, std::vector<float>(10, 7.0f), -5.0f};
}

bool is_old_result(const SacBytes& f) {
  const auto y = f.samples();
  return f.npts() == 10 && std::all_of(y.begin(), y.end(), [](float v) { return v == 7.0f; });
}

TEST(Results, AKilledRunLeavesOnlyCompleteFilesAndARerunCompletesTheRest) {
  Network killed;
  noisy_network(killed, 16, 20000);
  // Old results around where each of the two workers will be when the run is killed (its
  // blocks begin at pairs 1 and 69).
  std::vector<std::string> names_in_order;
  for (int i = 1; i <= 16; ++i) {
    for (int j = i; j <= 16; ++j) names_in_order.push_back(Network::pair_name(i, j));
  }
  std::vector<std::string> old_names;
  for (int ij : {1, 2, 3, 4, 5, 69, 70, 71, 72, 73}) {
    old_names.push_back(names_in_order[static_cast<std::size_t>(ij - 1)]);
    ASSERT_EQ(write_record(killed.file(old_names.back()).string(), old_result()), 0);
  }
  Started s = killed.start("B", "Y", 2);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (progress_lines(output_so_far(s)) < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(s.pid, SIGKILL);
  const RunResult first = finish_program(s);
  ASSERT_EQ(first.status, 128 + SIGKILL) << "the run ended before it could be killed";

  // Every result is either the old one or a complete new one.
  int complete = 0;
  for (const auto& [name, bytes] : results_of(killed)) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".sac") continue;
    const SacBytes f(killed.file(name).string());
    if (is_old_result(f)) continue;
    EXPECT_EQ(f.bytes.size(), 632u + 4u * 2000u) << name << " is not complete";
    ++complete;
  }
  ASSERT_LT(complete, 136) << "every pair was done before the kill";
  int old_left = 0;
  for (const auto& name : old_names) {
    old_left += is_old_result(SacBytes(killed.file(name).string()));
  }

  const RunResult rerun = killed.run("B", "N", 2);
  ASSERT_EQ(rerun.status, 0);
  EXPECT_EQ(progress_lines(rerun.out), 136 - complete - old_left);

  Network clean;
  noisy_network(clean, 16, 20000);
  ASSERT_EQ(clean.run("B", "Y", 2).status, 0);
  auto finished = results_of(killed);
  std::erase_if(finished, [](const auto& kv) {
    return kv.first.size() < 4 || kv.first.substr(kv.first.size() - 4) != ".sac";
  });
  // Old results that the killed run had not reached are kept (with their final header);
  // everything else is what a clean run writes.
  auto want = results_of(clean);
  for (const auto& name : old_names) {
    if (is_old_result(SacBytes(killed.file(name).string()))) {
      --old_left;
      finished.erase(name);
      want.erase(name);
    }
  }
  EXPECT_EQ(old_left, 0);
  EXPECT_EQ(finished, want);
}

// A run ended by a signal that can be caught (Ctrl-C, a batch system's time limit, a launcher
// ending the other ranks) removes the temporaries of the results its workers were writing. With
// many small results a worker is nearly always writing one when the signal comes.
TEST(Results, ARunEndedByASignalLeavesNoTemporary) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    Network net;
    noisy_network(net, 60, 2400);
    Started s = net.start("B", "Y", 2);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (progress_lines(output_so_far(s)) < 300 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(s.pid, signal);
    const RunResult r = finish_program(s);
    ASSERT_EQ(r.status, 128 + signal) << "the run ended before the signal";
    int results = 0;
    for (const auto& e : fs::directory_iterator(net.dir())) {
      const std::string name = e.path().filename().string();
      EXPECT_NE(name.rfind(".wsac0.", 0), 0u) << "a temporary left behind: " << name;
      if (name.rfind("p", 0) != 0) continue;
      EXPECT_EQ(fs::file_size(e.path()), 632u + 4u * 2000u) << name << " is not whole";
      ++results;
    }
    EXPECT_GE(results, 290);  // a progress line comes just before its file
    EXPECT_LT(results, 1830);
  }
}

struct FileStamp {
  ino_t inode;
  std::int64_t mtime_ns;
  bool operator==(const FileStamp&) const = default;
};

// Inode and modification time of every file in the folder: a write through a temporary and a
// rename gives a new inode, one in place a new time.
std::map<std::string, FileStamp> stamps(const Network& net) {
  std::map<std::string, FileStamp> out;
  for (const auto& e : fs::directory_iterator(net.dir())) {
    struct stat st {};
    if (stat(e.path().c_str(), &st) != 0) continue;
    out[e.path().filename().string()] = {st.st_ino,
                                         st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return out;
}

// Results are written once, with their final header: the header pass of the same run and of a
// rerun with N finds nothing to change and writes nothing.
TEST(Results, ARerunWithNWritesNothing) {
  Network net;
  noisy_network(net, 4, 3000);
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const auto before = stamps(net);
  const auto bytes = results_of(net);
  const RunResult again = net.run("B", "N", 2);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(progress_lines(again.out), 0);
  EXPECT_EQ(stamps(net), before);
  EXPECT_EQ(results_of(net), bytes);

  // A result whose header was spoiled is completed again, and only that one.
  std::string raw = read_bytes(net.file("p1_2.sac"));
  raw.replace(448, 16, "SPOILED         ");
  write_bytes(net.file("p1_2.sac"), raw);
  const auto spoiled_stamps = stamps(net);
  ASSERT_EQ(net.run("B", "N", 2).status, 0);
  const auto after = stamps(net);
  for (const auto& [name, stamp] : spoiled_stamps) {
    EXPECT_EQ(after.at(name) == stamp, name != "p1_2.sac") << name;
  }
  EXPECT_EQ(results_of(net), bytes);
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

// Ways another program leaves a result: each needs the samples read back and the file written.
const struct Spoil {
  const char* what;
  std::string (*apply)(std::string);
} kSpoils[] = {
    {"event name", [](std::string b) { return b.replace(off::kKevnm, 16, "SPOILED         "); }},
    {"other byte order", byte_reversed},
    {"bytes after the samples", [](std::string b) { return b + std::string(12, '\x01'); }},
};

// A rerun with N on many workers over spoiled results of an earlier run gives each its final
// header again: the very bytes the run wrote, every file written once more; the next rerun
// finds them complete and touches none.
TEST(Results, ARerunOnAllWorkersCompletesEarlierResultsToTheBytesARunWrites) {
  Network net;
  noisy_network(net, 6, 3000);
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const auto written = results_of(net);
  ASSERT_EQ(written.size(), 21u);
  std::size_t k = 0;
  for (const auto& [name, bytes] : written) {
    const Spoil& spoil = kSpoils[k++ % std::size(kSpoils)];
    write_bytes(net.file(name), spoil.apply(std::string(bytes.begin(), bytes.end())));
  }
  const auto spoiled = stamps(net);
  const RunResult rerun = net.run("B", "N", 4);
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(rerun.err, "");
  EXPECT_EQ(results_of(net), written);
  const auto completed = stamps(net);
  for (const auto& [name, bytes] : written) EXPECT_NE(completed.at(name), spoiled.at(name)) << name;

  ASSERT_EQ(net.run("B", "N", 4).status, 0);
  EXPECT_EQ(stamps(net), completed);
}

// A result longer than any record row (200000 samples, 2000 s at 100 Hz) is read whole and
// completed; one whose header promises more than its file holds is left as it is.
TEST(Results, AResultOfAnyLengthIsCompletedWhole) {
  Network net;
  noisy_network(net, 2, 2400);
  ASSERT_EQ(net.run("B", "Y", 2).status, 0);
  const SacBytes first(net.file("p1_2.sac").string());
  // Another program's result: no event name, the pair's component, samples around lag 0.
  Noise noise(82);
  Record long_result{"X", "BHZ", 0.0f, 0.0f, 0.01f, noise.series(200000)};
  long_result.b = static_cast<float>(-(200000 / 2)) * 0.01f;
  ASSERT_EQ(write_record(net.file("p1_2.sac").string(), long_result), 0);
  const std::vector<float> long_samples = long_result.samples;
  long_result.samples.resize(1000);
  ASSERT_EQ(write_record(net.file("p2_2.sac").string(), long_result), 0);
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
  EXPECT_EQ(completed.samples(), long_samples);
  EXPECT_EQ(completed.k(off::kKevnm, 16), "N0-N1           ");
  for (std::size_t at : {off::kDist, off::kAz, off::kBaz, off::kStla, off::kEvlo}) {
    EXPECT_EQ(completed.word(at), first.word(at)) << at;
  }
}

// After a run, the two lists given the other way round name the station records as results:
// neither the header pass (N) nor the pair loop (Y) may touch them.
TEST(Results, ListsGivenTheOtherWayRoundLeaveTheRecordsAlone) {
  Network net;
  noisy_network(net, 3, 3000);
  ASSERT_EQ(net.run("B", "Y").status, 0);
  std::map<std::string, std::string> records;
  for (int i = 1; i <= 3; ++i) {
    const std::string name = "st" + std::to_string(i) + ".sac";
    records[name] = read_bytes(net.file(name));
  }
  for (const char* replace : {"N", "Y"}) {
    SCOPED_TRACE(replace);
    const RunResult r =
        run_program(tool(), {"names", "stations", "B", replace}, net.dir(), {"OMP_NUM_THREADS=2"});
    EXPECT_EQ(r.status, 3) << r.err;
    for (const auto& [name, bytes] : records) {
      EXPECT_EQ(read_bytes(net.file(name)), bytes) << name;
      EXPECT_EQ(count_of(r.err, "xcorrnet_v3: result \"" + name +
                                    "\" holds no correlation (its begin time is not -(NPTS/2) x "
                                    "DELTA)"),
                1)
          << r.err;
    }
  }
}

}  // namespace
}  // namespace xcn::test
