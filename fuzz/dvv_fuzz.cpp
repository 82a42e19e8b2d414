// Fuzz target: xcn_dvv's command line and its inputs, a reference and a dated result of one pair
// whose bytes come from the fuzzer, run through the program's library function.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dvv/command.hpp"
#include "fuzz/common.hpp"

using xcn::fuzz::broken;

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

namespace {

namespace fs = std::filesystem;

}  // namespace

// Input: the length of the arguments (two bytes), the arguments with NUL between them, the
// length of the reference's file (two bytes), its bytes, then the current result's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xcn::fuzz::Input in(data, size);
  const std::string_view line = in.bytes(in.u16());
  std::vector<std::string> args;
  for (std::size_t start = 0; start <= line.size() && args.size() < 24;) {
    const std::size_t end = std::min(line.find('\0', start), line.size());
    const std::string arg(line.substr(start, end - start));
    start = end + 1;
    // Paths of the fuzzer's own could reach any file: inputs are ours, and so is the output.
    if (arg.find('/') != std::string::npos || arg.find("..") != std::string::npos) continue;
    args.push_back(arg);
  }
  const std::string reference(in.bytes(in.u16()));
  const std::string current(in.rest());

  const fs::path root = xcn::fuzz::scratch();
  fs::remove_all(root / "out");
  fs::create_directories(root / "ref");
  fs::create_directories(root / "day");
  xcn::fuzz::write_file((root / "ref" / "a.sac").string(), reference.data(), reference.size());
  xcn::fuzz::write_file((root / "day" / "a.sac").string(), current.data(), current.size());
  args.insert(args.end(), {(root / "day").string(), "--ref", (root / "ref").string(), "--out",
                           (root / "out").string(), "--threads", "1"});

  xcn::fuzz::Memory out;
  xcn::fuzz::Memory err;
  const int status = xcn::dvv::run_dvv(args, out.stream, err.stream);
  const std::string said = err.taken();
  if (status < 0 || status > 3) broken("a status other than 0 to 3");
  // A refused command line is one line that may quote an argument as given (new lines and
  // all); every other line names a file's text through the program's own shown form.
  const bool refused = status == 2 && said.ends_with("; see xcn_dvv --help\n");
  if (refused && !said.starts_with("xcn_dvv: ")) broken("a refusal without the program's name");
  for (std::size_t at = 0; !refused && at < said.size();) {
    if (said.compare(at, 9, "xcn_dvv: ") != 0 && said.compare(at, 7, "\rxcn_dv") != 0) {
      std::fprintf(stderr, "%s", said.c_str());
      broken("a line on standard error that does not begin with the program's name");
    }
    const std::size_t end = said.find('\n', at);
    at = end == std::string::npos ? said.size() : end + 1;
  }
  if (status == 2 && fs::exists(root / "out")) broken("a refused run that made its folder");
  const bool help = out.taken().starts_with("usage: xcn_dvv");
  if (help && (status != 0 || !said.empty())) broken("help with something else");
  // Built without a picture, a run that measured ends with status 3 for it alone.
  if ((status == 0 && !help) ||
      (status == 3 && said.find("dvv.png\" could not be written") != std::string::npos &&
       said.find("1 of 3 outputs") != std::string::npos)) {
    std::FILE* f = std::fopen((root / "out" / "dvv.csv").c_str(), "r");
    if (f == nullptr) broken("a run without its table");
    char head[10] = {};
    const std::size_t n = std::fread(head, 1, 9, f);
    std::fclose(f);
    if (n != 9 || std::string(head) != "pair,time") broken("a table without its header");
  }
  if (fs::exists(root / "out")) {
    for (const auto& entry : fs::directory_iterator(root / "out")) {
      if (entry.path().filename().string().starts_with(".")) broken("a temporary file left");
    }
  }
  return 0;
}
