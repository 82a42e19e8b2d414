// On CI, a check that the vector paths of the FFT and the cross-spectrum were tested.
//
// Their bitwise tests skip on a processor that lacks the instruction set, so a machine without
// AVX2 or AVX-512 would pass having tested none of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

#include "signal/fft_isa.hpp"
#include "signal/xcorr_whiten.hpp"

namespace xcn {
namespace {

using detail::SpectrumIsa;

bool on_ci() {
  const char* ci = std::getenv("CI");
  const std::string_view value = ci != nullptr ? ci : "";
  return !value.empty() && value != "0" && value != "false";
}

TEST(VectorPaths, OnCiAVectorPathOfEachKernelWasTested) {
  if (!on_ci()) GTEST_SKIP() << "CI is not set";
  EXPECT_TRUE(fft_isa_supported(FftIsa::avx2) || fft_isa_supported(FftIsa::avx512))
      << "this machine runs no vector path of the FFT; their tests were all skipped";
  EXPECT_TRUE(detail::spectrum_isa_supported(SpectrumIsa::kAvx2) ||
              detail::spectrum_isa_supported(SpectrumIsa::kAvx512))
      << "this machine runs no vector path of the cross-spectrum; their tests were all skipped";
}

}  // namespace
}  // namespace xcn
