// Micro benchmarks of the FFT and the window correlation kernel.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "signal/fft.hpp"
#include "signal/fft_isa.hpp"
#include "signal/xcorr.hpp"

namespace {

std::vector<float> noise(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(gen);
  return v;
}

std::vector<xcn::Complex> complex_noise(int lx) {
  const auto src = noise(2 * static_cast<std::size_t>(lx), 1);
  std::vector<xcn::Complex> input(lx);
  for (int k = 0; k < lx; ++k) input[k] = {src[2 * k], src[2 * k + 1]};
  return input;
}

// Each iteration transforms a fresh copy of the input: repeated transforms of one array would
// run into overflow or subnormal values. The copy costs a few percent of the plain transform
// and up to a third of the fast one at 2048 points (BM_CopyOnly measures it).
template <typename Transform>
void run_transform(benchmark::State& state, int lx, Transform transform) {
  const auto input = complex_noise(lx);
  std::vector<xcn::Complex> cx(lx);
  for (auto _ : state) {
    cx = input;
    transform(cx);
    benchmark::DoNotOptimize(cx.data());
    benchmark::ClobberMemory();
  }
}

// The transform the system runs (the best path of this CPU, or the one XCN_FFT_ISA names).
void BM_Fork(benchmark::State& state) {
  const int lx = static_cast<int>(state.range(0));
  const int sign = static_cast<int>(state.range(1));
  state.SetLabel(std::string(xcn::fft_isa_name(xcn::fft_isa())));
  run_transform(state, lx, [&](std::vector<xcn::Complex>& cx) { xcn::fork(lx, sign, cx); });
}

// The plain loop it must match bit for bit.
void BM_ForkReference(benchmark::State& state) {
  const int lx = static_cast<int>(state.range(0));
  const int sign = static_cast<int>(state.range(1));
  run_transform(state, lx,
                [&](std::vector<xcn::Complex>& cx) { xcn::fork_reference(lx, sign, cx); });
}

// Each fast path on its own: 1 portable, 2 AVX2, 3 AVX-512.
void BM_ForkPath(benchmark::State& state) {
  const auto isa = static_cast<xcn::FftIsa>(state.range(0));
  const int lx = static_cast<int>(state.range(1));
  const int sign = static_cast<int>(state.range(2));
  if (!xcn::fft_isa_supported(isa)) {
    state.SkipWithError("this CPU lacks the path");
    return;
  }
  state.SetLabel(std::string(xcn::fft_isa_name(isa)));
  run_transform(state, lx,
                [&](std::vector<xcn::Complex>& cx) { xcn::fork_with(isa, lx, sign, cx); });
}

void BM_CopyOnly(benchmark::State& state) {
  run_transform(state, static_cast<int>(state.range(0)), [](std::vector<xcn::Complex>&) {});
}

BENCHMARK(BM_Fork)->ArgsProduct({{2048, 4096, 8192, 65536}, {+1, -1}})->ArgNames({"lx", "sign"});
BENCHMARK(BM_ForkReference)
    ->ArgsProduct({{2048, 4096, 8192, 65536}, {+1, -1}})
    ->ArgNames({"lx", "sign"});
BENCHMARK(BM_ForkPath)
    ->ArgsProduct({{1, 2, 3}, {2048, 4096, 8192, 65536}, {+1, -1}})
    ->ArgNames({"isa", "lx", "sign"});
BENCHMARK(BM_CopyOnly)->Arg(2048)->Arg(65536)->ArgName("lx");

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
