// A scratch folder for a test: fresh under /tmp, removed with its contents when the object goes.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace xcn::test {

class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/xcn-test-XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("cannot make a scratch folder");
    path_ = name;
  }
  ~ScratchDir() {
    // A test may have left the folder read-only; its contents must still go.
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The path of a file in the folder, as callers of the C library take it.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

  // Names of what the folder holds, sorted.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace xcn::test
