// Fuzz target: the metadata reader (StationXML and FDSN station text) on arbitrary files. It
// never crashes, says each problem on one line naming the file, and keeps no more epochs than
// the file can hold.
#include <string>
#include <vector>

#include "fuzz/common.hpp"
#include "prep/metadata.hpp"

namespace {

using xcn::fuzz::broken;
using xcn::prep::Inventory;

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
  return 0;
}
