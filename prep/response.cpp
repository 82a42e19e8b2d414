// Instrument responses: the stages of a channel's response, their value at any frequency, and
// the removal of a response from a stretch of counts.
#include "prep/response.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "signal/complex.hpp"
#include "signal/fft.hpp"

namespace xcn::prep {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
const Cplx kI{0, 1};

std::string upper(std::string_view text) {
  std::string s;
  for (const char c : text) {
    if (c != ' ' && c != '\t') s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return s;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string stage_name(const Stage& s) { return "stage " + std::to_string(s.number); }

// Spellings of one unit that name it alike: the electrical ones, and counts.
std::string unit_key(const std::string& units) {
  const std::string u = upper(units);
  if (const GroundUnit g = ground_unit(u); g.kind != Ground::kNone) {
    return "G" + std::to_string(static_cast<int>(g.kind)) + "/" + number(g.metres);
  }
  if (u == "V" || u == "VOLT" || u == "VOLTS") return "V";
  if (u == "COUNT" || u == "COUNTS" || u == "DIGITALCOUNTS") return "COUNTS";
  return u;
}

bool is_digital(const Stage& s) {
  return s.kind == StageKind::kFir ||
         ((s.kind == StageKind::kPolesZeros || s.kind == StageKind::kCoefficients) &&
          s.transfer == Transfer::kDigital);
}

// A FIR's taps written out from its symmetry.
std::vector<double> taps_of(const Stage& s) {
  std::vector<double> taps = s.numerators;
  if (s.symmetry == Symmetry::kEven)
    taps.insert(taps.end(), s.numerators.rbegin(), s.numerators.rend());
  if (s.symmetry == Symmetry::kOdd && !s.numerators.empty()) {
    taps.insert(taps.end(), s.numerators.rbegin() + 1, s.numerators.rend());
  }
  return taps;
}

// sum c_n x^n, by Horner.
Cplx polynomial(const std::vector<double>& c, Cplx x) {
  Cplx sum = 0;
  for (auto it = c.rbegin(); it != c.rend(); ++it) sum = sum * x + *it;
  return sum;
}

// The stage's shape at f, without its gain or normalisation. `taps` is a FIR's written out.
Cplx shape(const Stage& s, const std::vector<double>& taps, double f) {
  const double rate = s.input_rate.value_or(1.0);
  switch (s.kind) {
    case StageKind::kGain:
    case StageKind::kOther:
      return 1;
    case StageKind::kPolesZeros: {
      const Cplx x = s.transfer == Transfer::kLaplaceRadians ? kI * (kTwoPi * f)
                     : s.transfer == Transfer::kLaplaceHertz ? kI * f
                                                             : std::polar(1.0, kTwoPi * f / rate);
      Cplx v = 1;
      for (const Cplx& z : s.zeros) v *= x - z;
      for (const Cplx& p : s.poles) v /= x - p;
      return v;
    }
    case StageKind::kCoefficients: {
      if (s.numerators.empty() && s.denominators.empty()) return 1;
      const Cplx x = s.transfer == Transfer::kLaplaceRadians ? kI * (kTwoPi * f)
                     : s.transfer == Transfer::kLaplaceHertz ? kI * f
                                                             : std::polar(1.0, -kTwoPi * f / rate);
      const Cplx num = s.numerators.empty() ? Cplx(1) : polynomial(s.numerators, x);
      const Cplx den = s.denominators.empty() ? Cplx(1) : polynomial(s.denominators, x);
      return num / den;
    }
    case StageKind::kFir:
      return polynomial(taps, std::polar(1.0, -kTwoPi * f / rate));
  }
  return 1;
}

// The stage's constant factor: its gain with A0, or its gain over its digital shape's magnitude
// at the gain's frequency. Zero or not finite when it cannot be had.
double stage_scale(const Stage& s, const std::vector<double>& taps) {
  const double gain = s.gain.value_or(0.0);
  if (s.kind == StageKind::kPolesZeros && s.transfer != Transfer::kDigital) {
    if (s.a0) return gain * *s.a0;
    return gain / std::abs(shape(s, taps, s.norm_frequency));
  }
  if (s.kind == StageKind::kPolesZeros) {
    const double a0 = s.a0.value_or(1.0 / std::abs(shape(s, taps, s.norm_frequency)));
    return gain * a0 / std::abs(a0 * shape(s, taps, s.gain_frequency));
  }
  if (is_digital(s)) return gain / std::abs(shape(s, taps, s.gain_frequency));
  return gain;
}

// One stage ready to evaluate; a digital one with many terms from a table of its values over
// the band, interpolated, where the band holds far more frequencies than the table.
class StageValue {
 public:
  StageValue(const Stage& s, double f_max, std::size_t frequencies)
      : stage_(&s), taps_(taps_of(s)), scale_(stage_scale(s, taps_)) {
    if (!is_digital(s)) return;
    const double rate = s.input_rate.value_or(1.0);
    const std::size_t terms =
        std::max<std::size_t>(16, taps_.size() + s.numerators.size() + s.denominators.size() +
                                      s.zeros.size() + s.poles.size());
    // 64 values over each rate / terms, in which the shape turns little once its centre's delay
    // is taken out: linear interpolation is then good to a few parts in 10^4.
    const double step = rate / (64.0 * static_cast<double>(terms));
    const double points = std::ceil(f_max / step) + 2;
    if (!(points * 4 < static_cast<double>(frequencies)) || points > 1e7) return;
    step_ = step;
    if (s.kind == StageKind::kFir ||
        (s.kind == StageKind::kCoefficients && s.denominators.empty())) {
      const std::size_t n = s.kind == StageKind::kFir ? taps_.size() : s.numerators.size();
      centre_ = n > 0 ? static_cast<double>(n - 1) / 2 / rate : 0.0;
    }
    table_.resize(static_cast<std::size_t>(points));
    for (std::size_t j = 0; j < table_.size(); ++j) {
      const double f = static_cast<double>(j) * step_;
      table_[j] = shape(s, taps_, f) * std::polar(1.0, kTwoPi * f * centre_);
    }
  }
  Cplx at(double f) const {
    Cplx v;
    const double u = step_ > 0 ? f / step_ : 0.0;
    if (step_ > 0 && u >= 0 && u + 1 < static_cast<double>(table_.size())) {
      const auto j = static_cast<std::size_t>(u);
      const double t = u - static_cast<double>(j);
      v = (table_[j] * (1 - t) + table_[j + 1] * t) * std::polar(1.0, -kTwoPi * f * centre_);
    } else {
      v = shape(*stage_, taps_, f);
    }
    return scale_ * v * std::polar(1.0, kTwoPi * f * stage_->correction);
  }

 private:
  const Stage* stage_;
  std::vector<double> taps_;
  double scale_;
  double step_ = 0;
  double centre_ = 0;  // s
  std::vector<Cplx> table_;
};

class ResponseValue {
 public:
  ResponseValue(const Response& r, double f_max = 0, std::size_t frequencies = 0) {
    for (const Stage& s : r.stages) stages_.emplace_back(s, f_max, frequencies);
  }
  Cplx at(double f) const {
    Cplx v = 1;
    for (const StageValue& s : stages_) v *= s.at(f);
    return v;
  }

 private:
  std::vector<StageValue> stages_;
};

// Whether every value fits a record's single precision; a response near zero could make
// samples that do not.
template <class It, class F>
bool within_record_range(It from, It to, F value) {
  return std::all_of(from, to, [&](const auto& v) {
    const double x = value(v);
    return std::fabs(x) < 1e37;
  });
}
constexpr const char* kOutOfRange =
    "the ground motion would be out of the range of a record's numbers (the response is "
    "near zero)";

// fork for any power of two: above the lengths fork runs fast, as transforms of columns and of
// rows of the stretch laid out N1 by N2 (n = n1 + N1 n2, k = N2 k1 + k2), with the twiddles
// e^(i sign 2 pi n1 k2 / L) between them. Same transform and scaling as fork, not the same bits.
void long_fork(std::vector<Complex>& x, int sign) {
  const std::size_t length = x.size();
  constexpr std::size_t kFast = std::size_t{1} << 18;
  if (length <= kFast) {
    fork(static_cast<int>(length), sign, x);
    return;
  }
  std::size_t n2 = 1;
  while (n2 * n2 < length) n2 *= 2;
  const std::size_t n1 = length / n2;
  // Sixteen columns, then sixteen rows, at a time: the strided reads and writes then move
  // whole cache lines.
  constexpr std::size_t kBlock = 16;
  std::vector<Complex> rows(length);  // rows[k2 * n1 + a]
  std::vector<Complex> block(kBlock * std::max(n1, n2));
  for (std::size_t a0 = 0; a0 < n1; a0 += kBlock) {
    for (std::size_t b = 0; b < n2; ++b) {
      for (std::size_t j = 0; j < kBlock; ++j) block[j * n2 + b] = x[a0 + j + n1 * b];
    }
    for (std::size_t j = 0; j < kBlock; ++j) {
      const std::span<Complex> column(block.data() + j * n2, n2);
      fork(static_cast<int>(n2), sign, column);
      const Cplx step = std::polar(
          1.0, sign * kTwoPi * static_cast<double>(a0 + j) / static_cast<double>(length));
      Cplx w = 1;
      for (std::size_t k = 0; k < n2; ++k) {
        const Cplx v = Cplx(column[k].re, column[k].im) * w;
        column[k] = {static_cast<float>(v.real()), static_cast<float>(v.imag())};
        w *= step;
      }
    }
    for (std::size_t k = 0; k < n2; ++k) {
      for (std::size_t j = 0; j < kBlock; ++j) rows[k * n1 + a0 + j] = block[j * n2 + k];
    }
  }
  for (std::size_t k0 = 0; k0 < n2; k0 += kBlock) {
    for (std::size_t j = 0; j < kBlock; ++j) {
      const std::span<Complex> row(rows.data() + (k0 + j) * n1, n1);
      fork(static_cast<int>(n1), sign, row);
    }
    for (std::size_t k1 = 0; k1 < n1; ++k1) {
      for (std::size_t j = 0; j < kBlock; ++j) x[n2 * k1 + k0 + j] = rows[(k0 + j) * n1 + k1];
    }
  }
}

int power_of(Ground g) { return g == Ground::kDisplacement ? 0 : g == Ground::kVelocity ? 1 : 2; }

// Why the stages themselves cannot be evaluated, or nothing.
std::optional<std::string> stage_problem(const Stage& s) {
  const std::string name = stage_name(s);
  if (s.kind == StageKind::kOther) return name + " is a " + s.other + ", which is not handled";
  if (!s.gain) return name + " gives no gain";
  if (!(std::isfinite(*s.gain) && *s.gain != 0)) return name + "'s gain is zero";
  if (is_digital(s) && !(s.input_rate && *s.input_rate > 0 && std::isfinite(*s.input_rate))) {
    return name + " is digital but gives no input sample rate";
  }
  if (s.factor < 1) return name + "'s decimation factor is below 1";
  if (s.kind == StageKind::kFir && s.numerators.empty()) return name + "'s FIR has no coefficients";
  if (s.kind == StageKind::kPolesZeros) {
    if (s.a0 && !(std::isfinite(*s.a0) && *s.a0 != 0)) {
      return name + "'s normalisation factor is zero";
    }
    for (const Cplx& p : s.poles) {
      const bool on =
          s.transfer == Transfer::kDigital ? std::abs(p) >= 1.0 : p.real() >= 0 && p != Cplx(0);
      if (on) {
        return name + " has a pole at " + number(p.real()) + (p.imag() < 0 ? "" : "+") +
               number(p.imag()) + "i, " +
               (s.transfer == Transfer::kDigital ? "on or outside the unit circle"
                                                 : "on the imaginary axis or right of it");
      }
    }
  }
  const double scale = stage_scale(s, taps_of(s));
  if (!(std::isfinite(scale) && scale != 0)) {
    return name + " cannot be normalised: its filter is zero or infinite at " +
           number(s.kind == StageKind::kPolesZeros && !s.a0 ? s.norm_frequency : s.gain_frequency) +
           " Hz";
  }
  return std::nullopt;
}

// The last digital stage's output rate, or nothing for an analogue response.
std::optional<double> output_rate(const Response& r) {
  std::optional<double> rate;
  for (const Stage& s : r.stages) {
    if (s.input_rate) rate = *s.input_rate / s.factor;
  }
  return rate;
}

}  // namespace

int idep_code(Ground g) {
  switch (g) {
    case Ground::kDisplacement:
      return 6;
    case Ground::kVelocity:
      return 7;
    case Ground::kAcceleration:
      return 8;
    case Ground::kNone:
      break;
  }
  return kIdepUnknown;
}

const char* ground_name(Ground g) {
  switch (g) {
    case Ground::kDisplacement:
      return "displacement in m";
    case Ground::kVelocity:
      return "velocity in m/s";
    case Ground::kAcceleration:
      return "acceleration in m/s**2";
    case Ground::kNone:
      break;
  }
  return "no ground motion";
}

Ground ground_of(Removal r) {
  switch (r) {
    case Removal::kDisplacement:
      return Ground::kDisplacement;
    case Removal::kVelocity:
      return Ground::kVelocity;
    case Removal::kAcceleration:
      return Ground::kAcceleration;
    default:
      return Ground::kNone;
  }
}

GroundUnit ground_unit(std::string_view units) {
  const std::string u = upper(units);
  struct Length {
    std::string_view name;
    double metres;
  };
  static constexpr Length kLengths[] = {
      {"METERS", 1},
      {"METER", 1},
      {"METRES", 1},
      {"METRE", 1},
      {"NANOMETERS", 1e-9},
      {"NANOMETER", 1e-9},
      {"MICROMETERS", 1e-6},
      {"MICROMETER", 1e-6},
      {"NM", 1e-9},
      {"UM", 1e-6},
      {"MM", 1e-3},
      {"CM", 1e-2},
      {"M", 1},
  };
  for (const Length& l : kLengths) {
    if (!u.starts_with(l.name)) continue;
    const std::string_view rest = std::string_view(u).substr(l.name.size());
    if (rest.empty()) return {Ground::kDisplacement, l.metres};
    for (const std::string_view per : {"/S", "/SEC", "/SECOND"}) {
      if (rest == per) return {Ground::kVelocity, l.metres};
      const std::string p(per);
      for (const std::string& squared : {p + "**2", p + "^2", p + "2", p + p}) {
        if (rest == squared) return {Ground::kAcceleration, l.metres};
      }
    }
    return {};
  }
  return {};
}

double prefilter_gain(const Prefilter& p, double f) {
  if (f <= p.f1 || f >= p.f4) return 0;
  if (f < p.f2) return 0.5 * (1 - std::cos(std::numbers::pi * (f - p.f1) / (p.f2 - p.f1)));
  if (f > p.f3) return 0.5 * (1 + std::cos(std::numbers::pi * (f - p.f3) / (p.f4 - p.f3)));
  return 1;
}

std::string quoted(const std::string& units) {
  std::string s = units.substr(0, 40);
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return "\"" + s + "\"";
}

std::string sensor_units(const Response& r) {
  for (const Stage& s : r.stages) {
    if (!s.input_units.empty()) return s.input_units;
  }
  return r.sensitivity_units;
}

std::optional<std::string> unusable(const Response& r, Removal removal) {
  if (removal == Removal::kNone) return std::nullopt;
  if (!r.unreadable.empty()) return "its response cannot be read: " + r.unreadable;
  if (!r.stages_given && !r.sensitivity) return "the metadata give no response";
  if (!r.sensitivity) return "its response gives no overall sensitivity";
  if (!(std::isfinite(*r.sensitivity) && *r.sensitivity != 0)) return "its sensitivity is zero";
  if (removal == Removal::kSensitivity) return std::nullopt;

  if (!r.stages_given) {
    return "the metadata give only its sensitivity (FDSN station text), which only --resp sens "
           "can use";
  }
  if (r.stages.empty()) return "its response has no stages";
  for (const Stage& s : r.stages) {
    if (auto why = stage_problem(s)) return why;
  }
  const std::string sensor = sensor_units(r);
  if (ground_unit(sensor).kind == Ground::kNone) {
    return "its sensor's units " + quoted(sensor) + " are no ground motion (m, m/s or m/s**2)";
  }
  // The units chained from stage to stage: what one puts out the next takes in.
  const Stage* last = nullptr;
  for (const Stage& s : r.stages) {
    if (s.input_units.empty() && s.output_units.empty()) continue;
    if (last != nullptr && unit_key(s.input_units) != unit_key(last->output_units)) {
      return stage_name(s) + " takes in " + quoted(s.input_units) + " but " + stage_name(*last) +
             " puts out " + quoted(last->output_units);
    }
    last = &s;
  }
  if (last == nullptr) return "its stages name no units";
  if (unit_key(last->output_units) != "COUNTS") {
    return "its last stage puts out " + quoted(last->output_units) + ", not counts";
  }
  // The stages and the sensitivity must tell the same amplitude.
  const double f = r.sensitivity_frequency;
  const double stages = std::abs(evaluate(r, f));
  if (!(std::abs(stages - std::abs(*r.sensitivity)) <= 0.05 * std::abs(*r.sensitivity))) {
    return "its stages give " + number(stages) + " counts per " + quoted(sensor) + " at " +
           number(f) + " Hz, its sensitivity " + number(*r.sensitivity) +
           ": they disagree by over 5 %";
  }
  return std::nullopt;
}

Cplx evaluate(const Response& r, double f) { return ResponseValue(r).at(f); }

std::string remove_response(std::span<double> x, double rate, const Response& r, Removal removal,
                            const Prefilter& prefilter) {
  if (removal == Removal::kNone || x.empty()) return {};
  const GroundUnit sensor = ground_unit(sensor_units(r));
  if (removal == Removal::kSensitivity) {
    const double factor = (sensor.kind == Ground::kNone ? 1.0 : sensor.metres) / *r.sensitivity;
    if (!within_record_range(x.begin(), x.end(), [factor](double v) { return v * factor; })) {
      return kOutOfRange;
    }
    for (double& v : x) v *= factor;
    return {};
  }
  if (const auto ends = output_rate(r); ends && std::fabs(*ends / rate - 1) > 0.01) {
    return "its response ends at " + number(*ends) + " Hz but its samples come at " + number(rate) +
           " Hz";
  }
  // Twice the stretch at least, so that the inverse filter does not wrap one end onto the other.
  std::size_t length = 1;
  while (length < 2 * x.size()) length *= 2;
  if (length > (std::size_t{1} << 30)) return "the stretch of data is too long to transform";
  const double df = rate / static_cast<double>(length);
  const double top = std::min(prefilter.f4, rate / 2);
  const auto first = static_cast<std::size_t>(std::max(1.0, std::floor(prefilter.f1 / df) + 1));
  const auto last = static_cast<std::size_t>(
      std::clamp(std::ceil(top / df) - 1, 0.0, static_cast<double>(length / 2 - 1)));
  if (!(top > prefilter.f1) || first > last) {
    std::fill(x.begin(), x.end(), 0.0);
    return {};
  }
  const ResponseValue response(r, top, last - first + 1);
  const int from = power_of(sensor.kind);
  const int to = power_of(ground_of(removal));
  // Counts per metre (per second to the power `to`) of the ground motion asked for.
  auto value = [&](double f) {
    Cplx v = response.at(f) / sensor.metres;
    const Cplx iw = kI * (kTwoPi * f);
    for (int p = to; p < from; ++p) v *= iw;
    for (int p = from; p < to; ++p) v /= iw;
    return v;
  };
  double largest = 0;
  for (std::size_t k = first; k <= last; ++k) {
    const double f = static_cast<double>(k) * df;
    const double m = std::abs(value(f));
    if (!std::isfinite(m)) return "its response is infinite or undefined at " + number(f) + " Hz";
    largest = std::max(largest, m);
  }
  if (!(largest > 0)) return "its response is zero over the whole pre-filter band";
  const double floor = largest * std::pow(10.0, -kWaterLevelDb / 20);

  std::vector<Complex> spectrum(length, Complex{0, 0});
  for (std::size_t i = 0; i < x.size(); ++i) spectrum[i] = {static_cast<float>(x[i]), 0.0f};
  // fork(+1) gives sum x e^(+iwt): bin k holds the usual transform at -f_k, bin n - k at f_k.
  long_fork(spectrum, 1);
  auto apply = [](Complex c, Cplx g) {
    const Cplx v = Cplx(c.re, c.im) * g;
    return Complex{static_cast<float>(v.real()), static_cast<float>(v.imag())};
  };
  for (std::size_t k = 0; k <= length / 2; ++k) {
    Complex& below = spectrum[k];
    Complex& above = spectrum[(length - k) % length];
    if (k < first || k > last) {
      below = above = Complex{0, 0};
      continue;
    }
    const double f = static_cast<double>(k) * df;
    Cplx h = value(f);
    const double m = std::abs(h);
    if (m < floor) h = m > 0 ? h * (floor / m) : Cplx(floor);
    const Cplx g = prefilter_gain(prefilter, f) / h;
    below = apply(below, std::conj(g));
    above = apply(above, g);
  }
  long_fork(spectrum, -1);
  if (!within_record_range(spectrum.begin(),
                           spectrum.begin() + static_cast<std::ptrdiff_t>(x.size()),
                           [](const Complex& c) { return static_cast<double>(c.re); })) {
    return kOutOfRange;
  }
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = spectrum[i].re;
  return {};
}

}  // namespace xcn::prep
