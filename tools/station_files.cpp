// Station records through our SAC library: writing a synthetic record, reading its names back.
#include "tools/station_files.hpp"

#include <vector>

#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/ref_time.hpp"
#include "xcorrnet/sacio.h"

namespace xcn::tools {
namespace {

int length(std::string_view text) { return static_cast<int>(text.size()); }

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

void set_float(std::string_view field, float value, int& nerr) {
  int e = 0;
  setfhv(field.data(), &value, &e, length(field));
  if (nerr == 0) nerr = e;
}

void set_text(std::string_view field, std::string_view value, int& nerr) {
  int e = 0;
  setkhv(field.data(), value.data(), &e, length(field), length(value));
  if (nerr == 0) nerr = e;
}

// The field without blanks, or its reason for not serving in a file name.
bool fetch_name(const SacHeader& h, int slot, std::string_view field, std::string_view what,
                std::string& value, std::string& error) {
  value = trimmed(h.text(slot));
  error = unusable_id_reason(std::string(what) + " (" + std::string(field) + ")", value);
  return error.empty();
}

// A field that may be undefined (empty then), else as fetch_name.
bool fetch_optional_name(const SacHeader& h, int slot, std::string_view field,
                         std::string_view what, std::string& value, std::string& error) {
  if (fetch_name(h, slot, field, what, value, error)) return true;
  if (value.empty() || value == "-12345") {
    value.clear();
    error.clear();
    return true;
  }
  return false;
}

}  // namespace

bool write_station_record(const std::string& path, const StationHeader& header,
                          std::span<float> samples, std::string& error) {
  int nerr = 0;
  newhdr();
  int npts = static_cast<int>(samples.size());
  setnhv("NPTS", &npts, &nerr, 4);
  set_float("DELTA", header.delta, nerr);
  set_float("B", 0.0f, nerr);
  set_float("E", static_cast<float>(npts - 1) * header.delta, nerr);
  set_text("KSTNM", header.station, nerr);
  set_text("KCMPNM", header.component, nerr);
  set_float("STLA", header.latitude, nerr);
  set_float("STLO", header.longitude, nerr);
  if (!header.network.empty()) set_text("KNETWK", header.network, nerr);
  if (!header.location.empty()) set_text("KHOLE", header.location, nerr);
  set_float("CMPAZ", header.cmpaz, nerr);
  set_float("CMPINC", header.cmpinc, nerr);
  if (header.time) set_header_ref_fields(from_ms(*header.time));
  if (nerr != 0) {
    error = "cannot set the header of " + path + " (error " + std::to_string(nerr) + ")";
    return false;
  }
  float xdummy = 0;
  wsac0(path.c_str(), &xdummy, samples.data(), &nerr, length(path));
  if (nerr != 0) {
    error = "cannot write " + path + " (error " + std::to_string(nerr) + ")";
    return false;
  }
  return true;
}

bool read_station_id(const std::string& path, StationId& id, std::string& error) {
  if (const std::string why = not_a_record(path); !why.empty()) {
    error = "\"" + path + "\" cannot be read: " + why;
    return false;
  }
  // Read whole, as the tool reads a record: a header that promises more than the file holds
  // is refused here too.
  SacReader file(path);
  std::vector<float> samples;
  if (file.read_samples(samples) != 0) {
    file.report(path.c_str(), length(path));
    error = "cannot read the SAC file \"" + path + "\" (error " + std::to_string(file.nerr()) + ")";
    return false;
  }
  const SacHeader& h = file.header();
  std::string reason;
  if (!fetch_name(h, kKstnm, "KSTNM", "station name", id.station, reason) ||
      !fetch_name(h, kKcmpnm, "KCMPNM", "component name", id.component, reason) ||
      !fetch_optional_name(h, kKnetwk, "KNETWK", "network name", id.network, reason) ||
      !fetch_optional_name(h, kKhole, "KHOLE", "location code", id.location, reason)) {
    error = "\"" + path + "\": " + reason;
    return false;
  }
  return true;
}

}  // namespace xcn::tools
