// Writing the current header and a caller's samples as a SAC file.
#pragma once

#include <string>
#include <vector>

namespace xcn {

// Completes the header (DEPMIN, DEPMAX, DEPMEN, the distance fields) and writes it with the
// samples of yarray (and xarray when LEVEN is false), in the byte order chosen once per process
// by SAC_WRITE_BYTE_ORDER. A new file is written unnamed in kname's directory and given its
// name only when complete (where the file system has no unnamed files, as a file replaced); a
// file replaced is written under a temporary name in the same directory and renamed over kname
// only when complete, so a failed write leaves an old file untouched. The folders on the way
// are reached under the file layer's rule for links (open_parent): another user's link in a
// folder others can write is not followed, and the file not written (101, EACCES).
// A new file gets 0666 less the umask; a file replaced keeps at most its permissions. A name
// that is a symbolic link of our own is written through to the regular file it leads to.
// After a byte-reversed write the sample arrays hold file byte order.
// nerr: 0; 101 cannot create or replace (also: not a regular file, a file we may not write, a
// link of another user or to nothing); 115 NPTS not positive or a failed write; 1303 LOVROK
// false; 1318 NVHDR not a version the reader takes; 1338 yarray (or xarray of an uneven file)
// NULL; 1339 a NUL byte inside kname within kname_len, before more than blanks or NULs. After a
// failure errno holds the system's reason, or 0 when no system call failed.
void wsac0(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len);
// wsac0, except that a regular file under kname that holds the very bytes wsac0 would write is
// left as it is. *written tells whether the file was written.
void wsac0_if_changed(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len,
                      bool* written);
// wsac0 in its two halves, so that a caller holding a lock around the process-wide header can
// release it for the file's input and output. The file of the current header and samples:
struct SacImage {
  std::string name;
  std::vector<unsigned char> bytes;
};
// The first half (the current header and the message store): refusals as wsac0 makes them
// (nerr set, message printed), else the completed header and the samples as file bytes.
SacImage sac_image(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len);
// What writing an image came to: nerr 0, 101 or 115, the open status of a 101 (0: none),
// the system's reason, and the symbolic link on the way that was not followed (see
// open_parent), if that was the reason.
struct ImageWrite {
  int nerr = 0;
  int open_status = 0;
  int error = 0;
  bool written = false;
  std::string link;
};
// The second half: the file written whole, then named as wsac0 names it (with
// only_if_changed, nothing when the file holds these bytes already). It touches no
// process-wide state, so writers may run it side by side.
ImageWrite write_image(const SacImage& image, bool only_if_changed);
// Prints what a failed write means, as wsac0 does (the message store), and leaves its reason
// in errno.
void report_image_failure(const SacImage& image, const ImageWrite& w);

// The header bytes sac_image would begin the file with, for samples whose extremes are those
// given (DEPMIN, DEPMAX, DEPMEN): to tell whether a file's header is already the one a write
// would give it, without its samples. Empty where sac_image would refuse the current header.
// Prints nothing; it completes the current header as sac_image does.
std::vector<unsigned char> header_image(float minimum, float maximum, float mean);
// The warning extrma gives for extremes beyond what a float holds.
void warn_outside_bounds(float minimum, float maximum);

void wsac3(const char* kname, float* xarray, float* yarray, int* nerr, int kname_len);

// For a process that a signal is ending: no file is begun from now on (a thread that would
// begin one waits for the end), the files being written are given a moment to be finished, and
// the temporaries still there are removed, so that none is left beside the results. Safe to
// call from a signal handler; the library installs no handler itself.
void discard_pending_files();

// Extremes and mean of n samples taken every increment-th element, in single precision.
void extrma(const float* array, int increment, int n, float* minimum, float* maximum, float* mean);
// The same without the warning: it touches no state of the library, so needs no lock.
void extremes(const float* array, int increment, int n, float* minimum, float* maximum,
              float* mean);
// The write-swap decision: 1 when written words must be byte-reversed. A negative request
// asks for the default, decided on first use from SAC_WRITE_BYTE_ORDER and then kept; 0 or 1
// sets host or reversed order; any other request returns the decision as it stands (-1 while
// undecided).
int sac_byte_order(int request);
// Host byte order: 0 little-endian, 1 big-endian.
int CheckByteOrder();
void sac_header_write(int handle, int swap, int* nerr);
void sac_data_write(int handle, float* y, float* x, int n, int swap, int* nerr);
void map_chdr_out(unsigned char* block);

}  // namespace xcn
