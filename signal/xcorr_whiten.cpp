// Portable cross-spectrum loop and the run-time choice of its vector form.
#include "signal/xcorr_whiten.hpp"

#include <cstdlib>
#include <string_view>

#include "signal/complex.hpp"

namespace xcn::detail {

void cross_spectrum_portable(const Complex* y1, const Complex* y2, Complex* yw, std::size_t n,
                             bool same) {
  for (std::size_t k = 0; k < n; ++k) {
    const Complex p = mul(y1[k], conj(y2[k]));
    const float a = modulus(p.re, p.im);
    if (a == 0.0f) {
      yw[k] = {0.0f, 0.0f};
    } else if (same) {
      yw[k] = p;
    } else {
      yw[k] = {p.re / a, p.im / a};  // a NaN modulus lands here too
    }
  }
}

bool spectrum_isa_supported(SpectrumIsa isa) {
  switch (isa) {
    case SpectrumIsa::kPortable:
      return true;
    case SpectrumIsa::kAvx2:
      return __builtin_cpu_supports("avx2");
    case SpectrumIsa::kAvx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
}

namespace {

SpectrumIsa pick_isa() {
  if (const char* forced = std::getenv("XCN_SPECTRUM_ISA")) {
    const std::string_view name(forced);
    const SpectrumIsa isa = name == "avx512" ? SpectrumIsa::kAvx512
                            : name == "avx2" ? SpectrumIsa::kAvx2
                                             : SpectrumIsa::kPortable;
    if ((name == "portable" || name == "avx2" || name == "avx512") && spectrum_isa_supported(isa)) {
      return isa;
    }
  }
  if (spectrum_isa_supported(SpectrumIsa::kAvx512)) return SpectrumIsa::kAvx512;
  if (spectrum_isa_supported(SpectrumIsa::kAvx2)) return SpectrumIsa::kAvx2;
  return SpectrumIsa::kPortable;
}

}  // namespace

SpectrumIsa spectrum_isa() {
  static const SpectrumIsa isa = pick_isa();
  return isa;
}

void cross_spectrum_with(SpectrumIsa isa, const Complex* y1, const Complex* y2, Complex* yw,
                         std::size_t n, bool same) {
  std::size_t done = 0;
  if (isa == SpectrumIsa::kAvx512) done = cross_spectrum_avx512(y1, y2, yw, n, same);
  if (isa == SpectrumIsa::kAvx2) done = cross_spectrum_avx2(y1, y2, yw, n, same);
  cross_spectrum_portable(y1 + done, y2 + done, yw + done, n - done, same);
}

}  // namespace xcn::detail
