// Fuzz target: the metadata reader (StationXML and FDSN station text) on arbitrary files, and
// the removal of every response it reads. It never crashes, says each problem on one line
// naming the file, keeps no more epochs than the file can hold, and a response it accepts gives
// finite values or a reason.
#include <cmath>
#include <string>
#include <vector>

#include "fuzz/common.hpp"
#include "prep/metadata.hpp"
#include "prep/response.hpp"

namespace {

using xcn::fuzz::broken;
using xcn::prep::ChannelEpoch;
using xcn::prep::Inventory;
using xcn::prep::Removal;

// Each way of removing the response, on a short stretch at the rate the response ends at.
void remove_each_way(const ChannelEpoch& e) {
  for (const Removal removal : {Removal::kSensitivity, Removal::kVelocity, Removal::kDisplacement,
                                Removal::kAcceleration}) {
    const auto why = xcn::prep::unusable(e.response, removal);
    if (why) {
      if (why->empty() || why->find_first_of("\r\n") != std::string::npos) {
        broken("a reason that is empty or of two lines");
      }
      continue;
    }
    double rate = 100;
    for (const auto& s : e.response.stages) {
      if (s.input_rate) rate = *s.input_rate / s.factor;
    }
    if (!(rate > 1e-3 && rate < 1e6)) rate = 100;
    std::vector<double> x(512);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.3 * static_cast<double>(i)) * 1e4;
    const double nyquist = rate / 2;
    const xcn::prep::Prefilter p{nyquist * 0.01, nyquist * 0.02, nyquist * 0.8, nyquist * 0.9};
    const std::string error = xcn::prep::remove_response(x, rate, e.response, removal, p);
    if (!error.empty()) continue;
    for (const double v : x) {
      if (!std::isfinite(v)) broken("a sample that is not finite from an accepted response");
    }
  }
}

}  // namespace

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kNone;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = xcn::fuzz::scratch_file("meta");
  xcn::fuzz::write_file(path, data, size);
  Inventory inventory;
  std::vector<std::string> problems;
  if (!inventory.load(path, problems) && problems.empty()) broken("a refusal without a reason");
  for (const std::string& line : problems) {
    if (line.find(path) == std::string::npos) broken("a problem that does not name the file");
    if (line.find_first_of("\r\n") != std::string::npos) broken("a problem of two lines");
  }
  // A channel line is at least its ten fields, nine bars and three codes; an XML channel, longer.
  if (inventory.size() > size / 14) broken("more epochs than the file has room for");
  inventory.each(remove_each_way);
  return 0;
}
