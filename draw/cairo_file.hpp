// What the programs that draw through cairo share: owning handles, a picture file written aside
// and renamed into place, and text placed by its box.
#pragma once

#include <cairo.h>

#include <cstdio>
#include <memory>
#include <string>

namespace xcn::draw {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

// A temporary file beside the picture, renamed over it once complete; removed when it is not.
// The name is refused where it holds anything but a writable regular file.
class PendingFile {
 public:
  explicit PendingFile(const std::string& path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool ok() const { return file_ != nullptr && error_.empty(); }
  const std::string& error() const { return error_; }

  // cairo's write callback; `closure` is the PendingFile.
  static cairo_status_t write(void* closure, const unsigned char* data, unsigned int length);

  // Closes the file and names it; false with error() when either fails.
  bool commit();

 private:
  std::string path_;
  std::string temp_;
  std::string error_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Shows `text` with the point (x, y) at the fraction (ax, ay) of its box: (0, 0) its top left,
// (0.5, 0.5) its centre, (1, 1) its bottom right.
void text_at(cairo_t* cr, double x, double y, const std::string& text, double ax, double ay);

// Draws an image surface into `path` as PNG, through a PendingFile. The reason it could not, or
// empty.
std::string write_png(cairo_surface_t* surface, const std::string& path);

}  // namespace xcn::draw
