// Instrument responses: the stages of a channel's response, their value at any frequency, and
// the removal of a response from a stretch of counts.
//
// A stage's value at f is its gain times its shape, in the convention X(f) = sum x(t) e^(-iwt):
//   poles and zeros  A0 * prod(s - z) / prod(s - p), s = 2 pi i f (rad/s) or i f (Hz), or
//                    z = e^(2 pi i f / rate) for a digital one; A0 as the metadata give it,
//                    or 1 / |shape(normalisation frequency)| when they give none;
//   coefficients     sum b_n x^-n / sum a_n x^-n with x = e^(2 pi i f / rate) (digital) or
//                    sum b_n s^n / sum a_n s^n (analogue);
//   FIR              sum h_n e^(-2 pi i f n / rate) over the taps written out from their
//                    symmetry (EVEN: h_0..h_N-1 h_N-1..h_0; ODD: h_0..h_N-1 h_N-2..h_0);
// a digital stage's shape is divided by its magnitude at the stage gain's frequency, so that
// the stage's gain there is the one given. The correction a datalogger applied to its time
// stamps (Decimation Correction) is put back into the phase as e^(+2 pi i f correction); the
// estimated delay is not used.
#pragma once

#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xcn::prep {

using Cplx = std::complex<double>;

// Ground motion, with the SAC header's IDEP code of its unit.
enum class Ground { kNone, kDisplacement, kVelocity, kAcceleration };
inline constexpr int kIdepUnknown = 5;  // IUNKN
int idep_code(Ground g);                // IDISP, IVEL, IACC; IUNKN for kNone
const char* ground_name(Ground g);      // "displacement in m", ...

struct GroundUnit {
  Ground kind = Ground::kNone;
  double metres = 1;  // one unit in metres (1e-9 for nm/s)
};
// m, m/s, m/s**2 and their spellings (M, METERS, M/SEC, M/S^2, M/S/S, nm/s, ...); kNone for
// anything else.
GroundUnit ground_unit(std::string_view units);

enum class StageKind { kGain, kPolesZeros, kCoefficients, kFir, kOther };
enum class Transfer { kLaplaceRadians, kLaplaceHertz, kDigital };
enum class Symmetry { kNone, kEven, kOdd };

// What one stage holds, as read.
struct Stage {
  int number = 0;
  StageKind kind = StageKind::kGain;
  std::string other;  // the element of a kind not handled (ResponseList, Polynomial, ...)
  std::string input_units, output_units;  // empty when the stage names none
  Transfer transfer = Transfer::kLaplaceRadians;
  std::optional<double> a0;
  double norm_frequency = 0;
  std::vector<Cplx> zeros, poles;
  std::vector<double> numerators, denominators;  // a FIR's coefficients as written
  Symmetry symmetry = Symmetry::kNone;
  std::optional<double> gain;
  double gain_frequency = 0;
  std::optional<double> input_rate;  // Decimation: the rate the stage runs at
  int factor = 1;                    // Decimation: its output rate is input_rate / factor
  double correction = 0;             // s
  bool operator==(const Stage&) const = default;
};

// The bounds of a response read: far past any instrument's, small enough that evaluating the
// response on every frequency of a day of samples stays cheap.
inline constexpr std::size_t kMostStages = 64;
inline constexpr std::size_t kMostPolesOrZeros = 64;
inline constexpr std::size_t kMostCoefficients = 2048;       // in one stage
inline constexpr std::size_t kMostCoefficientsInAll = 8192;  // in all stages

// A channel epoch's response. FDSN station text gives the sensitivity only.
struct Response {
  bool stages_given = false;  // from StationXML stages (false for FDSN text)
  std::vector<Stage> stages;
  std::optional<double> sensitivity;  // counts per input unit
  double sensitivity_frequency = 0;
  std::string sensitivity_units;  // its input units
  std::string unreadable;         // why the response elements could not be read, if so
  bool operator==(const Response&) const = default;
};

enum class Removal { kNone, kSensitivity, kDisplacement, kVelocity, kAcceleration };
Ground ground_of(Removal r);

// The pre-filter's corners in Hz: nothing below f1 or above f4, cosine ramps up to f2 and down
// from f3, full gain between.
struct Prefilter {
  double f1 = 0, f2 = 0, f3 = 0, f4 = 0;
};
double prefilter_gain(const Prefilter& p, double f);

// Below the largest |response| within the pre-filter's band by this much, the response is
// raised to it (phase kept), so that noise where the instrument hears nothing is not blown up.
inline constexpr double kWaterLevelDb = 60;

// Units as a line can show them: quoted, cut to 40 characters, control characters as '?'.
std::string quoted(const std::string& units);

// The units of the sensor: stage 1's input units, else the sensitivity's.
std::string sensor_units(const Response& r);

// Why the response cannot be removed as asked, or nothing.
std::optional<std::string> unusable(const Response& r, Removal removal);

// The response in counts per unit of the sensor (as sensor_units names it) at f Hz, every stage
// evaluated exactly. For a response that unusable() accepts.
Cplx evaluate(const Response& r, double f);

// Turns x (counts at `rate` Hz, detrended and tapered) into the ground motion asked for, in
// metres: divided by the sensitivity, or through the spectrum divided by the response with the
// pre-filter and the water level. An empty text, or why it could not be done (x then as it was).
std::string remove_response(std::span<double> x, double rate, const Response& r, Removal removal,
                            const Prefilter& prefilter);

}  // namespace xcn::prep
