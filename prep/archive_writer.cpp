// Writing miniSEED records and StationXML: synthetic archives for the demo and the tests.
#include "prep/archive_writer.hpp"

#include <fcntl.h>
#include <libmseed.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace xcn::prep {
namespace {

void copy_code(char* into, std::size_t size, const std::string& code) {
  std::snprintf(into, size, "%s", code.c_str());
}

void collect(char* record, int length, void* into) {
  auto* bytes = static_cast<std::vector<char>*>(into);
  bytes->insert(bytes->end(), record, record + length);
}

std::string iso_time(Micros t) {
  const YearDay yd = year_day(t);
  int month = 0;
  int mday = 0;
  ms_doy2md(yd.year, yd.day, &month, &mday);
  const Micros in_day = t - day_start(yd.year, yd.day);
  const auto s = static_cast<int>(in_day / kSecond);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", yd.year, month, mday,
                s / 3600, s / 60 % 60, s % 60, static_cast<int>(in_day % kSecond));
  return text;
}

}  // namespace

std::vector<char> pack_records(const ChannelId& id, Micros start, double rate,
                               const std::vector<double>& samples, Encoding encoding,
                               int record_length) {
  std::vector<char> bytes;
  if (samples.empty()) return bytes;
  MSTrace* mst = mst_init(nullptr);
  copy_code(mst->network, sizeof mst->network, id.network);
  copy_code(mst->station, sizeof mst->station, id.station);
  copy_code(mst->location, sizeof mst->location, id.location);
  copy_code(mst->channel, sizeof mst->channel, id.channel);
  mst->dataquality = 'D';
  mst->starttime = start;
  mst->samprate = rate;
  mst->numsamples = static_cast<int64_t>(samples.size());
  mst->samplecnt = mst->numsamples;
  flag format = DE_STEIM2;
  if (encoding == Encoding::kFloat32) {
    mst->sampletype = 'f';
    auto* data = static_cast<float*>(std::malloc(samples.size() * sizeof(float)));
    for (std::size_t i = 0; i < samples.size(); ++i) data[i] = static_cast<float>(samples[i]);
    mst->datasamples = data;
    format = DE_FLOAT32;
  } else {
    mst->sampletype = 'i';
    auto* data = static_cast<std::int32_t*>(std::malloc(samples.size() * sizeof(std::int32_t)));
    for (std::size_t i = 0; i < samples.size(); ++i) {
      data[i] = static_cast<std::int32_t>(std::lround(samples[i]));
    }
    mst->datasamples = data;
    format = encoding == Encoding::kSteim1   ? DE_STEIM1
             : encoding == Encoding::kSteim2 ? DE_STEIM2
                                             : DE_INT32;
  }
  int64_t packed = 0;
  mst_pack(mst, collect, &bytes, record_length, format, 1, &packed, 1, 0, nullptr);
  mst_free(&mst);
  return bytes;
}

bool write_bytes(const std::string& path, const std::vector<char>& bytes, std::string& error) {
  std::error_code ec;
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  int failure = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  const mode_t mask = umask(0);
  umask(mask);
  if (failure == 0 && fchmod(fd, 0666 & ~mask) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && std::rename(temp.c_str(), path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    error = path + ": " + std::strerror(failure);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string sds_path(const std::string& root, const ChannelId& id, Micros day) {
  const YearDay yd = year_day(day);
  char tail[32];
  std::snprintf(tail, sizeof tail, ".D.%04d.%03d", yd.year, yd.day);
  return root + "/" + std::to_string(yd.year) + "/" + id.network + "/" + id.station + "/" +
         id.channel + ".D/" + id.text() + tail;
}

std::string station_xml(const std::vector<ChannelEpoch>& epochs) {
  std::map<std::string, std::map<std::string, std::vector<const ChannelEpoch*>>> tree;
  for (const ChannelEpoch& e : epochs) tree[e.id.network][e.id.station].push_back(&e);
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\" schemaVersion=\"1.1\">\n"
      "  <Source>xcn_synth</Source>\n  <Created>2024-01-01T00:00:00Z</Created>\n";
  char number[64];
  // A value the epoch does not give is not written.
  auto field = [&](const char* name, std::optional<double> value) {
    if (!value) return;
    std::snprintf(number, sizeof number, "%.6f", *value);
    x += std::string("        <") + name + ">" + number + "</" + name + ">\n";
  };
  for (const auto& [net, stations] : tree) {
    x += "  <Network code=\"" + net + "\">\n";
    for (const auto& [sta, channels] : stations) {
      const ChannelEpoch& first = *channels.front();
      x += "    <Station code=\"" + sta + "\">\n";
      std::snprintf(number, sizeof number, "%.6f", first.latitude);
      x += std::string("      <Latitude>") + number + "</Latitude>\n";
      std::snprintf(number, sizeof number, "%.6f", first.longitude);
      x += std::string("      <Longitude>") + number + "</Longitude>\n";
      std::snprintf(number, sizeof number, "%.1f", first.elevation.value_or(0.0));
      x += std::string("      <Elevation>") + number + "</Elevation>\n";
      for (const ChannelEpoch* e : channels) {
        x += "      <Channel code=\"" + e->id.channel + "\" locationCode=\"" + e->id.location +
             "\" startDate=\"" + iso_time(e->start) + "\"" +
             (e->end ? " endDate=\"" + iso_time(*e->end) + "\"" : std::string()) + ">\n";
        field("Latitude", e->latitude);
        field("Longitude", e->longitude);
        field("Elevation", e->elevation);
        field("Depth", e->depth);
        field("Azimuth", e->azimuth);
        field("Dip", e->dip);
        x += "      </Channel>\n";
      }
      x += "    </Station>\n";
    }
    x += "  </Network>\n";
  }
  x += "</FDSNStationXML>\n";
  return x;
}

}  // namespace xcn::prep
