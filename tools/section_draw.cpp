// Drawing a record section through cairo, to PNG, SVG or PDF.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>

#include "draw/cairo_file.hpp"
#include "tools/pair_names.hpp"
#include "tools/section.hpp"
#include "tools/section_layout.hpp"

namespace xcn::tools {
namespace {

using draw::Context;
using draw::PendingFile;
using draw::Surface;
using draw::text_at;

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The largest absolute finite sample within the lags shown; 0 when there is none.
double trace_scale(const SectionTrace& t, double max_lag) {
  double largest = 0;
  for (std::size_t k = 0; k < t.samples.size(); ++k) {
    const double lag = t.begin_s + static_cast<double>(k) * t.delta_s;
    const double v = t.samples[k];
    if (std::fabs(lag) <= max_lag && std::isfinite(v)) largest = std::max(largest, std::fabs(v));
  }
  return largest;
}

void trace_path(cairo_t* cr, const SectionLayout& layout, const SectionTrace& t, double baseline) {
  const double scale = trace_scale(t, layout.max_lag_s());
  const double gain = scale > 0 ? layout.amplitude_px() / scale : 0;
  // One sample beyond each end, so that the clipped line reaches the frame.
  const double reach = layout.max_lag_s() + t.delta_s;
  bool drawing = false;
  for (std::size_t k = 0; k < t.samples.size(); ++k) {
    const double lag = t.begin_s + static_cast<double>(k) * t.delta_s;
    const double v = t.samples[k];
    if (std::fabs(lag) > reach || !std::isfinite(v)) {
      drawing = false;  // a gap, not a line across it
      continue;
    }
    const double x = layout.x_of_lag(lag);
    const double y = baseline - v * gain;
    if (drawing) {
      cairo_line_to(cr, x, y);
    } else {
      cairo_move_to(cr, x, y);
      drawing = true;
    }
  }
}

void draw_axes(cairo_t* cr, const SectionLayout& layout, double font, double line) {
  const double tick = font * 0.4;
  cairo_set_line_width(cr, line);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_rectangle(cr, layout.left(), layout.top(), layout.right() - layout.left(),
                  layout.bottom() - layout.top());
  cairo_stroke(cr);
  for (const double lag : layout.lag_ticks()) {
    const double x = layout.x_of_lag(lag);
    cairo_move_to(cr, x, layout.bottom());
    cairo_line_to(cr, x, layout.bottom() + tick);
    text_at(cr, x, layout.bottom() + tick * 2, number_text(lag), 0.5, 0);
  }
  for (const double d : layout.distance_ticks()) {
    const double y = layout.y_of_distance(d);
    cairo_move_to(cr, layout.left(), y);
    cairo_line_to(cr, layout.left() - tick, y);
    text_at(cr, layout.left() - tick * 2, y, number_text(d), 1, 0.5);
  }
  cairo_stroke(cr);
  text_at(cr, (layout.left() + layout.right()) / 2, layout.bottom() + tick * 3 + font * 1.4,
          "Lag time (s)", 0.5, 0);
  cairo_save(cr);
  cairo_translate(cr, font * 0.8, (layout.top() + layout.bottom()) / 2);
  cairo_rotate(cr, -std::numbers::pi / 2);
  text_at(cr, 0, 0, "Distance (km)", 0.5, 0);
  cairo_restore(cr);
}

void draw(cairo_t* cr, const SectionPicture& picture, std::span<const SectionTrace> traces) {
  std::vector<double> distances;
  for (const auto& t : traces) distances.push_back(t.distance_km);
  const SectionLayout layout(picture.width, picture.height, distances, picture.max_lag_s);
  const double font = std::clamp(std::min(picture.width, picture.height) / 50.0, 9.0, 18.0);
  const double line = std::max(1.0, picture.width / 1200.0);

  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, font);

  // Grid, then the zero lag, then the velocity lines, all under the traces.
  cairo_set_line_width(cr, line * 0.5);
  cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
  for (const double lag : layout.lag_ticks()) {
    cairo_move_to(cr, layout.x_of_lag(lag), layout.top());
    cairo_line_to(cr, layout.x_of_lag(lag), layout.bottom());
  }
  for (const double d : layout.distance_ticks()) {
    cairo_move_to(cr, layout.left(), layout.y_of_distance(d));
    cairo_line_to(cr, layout.right(), layout.y_of_distance(d));
  }
  cairo_stroke(cr);

  const double dash[] = {line * 6, line * 4};
  cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
  cairo_set_line_width(cr, line * 1.5);
  cairo_set_dash(cr, dash, 2, 0);
  for (const int sign : {-1, 1}) {
    const Segment s = layout.velocity_line(picture.velocity_km_s, sign);
    cairo_move_to(cr, s.from.x, s.from.y);
    cairo_line_to(cr, s.to.x, s.to.y);
  }
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);

  cairo_save(cr);
  cairo_rectangle(cr, layout.left(), layout.top(), layout.right() - layout.left(),
                  layout.bottom() - layout.top());
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, line);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (std::size_t k = 0; k < traces.size(); ++k) {
    trace_path(cr, layout, traces[k], layout.baseline(k));
    cairo_stroke(cr);
  }
  cairo_restore(cr);

  draw_axes(cr, layout, font, line);

  // Title on the left of the top margin, the velocity lines' legend on its right.
  const double title_y = layout.top() / 2;
  text_at(cr, layout.left(), title_y, picture.title, 0, 0.5);
  const std::string legend =
      "lag = \u00b1 distance / " + number_text(picture.velocity_km_s) + " km/s";
  cairo_text_extents_t e;
  cairo_text_extents(cr, legend.c_str(), &e);
  const double legend_x = layout.right() - e.width;
  text_at(cr, legend_x, title_y, legend, 0, 0.5);
  cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
  cairo_set_line_width(cr, line * 1.5);
  cairo_set_dash(cr, dash, 2, 0);
  cairo_move_to(cr, legend_x - font * 3.5, title_y);
  cairo_line_to(cr, legend_x - font * 0.5, title_y);
  cairo_stroke(cr);
}

}  // namespace

std::optional<PictureType> picture_type(std::string_view path) {
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string ext(path.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "png") return PictureType::kPng;
  if (ext == "svg") return PictureType::kSvg;
  if (ext == "pdf") return PictureType::kPdf;
  return std::nullopt;
}

bool draw_section(const std::string& path, PictureType type, const SectionPicture& picture,
                  std::span<const SectionTrace> traces, std::string& error) {
  PendingFile file(path);
  if (!file.ok()) {
    error = file.error();
    return false;
  }
  Surface surface;
  switch (type) {
    case PictureType::kPng:
      surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height));
      break;
    case PictureType::kSvg:
      surface.reset(cairo_svg_surface_create_for_stream(&PendingFile::write, &file, picture.width,
                                                        picture.height));
      break;
    case PictureType::kPdf:
      surface.reset(cairo_pdf_surface_create_for_stream(&PendingFile::write, &file, picture.width,
                                                        picture.height));
      break;
  }
  {
    Context cr(cairo_create(surface.get()));
    draw(cr.get(), picture, traces);
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
      error = cairo_status_to_string(cairo_status(cr.get()));
      return false;
    }
  }
  cairo_status_t status = CAIRO_STATUS_SUCCESS;
  if (type == PictureType::kPng) {
    status = cairo_surface_write_to_png_stream(surface.get(), &PendingFile::write, &file);
  } else {
    cairo_surface_finish(surface.get());  // SVG and PDF are written out here
    status = cairo_surface_status(surface.get());
  }
  if (status != CAIRO_STATUS_SUCCESS || !file.ok()) {
    error = file.error().empty() ? cairo_status_to_string(status) : file.error();
    return false;
  }
  if (!file.commit()) {
    error = file.error();
    return false;
  }
  return true;
}

}  // namespace xcn::tools
