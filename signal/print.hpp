// Printing of a row of values (twrit) on standard output, ten to a line.
#pragma once

#include <span>

namespace xcn {

// Prints a line of two blanks, then arr[0 .. n-1] ten per line, each right-justified in six
// columns with one decimal; a value that does not fit prints as six asterisks. n <= 0 prints
// an empty line after the blank one. Needs n <= arr.size(). Each line goes out in one write;
// printing stops at the first failed write. Not meant for concurrent use.
void twrit(int n, std::span<const float> arr);

}  // namespace xcn
