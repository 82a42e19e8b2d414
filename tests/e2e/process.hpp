// Runs the built xcorrnet_v3 (or another program) in a directory and captures what it prints.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace xcn::test {

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

inline std::string read_fd(int fd) {
  std::string s;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
  return s;
}

// Runs `program` with `args` in `dir`; `env` entries (NAME=value) are added to the environment,
// and names given as NAME alone are removed from it.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& dir,
                             const std::vector<std::string>& env = {}) {
  char out_name[] = "/tmp/xcn-out-XXXXXX";
  char err_name[] = "/tmp/xcn-err-XXXXXX";
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  unlink(out_name);
  unlink(err_name);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
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
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  RunResult r;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  lseek(out_fd, 0, SEEK_SET);
  lseek(err_fd, 0, SEEK_SET);
  r.out = read_fd(out_fd);
  r.err = read_fd(err_fd);
  close(out_fd);
  close(err_fd);
  return r;
}

// The tool under test, from the XCN_BIN environment variable set by CTest.
inline std::string tool() {
  const char* bin = std::getenv("XCN_BIN");
  return bin ? bin : "xcorrnet_v3";
}

// A fresh scratch directory, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/xcn-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace xcn::test
