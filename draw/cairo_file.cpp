// Picture files written aside and renamed into place, and text placement, for cairo drawings.
#include "draw/cairo_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "driver/input/list_file.hpp"

namespace xcn::draw {

PendingFile::PendingFile(const std::string& path) {
  mode_t mode = 0;
  if (!output_target(path, path_, mode, error_)) return;
  const std::filesystem::path target(path_);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // Appended piece by piece: GCC 12 at -O3 warns falsely about "." + std::string.
  std::string hidden(".");
  hidden += target.filename().string();
  hidden += ".XXXXXX";
  temp_ = (folder / hidden).string();
  const int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    error_ = std::strerror(errno);
    temp_.clear();
    return;
  }
  // mkstemp's 0600 would hide the picture from others; give what a plain create gives.
  ::fchmod(fd, mode);
  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    error_ = std::strerror(errno);
    ::close(fd);
  }
}

PendingFile::~PendingFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temp_.empty() && !committed_) std::remove(temp_.c_str());
}

cairo_status_t PendingFile::write(void* closure, const unsigned char* data, unsigned int length) {
  auto* self = static_cast<PendingFile*>(closure);
  if (std::fwrite(data, 1, length, self->file_) == length) return CAIRO_STATUS_SUCCESS;
  self->error_ = std::strerror(errno);
  return CAIRO_STATUS_WRITE_ERROR;
}

bool PendingFile::commit() {
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0 && error_.empty()) error_ = std::strerror(errno);
  if (!error_.empty()) return false;
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    error_ = std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

void text_at(cairo_t* cr, double x, double y, const std::string& text, double ax, double ay) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x - e.x_bearing - ax * e.width, y - e.y_bearing - ay * e.height);
  cairo_show_text(cr, text.c_str());
}

std::string write_png(cairo_surface_t* surface, const std::string& path) {
  PendingFile file(path);
  if (!file.ok()) return file.error();
  const cairo_status_t status =
      cairo_surface_write_to_png_stream(surface, &PendingFile::write, &file);
  if (status != CAIRO_STATUS_SUCCESS || !file.ok()) {
    return file.error().empty() ? cairo_status_to_string(status) : file.error();
  }
  return file.commit() ? std::string() : file.error();
}

}  // namespace xcn::draw
