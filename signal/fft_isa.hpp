// Instruction-set paths of the FFT: which one fork takes, and a hook to run a given one.
//
// All paths give the same bits. fork takes the best path the CPU runs (AVX-512, AVX2, else
// portable C++), chosen once per process; XCN_FFT_ISA=plain|portable|avx2|avx512 in the
// environment forces one for diagnostics (a path the CPU lacks falls back to the best below it).
#pragma once

#include <span>
#include <string_view>

#include "signal/complex.hpp"

namespace xcn {

// In order of preference; plain is the reference loop.
enum class FftIsa { plain, portable, avx2, avx512 };

std::string_view fft_isa_name(FftIsa isa);

// True when this CPU (and its operating system) can run the path.
bool fft_isa_supported(FftIsa isa);

// The path a request names ("plain", "portable", "avx2" or "avx512"), lowered to the best
// supported one below it; no request or an unknown name gives the best supported path.
FftIsa choose_fft_isa(const char* request);

// The path fork takes: choose_fft_isa(XCN_FFT_ISA), read at the first call.
FftIsa fft_isa();

// fork on the given path (lowered as above when unsupported). Lengths above 2^18 and signs
// other than +1 and -1 take the plain loop on every path.
void fork_with(FftIsa isa, int lx, int i_sign, std::span<Complex> cx);

}  // namespace xcn
