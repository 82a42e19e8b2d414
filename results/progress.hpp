// Progress of a program's pair loop on standard error: a bar redrawn in place on a terminal, a
// plain line every tenth otherwise (a log keeps no carriage returns).
#pragma once

#include <cstdio>
#include <mutex>

namespace xcn::results {

class Progress {
 public:
  // Lines begin with `program` ("xcn_stack") and count pairs `done` ("stacked").
  Progress(std::FILE* err, const char* program, const char* done, long total, bool terminal);
  // One more pair done; any worker may call it.
  void step();
  // Ends the bar's line.
  void finish();

 private:
  void draw(long done);

  std::FILE* err_;
  const char* program_;
  const char* verb_;
  long total_;
  bool terminal_;
  std::mutex lock_;
  long done_ = 0;
  int shown_ = -1;  // the percentage, or tenth, last shown
};

}  // namespace xcn::results
