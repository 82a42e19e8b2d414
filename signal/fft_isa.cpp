// Choice of the FFT path at run time, and the front end that hands a transform to a kernel.
#include "signal/fft_isa.hpp"

#include <bit>
#include <cstddef>
#include <cstdlib>

#include "signal/fft.hpp"
#include "signal/fft_kernels.hpp"

namespace xcn {

namespace {

bool cpu_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The kernel for short lengths is the AVX2 one, so AVX-512 counts only together with AVX2.
bool cpu_has_avx512() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && cpu_has_avx2();
#else
  return false;
#endif
}

// Highest supported path not above isa.
FftIsa lower_to_supported(FftIsa isa) {
  if (isa == FftIsa::avx512 && !fft_isa_supported(FftIsa::avx512)) isa = FftIsa::avx2;
  if (isa == FftIsa::avx2 && !fft_isa_supported(FftIsa::avx2)) isa = FftIsa::portable;
  return isa;
}

}  // namespace

std::string_view fft_isa_name(FftIsa isa) {
  switch (isa) {
    case FftIsa::plain:
      return "plain";
    case FftIsa::portable:
      return "portable";
    case FftIsa::avx2:
      return "avx2";
    case FftIsa::avx512:
      return "avx512";
  }
  return "?";
}

bool fft_isa_supported(FftIsa isa) {
  static const bool avx2 = cpu_has_avx2();
  static const bool avx512 = cpu_has_avx512();
  switch (isa) {
    case FftIsa::plain:
    case FftIsa::portable:
      return true;
    case FftIsa::avx2:
      return avx2;
    case FftIsa::avx512:
      return avx512;
  }
  return false;
}

FftIsa choose_fft_isa(const char* request) {
  const std::string_view want = request != nullptr ? request : "";
  for (FftIsa isa : {FftIsa::plain, FftIsa::portable, FftIsa::avx2, FftIsa::avx512}) {
    if (want == fft_isa_name(isa)) return lower_to_supported(isa);
  }
  return lower_to_supported(FftIsa::avx512);
}

FftIsa fft_isa() {
  static const FftIsa chosen = choose_fft_isa(std::getenv("XCN_FFT_ISA"));
  return chosen;
}

void fork_with(FftIsa isa, int lx, int i_sign, std::span<Complex> cx) {
  if (!is_power_of_two(lx) || static_cast<std::size_t>(lx) > cx.size()) return;
  const int log2n = std::countr_zero(static_cast<unsigned>(lx));
  if (isa == FftIsa::plain || (i_sign != 1 && i_sign != -1) || log2n > detail::kFftMaxLog2) {
    fork_reference(lx, i_sign, cx);
    return;
  }
  isa = lower_to_supported(isa);
  const float sc = i_sign < 0 ? 1.0f / static_cast<float>(lx) : 1.0f;
  const detail::FftTwiddles tw = detail::fft_twiddles(log2n, i_sign);
  // Complex is two adjacent floats (checked where it is defined); the kernels see the array so.
  float* data = reinterpret_cast<float*>(cx.data());
  if (isa == FftIsa::avx512 && log2n >= detail::kFftMinLog2Avx512) {
    detail::fork_avx512(log2n, sc, data, tw);
  } else if (isa >= FftIsa::avx2 && log2n >= detail::kFftMinLog2Avx2) {
    detail::fork_avx2(log2n, sc, data, tw);
  } else {
    detail::fork_portable(log2n, sc, data, tw);
  }
}

}  // namespace xcn
