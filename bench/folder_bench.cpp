// What a result costs the file system to create, in one big folder or in the folders of xcn_names
// --folders: every file of a name list written as the tool writes a result (a temporary beside
// it, then a rename over the name), timed, then removed.
//
// Usage: bench_folders NAME_LIST [RUNS] [BYTES]   (in the folder the names are relative to)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string folder_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Writes every file; false (with the reason on standard error) at the first failure.
bool write_all(const std::vector<std::string>& names, const std::vector<char>& bytes) {
  const std::string pid = std::to_string(getpid());
  std::size_t serial = 0;
  for (const auto& name : names) {
    const std::string temp = folder_of(name) + ".bench." + pid + "." + std::to_string(serial++);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        close(fd) != 0 || std::rename(temp.c_str(), name.c_str()) != 0) {
      std::fprintf(stderr, "bench_folders: cannot write %s: %s\n", name.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fputs("usage: bench_folders NAME_LIST [RUNS] [BYTES]\n", stderr);
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const long size = argc > 3 ? std::atol(argv[3]) : 8632;  // a result of 2000 lags at 1 s
  std::vector<std::string> names;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) names.push_back(line);
  }
  if (names.empty() || runs < 1 || size < 0) {
    std::fputs("bench_folders: no names, or a bad count\n", stderr);
    return 2;
  }
  const std::vector<char> bytes(static_cast<std::size_t>(size), '\x5a');
  std::vector<double> create;
  std::vector<double> remove;
  for (int run = 0; run < runs; ++run) {
    sync();  // each run starts without the previous one's writes pending
    auto start = Clock::now();
    if (!write_all(names, bytes)) return 1;
    create.push_back(seconds_since(start));
    start = Clock::now();
    for (const auto& name : names) unlink(name.c_str());
    remove.push_back(seconds_since(start));
    std::printf("run %d: created in %.2f s (%.1f us a file), removed in %.2f s\n", run + 1,
                create.back(), 1e6 * create.back() / static_cast<double>(names.size()),
                remove.back());
    std::fflush(stdout);
  }
  const double c = median(create);
  std::printf(
      "%s: %zu files of %ld bytes, median of %d runs: created in %.2f s (%.1f us a file), "
      "removed in %.2f s\n",
      argv[1], names.size(), size, runs, c, 1e6 * c / static_cast<double>(names.size()),
      median(remove));
  return 0;
}
