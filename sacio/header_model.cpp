// The current SAC header, the name tables, the defaults of a new header and the one-time
// initialisation of the library.
#include "sacio/header_model.hpp"

#include <array>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "msg/message.hpp"

namespace xcn {

namespace {

CmHdr g_cmhdr;
KmHdr g_kmhdr;
CmLhf g_cmlhf;
KmLhf g_kmlhf;

constexpr std::array<std::string_view, kFloatFields> kFloatNames = {
    "DELTA", "DEPMIN", "DEPMAX", "SCALE",  "ODELTA", "B",        "E",        "O",        "A",
    "FMT",   "T0",     "T1",     "T2",     "T3",     "T4",       "T5",       "T6",       "T7",
    "T8",    "T9",     "F",      "RESP0",  "RESP1",  "RESP2",    "RESP3",    "RESP4",    "RESP5",
    "RESP6", "RESP7",  "RESP8",  "RESP9",  "STLA",   "STLO",     "STEL",     "STDP",     "EVLA",
    "EVLO",  "EVEL",   "EVDP",   "MAG",    "USER0",  "USER1",    "USER2",    "USER3",    "USER4",
    "USER5", "USER6",  "USER7",  "USER8",  "USER9",  "DIST",     "AZ",       "BAZ",      "GCARC",
    "SB",    "SDELTA", "DEPMEN", "CMPAZ",  "CMPINC", "XMINIMUM", "XMAXIMUM", "YMINIMUM", "YMAXIMUM",
    "ADJTM", "FHDR65", "FHDR66", "FHDR67", "FHDR68", "FHDR69",   "FHDR70"};

constexpr std::array<std::string_view, kIntFields> kIntNames = {
    "NZYEAR", "NZJDAY", "NZHOUR", "NZMIN", "NZSEC",  "NZMSEC", "NVHDR", "NORID",
    "NEVID",  "NPTS",   "NSNPTS", "NWFID", "NXSIZE", "NYSIZE", "NHDR15"};

constexpr std::array<std::string_view, kEnumFields> kEnumNames = {
    "IFTYPE", "IDEP",   "IZTYPE", "IHDR4",   "IINST",   "ISTREG", "IEVREG",
    "IEVTYP", "IQUAL",  "ISYNTH", "IMAGTYP", "IMAGSRC", "IHDR13", "IHDR14",
    "IHDR15", "IHDR16", "IHDR17", "IHDR18",  "IHDR19",  "IHDR20"};

constexpr std::array<std::string_view, kLogicalFields> kLogicalNames = {"LEVEN", "LPSPOL", "LOVROK",
                                                                        "LCALDA", "LHDR5"};

constexpr std::array<std::string_view, kCharSlots> kCharNames = {
    "KSTNM", "KEVNM",  "KEVNMC", "KHOLE",  "KO",     "KA",     "KT0",    "KT1",
    "KT2",   "KT3",    "KT4",    "KT5",    "KT6",    "KT7",    "KT8",    "KT9",
    "KF",    "KUSER0", "KUSER1", "KUSER2", "KCMPNM", "KNETWK", "KDATRD", "KINST"};

constexpr std::array<std::string_view, kDerivedNames> kDerivedItemNames = {
    "KZDATE",   "KZTIME",   "KSTCMP",   "FILENAME", "AMARKER",  "OMARKER",  "FMARKER",
    "KAHDR08",  "KAHDR09",  "T0MARKER", "T1MARKER", "T2MARKER", "T3MARKER", "T4MARKER",
    "T5MARKER", "T6MARKER", "T7MARKER", "T8MARKER", "T9MARKER", "KAHDR20"};

// Codes 1 to 97; 98 to 100 are unused and 101 to 829 are the regions I001 to I729.
constexpr std::array<std::string_view, 97> kEnumCodeNames = {
    "ITIME", "IRLIM",  "IAMPH",    "IXY",    "IUNKN",  "IDISP",  "IVEL",   "IACC",     "IB",
    "IDAY",  "IO",     "IA",       "IT0",    "IT1",    "IT2",    "IT3",    "IT4",      "IT5",
    "IT6",   "IT7",    "IT8",      "IT9",    "IRADNV", "ITANNV", "IRADEV", "ITANEV",   "INORTH",
    "IEAST", "IHORZA", "IDOWN",    "IUP",    "ILLLBB", "IWWSN1", "IWWSN2", "IHGLP",    "ISRO",
    "INUCL", "IPREN",  "IPOSTN",   "IQUAKE", "IPREQ",  "IPOSTQ", "ICHEM",  "IOTHER",   "IGOOD",
    "IGLCH", "IDROP",  "ILOWSN",   "IRLDTA", "IVOLTS", "IXYZ",   "IMB",    "IMS",      "IML",
    "IMW",   "IMD",    "IMX",      "INEIC",  "IPDEQ",  "IPDEW",  "IPDE",   "IISC",     "IREB",
    "IUSGS", "IBRK",   "ICALTECH", "ILLNL",  "IEVLOC", "IJSOP",  "IUSER",  "IUNKNOWN", "IQB",
    "IQB1",  "IQB2",   "IQBX",     "IQMT",   "IEQ",    "IEQ1",   "IEQ2",   "IME",      "IEX",
    "INU",   "INC",    "IO_",      "IL",     "IR",     "IT",     "IU",     "IEQ3",     "IEQ0",
    "IEX0",  "IQC",    "IQB0",     "IGEY",   "ILIT",   "IMET",   "IODOR"};

// Fills one 9-byte name record: the name blank-padded to 8, then a terminator.
void put_name(char (&record)[kSlotWidth], std::string_view name) {
  std::memset(record, ' ', 8);
  std::memcpy(record, name.data(), name.size() < 8 ? name.size() : 8);
  record[8] = '\0';
}

template <std::size_t N>
void put_names(char (&table)[N][kSlotWidth], const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) put_name(table[i], names[i]);
}

// Copies text into a slot region of the given width, blank-padded.
void put_text(char* slot, std::string_view text, int width) {
  std::memset(slot, ' ', static_cast<std::size_t>(width));
  std::memcpy(slot, text.data(),
              text.size() < static_cast<std::size_t>(width) ? text.size()
                                                            : static_cast<std::size_t>(width));
}

}  // namespace

CmHdr& cmhdr() { return g_cmhdr; }
KmHdr& kmhdr() { return g_kmhdr; }
CmLhf& cmlhf() { return g_cmlhf; }
KmLhf& kmlhf() { return g_kmlhf; }

float& Fhdr(int k) {
  assert(k >= 1 && k <= kFloatFields);
  return g_cmhdr.words.fhdr[k - 1];
}

std::int32_t& Nhdr(int k) {
  assert(k >= 1 && k <= kIntFields);
  return g_cmhdr.words.nhdr[k - 1];
}

std::int32_t& Ihdr(int k) {
  assert(k >= 1 && k <= kEnumFields);
  return g_cmhdr.words.ihdr[k - 1];
}

std::int32_t& Lhdr(int k) {
  assert(k >= 1 && k <= kLogicalFields);
  return g_cmhdr.words.lhdr[k - 1];
}

std::int32_t& Niv(int k) {
  assert(k >= 1 && k <= kEnumCodes);
  return g_cmhdr.niv[k - 1];
}

char* Khdr(int slot) {
  assert(slot >= 1 && slot <= kCharSlots);
  return g_kmhdr.khdr + (slot - 1) * kSlotWidth;
}

unsigned char* header_numeric_bytes() { return reinterpret_cast<unsigned char*>(&g_cmhdr.words); }

void inihdr() {
  g_cmhdr.fundef = kUndefFloat;
  g_cmhdr.iundef = kUndefInt;
  g_cmhdr.nundef = kUndefInt;
  g_cmhdr.nvhdrc = kHeaderVersion;
  std::memcpy(g_kmhdr.kundef, kUndefText8, sizeof g_kmhdr.kundef);
  std::memcpy(g_kmhdr.kundef16, kUndefText16, sizeof g_kmhdr.kundef16);
  for (int i = 1; i <= kEnumCodes; ++i) Niv(i) = i;
}

void inilhf() {
  put_names(g_kmlhf.kfhdr, kFloatNames);
  put_names(g_kmlhf.knhdr, kIntNames);
  put_names(g_kmlhf.kihdr, kEnumNames);
  put_names(g_kmlhf.klhdr, kLogicalNames);
  put_names(g_kmlhf.kkhdr, kCharNames);
  put_names(g_kmlhf.kahdr, kDerivedItemNames);
  for (int code = 1; code <= kNamedEnumCodes; ++code) {
    char name[kSlotWidth];
    if (code <= static_cast<int>(kEnumCodeNames.size())) {
      put_name(g_kmlhf.kdiv[code - 1], kEnumCodeNames[static_cast<std::size_t>(code - 1)]);
    } else if (code <= 100) {
      put_name(g_kmlhf.kdiv[code - 1], "UNUSED");
    } else {
      std::snprintf(name, sizeof name, "I%03d", code - 100);
      put_name(g_kmlhf.kdiv[code - 1], name);
    }
  }
  g_cmlhf = CmLhf{kFloatFields, kIntFields,    kEnumFields,    kLogicalFields,
                  kCharSlots,   kDerivedNames, kNamedEnumCodes};
}

void sacio_initialize_common() {
  // The record is zero at process start, so the undefined value marks a finished set-up.
  if (g_cmhdr.fundef != kUndefFloat) {
    inihdr();
    inilhf();
    // Loads the message file unless a switch set before this first use has done so already;
    // loading again would drop the routes that switch chose.
    check_message_subsystem();
  }
}

void newhdr() {
  for (int slot = 1; slot <= kCharSlots; ++slot) Khdr(slot)[8] = '\0';
  sacio_initialize_common();
  for (int k = 1; k <= kFloatFields; ++k) Fhdr(k) = g_cmhdr.fundef;
  for (int k = 1; k <= kIntFields; ++k) Nhdr(k) = g_cmhdr.nundef;
  for (int k = 1; k <= kEnumFields; ++k) Ihdr(k) = g_cmhdr.iundef;
  put_text(Khdr(kKstnm), g_kmhdr.kundef, 8);
  put_text(Khdr(kKevnm), g_kmhdr.kundef16, 16);
  Khdr(kKevnm)[16] = '\0';  // KEVNM's terminator, inside slot 3
  for (int slot = 4; slot <= kCharSlots; ++slot) put_text(Khdr(slot), g_kmhdr.kundef, 8);
  for (int k = 1; k <= kLogicalFields; ++k) Lhdr(k) = 0;
  Nhdr(kNvhdr) = g_cmhdr.nvhdrc;
  Lhdr(kLeven) = 1;
  Lhdr(kLovrok) = 1;
  Lhdr(kLcalda) = 1;
  Ihdr(kIftype) = Niv(kItime);
}

}  // namespace xcn
