// Stacks into one container: rows as pairs finish, the pairs' values and days at the end, the
// hidden file named once whole.
#include "stack/container_out.hpp"

#include <sys/stat.h>

#include "driver/input/list_file.hpp"
#include "geodesy/distaz.hpp"
#include "results/read_result.hpp"
#include "sacio/header_model.hpp"
#include "sacio/ref_time.hpp"
#include "sacio/write.hpp"

namespace xcn::stack {

std::string sub_container_name(const std::string& out, const std::string& sub) {
  return out.substr(0, out.size() - 3) + "." + sub + ".nc";
}

void names_of_stack(const std::string& name, std::string& first, std::string& second) {
  std::string stem = name;
  if (stem.ends_with(".sac")) stem.resize(stem.size() - 4);
  const auto cut = stem.find('_');
  first = stem.substr(0, cut);
  second = cut == std::string::npos ? std::string() : stem.substr(cut + 1);
}

results::ContainerPair stack_pair_values(const results::SavedHeader& header,
                                         const std::optional<std::int64_t>& time,
                                         std::span<const float> samples) {
  const std::lock_guard<std::mutex> hold(results::library_lock());
  results::restore_header(header);
  set_header_ref_fields(time ? from_ms(*time) : RefFields{});
  // What a write of the stack's SAC file makes of its header.
  extrma(samples.data(), 1, static_cast<int>(samples.size()), &Fhdr(kDepmin), &Fhdr(kDepmax),
         &Fhdr(kDepmen));
  update_distaz();
  results::ContainerPair p = results::pair_of_header();
  p.time = time;
  return p;
}

std::unique_ptr<StackContainer> StackContainer::begin(const std::string& path,
                                                      const results::ContainerRun& head,
                                                      std::size_t rows,
                                                      const results::OutputGuard& guard,
                                                      std::string& why) {
  std::unique_ptr<StackContainer> c(new StackContainer());
  c->path_ = path;
  std::string error;
  if (!output_target(path, c->target_, c->mode_, error)) {
    why = "the container " + error;
    return nullptr;
  }
  const auto refused = [&](const std::string& reason) {
    why = "container \"" + path + "\" could not be written: " + reason;
    return nullptr;
  };
  if (std::string r = guard.refusal(c->target_); !r.empty()) return refused(r);
  struct stat st;
  if (::stat(c->target_.c_str(), &st) == 0) {
    // Only a container of this tool's is replaced.
    std::string not_ours;
    if (!results::ContainerReader::open(c->target_, not_ours)) {
      return refused("it is no run container of xcorrnet_v3 (" + not_ours + "); left as it is");
    }
  }
  if (!c->hidden_.begin(c->target_, error)) return refused("cannot begin it beside it: " + error);
  c->file_ = results::ContainerWriter::create(c->hidden_.path(), head, rows, error);
  if (!c->file_) return refused(error);
  c->pairs_.resize(rows);
  c->days_.assign(rows, -1);
  return c;
}

bool StackContainer::put(std::size_t row, const results::ContainerPair& values, int days,
                         std::span<const float> ccf, std::span<const float> second,
                         std::string& why) {
  const std::lock_guard<std::mutex> hold(lock_);
  const bool ok =
      file_->put(row, ccf, why) && (second.empty() || file_->put_second(row, second, why));
  if (!ok) {
    if (failure_.empty()) failure_ = why;
    return false;
  }
  pairs_[row] = values;
  days_[row] = days;
  return true;
}

bool StackContainer::complete(std::string& why) {
  const std::lock_guard<std::mutex> hold(lock_);
  bool ok = failure_.empty();
  if (!ok) why = failure_;
  ok = ok && file_->put_ints("days", days_, why) && file_->close(pairs_, why);
  file_.reset();
  ok = ok && hidden_.publish(mode_, why);
  hidden_.discard();
  return ok;
}

}  // namespace xcn::stack
