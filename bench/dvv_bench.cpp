// Benchmarks of the velocity-change core on 2000-sample correlations at 1 Hz: one pair's
// preparation, and its 30 current traces measured by each method and by both.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "dvv/measure.hpp"
#include "tests/dvv/coda.hpp"

namespace {

namespace dvv = xcn::dvv;

constexpr int kNpts = 2000;
constexpr double kDelta = 1.0;
constexpr int kInputs = 30;

// 1 stretching, 2 MWCS, 3 both; the band 0.1-0.3 Hz, a pair 50 km apart, the defaults.
dvv::Settings settings(int methods) {
  dvv::Settings s;
  s.band = {0.1, 0.3};
  s.window = *dvv::default_lag_window(50, s.band.low, kNpts, kDelta, s.max_dvv);
  s.mwcs_length = dvv::default_mwcs_length(s.band);
  s.mwcs_step = s.mwcs_length / 2;
  s.stretching = (methods & 1) != 0;
  s.mwcs = (methods & 2) != 0;
  return s;
}

const char* label(int methods) {
  return methods == 1 ? "stretching" : methods == 2 ? "mwcs" : "both";
}

struct Pair {
  std::vector<float> reference;
  std::vector<std::vector<float>> currents;
};

// A coda, and 30 copies stretched by up to +-0.5 % with noise of a tenth of the coda's rms
// over the first 100 s of lag.
const Pair& pair() {
  static const Pair p = [] {
    const auto coda = dvv::test::make_coda(11, 0.14, 0.26);
    Pair made;
    made.reference = dvv::test::sample(coda, kNpts, kDelta);
    double power = 0;
    for (int k = kNpts / 2; k < kNpts / 2 + 100; ++k)
      power += made.reference[k] * made.reference[k];
    const double rms = std::sqrt(power / 100);
    for (int i = 0; i < kInputs; ++i) {
      made.currents.push_back(dvv::test::sample(coda, kNpts, kDelta, 1 + 0.005 * (i - 15) / 15.0));
      dvv::test::add_noise(made.currents.back(), 0.1 * rms, 100 + i);
    }
    return made;
  }();
  return p;
}

// The pair's reference prepared for the methods of the benchmark's argument; false, with the
// benchmark skipped, where it cannot be.
bool prepared(benchmark::State& state, dvv::Reference& ref, dvv::Workspace& work) {
  const int methods = static_cast<int>(state.range(0));
  state.SetLabel(label(methods));
  std::string error;
  if (dvv::prepare(pair().reference, kDelta, settings(methods), ref, work, error)) return true;
  state.SkipWithError(error.c_str());
  return false;
}

void BM_DvvPrepare(benchmark::State& state) {
  dvv::Reference ref;
  dvv::Workspace work;
  for (auto _ : state) {
    if (!prepared(state, ref, work)) return;
    benchmark::DoNotOptimize(ref.curve.coefficients.data());
  }
}

// One call measures the pair's 30 inputs, as the program will; "per_measurement" is the time
// of one input.
void BM_DvvMeasure(benchmark::State& state) {
  dvv::Reference ref;
  dvv::Workspace work;
  if (!prepared(state, ref, work)) return;
  const std::vector<std::span<const float>> currents(pair().currents.begin(),
                                                     pair().currents.end());
  std::vector<dvv::Measurements> out(kInputs);
  for (auto _ : state) {
    dvv::measure(ref, currents, out, work);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["per_measurement"] = benchmark::Counter(
      kInputs, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_DvvPrepare)->Arg(1)->Arg(2)->Arg(3)->ArgName("methods");
BENCHMARK(BM_DvvMeasure)->Arg(1)->Arg(2)->Arg(3)->ArgName("methods");

}  // namespace

BENCHMARK_MAIN();
