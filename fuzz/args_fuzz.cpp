// Fuzz target: the argument set-up (four arguments cut into fields, mode and replace items)
// and the item reader on arbitrary fields.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/input/params.hpp"
#include "fuzz/common.hpp"

using xcn::fuzz::broken;

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kNone;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (const auto item = xcn::take_item(bytes)) {
    if (bytes.find(*item) == std::string_view::npos) broken("item not taken from the field");
  }

  // Arguments cannot hold NUL: the input splits into the four at NUL bytes.
  std::vector<std::string> args;
  std::size_t start = 0;
  while (args.size() < 4) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    args.emplace_back(start <= bytes.size() ? bytes.substr(start, end - start) : "");
    start = end + 1;
  }
  const char* argv[4] = {args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str()};
  xcn::RunParams params;
  const int status = xcn::set_up_run(argv, params, xcn::fuzz::null_stream());
  if (status != 0 && status != 2) broken("set-up status");
  if (status == 0 && (params.abc == 0 || params.replace == 0)) broken("a value of NUL");
  const std::string list = xcn::trimmed(std::string_view(params.sac_list.data(), xcn::kPathWidth));
  if (list.size() > xcn::kPathWidth || args[0].compare(0, list.size(), list) != 0) {
    broken("station list path is not the argument's start");
  }
  return 0;
}
