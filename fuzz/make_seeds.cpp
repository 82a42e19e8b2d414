// Writes the seed corpora of the fuzz targets: valid SAC files in both byte orders and a few
// damaged ones, message files, station and name lists, argument sets, programs' command lines,
// by-name calls, and miniSEED records whose headers tell the truth or lie.
// Usage: make_seeds OUTPUT_DIR MESSAGE_FILE
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "tests/prep/record_bytes.hpp"

namespace fs = std::filesystem;

namespace {

fs::path g_out;

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(g_out / target);
  std::ofstream(g_out / target / name, std::ios::binary) << bytes;
}

// Byte offsets of the header words the seeds set.
constexpr std::size_t kDelta = 0, kB = 20, kE = 24, kStla = 124, kStlo = 128, kEvla = 140,
                      kEvlo = 144, kDist = 200, kAz = 204, kBaz = 208, kGcarc = 212, kNvhdr = 304,
                      kNpts = 316, kIftype = 340, kLeven = 420, kLovrok = 428, kLcalda = 432,
                      kChars = 440, kKcmpnm = 600, kUser2 = 168, kCmpaz = 228;

struct Sac {
  std::vector<std::uint32_t> words = std::vector<std::uint32_t>(110);
  std::string chars;
  std::vector<float> y, x;

  Sac() {
    for (std::size_t k = 0; k < 70; ++k) set_f(4 * k, -12345.0f);
    for (std::size_t k = 70; k < 105; ++k) set_i(4 * k, -12345);
    for (std::size_t k = 0; k < 24; ++k) chars += k == 1 ? "-12345          " : "-12345  ";
    chars.resize(192);
    set_i(kNvhdr, 6);
    set_i(kIftype, 1);
    for (std::size_t at : {kLeven, kLovrok, kLcalda}) set_i(at, 1);
  }
  void set_f(std::size_t offset, float v) { words[offset / 4] = std::bit_cast<std::uint32_t>(v); }
  void set_i(std::size_t offset, std::int32_t v) {
    words[offset / 4] = static_cast<std::uint32_t>(v);
  }
  void set_k(std::size_t offset, const std::string& text, std::size_t width = 8) {
    std::string field = text;
    field.resize(width, ' ');
    chars.replace(offset - kChars, width, field);
  }
  // The file's bytes in little-endian (big = false) or big-endian order.
  std::string bytes(bool big) const {
    std::string out;
    auto put = [&](std::uint32_t w) {
      for (int b = 0; b < 4; ++b) {
        const int shift = big ? 24 - 8 * b : 8 * b;
        out += static_cast<char>((w >> shift) & 0xff);
      }
    };
    for (std::uint32_t w : words) put(w);
    out += chars;
    for (float v : y) put(std::bit_cast<std::uint32_t>(v));
    for (float v : x) put(std::bit_cast<std::uint32_t>(v));
    return out;
  }
};

Sac station(std::size_t npts) {
  Sac s;
  for (std::size_t k = 0; k < npts; ++k) s.y.push_back(std::sin(0.3f * static_cast<float>(k)));
  s.set_i(kNpts, static_cast<std::int32_t>(npts));
  s.set_f(kDelta, 0.5f);
  s.set_f(kB, -2.0f);
  s.set_f(kE, -2.0f + 0.5f * static_cast<float>(npts - 1));
  s.set_f(kStla, 35.5f);
  s.set_f(kStlo, 139.25f);
  s.set_f(kEvla, -12.0f);
  s.set_f(kEvlo, 170.0f);
  for (std::size_t at : {kDist, kAz, kBaz, kGcarc}) s.set_f(at, 0.0f);
  s.set_k(kChars, "STA01");
  s.set_k(kChars + 8, "STA01-STA02", 16);
  s.set_k(kKcmpnm, "BHZ");
  return s;
}

// Read-target input: flags, capacity selector (little-endian), then the file.
void read_seed(const std::string& name, std::uint8_t flags, std::uint16_t capacity,
               const std::string& file) {
  std::string input;
  input += static_cast<char>(flags);
  input += static_cast<char>(capacity & 0xff);
  input += static_cast<char>(capacity >> 8);
  seed("read", name, input + file);
}

void read_seeds() {
  const Sac ok = station(24);
  read_seed("native", 0, 2000, ok.bytes(false));
  read_seed("big_endian", 0, 2000, ok.bytes(true));
  read_seed("swapped_back", 1 | 8, 2000, ok.bytes(true));
  read_seed("header_only_padded", 2 | 16, 2000, ok.bytes(false));
  read_seed("cut_to_capacity", 0, 5, ok.bytes(false));
  read_seed("capacity_zero", 0, 0, ok.bytes(true));
  read_seed("capacity_negative", 4, 1030, ok.bytes(false));

  Sac odd = station(8);
  const float f_max = std::numeric_limits<float>::max();
  odd.y = {
      std::nanf(""), std::numeric_limits<float>::infinity(), -0.0f, 1e-45f, f_max, -f_max, 0.0f,
      1.0f};
  odd.set_f(kStla, odd.y[0]);
  read_seed("odd_samples", 0, 2000, odd.bytes(false));

  Sac uneven = station(6);
  uneven.set_i(kLeven, 0);
  uneven.x = {1, 2, 3, 4, 5, 6};
  read_seed("uneven", 0, 2000, uneven.bytes(true));

  Sac negative = station(4);
  negative.set_i(kNpts, -4);
  read_seed("npts_negative", 0, 2000, negative.bytes(false));
  Sac huge = station(4);
  huge.set_i(kNpts, 2147483647);
  read_seed("npts_huge", 0, 65535, huge.bytes(true));
  read_seed("truncated", 0, 2000, ok.bytes(false).substr(0, 600));
  read_seed("too_short_for_a_header", 0, 2000, ok.bytes(false).substr(0, 300));
  read_seed("short_samples", 0, 2000, ok.bytes(false).substr(0, 700));
  Sac version = station(4);
  version.set_i(kNvhdr, 7);
  read_seed("version_7", 0, 2000, version.bytes(false));
  // A result of a three-component pair: both records' codes and orientations, as the tool
  // writes them (the second's in the station's fields, the first's in user fields).
  Sac rotated = station(24);
  rotated.set_f(kB, -12.0f * 0.5f);
  rotated.set_k(kChars + 8, "AAA-BBB", 16);
  rotated.set_k(kChars, "BBB");      // KSTNM
  rotated.set_k(kChars + 24, "10");  // KHOLE
  rotated.set_k(kKcmpnm, "BH2");
  rotated.set_k(kKcmpnm + 8, "XX");       // KNETWK
  rotated.set_k(kChars + 8 * 18, "AAA");  // KUSER1
  rotated.set_k(kChars + 8 * 19, "BHZ");  // KUSER2
  rotated.set_k(kKcmpnm + 16, "XX");      // KDATRD
  rotated.set_k(kKcmpnm + 24, "00");      // KINST
  rotated.set_f(kCmpaz, 123.5f);
  rotated.set_f(kCmpaz + 4, 90.0f);  // CMPINC
  rotated.set_f(kUser2, 0.0f);
  rotated.set_f(kUser2 + 4, 0.0f);  // USER3
  read_seed("result_three_components", 0, 2000, rotated.bytes(false));
  read_seed("result_three_components_big", 0, 2000, rotated.bytes(true));
  Sac no_overwrite = station(4);
  no_overwrite.set_i(kLovrok, 0);
  read_seed("no_overwrite", 0, 2000, no_overwrite.bytes(false));
}

void message_seeds(const fs::path& shipped) {
  std::ifstream in(shipped, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  seed("msgfile", "shipped", text);
  std::string crlf, cr;
  for (char c : text) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    cr += c == '\n' ? '\r' : c;
  }
  seed("msgfile", "crlf", crlf);
  seed("msgfile", "cr", cr);
  seed("msgfile", "short_and_blank", " 101\n  7 x\n1336 ok\n\n 999 after\n");
  seed("msgfile", "letter", "1336 ok\nabc\n");
  seed("msgfile", "long_line", "1317 " + std::string(1200, 'w') + "\n 108 next\n");
  std::string many;
  for (int k = 0; k < 502; ++k)
    many += std::to_string(1000 + k) + " text " + std::to_string(k) + "\n";
  seed("msgfile", "over_500", many);
  seed("msgfile", "signs", "  -5 minus\n+123 plus\n99999 wide\n");
}

void list_seeds() {
  seed("lists", "stations", "st1.sac\nst2.sac\nsub/st3.sac\n");
  seed("lists", "crlf_and_blank", "st1.sac\r\n\r\nst2.sac\r\nlast.sac");
  seed("lists", "cr_only", "a.sac\rb.sac\r\r");
  seed("lists", "nul_bytes", std::string("st\0one.sac\n\0\nst2.sac\n", 22));
  seed("lists", "long_lines",
       std::string(150, 'p') + ".sac\n" + std::string(60, 'n') + "\n" + std::string(99, 'q') +
           "\n" + std::string(101, 'r') + "\n");
  seed("lists", "names", "p1_1.sac\np1_2.sac\np2_2.sac\n   \ntrailing.sac   \n");
  seed("lists", "byte_order_mark", "\xEF\xBB\xBFst1.sac\nst2.sac\n\xEF\xBB\xBFst3.sac\n");
  seed("lists", "mark_only", "\xEF\xBB\xBF");
  seed("lists", "nul_in_names", std::string("p1_1.sac\0old\n\0\0\0\np1_3\0.sac", 26));
  seed("lists", "tabs", "st1.sac\t\nst2.sac \t \r\n\tst3.sac\n" + std::string(60, '\t') + "\n");
  seed("lists", "over_64_kib", std::string(65537, 'w') + "\nst2.sac\n");
}

void arg_seeds() {
  auto args = [](const std::string& a, const std::string& b, const std::string& c,
                 const std::string& d) { return a + '\0' + b + '\0' + c + '\0' + d; };
  seed("args", "plain", args("stations", "names", "B", "Y"));
  seed("args", "words", args("sta.txt", "ccf.txt", "Both", "Yes"));
  seed("args", "quoted", args("s", "n", "  'CCF'", "\"N\""));
  seed("args", "separators", args("s", "n", "A,x", "y/z"));
  seed("args", "no_value", args("s", "n", ",", "   "));
  seed("args", "empty_quote", args("s", "n", "''", "Y"));
  seed("args", "long_paths", args(std::string(120, 'a'), std::string(100, 'b'), "C", "N"));
}

// Command lines of a program: whether it takes operands, then the arguments, NUL between them.
void option_seeds() {
  auto line = [](bool operands, const std::vector<std::string>& args) {
    std::string s(1, operands ? '\1' : '\0');
    for (std::size_t k = 0; k < args.size(); ++k) s += (k ? std::string(1, '\0') : "") + args[k];
    return s;
  };
  seed("options", "all", line(true, {"a", "--count", "3", "--rate", "2.5e1", "--flag", "b"}));
  seed("options", "exponents", line(false, {"--count", "8e0", "--band", "1e-2-1e-1"}));
  seed("options", "missing_value", line(false, {"--name"}));
  seed("options", "bad_values", line(true, {"--count", "1e400", "--rate", "nan", "--band", "-"}));
  seed("options", "help_as_value", line(true, {"x", "--name", "--help"}));
  seed("options", "unknown", line(false, {"--colour", "red", "operand"}));
}

// xcn_dvv: the arguments, a reference and a dated current of one pair (a coda stretched by
// 0.2 %), each part after its length.
constexpr std::size_t kNzyear = 280, kNzjday = 284, kNzhour = 288, kNzmin = 292, kNzsec = 296,
                      kNzmsec = 300;

Sac correlation(std::size_t npts, double stretch, bool dated) {
  Sac s = station(npts);
  const double zero = static_cast<double>(npts / 2);
  for (std::size_t k = 0; k < npts; ++k) {
    const double t = (static_cast<double>(k) - zero) * stretch;
    s.y[k] = static_cast<float>(std::exp(-std::fabs(t) / 150.0) *
                                (std::sin(0.9 * t) + 0.5 * std::sin(1.7 * t + 1.0)));
  }
  s.set_f(kDelta, 1.0f);
  s.set_f(kB, -static_cast<float>(npts / 2));
  s.set_f(kE, static_cast<float>(npts - 1 - npts / 2));
  s.set_f(kDist, 50.0f);
  if (dated) {
    for (const auto& [at, v] :
         {std::pair{kNzyear, 2024}, std::pair{kNzjday, 12}, std::pair{kNzhour, 0},
          std::pair{kNzmin, 0}, std::pair{kNzsec, 0}, std::pair{kNzmsec, 0}}) {
      s.set_i(at, v);
    }
  }
  return s;
}

void dvv_seeds() {
  auto input = [](const std::vector<std::string>& args, const std::string& ref,
                  const std::string& cur) {
    std::string line;
    for (std::size_t k = 0; k < args.size(); ++k) line += (k ? std::string(1, '\0') : "") + args[k];
    auto length = [](std::size_t n) {
      return std::string{static_cast<char>(n & 0xff), static_cast<char>((n >> 8) & 0xff)};
    };
    return length(line.size()) + line + length(ref.size()) + ref + cur;
  };
  const std::string ref = correlation(401, 1.0, false).bytes(false);
  const std::string cur = correlation(401, 1.002, true).bytes(false);
  seed("dvv", "both", input({"--band", "0.1-0.3", "--lag", "20-150"}, ref, cur));
  seed("dvv", "default_window", input({"--band", "0.1-0.3", "--method", "stretching"}, ref, cur));
  seed("dvv", "mean_mwcs",
       input({"--band", "0.05-0.4", "--lag", "10-120", "--side", "mean", "--method", "mwcs",
              "--mwcs-window", "30", "--mwcs-step", "5"},
             ref, cur));
  seed("dvv", "big_endian",
       input({"--band", "0.1-0.3", "--max-dvv", "2e-2", "--side", "negative", "--min-cc", "0.9"},
             ref, correlation(401, 0.999, true).bytes(true)));
  seed("dvv", "other_length",
       input({"--band", "0.1-0.3"}, ref, correlation(301, 1.0, true).bytes(false)));
  seed("dvv", "bad_options", input({"--band", "0.3-0.1", "--side", "up", "--help"}, ref, cur));
  seed("dvv", "truncated", input({"--band", "0.1-0.3"}, ref.substr(0, 700), cur));
}

// One by-name call: operation, name length, value length, the name, then the value.
std::string call(int op, int name_length, int value_length, const std::string& name,
                 const std::string& value = "") {
  std::string s;
  s += static_cast<char>(op);
  s += static_cast<char>(static_cast<std::int8_t>(name_length));
  s += static_cast<char>(static_cast<std::int8_t>(value_length));
  return s + name + value;
}

void access_seeds() {
  const std::string one_float("\x00\x00\x80\x3f", 4);  // 1.0f little-endian
  seed("access", "floats",
       call(1, 5, 0, "DELTA", one_float) + call(0, 5, 0, "delta") + call(0, 3, 0, "XYZ") +
           call(0, -5, 0, std::string("B\0\0\0\0", 5)));
  seed("access", "integers", call(2, 4, 0, "npts", "\x05") + call(2, 8, 0, "NPTS    ", "\x01"));
  seed("access", "characters",
       call(4, 5, 10, "KSTNM", "ABCDEFGHIJ") + call(3, 5, 10, "KSTNM") +
           call(4, 5, 5, "KEVNM", "AB-CD") + call(3, -5, 20, "KEVNM") + call(3, 6, 1, "KCMPNM") +
           call(3, -6, 0, "KCMPNM") + call(4, 6, -4, "KEVNMC", "XYZ") + call(3, 6, 8, "KEVNMC"));
  seed("access", "buffers_too_small",
       call(3, 5, 1, "KSTNM") + call(4, 6, 3, "KCMPNM", "-1A") + call(3, 6, 3, "KCMPNM") +
           call(3, 5, 0, "KEVNM") + call(3, 4, 1, "KXYZ"));
  seed("access", "blanks_and_empty",
       call(4, 5, 3, "KSTNM", "   ") + call(4, 0, 0, "") + call(3, 0, 0, "") + call(5, 0, 0, ""));
}

// Write-target input: flags, the kind of name, the sample count (little-endian), the numeric
// and character blocks, then the samples.
void write_seed(const std::string& name, std::uint8_t flags, std::uint8_t kind, const Sac& s) {
  const std::string file = s.bytes(false);
  const std::size_t n = s.y.size();
  std::string input;
  input += static_cast<char>(flags);
  input += static_cast<char>(kind);
  input += static_cast<char>(n & 0xff);
  input += static_cast<char>(n >> 8);
  seed("write", name, input + file);
}

void write_seeds() {
  const Sac ok = station(200);
  const char* kinds[] = {"new",    "file", "read_only", "fifo",
                         "folder", "link", "dangling",  "link_to_fifo"};
  for (std::uint8_t k = 0; k < 8; ++k) write_seed(kinds[k], 0, k, ok);
  write_seed("padded_name", 1, 1, ok);
  write_seed("nul_inside_name", 16, 1, ok);
  write_seed("null_y", 2, 0, ok);
  write_seed("no_samples", 8, 0, ok);
  Sac uneven = station(50);
  uneven.set_i(kLeven, 0);
  write_seed("uneven", 0, 0, uneven);
  write_seed("uneven_null_x", 4, 0, uneven);
  Sac version = station(10);
  version.set_i(kNvhdr, 100);
  write_seed("version_100", 0, 0, version);
  Sac no_overwrite = station(10);
  no_overwrite.set_i(kLovrok, 0);
  write_seed("no_overwrite", 0, 1, no_overwrite);
}

// Fortran-text input: op (bit 0 set, bits 1-6 the name, bit 7 a terminated name), length,
// the name's extra blanks (padded names only), then the value of a set.
std::string text_call(std::uint8_t name, bool set, int length, const std::string& value = "") {
  std::string s;
  s += static_cast<char>((name << 1) | (set ? 1 : 0));
  s += static_cast<char>(length);
  s += static_cast<char>(0);
  return s + (set ? value : "");
}

void ftext_seeds() {
  seed("ftext", "full_width",
       text_call(0, true, 3, "WBM") + text_call(0, false, 8) + text_call(3, true, 3, "BHZ") +
           text_call(3, false, 3) + text_call(1, true, 16, "SIXTEEN-CHARS-EV") +
           text_call(1, false, 16) + text_call(2, false, 8));
  seed("ftext", "long_and_unknown",
       text_call(1, false, 30) + text_call(9, false, 8) + text_call(4, true, 12, "ABCDEFGHIJKL") +
           text_call(4, false, 2) + text_call(5, false, 0));
}

// miniSEED records: whole files of each encoding and layout xcn_prep reads, and headers that lie
// about their sample count, length, rate or time.
void mseed_seeds() {
  using xcn::test::record_bytes;
  using xcn::test::RecordSpec;
  auto wave = [](int n, int from) {
    std::vector<std::int32_t> x;
    for (int i = 0; i < n; ++i)
      x.push_back(static_cast<std::int32_t>(900 * std::sin(0.07 * (i + from))));
    return x;
  };
  // `n` consecutive records of 100 samples at 20 Hz.
  auto file = [&](RecordSpec form, int n) {
    std::string bytes;
    for (int k = 0; k < n; ++k) {
      form.samples = wave(100, 100 * k);
      form.second = 5 * k;
      bytes += record_bytes(form);
    }
    return bytes;
  };
  const RecordSpec int32;
  RecordSpec steim1;
  steim1.encoding = 10;
  RecordSpec little = steim1;
  little.little_endian_data = true;
  RecordSpec bare = steim1;
  bare.b1000 = false;
  seed("mseed", "int32", file(int32, 3));
  seed("mseed", "steim1", file(steim1, 3));
  seed("mseed", "steim1_little_endian", file(little, 2));
  seed("mseed", "no_blockette_1000", file(bare, 3));
  seed("mseed", "no_blockette_1000_cut", file(bare, 3).substr(0, 1300));
  seed("mseed", "cut_short", file(int32, 2).substr(0, 800));
  seed("mseed", "after_garbage", std::string(128, 'x') + file(steim1, 2));
  seed("mseed", "mseed3", std::string("MS\x03\x00", 4) + std::string(60, '\0'));

  RecordSpec count = int32;
  count.count = 65535;
  seed("mseed", "count_lies", file(count, 2));
  std::string length = file(int32, 4);
  length[512 + 54] = 16;
  seed("mseed", "length_lies", length);
  std::string flipped = file(steim1, 2);
  flipped[64 + 64 + 4 * 6 + 1] ^= 0x10;
  seed("mseed", "steim_flipped", flipped);
  RecordSpec day = int32;
  day.day = 367;
  seed("mseed", "day_367", file(day, 1));
  RecordSpec before = steim1;
  before.year = 1969;
  before.day = 365;
  seed("mseed", "before_1970", file(before, 2));
  RecordSpec infinite = int32;
  infinite.b100_rate = std::numeric_limits<float>::infinity();
  seed("mseed", "rate_infinite", file(infinite, 2));
  RecordSpec period = int32;
  period.rate_factor = -3600;
  period.rate_multiplier = -3600;
  seed("mseed", "period_1.3e7_s", file(period, 1));
  RecordSpec text = int32;
  text.encoding = 0;
  text.rate_factor = 0;
  seed("mseed", "text", file(text, 1));
  // Offsets in the header that point past the record.
  std::string far = file(int32, 1);
  far[46] = static_cast<char>(0xff);
  far[47] = static_cast<char>(0xf0);
  seed("mseed", "blockette_offset_far", far);
  std::string data = file(int32, 1);
  data[44] = 0x02;
  data[45] = 0x58;
  seed("mseed", "data_offset_outside", data);
}

}  // namespace

// Metadata as xcn_prep reads them: StationXML and FDSN station text, good and damaged.
void meta_seeds() {
  const std::string channel =
      "<Channel code=\"BHZ\" locationCode=\"00\" startDate=\"2020-01-01T00:00:00Z\">"
      "<Latitude>10.5</Latitude><Longitude>-20.25</Longitude><Elevation>100</Elevation>"
      "<Depth>0</Depth><Azimuth>0</Azimuth><Dip>-90</Dip></Channel>";
  const std::string xml_head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FDSNStationXML "
      "xmlns=\"http://www.fdsn.org/xml/station/1\" schemaVersion=\"1.1\"><Network code=\"XC\">"
      "<Station code=\"AAA\">";
  const std::string xml_tail = "</Station></Network></FDSNStationXML>\n";
  seed("meta", "stationxml", xml_head + channel + xml_tail);
  seed("meta", "two_epochs",
       xml_head + channel +
           "<Channel code=\"BHZ\" locationCode=\"00\" startDate=\"2021-01-01T00:00:00Z\" "
           "endDate=\"2020-06-01T00:00:00Z\"><Latitude>91</Latitude><Longitude>400</Longitude>"
           "</Channel>" +
           xml_tail);
  seed("meta", "entity",
       "<?xml version=\"1.0\"?><!DOCTYPE FDSNStationXML [<!ENTITY e \"1111111111\">]>"
       "<FDSNStationXML><Network code=\"X&e;\"><Station code=\"A\"><Channel code=\"BHZ\" "
       "locationCode=\"\"><Latitude>&e;&e;&e;</Latitude><Longitude>1</Longitude></Channel>" +
           xml_tail);
  // Responses: a geophone into a digitiser, and a broadband with FIR stages that decimate.
  const std::string units_v =
      "<InputUnits><Name>M/S</Name></InputUnits><OutputUnits><Name>V</Name></OutputUnits>";
  const std::string units_c =
      "<InputUnits><Name>V</Name></InputUnits><OutputUnits><Name>COUNTS</Name></OutputUnits>";
  const std::string units_cc =
      "<InputUnits><Name>COUNTS</Name></InputUnits><OutputUnits><Name>COUNTS</Name>"
      "</OutputUnits>";
  const std::string sensitivity =
      "<InstrumentSensitivity><Value>11520000</Value><Frequency>10</Frequency>"
      "<InputUnits><Name>M/S</Name></InputUnits><OutputUnits><Name>COUNTS</Name></OutputUnits>"
      "</InstrumentSensitivity>";
  const std::string digitiser =
      "<Stage number=\"2\"><Coefficients>" + units_c +
      "<CfTransferFunctionType>DIGITAL</CfTransferFunctionType><Numerator>1</Numerator>"
      "</Coefficients><Decimation><InputSampleRate>200</InputSampleRate><Factor>1</Factor>"
      "<Offset>0</Offset><Delay>0</Delay><Correction>0</Correction></Decimation>"
      "<StageGain><Value>400000</Value><Frequency>10</Frequency></StageGain></Stage>";
  const std::string geophone =
      "<Stage number=\"1\"><PolesZeros>" + units_v +
      "<PzTransferFunctionType>LAPLACE (RADIANS/SECOND)</PzTransferFunctionType>"
      "<NormalizationFactor>1.0393</NormalizationFactor>"
      "<NormalizationFrequency>10</NormalizationFrequency>"
      "<Zero><Real>0</Real><Imaginary>0</Imaginary></Zero>"
      "<Zero><Real>0</Real><Imaginary>0</Imaginary></Zero>"
      "<Pole><Real>-19.79</Real><Imaginary>20.19</Imaginary></Pole>"
      "<Pole><Real>-19.79</Real><Imaginary>-20.19</Imaginary></Pole></PolesZeros>"
      "<StageGain><Value>28.8</Value><Frequency>10</Frequency></StageGain></Stage>";
  const std::string fir =
      "<Stage number=\"3\"><FIR>" + units_cc +
      "<Symmetry>EVEN</Symmetry><NumeratorCoefficient>0.1</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.15</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.25</NumeratorCoefficient></FIR><Decimation>"
      "<InputSampleRate>200</InputSampleRate><Factor>2</Factor><Offset>0</Offset>"
      "<Delay>0.0125</Delay><Correction>0.0125</Correction></Decimation>"
      "<StageGain><Value>1</Value><Frequency>0</Frequency></StageGain></Stage>"
      "<Stage number=\"4\"><FIR>" +
      units_cc +
      "<Symmetry>ODD</Symmetry><NumeratorCoefficient>-0.05</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.3</NumeratorCoefficient>"
      "<NumeratorCoefficient>0.5</NumeratorCoefficient></FIR><Decimation>"
      "<InputSampleRate>100</InputSampleRate><Factor>1</Factor></Decimation>"
      "<StageGain><Value>1</Value><Frequency>0</Frequency></StageGain></Stage>";
  auto with_response = [&](const std::string& response) {
    std::string c = channel;
    c.insert(c.find("</Channel>"), "<Response>" + response + "</Response>");
    return xml_head + c + xml_tail;
  };
  seed("meta", "geophone", with_response(sensitivity + geophone + digitiser));
  seed("meta", "broadband_fir", with_response(sensitivity + geophone + digitiser + fir));
  seed("meta", "response_list",
       with_response(sensitivity + "<Stage number=\"1\"><ResponseList>" + units_v +
                     "</ResponseList></Stage>"));
  seed("meta", "not_stationxml", "<?xml version=\"1.0\"?><quakeml><event/></quakeml>");
  const std::string header =
      "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
      "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n";
  seed("meta", "fdsn_text",
       header +
           "XC|AAA|00|BHZ|10.5|-20.25|100|0|0|-90|s|1|1|M/S|20|2020-01-01T00:00:00|\n"
           "XC|AAA|--|BHN|10.5|-20.25|||0|0|s|1|1|M/S|20|2020,001|2024-01-01\n");
  seed("meta", "fdsn_bom_crlf",
       "\xEF\xBB\xBFXC|AAA|00|BHZ|10|20|100|0|0|-90\r\nXC|BBB||BHZ|95|20|1e300|0|0|-90\r\n");
  seed("meta", "fdsn_bad_line", header + "XC|AAA|00|BHZ|ten|20\n");
}

// xcn_export: the values of a container of a few rows (see export_fuzz.cpp for their order),
// then the change of its layout (7: none).
std::string export_row(const std::string& first, const std::string& second, std::int8_t stacked) {
  auto text = [](const std::string& t) { return std::string(1, static_cast<char>(t.size())) + t; };
  auto reals = [](std::initializer_list<float> values) {
    std::string bytes;
    for (const float v : values) bytes.append(reinterpret_cast<const char*>(&v), 4);
    return bytes;
  };
  std::string row = text(first) + text(second) + text("ST01") + text("ST02") + text("BHZ") +
                    text("BHZ") + reals({10, 10.5f, 55}) +
                    std::string(1, static_cast<char>(stacked)) + std::string(1, '\1');
  if (stacked >= 0) row += reals({0, 0.25f, 1, 0.5f, -0.5f, -1, 0.125f, 0});
  return row;
}

void export_seeds() {
  // Interval 1 s, 8 lags, no grid start, then the row count.
  const std::string head = std::string("\x01\x07\x01", 3);
  seed("export", "three_rows",
       head + "\x03" + export_row("ST01.BHZ.sac", "ST01.BHZ.sac", 3) +
           export_row("ST01.BHZ.sac", "ST02.BHZ.sac", 2) + export_row("a/x.sac", "b/y.sac", -1) +
           "\x07");
  seed("export", "one_name_twice",
       head + "\x02" + export_row("a/ST01.sac", "ST02.sac", 1) +
           export_row("b/ST01.sac", "ST02.sac", 1) + "\x07");
  seed("export", "renamed_variable",
       head + "\x01" + export_row("ST01.sac", "ST02.sac", 1) + "\x02");
  seed("export", "no_row", head + std::string(1, '\0') + "\x07");
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR MESSAGE_FILE\n");
    return 2;
  }
  g_out = argv[1];
  read_seeds();
  message_seeds(argv[2]);
  list_seeds();
  arg_seeds();
  option_seeds();
  access_seeds();
  write_seeds();
  ftext_seeds();
  meta_seeds();
  mseed_seeds();
  dvv_seeds();
  export_seeds();
  return 0;
}
