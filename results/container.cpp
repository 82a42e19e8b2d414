// Reading and writing run containers (NetCDF-4) in the one layout the README documents.
#include "results/container.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>

#ifdef XCN_HAVE_NETCDF
#include <netcdf.h>
#endif

namespace xcn::results {

bool container_name(const std::string& path) { return path.ends_with(".nc"); }

namespace {

// The first bytes of a regular file (none of a pipe or device).
std::string head_of(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  char head[8] = {};
  struct stat st;
  const ssize_t n =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, head, sizeof head, 0) : 0;
  ::close(fd);
  return std::string(head, n > 0 ? static_cast<std::size_t>(n) : 0);
}

[[maybe_unused]] bool hdf5_signature(const std::string& path) {
  return head_of(path) == std::string("\x89HDF\r\n\x1a\n", 8);
}

}  // namespace

bool looks_like_netcdf(const std::string& path) {
  const std::string head = head_of(path);
  return head.starts_with("CDF") || head == std::string("\x89HDF\r\n\x1a\n", 8);
}

double container_lag(int npts, float dt, int k) {
  const float b = static_cast<float>(-(npts / 2)) * dt;
  return static_cast<double>(b) + static_cast<double>(k) * static_cast<double>(dt);
}

#ifdef XCN_HAVE_NETCDF

namespace {

// Sizes past which a container is taken for a damaged or hostile one rather than read.
constexpr std::size_t kMostPairs = std::size_t{1} << 27;
constexpr std::size_t kMostLags = std::size_t{1} << 24;
constexpr std::size_t kWidestText = 4096;  // a path at most
constexpr std::size_t kLeastPairBytes = 15 * 4;

// The per-pair values by name, in the order they are defined.
struct TextVar {
  const char* name;
  std::string ContainerPair::*pair;
  std::string RecordId::*record;  // when `pair` is null: a code of `a` or `b`
  bool first;
};
constexpr TextVar kTextVars[] = {
    {"first", &ContainerPair::first, nullptr, true},
    {"second", &ContainerPair::second, nullptr, false},
    {"first_network", nullptr, &RecordId::network, true},
    {"first_station", nullptr, &RecordId::station, true},
    {"first_location", nullptr, &RecordId::location, true},
    {"first_component", nullptr, &RecordId::component, true},
    {"second_network", nullptr, &RecordId::network, false},
    {"second_station", nullptr, &RecordId::station, false},
    {"second_location", nullptr, &RecordId::location, false},
    {"second_component", nullptr, &RecordId::component, false},
};

struct RealVar {
  const char* name;
  const char* units;
  float ContainerPair::*pair;
  float RecordId::*record;
  bool first;
};
constexpr RealVar kRealVars[] = {
    {"first_cmpaz", "degree", nullptr, &RecordId::cmpaz, true},
    {"first_cmpinc", "degree", nullptr, &RecordId::cmpinc, true},
    {"second_cmpaz", "degree", nullptr, &RecordId::cmpaz, false},
    {"second_cmpinc", "degree", nullptr, &RecordId::cmpinc, false},
    {"evla", "degree_north", &ContainerPair::evla, nullptr, true},
    {"evlo", "degree_east", &ContainerPair::evlo, nullptr, true},
    {"stla", "degree_north", &ContainerPair::stla, nullptr, false},
    {"stlo", "degree_east", &ContainerPair::stlo, nullptr, false},
    {"dist", "km", &ContainerPair::dist, nullptr, true},
    {"az", "degree", &ContainerPair::az, nullptr, true},
    {"baz", "degree", &ContainerPair::baz, nullptr, true},
    {"depmin", "", &ContainerPair::depmin, nullptr, true},
    {"depmax", "", &ContainerPair::depmax, nullptr, true},
    {"depmen", "", &ContainerPair::depmen, nullptr, true},
};

std::string& text_of(ContainerPair& p, const TextVar& v) {
  return v.pair != nullptr ? p.*v.pair : (v.first ? p.a : p.b).*v.record;
}
const std::string& text_of(const ContainerPair& p, const TextVar& v) {
  return v.pair != nullptr ? p.*v.pair : (v.first ? p.a : p.b).*v.record;
}
float& real_of(ContainerPair& p, const RealVar& v) {
  return v.pair != nullptr ? p.*v.pair : (v.first ? p.a : p.b).*v.record;
}
float real_of(const ContainerPair& p, const RealVar& v) {
  return v.pair != nullptr ? p.*v.pair : (v.first ? p.a : p.b).*v.record;
}

// The library is not reentrant; a failed open closes what it opened with the lock held.
std::recursive_mutex& netcdf_lock() {
  static std::recursive_mutex lock;
  return lock;
}

// HDF5, beneath the library, is told two things, by name so that the build needs none of its
// headers (where they are not found, nothing is done). Its own error reports are not printed:
// every failure comes back as a status and is said once, in this tool's words; the library
// turns them off only on the thread that first calls it. And it runs no clean-up at exit:
// after a write that failed (a full disk) the file is left open in it, and its clean-up then
// crashes the process instead of letting it end with its status. Files are closed by us.
void quiet_hdf5() {
  using Hid = std::int64_t;
  static const auto set_auto =
      reinterpret_cast<int (*)(Hid, void*, void*)>(::dlsym(RTLD_DEFAULT, "H5Eset_auto2"));
  static const bool no_exit_cleanup = [] {
    const auto dont_atexit = reinterpret_cast<int (*)()>(::dlsym(RTLD_DEFAULT, "H5dont_atexit"));
    return dont_atexit != nullptr && dont_atexit() >= 0;
  }();
  (void)no_exit_cleanup;
  thread_local bool quiet = false;
  if (!quiet && set_auto != nullptr) set_auto(0, nullptr, nullptr);  // 0: the default stack
  quiet = true;
}

// The library's lock, held with HDF5 prepared for this thread.
class LibraryHold {
 public:
  LibraryHold() : hold_(netcdf_lock()) { quiet_hdf5(); }

 private:
  std::lock_guard<std::recursive_mutex> hold_;
};

}  // namespace

bool netcdf_built() { return true; }

namespace {

constexpr char kTimeUnits[] = "seconds since 1970-01-01T00:00:00Z";

// The library's reason for status s.
std::string failure(int s) { return nc_strerror(s); }

struct Check {
  std::string& why;
  // False (with the reason) when status s is an error.
  bool operator()(int s, const char* what) const {
    if (s == NC_NOERR) return true;
    why = std::string(what) + ": " + failure(s);
    // HDF5's failures to write name no cause; the system's (a full disk) is the one to give.
    if (s == NC_EHDFERR && errno != 0) why += " (" + std::string(std::strerror(errno)) + ")";
    return false;
  }
};

bool put_text_att(int ncid, int var, const char* name, const std::string& value) {
  return nc_put_att_text(ncid, var, name, value.size(), value.c_str()) == NC_NOERR;
}

// A text attribute of at most `most` characters; nullopt when absent or of another type.
std::optional<std::string> get_text_att(int ncid, int var, const char* name,
                                        std::size_t most = 4096) {
  nc_type type = 0;
  std::size_t len = 0;
  if (nc_inq_att(ncid, var, name, &type, &len) != NC_NOERR || type != NC_CHAR || len > most) {
    return std::nullopt;
  }
  std::string s(len, '\0');
  if (len > 0 && nc_get_att_text(ncid, var, name, s.data()) != NC_NOERR) return std::nullopt;
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::optional<double> get_number_att(int ncid, int var, const char* name) {
  nc_type type = 0;
  std::size_t len = 0;
  if (nc_inq_att(ncid, var, name, &type, &len) != NC_NOERR || len != 1 || type == NC_CHAR ||
      type == NC_STRING) {
    return std::nullopt;
  }
  double v = 0;
  if (nc_get_att_double(ncid, var, name, &v) != NC_NOERR) return std::nullopt;
  return v;
}

// A variable `name` of `type` over exactly `dims`, or why not.
bool find_var(int ncid, const char* name, nc_type type, std::span<const int> dims, int& var,
              std::string& why) {
  if (nc_inq_varid(ncid, name, &var) != NC_NOERR) {
    why = std::string("it has no variable \"") + name + "\"";
    return false;
  }
  nc_type t = 0;
  int ndims = 0;
  int ids[NC_MAX_VAR_DIMS];
  if (nc_inq_var(ncid, var, nullptr, &t, &ndims, ids, nullptr) != NC_NOERR || t != type ||
      ndims != static_cast<int>(dims.size()) || !std::equal(dims.begin(), dims.end(), ids)) {
    why = std::string("its variable \"") + name + "\" is not of the layout's type and dimensions";
    return false;
  }
  return true;
}

// The width of text variable v: its longest text, at least one character.
std::size_t text_width(const std::vector<ContainerPair>& pairs, const TextVar& v) {
  std::size_t width = 1;
  for (const ContainerPair& p : pairs) width = std::max(width, text_of(p, v).size());
  return width;
}

// Text variable v of every pair: characters (pair, width) padded with NULs, as containers are
// written, or strings (pair), as the first containers were.
bool read_texts(int ncid, const TextVar& v, int pair_dim, std::vector<ContainerPair>& pairs,
                std::string& why) {
  int var = -1;
  nc_type type = 0;
  int ndims = 0;
  int dims[NC_MAX_VAR_DIMS];
  if (nc_inq_varid(ncid, v.name, &var) != NC_NOERR ||
      nc_inq_var(ncid, var, nullptr, &type, &ndims, dims, nullptr) != NC_NOERR) {
    why = std::string("it has no variable \"") + v.name + "\"";
    return false;
  }
  const auto unreadable = [&](int s) {
    why = std::string("its variable \"") + v.name + "\" cannot be read: " + failure(s);
    return false;
  };
  if (type == NC_STRING && ndims == 1 && dims[0] == pair_dim) {
    if (pairs.empty()) return true;
    std::vector<char*> texts(pairs.size(), nullptr);
    if (const int s = nc_get_var_string(ncid, var, texts.data()); s != NC_NOERR) {
      return unreadable(s);
    }
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      if (texts[k] != nullptr) text_of(pairs[k], v) = texts[k];
    }
    nc_free_string(pairs.size(), texts.data());
    return true;
  }
  std::size_t width = 0;
  if (type != NC_CHAR || ndims != 2 || dims[0] != pair_dim ||
      nc_inq_dimlen(ncid, dims[1], &width) != NC_NOERR || width < 1 || width > kWidestText) {
    why = std::string("its variable \"") + v.name + "\" is not of the layout's type and dimensions";
    return false;
  }
  // A block of rows at a time, so that a damaged file's sizes cannot claim the memory.
  constexpr std::size_t kBlock = 1 << 14;
  std::vector<char> texts(std::min(pairs.size(), kBlock) * width);
  for (std::size_t first = 0; first < pairs.size(); first += kBlock) {
    const std::size_t rows = std::min(kBlock, pairs.size() - first);
    const std::size_t start[] = {first, 0};
    const std::size_t count[] = {rows, width};
    if (const int s = nc_get_vara_text(ncid, var, start, count, texts.data()); s != NC_NOERR) {
      return unreadable(s);
    }
    for (std::size_t k = 0; k < rows; ++k) {
      const char* t = texts.data() + k * width;
      text_of(pairs[first + k], v).assign(t, ::strnlen(t, width));
    }
  }
  return true;
}

}  // namespace

ContainerReader::~ContainerReader() {
  if (ncid_ >= 0) {
    const LibraryHold hold;
    nc_close(ncid_);
  }
}

std::unique_ptr<ContainerReader> ContainerReader::open(const std::string& path, std::string& why) {
  const LibraryHold hold;
  std::unique_ptr<ContainerReader> r(new ContainerReader());
  // Containers are NetCDF-4 (HDF5) files; the library is not asked to open anything else
  // (a truncated classic NetCDF file can hold it up for good).
  if (!hdf5_signature(path)) {
    why = looks_like_netcdf(path) ? "it is a classic NetCDF file, not a NetCDF-4 container"
                                  : "it is not a NetCDF-4 file";
    return nullptr;
  }
  if (const int s = nc_open(path.c_str(), NC_NOWRITE, &r->ncid_); s != NC_NOERR) {
    r->ncid_ = -1;
    why = "it cannot be opened as NetCDF: " + failure(s);
    return nullptr;
  }
  const int ncid = r->ncid_;
  const std::optional<std::string> program = get_text_att(ncid, NC_GLOBAL, "program");
  if (!program || !program->starts_with("xcorrnet_v3")) {
    why = "it holds no run of xcorrnet_v3 (no program attribute of the tool's)";
    return nullptr;
  }
  int pair_dim = -1, lag_dim = -1;
  std::size_t pairs = 0, lags = 0;
  if (nc_inq_dimid(ncid, "pair", &pair_dim) != NC_NOERR ||
      nc_inq_dimid(ncid, "lag", &lag_dim) != NC_NOERR ||
      nc_inq_dimlen(ncid, pair_dim, &pairs) != NC_NOERR ||
      nc_inq_dimlen(ncid, lag_dim, &lags) != NC_NOERR) {
    why = "it lacks the dimensions pair and lag";
    return nullptr;
  }
  // Every pair takes at least its fifteen numbers in the file: a pair dimension beyond what the
  // file could hold is a damaged one, and is not given the memory it claims.
  struct stat st;
  const bool fits = ::stat(path.c_str(), &st) == 0 &&
                    pairs <= static_cast<std::size_t>(st.st_size) / kLeastPairBytes;
  if (pairs > kMostPairs || !fits || lags < 1 || lags > kMostLags) {
    why = "its dimensions (" + std::to_string(pairs) + " pairs of " + std::to_string(lags) +
          " lags) are beyond what a run writes";
    return nullptr;
  }
  ContainerRun& run = r->run_;
  run.program = *program;
  run.npts = static_cast<int>(lags);
  const std::optional<double> interval = get_number_att(ncid, NC_GLOBAL, "interval");
  const std::optional<double> window = get_number_att(ncid, NC_GLOBAL, "window");
  const std::optional<double> step = get_number_att(ncid, NC_GLOBAL, "step");
  if (!interval || !(*interval > 0) || !std::isfinite(*interval) || *interval > 1e6 || !window ||
      !step) {
    why = "its interval, window or step attribute is missing or not a positive number";
    return nullptr;
  }
  run.interval = static_cast<float>(*interval);
  run.window = static_cast<float>(*window);
  run.step = static_cast<float>(*step);
  run.grid_start = get_text_att(ncid, NC_GLOBAL, "grid_start").value_or("");
  run.engine = get_text_att(ncid, NC_GLOBAL, "engine").value_or("");

  const int pair_only[] = {pair_dim};
  const int ccf_dims[] = {pair_dim, lag_dim};
  const int lag_only[] = {lag_dim};
  int var = -1;
  if (!find_var(ncid, "ccf", NC_FLOAT, ccf_dims, r->ccf_, why) ||
      !find_var(ncid, "lag", NC_DOUBLE, lag_only, var, why)) {
    return nullptr;
  }
  r->pairs_.resize(pairs);
  for (const TextVar& v : kTextVars) {
    if (!read_texts(ncid, v, pair_dim, r->pairs_, why)) return nullptr;
  }
  std::vector<float> reals(pairs);
  for (const RealVar& v : kRealVars) {
    if (!find_var(ncid, v.name, NC_FLOAT, pair_only, var, why)) return nullptr;
    if (pairs == 0) continue;
    if (const int s = nc_get_var_float(ncid, var, reals.data()); s != NC_NOERR) {
      why = std::string("its variable \"") + v.name + "\" cannot be read: " + failure(s);
      return nullptr;
    }
    for (std::size_t k = 0; k < pairs; ++k) real_of(r->pairs_[k], v) = reals[k];
  }
  std::vector<int> stacked(pairs);
  std::vector<double> times(pairs);
  if (!find_var(ncid, "stacked", NC_INT, pair_only, var, why)) return nullptr;
  if (pairs > 0 && nc_get_var_int(ncid, var, stacked.data()) != NC_NOERR) {
    why = "its variable \"stacked\" cannot be read";
    return nullptr;
  }
  if (!find_var(ncid, "time", NC_DOUBLE, pair_only, var, why)) return nullptr;
  if (pairs > 0 && nc_get_var_double(ncid, var, times.data()) != NC_NOERR) {
    why = "its variable \"time\" cannot be read";
    return nullptr;
  }
  for (std::size_t k = 0; k < pairs; ++k) {
    r->pairs_[k].stacked = stacked[k];
    const double ms = times[k] * 1000.0;
    if (std::isfinite(ms) && std::fabs(ms) < 1e17) r->pairs_[k].time = std::llround(ms);
  }
  return r;
}

bool ContainerReader::read_rows(std::size_t first, std::size_t count, std::span<float> y,
                                std::string& why) const {
  if (first > pairs_.size() || count > pairs_.size() - first ||
      y.size() != count * static_cast<std::size_t>(run_.npts)) {
    why = "no such row";
    return false;
  }
  if (count == 0) return true;
  const LibraryHold hold;
  const std::size_t start[] = {first, 0};
  const std::size_t counts[] = {count, static_cast<std::size_t>(run_.npts)};
  if (const int s = nc_get_vara_float(ncid_, ccf_, start, counts, y.data()); s != NC_NOERR) {
    why = "row " + std::to_string(first) + " cannot be read: " + failure(s);
    return false;
  }
  return true;
}

ContainerWriter::~ContainerWriter() {
  if (ncid_ >= 0) {
    const LibraryHold hold;
    nc_close(ncid_);
  }
}

std::unique_ptr<ContainerWriter> ContainerWriter::create(const std::string& path,
                                                         const ContainerRun& run, std::size_t pairs,
                                                         std::string& why) {
  const LibraryHold hold;
  std::unique_ptr<ContainerWriter> w(new ContainerWriter());
  const Check ok{why};
  if (!ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &w->ncid_), "cannot create it")) {
    w->ncid_ = -1;
    return nullptr;
  }
  const int ncid = w->ncid_;
  w->rows_ = pairs;
  w->npts_ = run.npts;
  w->put_.assign(pairs, false);
  int pair_dim = -1, lag_dim = -1;
  // An empty run still has a pair dimension: a fixed one of length 0 would be unlimited.
  if (!ok(nc_def_dim(ncid, "pair", pairs, &pair_dim), "pair dimension") ||
      !ok(nc_def_dim(ncid, "lag", static_cast<std::size_t>(run.npts), &lag_dim), "lag dimension")) {
    return nullptr;
  }
  const int ccf_dims[] = {pair_dim, lag_dim};
  if (!ok(nc_def_var(ncid, "ccf", NC_FLOAT, 2, ccf_dims, &w->ccf_), "ccf")) return nullptr;
  // Rows lie one after another: a row is one stretch of the file, written once and read alone.
  // Chunks (one per row) would cost the library an index entry per row, which at 500 000 rows
  // takes longer than the correlations. Nothing is filled ahead: the rows never put are
  // written as NaN when the file is closed.
  if (!ok(nc_def_var_chunking(ncid, w->ccf_, NC_CONTIGUOUS, nullptr), "ccf layout") ||
      !ok(nc_def_var_fill(ncid, w->ccf_, NC_NOFILL, nullptr), "ccf fill")) {
    return nullptr;
  }
  put_text_att(
      ncid, w->ccf_, "long_name",
      run.ccf_long_name.empty() ? "stacked phase-only cross-correlation" : run.ccf_long_name);
  if (!run.second_samples.empty()) {
    const char* name = run.second_samples.c_str();
    if (!ok(nc_def_var(ncid, name, NC_FLOAT, 2, ccf_dims, &w->second_), name) ||
        !ok(nc_def_var_chunking(ncid, w->second_, NC_CONTIGUOUS, nullptr), name) ||
        !ok(nc_def_var_fill(ncid, w->second_, NC_NOFILL, nullptr), name)) {
      return nullptr;
    }
    put_text_att(ncid, w->second_, "long_name", run.second_long_name);
    w->second_put_.assign(pairs, false);
  }
  int lag = -1;
  const int lag_only[] = {lag_dim};
  if (!ok(nc_def_var(ncid, "lag", NC_DOUBLE, 1, lag_only, &lag), "lag")) return nullptr;
  put_text_att(ncid, lag, "units", "s");
  put_text_att(ncid, lag, "long_name", "lag: positive where the signal reaches the second later");
  const int pair_only[] = {pair_dim};
  const float undefined = kUndefFloat;
  for (const RealVar& v : kRealVars) {
    int var = -1;
    if (!ok(nc_def_var(ncid, v.name, NC_FLOAT, 1, pair_only, &var), v.name) ||
        !ok(nc_def_var_fill(ncid, var, NC_FILL, &undefined), v.name)) {
      return nullptr;
    }
    if (*v.units != '\0') put_text_att(ncid, var, "units", v.units);
  }
  int var = -1;
  const int never = -1;
  if (!ok(nc_def_var(ncid, "stacked", NC_INT, 1, pair_only, &var), "stacked") ||
      !ok(nc_def_var_fill(ncid, var, NC_FILL, &never), "stacked")) {
    return nullptr;
  }
  put_text_att(ncid, var, "long_name", "accepted windows in the stack");
  const double undated = std::numeric_limits<double>::quiet_NaN();
  if (!ok(nc_def_var(ncid, "time", NC_DOUBLE, 1, pair_only, &var), "time") ||
      !ok(nc_def_var_fill(ncid, var, NC_FILL, &undated), "time")) {
    return nullptr;
  }
  put_text_att(ncid, var, "units", kTimeUnits);
  put_text_att(ncid, var, "long_name", "reference time of the result");
  for (const std::string& name : run.pair_ints) {
    if (!ok(nc_def_var(ncid, name.c_str(), NC_INT, 1, pair_only, &var), name.c_str()) ||
        !ok(nc_def_var_fill(ncid, var, NC_FILL, &never), name.c_str())) {
      return nullptr;
    }
  }
  const double interval = run.interval, window = run.window, step = run.step;
  nc_put_att_double(ncid, NC_GLOBAL, "interval", NC_DOUBLE, 1, &interval);
  nc_put_att_double(ncid, NC_GLOBAL, "window", NC_DOUBLE, 1, &window);
  nc_put_att_double(ncid, NC_GLOBAL, "step", NC_DOUBLE, 1, &step);
  put_text_att(ncid, NC_GLOBAL, "grid_start", run.grid_start);
  put_text_att(ncid, NC_GLOBAL, "engine", run.engine);
  put_text_att(ncid, NC_GLOBAL, "program", run.program);
  for (const auto& [name, value] : run.text_attributes) {
    put_text_att(ncid, NC_GLOBAL, name.c_str(), value);
  }
  for (const auto& [name, value] : run.number_attributes) {
    nc_put_att_double(ncid, NC_GLOBAL, name.c_str(), NC_DOUBLE, 1, &value);
  }
  if (!ok(nc_enddef(ncid), "definitions")) return nullptr;
  std::vector<double> lags(static_cast<std::size_t>(run.npts));
  for (int k = 0; k < run.npts; ++k)
    lags[static_cast<std::size_t>(k)] = container_lag(run.npts, run.interval, k);
  if (!ok(nc_put_var_double(ncid, lag, lags.data()), "lag values")) return nullptr;
  return w;
}

bool ContainerWriter::put_rows(std::size_t first, std::size_t count, std::span<const float> y,
                               std::string& why) {
  return put_rows(ccf_, put_, first, count, y, why);
}

bool ContainerWriter::put_second(std::size_t row, std::span<const float> y, std::string& why) {
  return put_rows(second_, second_put_, row, 1, y, why);
}

bool ContainerWriter::put_rows(int var, std::vector<bool>& done, std::size_t first,
                               std::size_t count, std::span<const float> y, std::string& why) {
  if (var < 0 || first > rows_ || count > rows_ - first ||
      y.size() != count * static_cast<std::size_t>(npts_)) {
    why = "row " + std::to_string(first) + " is not one of the container's";
    return false;
  }
  if (count == 0) return true;
  const LibraryHold hold;
  const std::size_t start[] = {first, 0};
  const std::size_t counts[] = {count, static_cast<std::size_t>(npts_)};
  errno = 0;
  if (!Check{why}(nc_put_vara_float(ncid_, var, start, counts, y.data()), "samples")) return false;
  std::fill_n(done.begin() + static_cast<std::ptrdiff_t>(first), count, true);
  return true;
}

// Rows never put hold NaN, written a stretch at a time.
bool ContainerWriter::fill_unput(int var, std::vector<bool>& done, std::string& why) {
  constexpr std::size_t kRows = 64;
  const std::size_t npts = static_cast<std::size_t>(npts_);
  std::vector<float> nan;
  for (std::size_t k = 0; k < rows_;) {
    if (done[k]) {
      ++k;
      continue;
    }
    std::size_t count = 1;
    while (count < kRows && k + count < rows_ && !done[k + count]) ++count;
    nan.assign(count * npts, std::numeric_limits<float>::quiet_NaN());
    if (!put_rows(var, done, k, count, nan, why)) return false;
    k += count;
  }
  return true;
}

bool ContainerWriter::define_texts(const std::vector<ContainerPair>& pairs, std::string& why) {
  const Check ok{why};
  int pair_dim = -1;
  if (!ok(nc_inq_dimid(ncid_, "pair", &pair_dim), "pair dimension")) return false;
  // Texts are characters padded with NULs, as wide as the longest (at least one), rather
  // than strings of their own length: the library takes microseconds for each of those, which
  // makes seconds for a thousand stations' pairs.
  for (const TextVar& v : kTextVars) {
    const std::size_t width = text_width(pairs, v);
    const std::string width_name = std::string(v.name) + "_len";
    int width_dim = -1, var = -1;
    if (!ok(nc_def_dim(ncid_, width_name.c_str(), width, &width_dim), v.name)) return false;
    const int dims[] = {pair_dim, width_dim};
    if (!ok(nc_def_var(ncid_, v.name, NC_CHAR, 2, dims, &var), v.name)) return false;
    put_text_att(ncid_, var, "_Encoding", "utf-8");
  }
  return ok(nc_enddef(ncid_), "definitions");
}

bool ContainerWriter::put_ints(const std::string& name, std::span<const int> values,
                               std::string& why) {
  const LibraryHold hold;
  const Check ok{why};
  if (values.size() != rows_) {
    why = "the values of " + name + " do not match the rows";
    return false;
  }
  int var = -1;
  return ok(nc_inq_varid(ncid_, name.c_str(), &var), name.c_str()) &&
         (rows_ == 0 || ok(nc_put_var_int(ncid_, var, values.data()), name.c_str()));
}

bool ContainerWriter::close(const std::vector<ContainerPair>& pairs, std::string& why) {
  const LibraryHold hold;
  const Check ok{why};
  if (pairs.size() != rows_) {
    why = "the pairs' values do not match the rows";
    return false;
  }
  const int ncid = ncid_;
  if (!fill_unput(ccf_, put_, why) || (second_ >= 0 && !fill_unput(second_, second_put_, why))) {
    return false;
  }
  if (!define_texts(pairs, why)) return false;
  if (rows_ > 0) {
    int var = -1;
    for (const TextVar& v : kTextVars) {
      const std::size_t width = text_width(pairs, v);
      // NUL-padded rows, one after another.
      std::vector<char> texts(rows_ * width, '\0');
      for (std::size_t k = 0; k < rows_; ++k) {
        const std::string& t = text_of(pairs[k], v);
        std::copy(t.begin(), t.end(), texts.begin() + static_cast<std::ptrdiff_t>(k * width));
      }
      if (!ok(nc_inq_varid(ncid, v.name, &var), v.name) ||
          !ok(nc_put_var_text(ncid, var, texts.data()), v.name)) {
        return false;
      }
    }
    std::vector<float> reals(rows_);
    for (const RealVar& v : kRealVars) {
      for (std::size_t k = 0; k < rows_; ++k) reals[k] = real_of(pairs[k], v);
      if (!ok(nc_inq_varid(ncid, v.name, &var), v.name) ||
          !ok(nc_put_var_float(ncid, var, reals.data()), v.name)) {
        return false;
      }
    }
    std::vector<int> stacked(rows_);
    std::vector<double> times(rows_);
    for (std::size_t k = 0; k < rows_; ++k) {
      stacked[k] = pairs[k].stacked;
      times[k] = pairs[k].time ? static_cast<double>(*pairs[k].time) / 1000.0
                               : std::numeric_limits<double>::quiet_NaN();
    }
    if (!ok(nc_inq_varid(ncid, "stacked", &var), "stacked") ||
        !ok(nc_put_var_int(ncid, var, stacked.data()), "stacked") ||
        !ok(nc_inq_varid(ncid, "time", &var), "time") ||
        !ok(nc_put_var_double(ncid, var, times.data()), "time")) {
      return false;
    }
  }
  errno = 0;
  const int s = nc_close(ncid);
  ncid_ = -1;
  return ok(s, "closing it");
}

#else

bool netcdf_built() { return false; }

ContainerReader::~ContainerReader() = default;
std::unique_ptr<ContainerReader> ContainerReader::open(const std::string&, std::string& why) {
  why = kNoNetcdf;
  return nullptr;
}
bool ContainerReader::read_rows(std::size_t, std::size_t, std::span<float>,
                                std::string& why) const {
  why = kNoNetcdf;
  return false;
}
ContainerWriter::~ContainerWriter() = default;
std::unique_ptr<ContainerWriter> ContainerWriter::create(const std::string&, const ContainerRun&,
                                                         std::size_t, std::string& why) {
  why = kNoNetcdf;
  return nullptr;
}
bool ContainerWriter::put_rows(std::size_t, std::size_t, std::span<const float>, std::string& why) {
  why = kNoNetcdf;
  return false;
}
bool ContainerWriter::put_second(std::size_t, std::span<const float>, std::string& why) {
  why = kNoNetcdf;
  return false;
}
bool ContainerWriter::put_ints(const std::string&, std::span<const int>, std::string& why) {
  why = kNoNetcdf;
  return false;
}
bool ContainerWriter::close(const std::vector<ContainerPair>&, std::string& why) {
  why = kNoNetcdf;
  return false;
}

#endif

bool ContainerReader::read(std::size_t row, std::span<float> y, std::string& why) const {
  return read_rows(row, 1, y, why);
}

bool ContainerWriter::put(std::size_t row, std::span<const float> y, std::string& why) {
  return put_rows(row, 1, y, why);
}

}  // namespace xcn::results
