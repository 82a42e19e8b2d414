// Runs of the tool under mpirun for the tests of divided runs: the launcher's arguments, each
// rank's output, and the ranks a launcher started.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/network.hpp"

namespace xcn::test {

// mpirun's own arguments. Each rank's output goes to a file of its own under "ranks", unless
// `merged`: then mpirun's own output is the run's.
inline std::vector<std::string> mpirun_options(int ranks, const std::vector<std::string>& env,
                                               bool merged = false) {
  std::vector<std::string> args = {"--oversubscribe", "-np", std::to_string(ranks)};
  if (!merged) {
    args.push_back("--output-filename");
    args.push_back("ranks");
  }
  if (geteuid() == 0) args.insert(args.begin(), "--allow-run-as-root");
  for (const auto& e : env) {
    args.push_back("-x");
    args.push_back(e);
  }
  return args;
}

// The tool on the network's station list, writing to `out` (the name list, or a container).
inline std::vector<std::string> launcher(int ranks, const std::vector<std::string>& env,
                                         bool merged = false, const std::string& out = "names") {
  std::vector<std::string> args = mpirun_options(ranks, env, merged);
  args.push_back(tool());
  args.push_back("stations");
  args.push_back(out);
  return args;
}

inline std::vector<std::string> with_defaults(std::vector<std::string> env) {
  env.push_back("OMP_NUM_THREADS=1");
  env.push_back(std::string("SACAUX=") + std::getenv("SACAUX"));
  return env;
}

// Shared memory without the kernel's cross-process copy, which containers often refuse.
inline const std::vector<std::string> kMpiEnv = {"OMPI_MCA_btl_vader_single_copy_mechanism=none"};

// mpirun with `args` in the network's folder: rank 0's output first, then the others' in rank
// order.
inline RunResult run_launcher(const Network& net, int ranks, const std::vector<std::string>& args) {
  std::filesystem::remove_all(net.file("ranks"));
  const RunResult launched = run_program(XCN_MPIEXEC, args, net.dir(), kMpiEnv);
  RunResult r;
  r.status = launched.status;
  for (int k = 0; k < ranks; ++k) {
    const std::filesystem::path dir = net.file("ranks") / "1" / ("rank." + std::to_string(k));
    r.out += read_bytes(dir / "stdout");
    r.err += read_bytes(dir / "stderr");
  }
  std::filesystem::remove_all(net.file("ranks"));
  return r;
}

inline RunResult run_ranks(const Network& net, int ranks, const std::string& mode,
                           const std::string& replace, const std::vector<std::string>& env = {},
                           const std::string& out = "names") {
  std::vector<std::string> args = launcher(ranks, with_defaults(env), false, out);
  args.push_back(mode);
  args.push_back(replace);
  return run_launcher(net, ranks, args);
}

// The ranks mpirun started, by their parent.
inline std::vector<pid_t> children_named(pid_t parent, const std::string& comm) {
  std::vector<pid_t> found;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && text.substr(open + 1, close - open - 1) == comm) {
      found.push_back(static_cast<pid_t>(std::stoi(pid)));
    }
  }
  return found;
}

}  // namespace xcn::test
