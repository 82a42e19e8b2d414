// Window statistics: sample standard deviation (std), heap sort (hpsort) and median (mdian).
//
// All arithmetic is single precision, summed in index order, so results are the same on every
// machine and thread count. No state; concurrent calls on distinct arrays are safe.
#pragma once

#include <span>

namespace xcn {

// Sample standard deviation (divisor nptlen - 1) of y[0 .. nptlen-1] by the one-pass formula
// sqrt((sum(y^2) - mean^2 * nptlen) / (nptlen - 1)). Needs nptlen <= y.size(). nptlen 0 or 1
// gives NaN, a negative nptlen gives 0, and a nearly constant run may round to NaN; callers
// compare with "<", which rejects NaN.
float std(std::span<const float> y, int nptlen);

// Sorts ra[0 .. n-1] ascending in place (heap sort, not stable). n < 2, or n > ra.size(),
// leaves the array unchanged.
void hpsort(int n, std::span<float> ra);

// Sorts x[0 .. n-1] and stores its median in xmed (mean of the middle two for even n).
// n <= 0, or n > x.size(), changes nothing.
void mdian(std::span<float> x, int n, float& xmed);

}  // namespace xcn
