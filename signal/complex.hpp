// Single-precision complex value as the kernels store it: real part first, two adjacent floats.
#pragma once

namespace xcn {

struct Complex {
  float re;
  float im;
};

// Arrays of Complex are handed around as interleaved float pairs; nothing may pad the struct.
static_assert(sizeof(Complex) == 2 * sizeof(float), "Complex must be two adjacent floats");

// Products in the textbook order (ac - bd, ad + bc); with contraction off every build rounds
// them alike.
inline Complex mul(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline Complex conj(Complex z) { return {z.re, -z.im}; }

}  // namespace xcn
