// Radix-2 in-place complex FFT (fork) and conjugate-symmetric completion of a spectrum (fold).
//
// Scaling: fork(lx, s, cx) computes X[k] = sc * sum_n x[n] * exp(i*s*2*pi*n*k/lx) with sc = 1/lx
// for s < 0 and sc = 1 otherwise, so fork(+1) followed by fork(-1) returns the input.
// Arithmetic is single precision throughout. Every twiddle factor is (cosf(theta), sinf(theta)),
// which is exactly what the single-precision complex exponential of i*theta yields.
// fork and fork_reference give the same bits for every input: fork runs the plain butterflies
// in a faster order, with twiddles taken from tables built once per length and sign, on the best
// instruction set of the CPU (fft_isa.hpp); fork_reference is the plain loop itself. The one
// freedom is which NaN a NaN result is: that is the compiler's choice even for the plain loop,
// whose NaN signs differ between optimisation levels; NaNs appear in the same places.
// Aliasing: the transform works in place in the caller's array.
// Threads: concurrent calls on distinct arrays are safe. The first call for a length builds its
// tables under a once-flag; afterwards the tables are only read.
#pragma once

#include <span>

#include "signal/complex.hpp"

namespace xcn {

// pi in single precision, as the kernels use it.
inline constexpr float kPi = 3.1415927f;

// True for 1, 2, 4, ...
constexpr bool is_power_of_two(long n) { return n > 0 && (n & (n - 1)) == 0; }

// Transforms cx[0 .. lx-1] in place. lx must be a power of two no larger than cx.size();
// anything else (lx <= 0 included) leaves the array untouched. i_sign multiplies the phase;
// only its sign selects the 1/lx scaling.
void fork(int lx, int i_sign, std::span<Complex> cx);

// The same transform in the plain loop order (twiddle outer, butterflies inner), each twiddle
// straight from the exponential. Same contract and same bits as fork; kept as the reference.
void fork_reference(int lx, int i_sign, std::span<Complex> cx);

// Completes a spectrum of length n from its first nq1 values: u(n+2-k) = conj(u(k)) for
// k = 2 .. nq1 (one-based, increasing k). u(1) is never touched. With nq1 > n or n > u.size()
// the call is outside its contract and changes nothing.
void fold(int n, int nq1, std::span<Complex> u);

}  // namespace xcn
