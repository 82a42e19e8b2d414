// The cross-spectrum loop of the correlation in its portable and vector forms, and the choice
// among them at run time.
//
// Every form computes, for each k, P = y1[k] * conj(y2[k]) with the textbook products and no
// fused multiply-add, a = modulus(P) through double precision, and then 0 (a == 0), P (same)
// or P / a, both components divided; so they agree bit for bit on every value that is not a
// NaN. (Which NaN a NaN input gives follows the operand order the compiler picks.)
#pragma once

#include <cmath>
#include <cstddef>

namespace xcn {
struct Complex;
}

namespace xcn::detail {

// |re + i im| as described at xcn::modulus.
inline float modulus(float re, float im) {
  const double r = re;
  const double i = im;
  return static_cast<float>(std::sqrt(r * r + i * i));
}

enum class SpectrumIsa { kPortable, kAvx2, kAvx512 };

// The portable loop over n values.
void cross_spectrum_portable(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                             bool same);
// Vector loops: each handles the largest multiple of its width not above n and returns how
// many values it did. Call them only when spectrum_isa_supported says so.
std::size_t cross_spectrum_avx2(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                                bool same);
std::size_t cross_spectrum_avx512(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                                  bool same);

// Whether this processor (and its operating system) runs the path.
bool spectrum_isa_supported(SpectrumIsa isa);

// The path in use, chosen once: the one XCN_SPECTRUM_ISA names (portable, avx2, avx512) when
// the processor runs it, else the widest one it runs.
SpectrumIsa spectrum_isa();

// The cross-spectrum of n values along the given path (which must be supported).
void cross_spectrum_with(SpectrumIsa isa, const Complex* y1, const Complex* y2, Complex* yw,
                         std::size_t n, bool same);

}  // namespace xcn::detail
