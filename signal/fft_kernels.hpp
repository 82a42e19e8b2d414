// Internal interface between the FFT front end, its twiddle tables and the per-ISA kernels.
//
// The kernels live in translation units built with their own instruction-set flags. Everything
// such a unit shares with the rest of the program must therefore be plain data and out-of-line
// functions: an inline function or template instantiated there could be merged by the linker into
// code that runs on a CPU without those instructions. So this header holds no inline code.
#pragma once

namespace xcn::detail {

// Largest transform with cached twiddles: 2^18 points. Longer ones take the plain path.
inline constexpr int kFftMaxLog2 = 18;

// Twiddles of every stage for one sign of the exponent. The stage of half-width l = 2^s keeps its
// l factors w_m (m = 0 .. l-1) from float index 2 << s on, each written twice so that a vector
// load yields them already spread over the real and imaginary lanes:
//   re[2m] = re[2m + 1] = cos(theta_m),  im[2m] = -sin(theta_m),  im[2m + 1] = sin(theta_m).
// The negated copy lets a vector kernel form w.re*x.re - w.im*x.im as w.re*x.re + (-w.im)*x.im;
// on x86 both give the same bits, and a NaN wherever the other does (see fft_vector_kernel.hpp).
struct FftTwiddles {
  const float* re;
  const float* im;
};

// The radix-2 transform of 2^log2n interleaved complex values cx, with the scale sc applied to
// every element once, bit-identical to the plain loop. log2n is at least kFftMinLog2Avx2 or
// kFftMinLog2Avx512 for the vector kernels; the portable one takes any log2n from 0 on.
void fork_portable(int log2n, float sc, float* cx, FftTwiddles tw);
void fork_avx2(int log2n, float sc, float* cx, FftTwiddles tw);
void fork_avx512(int log2n, float sc, float* cx, FftTwiddles tw);

inline constexpr int kFftMinLog2Avx2 = 4;
inline constexpr int kFftMinLog2Avx512 = 6;

// The twiddles of every stage of a 2^log2n-point transform with the sign of i_sign, built on
// first use (safe from any number of threads) and read-only afterwards. log2n <= kFftMaxLog2.
FftTwiddles fft_twiddles(int log2n, int i_sign);

}  // namespace xcn::detail
