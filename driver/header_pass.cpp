// The header pass: each listed result read back and given its final header (both stations,
// the event name of the pair, the distance and azimuths between them) where it lacks it.
#include "driver/header_pass.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "driver/geometry.hpp"
#include "driver/result_writer.hpp"
#include "msg/message.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

void header_pass(const Run& run, std::FILE* err) {
  const StationTable& t = *run.table;
  std::vector<float> yz(kCapacity);
  auto taken = [&](int ij) {
    if (run.tally != nullptr) run.tally->taken(ij);
  };
  auto failed = [&](int ij) {
    if (run.tally != nullptr) run.tally->failed(ij);
  };
  for (int ij = 1; ij <= run.pairs->size(); ++ij) {
    // Names refused before the pair loop were reported there; other ranks complete their own.
    if (!run.may_write(ij) || !run.mine(ij)) continue;
    const std::string path = run.path(ij);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;
    const int i = run.pairs->ni(ij);
    const int j = run.pairs->nj(ij);
    // Files of pairs with an unreadable station are left as they are.
    if (!t.station(i).usable || !t.station(j).usable) continue;
    taken(ij);
    if (!S_ISREG(st.st_mode)) {
      // Put there while the pairs ran: reading a pipe would wait for its writer.
      std::fprintf(err, "xcorrnet_v3: result \"%s\" is %s; left as it is\n", path.c_str(),
                   S_ISDIR(st.st_mode) ? "a directory" : "not a regular file");
      failed(ij);
      continue;
    }

    int np = 0, nerr = 0, capacity = kCapacity;
    float b = 0.0f, dt = 0.0f, xdummy = 0.0f;
    rsac1(run.name(ij).data(), yz.data(), &np, &b, &dt, &capacity, &nerr,
          static_cast<int>(kNameWidth));
    if (nerr != 0) {
      // Rewriting would store other samples, or fewer, under this name: leave the file alone.
      std::fprintf(err, "xcorrnet_v3: result \"%s\" cannot be read back: %s; left as it is\n",
                   path.c_str(),
                   nerr == SACIO_WARN_TRUNCATED ? "it holds more than 172800 samples"
                                                : read_failure(nerr).c_str());
      clrmsg();
      failed(ij);
      continue;
    }
    if (!holds_correlation(np, b, dt)) {
      // Such as a station record under a result's name (two lists swapped): its header is not
      // ours to replace.
      std::fprintf(err,
                   "xcorrnet_v3: result \"%s\" holds no correlation (its begin time is not "
                   "-(NPTS/2) x DELTA); left as it is\n",
                   path.c_str());
      failed(ij);
      continue;
    }
    set_final_header(run, i, j, pair_geometry(t.station(i), t.station(j)), np, dt, b);
    // A result whose final header is in place already, such as one this run wrote, is not
    // written again.
    bool written = false;
    wsac0_if_changed(run.name(ij).data(), &xdummy, yz.data(), &nerr, static_cast<int>(kNameWidth),
                     &written);
    const int error = errno;
    if (nerr != 0) {
      // The writer replaces a file only once the new one is whole.
      std::fprintf(err,
                   "xcorrnet_v3: result \"%s\" could not be completed: %s; it keeps the header "
                   "it had\n",
                   path.c_str(), write_failure(nerr, error).c_str());
      failed(ij);
    }
  }
}

}  // namespace xcn
