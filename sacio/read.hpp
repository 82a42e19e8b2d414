// Reading SAC files of either byte order: into the current header and a caller's array, or,
// touching no process-wide state, into a header value and a vector of the file's length.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sacio/header_model.hpp"
#include "sacio/ref_time.hpp"

namespace xcn {

inline constexpr int kWarnTruncated = -803;

// Bytes before the samples: the numeric and the character block.
inline constexpr int kHeaderBytes = kNumericBytes + kCharBlockBytes;

// A file's header held by value.
struct SacHeader {
  std::array<unsigned char, kHeaderBytes> bytes{};  // as the file holds them
  NumericBlock words{};                             // the numeric block in host byte order
  bool swapped = false;                             // the file's words are byte-reversed
  long long file_size = 0;                          // bytes, samples included

  // One-based fields, as Fhdr, Nhdr and Lhdr number them.
  float real(int k) const { return words.fhdr[k - 1]; }
  std::int32_t integer(int k) const { return words.nhdr[k - 1]; }
  std::int32_t logical(int k) const { return words.lhdr[k - 1]; }
  // The reference time, NZYEAR .. NZMSEC (the first six integers).
  RefFields reference() const {
    return {integer(1), integer(2), integer(3), integer(4), integer(5), integer(6)};
  }
  // Character slot `slot` (KEVNM: 16 characters from slot 2) as a read gives it to the current
  // header: the field ends at its first NUL and is blank-padded to its width.
  std::string text(int slot) const;
};

// One SAC file read without the library's process-wide state (the current header, the message
// store), so that workers may read files side by side. The file is opened once; its header is
// read at once and its samples on request, from the same open file. Error numbers are those of
// rsac1: 108 no such file, 101 not a regular file or cannot be opened, 114 shorter than its
// header says (or than any header), 1317 not SAC (the version word fits neither byte order, or NPTS
// is negative), 801 not evenly sampled.
class SacReader {
 public:
  // How a read leaves the file's access time: as any read does, or, for a program checking
  // its own results, as it was where the system allows (the file's owner).
  enum class Access { kRecord, kUnrecorded };
  // Opens the file (a pipe or a device is refused before it is opened) and reads its header;
  // nerr() 0, 101, 108, 114 or 1317.
  explicit SacReader(const std::string& path, Access access = Access::kRecord);
  ~SacReader();
  SacReader(const SacReader&) = delete;
  SacReader& operator=(const SacReader&) = delete;

  int nerr() const { return nerr_; }
  const SacHeader& header() const { return header_; }
  // Whether the file holds its samples whole, checked on the header and the file's size
  // before anything is sized by NPTS: 0, 801, 1317 (NPTS negative) or 114.
  int check_samples();
  // Checks as check_samples, then reads exactly NPTS samples into y, in host byte order (y is
  // left empty after a failure). Returns nerr().
  int read_samples(std::vector<float>& y);
  // Checks as check_samples, then reads samples [first, first + count) into y, in host byte
  // order; a stretch beyond NPTS is a short file (114). Returns nerr().
  int read_range(std::size_t first, std::size_t count, float* y);
  // Why the file cannot be read, in a few words (read_failure's wording).
  std::string failure() const;
  // Prints what rsac1 prints for the failure, through the message store: callers serialise it
  // as every use of the store.
  void report(const char* kname, int kname_len) const;

 private:
  enum class Fault {
    kNone,
    kNoFile,
    kOpen,
    kShort,
    kEmpty,
    kNoHeader,
    kNotSac,
    kNegativeNpts,
    kUneven
  };
  int fail(Fault fault, int nerr);

  int fd_ = -1;
  int nerr_ = 0;
  Fault fault_ = Fault::kNone;
  SacHeader header_;
};

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
// calling thread read last was empty or too short for a header: for the lines that name a file.
std::string read_failure(int nerr);
int byteswap(void* value, int size);
// Unpacks the 192-byte character block into the current header; a field ends at its first NUL.
void map_chdr_in(const unsigned char* block);

}  // namespace xcn
