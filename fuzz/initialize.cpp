// The set-up of every fuzz target before its first input, linked into each of them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz/common.hpp"

namespace {

// The library reports on standard output; millions of runs should not reach the terminal,
// but the reports are still composed and written (to /dev/null).
void silence_stdout() {
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0) std::abort();
  std::fflush(stdout);
  dup2(null, 1);
  close(null);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silence_stdout();
  // The library reads SACAUX once, at its first use.
  switch (xcn::fuzz::kMessages) {
    case xcn::fuzz::Messages::kNone:
      break;
    case xcn::fuzz::Messages::kShipped:
      setenv("SACAUX", XCN_SHARE, 1);
      break;
    case xcn::fuzz::Messages::kScratch:
      setenv("SACAUX", xcn::fuzz::scratch().c_str(), 1);
      break;
  }
  return 0;
}
