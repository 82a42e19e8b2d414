// MPI behind the driver's collective steps; the same calls without MPI for a single process.
#include "driver/ranks.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#ifdef XCN_MPI
#include <mpi.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#endif

namespace xcn::ranks {

namespace {

// A launcher's count or index of its tasks from the first of these variables that is set.
int launcher_value(std::initializer_list<const char*> names, int fallback) {
  for (const char* name : names) {
    if (const char* v = std::getenv(name); v != nullptr && *v != '\0') return std::atoi(v);
  }
  return fallback;
}

// The reason the first write to standard output failed (0 while none has).
std::atomic<int> output_error{0};

}  // namespace

int output_failure() { return output_error.load(); }

namespace {

// Standard output with one call, flushed at once.
void write_out(const char* data, std::size_t size) {
  const bool whole = std::fwrite(data, 1, size, stdout) == size;
  if ((std::fflush(stdout) != 0 || !whole) && output_error.load() == 0) {
    output_error.store(errno != 0 ? errno : EIO);
  }
}

Tasks launcher_tasks() {
  Tasks t;
  // srun sets its step's task count only inside a step, not in a batch script.
  t.count = launcher_value({"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "SLURM_STEP_NUM_TASKS"}, 1);
  t.index = launcher_value({"OMPI_COMM_WORLD_RANK", "PMI_RANK", "PMIX_RANK", "SLURM_PROCID"}, 0);
  return t;
}

}  // namespace

#ifdef XCN_MPI

namespace {

// MPI is started only under a launcher (mpirun, mpiexec, srun): run by itself the tool is one
// process as in a build without MPI, and never meets a singleton start-up's limits (it fails
// under a small file-size limit, for one).
bool active = false;
// Whether MPI may be called from a thread other than the main one, one call at a time: the
// relay's thread talks to MPI while the main thread runs the pair loop.
bool threads = false;
// This process's rank and the rank count, kept once MPI has started.
int own_rank = 0;
int ranks_count = 1;

bool launched() {
  for (const char* v : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"}) {
    if (std::getenv(v) != nullptr) return true;
  }
  return false;
}

}  // namespace

Session::Session(int* argc, char*** argv) {
  if (!launched()) return;
  int provided = 0;
  // The OpenMP workers never talk to MPI; the line relay's thread does, apart from the main one.
  MPI_Init_thread(argc, argv, MPI_THREAD_MULTIPLE, &provided);
  active = true;
  threads = provided >= MPI_THREAD_SERIALIZED;
  MPI_Comm_rank(MPI_COMM_WORLD, &own_rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks_count);
}

Session::~Session() {
  if (active) MPI_Finalize();
  active = false;
}

int rank() { return active ? own_rank : 0; }

int size() { return active ? ranks_count : 1; }

namespace {

// Waits for a collective step by looking now and then: a rank that waits long (for rank 0 to
// read every record, for the slowest rank's pairs) leaves its processor to the ranks that work
// beside it, where MPI's own wait would spin.
void wait_for(MPI_Request& request) {
  int done = 0;
  for (;;) {
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

void barrier() {
  if (!active) return;
  MPI_Request request;
  MPI_Ibarrier(MPI_COMM_WORLD, &request);
  wait_for(request);
}

int max_of(int value) {
  if (!active) return value;
  int out = value;
  MPI_Request request;
  MPI_Iallreduce(&value, &out, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
  wait_for(request);
  return out;
}

std::vector<std::int64_t> sum_of(std::vector<std::int64_t> counts) {
  if (!active) return counts;
  std::vector<std::int64_t> out(counts.size());
  MPI_Request request;
  MPI_Iallreduce(counts.data(), out.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM,
                 MPI_COMM_WORLD, &request);
  wait_for(request);
  return out;
}

namespace {

// Rank `root`'s bytes, on every rank.
void broadcast_from(int root, std::vector<unsigned char>& bytes) {
  std::uint64_t count = bytes.size();
  MPI_Request request;
  MPI_Ibcast(&count, 1, MPI_UINT64_T, root, MPI_COMM_WORLD, &request);
  wait_for(request);
  bytes.resize(count);
  // In pieces: a count of MPI is an int.
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 30;
  for (std::uint64_t at = 0; at < count; at += kPiece) {
    const int n = static_cast<int>(count - at < kPiece ? count - at : kPiece);
    MPI_Ibcast(bytes.data() + at, n, MPI_BYTE, root, MPI_COMM_WORLD, &request);
    wait_for(request);
  }
}

}  // namespace

void broadcast(std::vector<unsigned char>& bytes) {
  if (active) broadcast_from(0, bytes);
}

std::string first_failure(const std::string& why) {
  if (!active) return why;
  const int own = why.empty() ? ranks_count : own_rank;
  int root = own;
  MPI_Request request;
  MPI_Iallreduce(&own, &root, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD, &request);
  wait_for(request);
  if (root == ranks_count) return {};
  std::vector<unsigned char> bytes(why.begin(), why.end());
  broadcast_from(root, bytes);
  return std::string(bytes.begin(), bytes.end());
}

void abort_all(int status) {
  if (active) MPI_Abort(MPI_COMM_WORLD, status);
  std::_Exit(status);
}

Tasks unjoined_tasks() { return active ? Tasks{} : launcher_tasks(); }

namespace {

constexpr int kLinesTag = 17;
// Lines are gathered this long before they are sent, and rank 0 looks for them as often.
constexpr auto kGather = std::chrono::milliseconds(10);
constexpr auto kLook = std::chrono::milliseconds(2);

struct Relay {
  std::mutex mutex;
  std::condition_variable wake;
  std::string outbox;  // lines printed here and not yet sent
  bool closing = false;
  std::thread thread;
};
// The open relay; set and cleared by the main thread while no worker prints.
Relay* relay = nullptr;

// Rank 0: every other rank's lines as they come, until each has sent its last (an empty
// message).
void print_others() {
  int open = size() - 1;
  std::vector<char> lines;
  while (open > 0) {
    int found = 0;
    MPI_Status status;
    MPI_Iprobe(MPI_ANY_SOURCE, kLinesTag, MPI_COMM_WORLD, &found, &status);
    if (found == 0) {
      std::this_thread::sleep_for(kLook);
      continue;
    }
    int count = 0;
    MPI_Get_count(&status, MPI_CHAR, &count);
    lines.resize(static_cast<std::size_t>(count) + 1);
    MPI_Recv(lines.data(), count, MPI_CHAR, status.MPI_SOURCE, kLinesTag, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
    if (count == 0) {
      --open;
    } else {
      write_out(lines.data(), static_cast<std::size_t>(count));
    }
  }
}

// Another rank: its lines to rank 0, gathered for a while, until the relay closes.
void send_own(Relay& r) {
  for (;;) {
    std::string lines;
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(r.mutex);
      r.wake.wait(lock, [&] { return !r.outbox.empty() || r.closing; });
      lines.swap(r.outbox);
      last = r.closing;
    }
    // In pieces: a count of MPI is an int. A piece ends at a line's end.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (std::size_t at = 0; at < lines.size();) {
      std::size_t end = lines.size();
      if (end - at > kPiece) end = lines.rfind('\n', at + kPiece) + 1;
      MPI_Send(lines.data() + at, static_cast<int>(end - at), MPI_CHAR, 0, kLinesTag,
               MPI_COMM_WORLD);
      at = end;
    }
    if (last) {
      MPI_Send(nullptr, 0, MPI_CHAR, 0, kLinesTag, MPI_COMM_WORLD);
      return;
    }
    std::this_thread::sleep_for(kGather);
  }
}

}  // namespace

LineRelay::LineRelay() {
  if (!active || !threads || size() < 2) return;
  std::fflush(stdout);
  relay = new Relay;
  relay->thread = rank() == 0 ? std::thread(print_others) : std::thread(send_own, std::ref(*relay));
}

LineRelay::~LineRelay() {
  if (relay == nullptr) return;
  {
    const std::lock_guard<std::mutex> lock(relay->mutex);
    relay->closing = true;
  }
  relay->wake.notify_one();
  relay->thread.join();
  delete relay;
  relay = nullptr;
}

void print_lines(std::string_view text) {
  if (relay == nullptr || rank() == 0) {
    write_out(text.data(), text.size());
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(relay->mutex);
    relay->outbox += text;
  }
  relay->wake.notify_one();
}

#else

Session::Session(int*, char***) {}
Session::~Session() = default;
int rank() { return 0; }
int size() { return 1; }
void barrier() {}
int max_of(int value) { return value; }
std::vector<std::int64_t> sum_of(std::vector<std::int64_t> counts) { return counts; }
void broadcast(std::vector<unsigned char>&) {}
std::string first_failure(const std::string& why) { return why; }
void abort_all(int status) { std::_Exit(status); }
Tasks unjoined_tasks() { return launcher_tasks(); }
LineRelay::LineRelay() = default;
LineRelay::~LineRelay() = default;
void print_lines(std::string_view text) { write_out(text.data(), text.size()); }

#endif

}  // namespace xcn::ranks
