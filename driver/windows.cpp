// Window layout of a record, and the stack of a pair.
#include "driver/windows.hpp"

#include <cmath>
#include <cstdlib>

#include "driver/stations.hpp"

namespace xcn {

WindowSettings window_settings(float dt) {
  // The step is timelen * (1 - ovlp) in single precision, 200.0000457763671875, not 200.
  const float step = kTimelen * (1.0f - kOvlp);
  return {static_cast<int>(std::labs(std::lroundf(kTimelen / dt))),
          static_cast<float>(std::labs(std::lroundf(step / dt)))};
}

const char* refuse_sampling(float dt) {
  if (!std::isfinite(dt) || dt <= 0.0f) return "it is not a positive finite number";
  if (kTimelen / dt > static_cast<float>(kCapacity) + 0.5f) {
    return "the 2000 s window would exceed the record capacity of 172800 samples";
  }
  if (window_settings(dt).overlap < 1.0f) return "the window step would be below one sample";
  return nullptr;
}

std::vector<std::size_t> window_offsets(const WindowSettings& w, int nptend) {
  std::vector<std::size_t> offsets;
  // While the window ends at or before the last sample; the start is a float sum of steps.
  for (float startp = 0.0f; startp + static_cast<float>(w.nptlen) < static_cast<float>(nptend + 1);
       startp += w.overlap) {
    offsets.push_back(static_cast<std::size_t>(startp));
  }
  return offsets;
}

void Stack::reset(int nptlen) {
  yall.assign(static_cast<std::size_t>(nptlen), 0.0f);
  count_ = 0.0f;
  counter = 0;
}

void Stack::add(std::span<const float> yyc) {
  for (std::size_t k = 0; k < yall.size(); ++k) yall[k] += yyc[k];
  count_ += 1.0f;
}

void Stack::set_sum(std::span<const float> sum, int count) {
  yall.assign(sum.begin(), sum.end());
  count_ = static_cast<float>(count);
}

void Stack::finish() {
  for (float& v : yall) v /= count_;
  counter = static_cast<int>(count_);
}

}  // namespace xcn
