// Runs the built xcorrnet_v3 (or another program) in a directory and captures what it prints.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/scratch_dir.hpp"

namespace xcn::test {

// Whether the programs under test run with a sanitizer, whose shadow memory swamps their own
// and which cannot start under a limit of address space.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;       // exit status, or 128 + signal
  long max_rss_kib = 0;  // the program's peak resident memory
};

inline std::string read_fd(int fd) {
  std::string s;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
  return s;
}

// A program started in the background, its output going to temporary files.
struct Started {
  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
};

// Starts `program` with `args` in `dir`; `env` entries (NAME=value) are added to the
// environment, and names given as NAME alone are removed from it. `in_child` runs in the child
// just before the program starts (limits, privileges).
inline Started start_program(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& dir,
                             const std::vector<std::string>& env = {},
                             const std::function<void()>& in_child = {}) {
  char out_name[] = "/tmp/xcn-out-XXXXXX";
  char err_name[] = "/tmp/xcn-err-XXXXXX";
  Started s;
  s.out_fd = mkstemp(out_name);
  s.err_fd = mkstemp(err_name);
  unlink(out_name);
  unlink(err_name);
  s.pid = fork();
  if (s.pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(s.out_fd, 1);
    dup2(s.err_fd, 2);
    for (const auto& e : env) {
      const auto eq = e.find('=');
      if (eq == std::string::npos) {
        unsetenv(e.c_str());
      } else {
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
      }
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (in_child) in_child();
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return s;
}

// What a started program has written to standard output so far.
inline std::string output_so_far(const Started& s) {
  std::string text;
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = pread(s.out_fd, buf, sizeof buf, at);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

// Waits for a started program and collects what it printed.
inline RunResult finish_program(Started& s) {
  RunResult r;
  int wstatus = 0;
  struct rusage usage {};
  wait4(s.pid, &wstatus, 0, &usage);
  r.max_rss_kib = usage.ru_maxrss;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  lseek(s.out_fd, 0, SEEK_SET);
  lseek(s.err_fd, 0, SEEK_SET);
  r.out = read_fd(s.out_fd);
  r.err = read_fd(s.err_fd);
  close(s.out_fd);
  close(s.err_fd);
  return r;
}

inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& dir,
                             const std::vector<std::string>& env = {},
                             const std::function<void()>& in_child = {}) {
  Started s = start_program(program, args, dir, env, in_child);
  return finish_program(s);
}

#ifdef XCN_TOOL
// The tool under test: XCN_BIN when set, else the one built beside the tests.
inline std::string tool() {
  const char* bin = std::getenv("XCN_BIN");
  return bin ? bin : XCN_TOOL;
}
#endif

}  // namespace xcn::test
