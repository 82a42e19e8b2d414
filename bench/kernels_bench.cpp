// Micro benchmarks of the FFT and the window correlation kernel.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "signal/fft.hpp"
#include "signal/xcorr.hpp"

namespace {

std::vector<float> noise(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(gen);
  return v;
}

// Each iteration transforms a fresh copy of the input: repeated transforms of one array would
// run into overflow or subnormal values. The copy costs a few percent of the transform.
void BM_Fork(benchmark::State& state) {
  const int lx = static_cast<int>(state.range(0));
  const int sign = static_cast<int>(state.range(1));
  const auto src = noise(2 * static_cast<std::size_t>(lx), 1);
  std::vector<xcn::Complex> input(lx);
  for (int k = 0; k < lx; ++k) input[k] = {src[2 * k], src[2 * k + 1]};
  std::vector<xcn::Complex> cx(lx);
  for (auto _ : state) {
    cx = input;
    xcn::fork(lx, sign, cx);
    benchmark::DoNotOptimize(cx.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Fork)->ArgsProduct({{2048, 4096, 8192}, {+1, -1}})->ArgNames({"lx", "sign"});

// Windows are refilled before every call, as the pair loop does.
void BM_Ccfunction(benchmark::State& state) {
  const int nptlen = static_cast<int>(state.range(0));
  const auto w1 = noise(nptlen, 2);
  const auto w2 = noise(nptlen, 3);
  std::vector<float> yy1(nptlen), yy2(nptlen), yy(nptlen);
  xcn::CcWorkspace ws;
  for (auto _ : state) {
    yy1 = w1;
    yy2 = w2;
    xcn::ccfunction(yy1, yy2, 1.0f, nptlen, yy, 2000.0f, 0.0f, 0.0f, ws);
    benchmark::DoNotOptimize(yy.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Ccfunction)->Arg(2000)->Arg(4000)->ArgName("nptlen");

}  // namespace

BENCHMARK_MAIN();
