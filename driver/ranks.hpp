// The processes of a run started by MPI, and the few collective steps the driver needs. Built
// without MPI, a run is rank 0 of 1 and every step is a no-op.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xcn::ranks {

// Starts MPI (when built with it) for the life of the object, and ends it on every path out.
class Session {
 public:
  Session(int* argc, char*** argv);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

int rank();
int size();
void barrier();
// The largest of every rank's value, on every rank.
int max_of(int value);
// Element-wise sums of every rank's counts, on every rank.
std::vector<std::int64_t> sum_of(std::vector<std::int64_t> counts);
// Rank 0's bytes, on every rank.
void broadcast(std::vector<unsigned char>& bytes);
// The failure of the lowest rank whose `why` is not empty, on every rank; empty when no rank
// failed. A step that any rank may fail ends the same way on every rank.
std::string first_failure(const std::string& why);
// When a launcher started this process as one of several tasks that MPI does not join into one
// run (srun without its MPI plugin, or a build without MPI under mpirun): how many tasks, and
// which one this is (0-based). Each such task would compute every pair. Otherwise {1, 0}.
struct Tasks {
  int count = 1;
  int index = 0;
};
Tasks unjoined_tasks();

// Ends every rank of the run at once with this status (a fault that one rank met alone).
[[noreturn]] void abort_all(int status);

// While open on every rank of a divided run, the lines the other ranks print on standard output
// reach rank 0 in whole lines and rank 0 prints them: mpirun forwards each rank's output in
// pieces of its own size, which would cut one rank's line with another's. Closing waits for
// every rank's last lines (rank 0) or sends this rank's (the others).
class LineRelay {
 public:
  LineRelay();
  ~LineRelay();
  LineRelay(const LineRelay&) = delete;
  LineRelay& operator=(const LineRelay&) = delete;
};
// Writes `text` (whole lines, each with its newline) to standard output with one call, through
// rank 0 while a relay is open.
void print_lines(std::string_view text);
// The reason (an errno value) the first of those writes failed, 0 while none has.
int output_failure();

}  // namespace xcn::ranks
