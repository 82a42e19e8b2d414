// The current SAC header in memory, its name tables, undefined values and initialisation.
//
// One header per process, without locks: callers serialise every use of the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xcn {

// On-disk layout: 110 numeric words (bytes 0-439), a 192-byte character block (440-631),
// then the samples from word 158.
inline constexpr int kFloatFields = 70;
inline constexpr int kIntFields = 15;
inline constexpr int kEnumFields = 20;
inline constexpr int kLogicalFields = 5;
inline constexpr int kNumericWords = 110;
inline constexpr int kNumericBytes = 440;
inline constexpr int kCharSlots = 24;
inline constexpr int kCharBlockWords = 48;
inline constexpr int kCharBlockBytes = 192;
inline constexpr int kDataWord = 158;
inline constexpr int kSlotWidth = 9;  // 8 characters and a terminator
inline constexpr int kEnumCodes = 830;
inline constexpr int kNamedEnumCodes = 829;
inline constexpr int kDerivedNames = 20;
inline constexpr int kHeaderVersion = 6;

inline constexpr float kUndefFloat = -12345.0f;
inline constexpr std::int32_t kUndefInt = -12345;
inline constexpr char kUndefText8[] = "-12345  ";
inline constexpr char kUndefText16[] = "-12345          ";

// One-based positions of the fields the library itself interprets.
inline constexpr int kDelta = 1;
inline constexpr int kDepmin = 2;
inline constexpr int kDepmax = 3;
inline constexpr int kB = 6;
inline constexpr int kE = 7;
inline constexpr int kStla = 32;
inline constexpr int kStlo = 33;
inline constexpr int kEvla = 36;
inline constexpr int kEvlo = 37;
inline constexpr int kDist = 51;
inline constexpr int kAz = 52;
inline constexpr int kBaz = 53;
inline constexpr int kGcarc = 54;
inline constexpr int kDepmen = 57;
inline constexpr int kNvhdr = 7;
inline constexpr int kNpts = 10;
inline constexpr int kIftype = 1;
inline constexpr int kIdep = 2;
inline constexpr int kLeven = 1;
inline constexpr int kLpspol = 2;
inline constexpr int kLovrok = 3;
inline constexpr int kLcalda = 4;
inline constexpr int kLhdr5 = 5;
inline constexpr int kKstnm = 1;
inline constexpr int kKevnm = 2;
inline constexpr int kKevnmc = 3;  // second half of KEVNM, no field of its own
inline constexpr int kKhole = 4;
inline constexpr int kKcmpnm = 21;
inline constexpr int kKnetwk = 22;
inline constexpr int kItime = 1;

// The numeric words in file order, read and written as one piece.
struct NumericBlock {
  float fhdr[kFloatFields];
  std::int32_t nhdr[kIntFields];
  std::int32_t ihdr[kEnumFields];
  std::int32_t lhdr[kLogicalFields];
};
static_assert(sizeof(NumericBlock) == kNumericBytes);
static_assert(offsetof(NumericBlock, nhdr) == 280 && offsetof(NumericBlock, ihdr) == 340 &&
              offsetof(NumericBlock, lhdr) == 420);

struct CmHdr {
  NumericBlock words;
  std::int32_t niv[kEnumCodes];
  float fundef;
  std::int32_t iundef;
  std::int32_t nundef;
  std::int32_t nvhdrc;
};

struct KmHdr {
  // 24 slots of 9 bytes, flat so that KEVNM can span slots 2 and 3 without leaving its array.
  char khdr[kCharSlots * kSlotWidth];
  char kundef[9];
  char kundef16[17];
};

// Name tables: 8 upper-case characters, blank-padded, then a terminator.
struct KmLhf {
  char kfhdr[kFloatFields][kSlotWidth];
  char knhdr[kIntFields][kSlotWidth];
  char kihdr[kEnumFields][kSlotWidth];
  char klhdr[kLogicalFields][kSlotWidth];
  char kkhdr[kCharSlots][kSlotWidth];
  char kahdr[kDerivedNames][kSlotWidth];   // derived items of header listings
  char kdiv[kNamedEnumCodes][kSlotWidth];  // names of the enumerated codes
};

struct CmLhf {
  int nfhdr;
  int nnhdr;
  int nihdr;
  int nlhdr;
  int nkhdr;
  int nahdr;
  int ndiv;
};

// The process-wide records.
CmHdr& cmhdr();
KmHdr& kmhdr();
CmLhf& cmlhf();
KmLhf& kmlhf();

// One-based views of the numeric blocks and of the enumerated-value table.
float& Fhdr(int k);
std::int32_t& Nhdr(int k);
std::int32_t& Ihdr(int k);
std::int32_t& Lhdr(int k);
std::int32_t& Niv(int k);
// Start of character slot k (1-based); KEVNM is 16 characters from Khdr(2).
char* Khdr(int slot);

// The numeric block as raw bytes (file order, host byte order in memory).
unsigned char* header_numeric_bytes();

void inihdr();
void inilhf();
void sacio_initialize_common();
void newhdr();

}  // namespace xcn
