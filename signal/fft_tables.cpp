// Twiddle tables of the fast FFT: one set per sign, each stage built once on first use.
#include <array>
#include <cmath>
#include <cstddef>
#include <mutex>

#include "signal/fft.hpp"
#include "signal/fft_kernels.hpp"

namespace xcn::detail {

namespace {

// Stage s occupies floats [2 << s, 4 << s), so the largest stage ends at 2 << kFftMaxLog2 and the
// stages from s = 3 on start on a 64-byte boundary.
constexpr std::size_t kTableFloats = std::size_t{2} << kFftMaxLog2;

// Static and zero-filled: untouched stages cost no memory, and nothing is torn down at exit while
// a detached thread might still be transforming.
struct SignTables {
  alignas(64) std::array<float, kTableFloats> re;
  alignas(64) std::array<float, kTableFloats> im;
  std::array<std::once_flag, kFftMaxLog2> stage_built;
  std::array<std::once_flag, kFftMaxLog2 + 1> size_ready;
};

SignTables g_negative;
SignTables g_positive;

// The angle and the two functions exactly as the plain transform evaluates them, so that every
// factor has the bits the plain code would compute on the spot.
void build_stage(SignTables& t, int s, int i_sign) {
  const int l = 1 << s;
  const float pi_sign = kPi * static_cast<float>(i_sign);
  float* re = t.re.data() + (std::size_t{2} << s);
  float* im = t.im.data() + (std::size_t{2} << s);
  for (int m = 0; m < l; ++m) {
    const float theta = static_cast<float>(m) * pi_sign / static_cast<float>(l);
    const float c = std::cos(theta);
    const float sn = std::sin(theta);
    re[2 * m] = c;
    re[2 * m + 1] = c;
    im[2 * m] = -sn;
    im[2 * m + 1] = sn;
  }
}

}  // namespace

FftTwiddles fft_twiddles(int log2n, int i_sign) {
  SignTables& t = i_sign < 0 ? g_negative : g_positive;
  const int sign = i_sign < 0 ? -1 : 1;
  // One flag per size keeps the common path to a single check; the per-stage flags let sizes
  // share stages without building any twice.
  std::call_once(t.size_ready[log2n], [&t, log2n, sign] {
    for (int s = 0; s < log2n; ++s) {
      std::call_once(t.stage_built[s], [&t, s, sign] { build_stage(t, s, sign); });
    }
  });
  return {t.re.data(), t.im.data()};
}

}  // namespace xcn::detail
