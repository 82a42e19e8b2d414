// Writing stack files: the day results' header with what tells the stack.
#include "stack/output.hpp"

#include <cstring>

#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/ref_time.hpp"

namespace xcn::stack {
namespace {

int text_length(const char* s) { return static_cast<int>(std::strlen(s)); }

void set_real(const char* field, float v) {
  int nerr = 0;
  setfhv(field, &v, &nerr, text_length(field));
}
void set_text(const char* field, const char* v) {
  int nerr = 0;
  setkhv(field, v, &nerr, text_length(field), text_length(v));
}

}  // namespace

std::string write_stack(const StackFile& f, std::span<float> samples, const OutputGuard& guard) {
  const auto tell_stack = [&f] {
    set_header_ref_fields(f.time ? from_ms(*f.time) : RefFields{});
    set_real("USER0", static_cast<float>(f.days));
    set_real("USER1", f.nu.value_or(-12345.0f));
    set_text("KUSER0", f.kind);
  };
  return results::write_sac(f.path, *f.header, tell_stack, samples, guard);
}

std::string make_folder(const std::string& path) {
  // Made, or entered, without following another user's link planted in its place.
  return xcn::make_folder(path);
}

}  // namespace xcn::stack
