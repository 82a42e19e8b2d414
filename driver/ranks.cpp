// MPI behind the driver's collective steps; the same calls without MPI for a single process.
#include "driver/ranks.hpp"

#include <cstdlib>

#ifdef XCN_MPI
#include <mpi.h>
#endif

namespace xcn::ranks {

#ifdef XCN_MPI

namespace {

// MPI is started only under a launcher (mpirun, mpiexec, srun): run by itself the tool is one
// process as in a build without MPI, and never meets a singleton start-up's limits (it fails
// under a small file-size limit, for one).
bool active = false;

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
  // Only the main thread talks to MPI; the OpenMP workers never do.
  MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided);
  active = true;
}

Session::~Session() {
  if (active) MPI_Finalize();
  active = false;
}

int rank() {
  if (!active) return 0;
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

int size() {
  if (!active) return 1;
  int s = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &s);
  return s;
}

void barrier() {
  if (active) MPI_Barrier(MPI_COMM_WORLD);
}

int max_of(int value) {
  if (!active) return value;
  int out = value;
  MPI_Allreduce(&value, &out, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return out;
}

std::vector<std::int64_t> sum_of(std::vector<std::int64_t> counts) {
  if (!active) return counts;
  std::vector<std::int64_t> out(counts.size());
  MPI_Allreduce(counts.data(), out.data(), static_cast<int>(counts.size()), MPI_INT64_T, MPI_SUM,
                MPI_COMM_WORLD);
  return out;
}

void broadcast(std::vector<unsigned char>& bytes) {
  if (!active) return;
  std::uint64_t count = bytes.size();
  MPI_Bcast(&count, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  bytes.resize(count);
  // In pieces: a count of MPI is an int.
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 30;
  for (std::uint64_t at = 0; at < count; at += kPiece) {
    const int n = static_cast<int>(count - at < kPiece ? count - at : kPiece);
    MPI_Bcast(bytes.data() + at, n, MPI_BYTE, 0, MPI_COMM_WORLD);
  }
}

void abort_all(int status) {
  if (active) MPI_Abort(MPI_COMM_WORLD, status);
  std::_Exit(status);
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
void abort_all(int status) { std::_Exit(status); }

#endif

}  // namespace xcn::ranks
