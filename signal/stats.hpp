// Window statistics: sample standard deviation (std), heap sort (hpsort) and median (mdian).
//
// Sums are taken in a fixed order, so results are the same on every machine and thread count.
// No state; concurrent calls on distinct arrays are safe.
#pragma once

#include <span>

namespace xcn {

// Sample standard deviation (divisor nptlen - 1) of y[0 .. nptlen-1], in double precision from
// the deviations of the samples from their mean, so that it does not change when a constant is
// added to every sample (a record's DC offset), and rounded to single precision. Needs
// nptlen <= y.size(). nptlen 0 or 1, or a sample that is not finite, gives NaN; a negative
// nptlen gives 0; a constant run gives exactly 0. Callers compare with "<", which rejects NaN.
float std(std::span<const float> y, int nptlen);

// Sorts ra[0 .. n-1] ascending in place (heap sort, not stable). n < 2, or n > ra.size(),
// leaves the array unchanged.
void hpsort(int n, std::span<float> ra);

// Sorts x[0 .. n-1] and stores its median in xmed (mean of the middle two for even n).
// n <= 0, or n > x.size(), changes nothing.
void mdian(std::span<float> x, int n, float& xmed);

}  // namespace xcn
