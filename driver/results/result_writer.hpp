// The result writer: the progress line of a computed pair and its result file, written under
// the one lock that every use of the SAC library from the workers takes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "driver/console.hpp"
#include "driver/engines/windows.hpp"
#include "driver/geometry.hpp"
#include "driver/pairs.hpp"
#include "driver/results/result_sink.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"

namespace xcn {

// One process-wide lock around every use of the SAC library from the pair loop.
std::mutex& library_lock();

// Hands a computed pair with its progress line to the run's sink; without one, prints the line
// and writes its result file with its final header. A write that fails gets a line on standard
// error and counts in the run's tally.
void finish_pair(const Run& run, int ij, const Geometry& g, Stack& stack);

// The writer of a run's result files: a thread that writes the files the workers have made,
// so that the disk works while the next pairs are correlated. Each file is still written once,
// whole, through a temporary and a rename, its progress line printed just before it. When the
// queue holds its fill the worker that brings the next file writes it itself.
class ResultWriter {
 public:
  explicit ResultWriter(const Run& run);
  // Writes what is queued, then ends the thread.
  ~ResultWriter();
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;

  // Prints the progress line of pair ij and writes its file from its image, now or soon.
  void put(int ij, const ConsoleLine& progress, SacImage image);
  // Returns once every file put is written (or has failed and is counted).
  void finish();

 private:
  struct Queued {
    int ij = 0;
    ConsoleLine progress;
    SacImage image;
  };
  void drain();

  const Run& run_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<Queued> queue_;
  std::size_t held_ = 0;  // bytes of the queued images and of those being written
  bool closing_ = false;
  bool idle_ = false;  // the writer waits for files
  std::thread thread_;
};

// The SAC way out: one file per pair, each written whole with its final header by the writer's
// thread, then the header pass over every listed result.
class SacFiles final : public ResultSink {
 public:
  explicit SacFiles(const Run& run);
  void put(int ij, const Geometry& g, Stack& stack, const ConsoleLine& progress) override;
  void finish() override;
  void complete(std::FILE* err) override;

 private:
  const Run& run_;
  ResultWriter writer_;
};

// Begin time of a result of nptlen samples at dt: lag 0 at sample nptlen/2 + 1.
float result_begin(int nptlen, float dt);
// Whether a SAC file's time axis is that of a result (a record's is not): the tool replaces or
// completes nothing else under a result's name.
bool holds_correlation(int npts, float b, float dt);

// Why an existing SAC file under a result's name is left as it is by every run, a rerun with
// Y included: its time axis is not a result's (a station record under a result's name), or
// its owner locked it (LOVROK false). Empty when the tool may replace or complete it.
std::string kept_as_is(int npts, float b, float dt, int lovrok);

// The event name of pair (a, b): both station names without leading blanks, joined by a hyphen
// (the header keeps its first 16 characters).
std::string pair_event_name(const Station& a, const Station& b);

// The reference time of pair (i, j)'s result, when both records are dated (results of different
// days can then be told apart): the start of the first window of the run's grid that both
// records could hold, as they time it, so that no other record of the run changes it; none
// otherwise.
std::optional<RefFields> result_date(const Run& run, int i, int j);

// Sets, on a fresh header, the final header of pair (i, j) for np samples at dt from b: both
// stations, the event name "STA1-STA2" and the pair geometry g. The pair loop writes a result
// with it, and the header pass completes an existing result with it.
void set_final_header(const Run& run, int i, int j, const Geometry& g, int np, float dt, float b);

// Why wsac0 failed: the system's reason (`error`, errno after the call) or, when no system
// call failed, the meaning of its error number.
std::string write_failure(int nerr, int error);
// Why writing an image failed: a link on the way that was not followed, or as write_failure.
std::string image_failure(const ImageWrite& w);

// Header fields of the current header by name, from blank-padded text or a value.
void set_text(const char* field, const char* value, int length);
void set_real(const char* field, float value);
void set_integer(const char* field, int value);

}  // namespace xcn
