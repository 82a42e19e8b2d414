// Fuzz target: xcn_export on run containers whose values come from the fuzzer: the counts of
// pairs and lags, the records' names and codes, the pairs' values and samples, rows never
// written, and one attribute or variable changed afterwards as another program might. The files
// are written through libnetcdf itself: HDF5 is not instrumented, and its own parsing of damaged
// files is not what is tested here (the tests feed it truncated and foreign files).
#include <netcdf.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/common.hpp"
#include "results/container.hpp"
#include "tools/commands.hpp"

using xcn::fuzz::broken;

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kShipped;

namespace {

namespace fs = std::filesystem;

float real(xcn::fuzz::Input& in) {
  const std::string_view b = in.bytes(4);
  float v = 0;
  std::memcpy(&v, b.data(), b.size());
  return v;
}

std::string text(xcn::fuzz::Input& in) { return std::string(in.bytes(in.byte() % 24)); }

// Writes the container; false when the writer refuses what the input asks for.
bool write_container(xcn::fuzz::Input& in, const std::string& path) {
  xcn::results::ContainerRun run;
  run.interval = in.byte() % 2 ? 1.0f : real(in);
  run.npts = 1 + in.byte() % 32;
  run.window = 2000;
  run.step = 200;
  run.engine = "plain";
  run.program = "xcorrnet_v3 1.0.0";
  if (in.byte() % 4 == 0) run.grid_start = text(in);
  const std::size_t rows = in.byte() % 6;
  std::string why;
  auto w = xcn::results::ContainerWriter::create(path, run, rows, why);
  if (!w) return false;
  std::vector<xcn::results::ContainerPair> pairs(rows);
  std::vector<float> y(static_cast<std::size_t>(run.npts));
  for (std::size_t k = 0; k < rows; ++k) {
    xcn::results::ContainerPair& p = pairs[k];
    p.first = text(in);
    p.second = text(in);
    p.a.station = text(in);
    p.b.station = text(in);
    p.a.component = text(in);
    p.b.component = text(in);
    p.evla = real(in);
    p.stla = real(in);
    p.dist = real(in);
    p.stacked = in.i8();
    if (in.byte() % 3 == 0) p.time = static_cast<std::int64_t>(in.u16()) * 86400000;
    if (p.stacked < 0) continue;
    for (float& v : y) v = real(in);
    if (!w->put(k, y, why)) return false;
  }
  return w->close(pairs, why);
}

// Changes one thing of the layout, chosen by the input; none for most inputs.
void change_layout(xcn::fuzz::Input& in, const std::string& path) {
  const int what = in.byte() % 8;
  if (what >= 4) return;
  int ncid = 0;
  if (nc_open(path.c_str(), NC_WRITE, &ncid) != NC_NOERR) return;
  nc_redef(ncid);
  int var = 0;
  const std::string value = text(in);
  switch (what) {
    case 0: {
      const double d = static_cast<double>(real(in));
      nc_put_att_double(ncid, NC_GLOBAL, "interval", NC_DOUBLE, 1, &d);
      break;
    }
    case 1:
      nc_put_att_text(ncid, NC_GLOBAL, "program", value.size(), value.data());
      break;
    case 2:
      if (nc_inq_varid(ncid, "stacked", &var) == NC_NOERR) nc_rename_var(ncid, var, "stack");
      break;
    case 3:
      nc_del_att(ncid, NC_GLOBAL, "window");
      break;
  }
  nc_close(ncid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xcn::fuzz::Input in(data, size);
  const fs::path root = xcn::fuzz::scratch();
  fs::remove_all(root / "out");
  const std::string path = (root / "run.nc").string();
  fs::remove(path);
  if (!write_container(in, path)) return 0;
  change_layout(in, path);

  xcn::fuzz::Memory out;
  xcn::fuzz::Memory err;
  const std::vector<std::string> args = {path, (root / "out").string()};
  const int status = xcn::tools::run_export(args, out.stream, err.stream);
  const std::string said = err.taken();
  if (status < 0 || status > 3) broken("a status other than 0 to 3");
  for (std::size_t at = 0; at < said.size();) {
    if (said.compare(at, 12, "xcn_export: ") != 0) {
      std::fprintf(stderr, "%s", said.c_str());
      broken("a line on standard error that does not begin with the program's name");
    }
    const std::size_t end = said.find('\n', at);
    at = end == std::string::npos ? said.size() : end + 1;
  }
  if (status == 0 && !said.empty()) broken("a run that said something and succeeded");
  if ((status == 1 || status == 2) && fs::exists(root / "out")) {
    broken("a refused container that made its folder");
  }
  if (fs::exists(root / "out")) {
    if (!fs::is_regular_file(root / "out" / "names.txt")) broken("a run without its name list");
    for (const auto& entry : fs::directory_iterator(root / "out")) {
      // A row may be named as a hidden file; a temporary is not named as a result.
      const std::string name = entry.path().filename().string();
      if (name.starts_with(".") && !name.ends_with(".sac")) broken("a temporary file left");
    }
  }
  return 0;
}
