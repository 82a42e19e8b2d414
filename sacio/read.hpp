// Reading SAC files of either byte order into the current header and a caller's array.
#pragma once

#include <cstdint>
#include <string>

namespace xcn {

inline constexpr int kWarnTruncated = -803;

// Reads an evenly sampled file: header into the current header, at most max samples into
// yarray. nlen: samples stored (0 after any failure); beg, del: B and DELTA. nerr: 0, -803
// when cut to max, or 101 (also: not a regular file), 108, 114, 801, 1317 (not SAC, or a
// negative NPTS).
void rsac1(const char* kname, float* yarray, int* nlen, float* beg, float* del, const int* max,
           int* nerr, int kname_len);
// Reads only the header.
void rsach(const char* kname, int* nerr, int kname_len);

// Reads and checks the header of an open file; returns 1 when its words must be byte-reversed.
int sac_header_read(int handle, int* nerr);
// 0 native, 1 swapped, -1 not SAC, decided on the version word alone.
int sac_check_header_version(const unsigned char* numeric_block, int* nerr);
void sac_header_swap(unsigned char* numeric_block);
void sac_data_read(int handle, float* array, int count, int component, int swap, int* nerr);
void sac_data_swap(float* array, int count);
// Why a read failed, in a few words, from its error number and, for 114, whether the file the
// calling thread read last was empty: for the lines that name a file.
std::string read_failure(int nerr);
int byteswap(void* value, int size);
// Unpacks the 192-byte character block into the current header; a field ends at its first NUL.
void map_chdr_in(const unsigned char* block);

}  // namespace xcn
