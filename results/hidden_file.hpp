// A file written whole under a hidden name beside the one it is for, and given that name only
// when complete: a reader never meets a partial file, and a failure leaves nothing behind.
#pragma once

#include <sys/types.h>

#include <string>

namespace xcn::results {

class HiddenFile {
 public:
  HiddenFile() = default;
  // A file not published is removed.
  ~HiddenFile() { discard(); }
  HiddenFile(const HiddenFile&) = delete;
  HiddenFile& operator=(const HiddenFile&) = delete;

  // Creates the empty file ".NAME.XXXXXX" beside `target` (the folder/NAME a result goes to);
  // false with the system's reason.
  bool begin(const std::string& target, std::string& why);
  // Its path while it is hidden; empty before begin and once published or discarded.
  const std::string& path() const { return path_; }
  // Gives it `mode` and renames it over the target; false with the system's reason, and the
  // hidden file removed.
  bool publish(mode_t mode, std::string& why);
  // Removes the hidden file, if any.
  void discard();

 private:
  std::string target_;
  std::string path_;
};

}  // namespace xcn::results
