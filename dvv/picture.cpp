// Drawing dv/v over time through cairo, to PNG.
#include "dvv/picture.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "sacio/ref_time.hpp"

#ifdef XCN_HAVE_CAIRO
#include "draw/cairo_file.hpp"
#endif

namespace xcn::dvv {

#ifdef XCN_HAVE_CAIRO
namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 560;
constexpr double kLeft = 90, kRight = 30, kTop = 50, kBottom = 70;

// Colours of the methods' curves, and their faint pair points.
constexpr double kColour[][3] = {{0.10, 0.35, 0.75}, {0.80, 0.30, 0.10}};

// A step of 1, 2 or 5 times a power of ten giving about `count` ticks over `span`.
double tick_step(double span, int count) {
  const double raw = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

struct Frame {
  double t0, t1;  // days from the first time
  double y0, y1;  // dv/v in percent
  double x(double t) const { return kLeft + (t - t0) / (t1 - t0) * (kWidth - kLeft - kRight); }
  double y(double v) const {
    return kHeight - kBottom - (v - y0) / (y1 - y0) * (kHeight - kTop - kBottom);
  }
};

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
  return text;
}

}  // namespace

std::string draw_dvv(const std::string& path, const std::vector<PictureSeries>& series) {
  // The frame holds every network point with its error bar and every pair point.
  std::int64_t first = std::numeric_limits<std::int64_t>::max();
  std::int64_t last = std::numeric_limits<std::int64_t>::min();
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const PictureSeries& s : series) {
    for (std::size_t k = 0; k < s.times.size(); ++k) {
      first = std::min(first, s.times[k]);
      last = std::max(last, s.times[k]);
      if (!std::isfinite(s.dvv[k])) continue;
      const double e = std::isfinite(s.error[k]) ? s.error[k] : 0.0;
      low = std::min(low, s.dvv[k] - e);
      high = std::max(high, s.dvv[k] + e);
    }
    // The pairs' middle four fifths: one wild pair would flatten the network's curve.
    std::vector<double> sorted = s.pair_dvv;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty()) {
      low = std::min(low, sorted[sorted.size() / 10]);
      high = std::max(high, sorted[sorted.size() - 1 - sorted.size() / 10]);
    }
  }
  if (first > last) first = last = 0;
  if (!(low <= high)) low = high = 0;
  const auto days = [first](std::int64_t t) {
    return static_cast<double>(t - first) / static_cast<double>(kDayMs);
  };
  Frame f{0, std::max(days(last), 1.0), low * 100, high * 100};
  const double pad_t = 0.04 * (f.t1 - f.t0);
  f.t0 -= pad_t;
  f.t1 += pad_t;
  const double pad_y = std::max(0.08 * (f.y1 - f.y0), 0.01);
  f.y0 -= pad_y;
  f.y1 += pad_y;

  draw::Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight));
  {
    draw::Context context(cairo_create(surface.get()));
    cairo_t* cr = context.get();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);

    // Grid and tick labels.
    const double step_t = tick_step(f.t1 - f.t0, 8);
    const double step_y = tick_step(f.y1 - f.y0, 6);
    cairo_set_line_width(cr, 0.5);
    for (double t = std::ceil(f.t0 / step_t) * step_t; t <= f.t1; t += step_t) {
      cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
      cairo_move_to(cr, f.x(t), kTop);
      cairo_line_to(cr, f.x(t), kHeight - kBottom);
      cairo_stroke(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      draw::text_at(cr, f.x(t), kHeight - kBottom + 8, number_text(t), 0.5, 0);
    }
    for (double v = std::ceil(f.y0 / step_y) * step_y; v <= f.y1; v += step_y) {
      cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
      cairo_move_to(cr, kLeft, f.y(v));
      cairo_line_to(cr, kWidth - kRight, f.y(v));
      cairo_stroke(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      draw::text_at(cr, kLeft - 8, f.y(v), number_text(v), 1, 0.5);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
    cairo_stroke(cr);
    draw::text_at(cr, (kLeft + kWidth - kRight) / 2, kHeight - 22,
                  "days after " + format_time(first) + " UTC", 0.5, 0.5);
    cairo_save(cr);
    cairo_translate(cr, 22, (kTop + kHeight - kBottom) / 2);
    cairo_rotate(cr, -M_PI / 2);
    draw::text_at(cr, 0, 0, "dv/v (%)", 0.5, 0.5);
    cairo_restore(cr);

    // Pairs faint behind, then the network with its error bars; the legend in the top margin.
    cairo_save(cr);
    cairo_rectangle(cr, kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
    cairo_clip(cr);
    for (std::size_t m = 0; m < series.size(); ++m) {
      const double* c = kColour[std::min<std::size_t>(m, 1)];
      // Small squares on whole pixels, each filled on its own: cairo's quickest shape, for
      // networks of thousands of pairs.
      cairo_set_source_rgba(cr, c[0], c[1], c[2], 0.12);
      for (std::size_t k = 0; k < series[m].pair_dvv.size(); ++k) {
        cairo_rectangle(cr, std::round(f.x(days(series[m].pair_times[k]))) - 1,
                        std::round(f.y(series[m].pair_dvv[k] * 100)) - 1, 3, 3);
        cairo_fill(cr);
      }
    }
    for (std::size_t m = 0; m < series.size(); ++m) {
      const PictureSeries& s = series[m];
      const double* c = kColour[std::min<std::size_t>(m, 1)];
      cairo_set_source_rgb(cr, c[0], c[1], c[2]);
      cairo_set_line_width(cr, 1.5);
      bool drawing = false;
      for (std::size_t k = 0; k < s.times.size(); ++k) {
        if (!std::isfinite(s.dvv[k])) {
          drawing = false;
          continue;
        }
        const double x = f.x(days(s.times[k])), y = f.y(s.dvv[k] * 100);
        if (drawing)
          cairo_line_to(cr, x, y);
        else
          cairo_move_to(cr, x, y);
        drawing = true;
      }
      cairo_stroke(cr);
      for (std::size_t k = 0; k < s.times.size(); ++k) {
        if (!std::isfinite(s.dvv[k])) continue;
        const double x = f.x(days(s.times[k])), y = f.y(s.dvv[k] * 100);
        if (std::isfinite(s.error[k])) {
          const double e = s.error[k] * 100;
          cairo_move_to(cr, x, f.y(s.dvv[k] * 100 - e));
          cairo_line_to(cr, x, f.y(s.dvv[k] * 100 + e));
          cairo_move_to(cr, x - 4, f.y(s.dvv[k] * 100 - e));
          cairo_line_to(cr, x + 4, f.y(s.dvv[k] * 100 - e));
          cairo_move_to(cr, x - 4, f.y(s.dvv[k] * 100 + e));
          cairo_line_to(cr, x + 4, f.y(s.dvv[k] * 100 + e));
          cairo_stroke(cr);
        }
        cairo_arc(cr, x, y, 3.5, 0, 2 * M_PI);
        cairo_fill(cr);
      }
    }
    cairo_restore(cr);
    double legend_x = kLeft;
    for (std::size_t m = 0; m < series.size(); ++m) {
      const double* c = kColour[std::min<std::size_t>(m, 1)];
      cairo_set_source_rgb(cr, c[0], c[1], c[2]);
      cairo_arc(cr, legend_x + 5, kTop / 2, 4, 0, 2 * M_PI);
      cairo_fill(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      const std::string label = "network, " + series[m].method;
      draw::text_at(cr, legend_x + 14, kTop / 2, label, 0, 0.5);
      cairo_text_extents_t e;
      cairo_text_extents(cr, label.c_str(), &e);
      legend_x += 14 + e.width + 30;
    }
    cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
    draw::text_at(cr, kWidth - kRight, kTop / 2, "faint: each pair; bars: one standard error", 1,
                  0.5);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(cairo_status(cr));
  }
  return draw::write_png(surface.get(), path);
}

#else

std::string draw_dvv(const std::string&, const std::vector<PictureSeries>&) {
  return "this build has no cairo to draw with";
}

#endif

}  // namespace xcn::dvv
