// The header pass: each listed result read back and written again with its final header:
// both stations, the event name of the pair, and the distance and azimuths between them.
#include "driver/header_pass.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "driver/geometry.hpp"
#include "driver/result_writer.hpp"
#include "msg/message.hpp"
#include "xcorrnet/sacio.h"

namespace xcn {

namespace {

// A station name without its leading and trailing blanks.
std::string strip_blanks(const std::array<char, 10>& field) {
  const std::string s = trimmed(std::string_view(field.data(), field.size()));
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

}  // namespace

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
    // Names refused before the pair loop were reported there.
    if (!run.may_write(ij)) continue;
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

    // Event name: the two station names without leading blanks, joined by a hyphen.
    Name kevnm;
    fill_field(kevnm, strip_blanks(t.station(i).kstnm) + "-" + strip_blanks(t.station(j).kstnm));
    const Geometry g = pair_geometry(t.station(i), t.station(j));

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
    newhdr();
    set_integer("NPTS", np);
    set_real("DELTA", dt);
    set_real("B", b);
    set_text("KEVNM", kevnm.data(), static_cast<int>(kNameWidth));
    set_text("KCMPNM", t.station(j).kcmpnm.data(), 10);
    set_real("STLA", t.station(j).stla);
    set_real("STLO", t.station(j).stlo);
    set_real("EVLA", t.station(i).stla);
    set_real("EVLO", t.station(i).stlo);
    set_real("DIST", static_cast<float>(g.dist));
    set_real("AZ", static_cast<float>(g.az));
    set_real("BAZ", static_cast<float>(g.baz));
    wsac0(run.name(ij).data(), &xdummy, yz.data(), &nerr, static_cast<int>(kNameWidth));
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
