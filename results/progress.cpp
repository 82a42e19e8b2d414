// The pair loop's progress on standard error.
#include "results/progress.hpp"

#include <string>

namespace xcn::results {

Progress::Progress(std::FILE* err, const char* program, const char* done, long total, bool terminal)
    : err_(err), program_(program), verb_(done), total_(total), terminal_(terminal) {}

void Progress::step() {
  const std::lock_guard<std::mutex> hold(lock_);
  draw(++done_);
}

void Progress::draw(long done) {
  if (total_ <= 0) return;
  const int percent = static_cast<int>(done * 100 / total_);
  if (terminal_) {
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kWidth - filled), ' ');
    std::fprintf(err_, "\r%s: [%s] %3d%% (%ld of %ld pairs)", program_, bar.c_str(), percent, done,
                 total_);
    std::fflush(err_);
    return;
  }
  const int tenth = percent / 10;
  if (tenth == shown_ || (tenth == 0 && done < total_)) return;
  shown_ = tenth;
  std::fprintf(err_, "%s: %d%% of %ld pairs %s\n", program_, tenth * 10, total_, verb_);
}

void Progress::finish() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (terminal_ && shown_ >= 0) std::fputc('\n', err_);
  std::fflush(err_);
}

}  // namespace xcn::results
