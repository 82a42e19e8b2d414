// The auxiliary directory from SACAUX, path joining, existence tests and text files.
#include "msg/auxfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msg/message.hpp"
#include "msg/text.hpp"

namespace xcn {

namespace {

// Read at the first use and kept for the life of the process.
const char* aux = nullptr;

std::string& saved_aux() {
  static std::string saved;
  return saved;
}

// The first `length` characters of a text, fewer at a terminator; all of it when negative.
std::string field_text(const char* text, int length) {
  if (text == nullptr) return {};
  const std::size_t n =
      length < 0 ? std::strlen(text) : strnlen(text, static_cast<std::size_t>(length));
  return std::string(text, n);
}

std::string without_trailing_space(std::string text) {
  text.resize(std::strlen(rstrip(text.data())));
  return text;
}

bool begins_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void append_piece(const std::string& piece) {
  apcmsg(piece.c_str(), static_cast<int>(piece.size()) + 1);
}

}  // namespace

const char* sacaux() {
  if (aux != nullptr) return aux;
  const char* value = std::getenv("SACAUX");
  if (value == nullptr) {
    std::fputs("ERROR: Environmental variable SACAUX not defined.\n", stderr);
    std::exit(1);
  }
  // A private copy: later changes to the environment must not move it.
  saved_aux() = value;
  aux = saved_aux().c_str();
  return aux;
}

void detail::forget_sacaux() { aux = nullptr; }

void zbasename(char* field, int length) {
  const char* dir = sacaux();
  const long n = static_cast<long>(std::strlen(dir));
  if (n > static_cast<long>(length) - 1) {
    std::fprintf(stderr, "ERROR: Enviornment variable SACAUX too long: max: %d SACAUX: %ld\n",
                 length - 1, n);
    std::exit(1);
  }
  std::memcpy(field, dir, static_cast<std::size_t>(n));
  std::memset(field + n, ' ', static_cast<std::size_t>(length - 1 - n));
  field[length - 1] = '\0';
}

void crname(char* path, int path_length, char delimiter, const char* name, int name_length,
            int* nerr) {
  *nerr = 0;
  const int n = indexb(path, path_length);
  const int m = indexb(name, name_length);
  if (n + m + 1 > path_length - 1) {
    *nerr = 916;
    error(916, "%.*s", m, name);
    return;
  }
  std::string piece(1, delimiter);
  piece.append(name, static_cast<std::size_t>(m));
  subscpy(path, n, -1, path_length - 1, piece.c_str());
}

void zinquire(const char* name, int* exists) {
  *exists = 0;
  if (name == nullptr || name[0] == '\0') return;
  const std::string trimmed = without_trailing_space(name);
  if (!trimmed.empty() && access(trimmed.c_str(), F_OK) == 0) *exists = 1;
}

void zopens(std::FILE** stream, const char* name, int name_length, const char* type,
            int type_length, int* nerr) {
  *nerr = 0;
  const std::string file = without_trailing_space(field_text(name, name_length));
  const std::string kind = field_text(type, type_length);

  int exists = 0;
  zinquire(file.c_str(), &exists);
  if (exists == 0) {
    *nerr = 108;
    setmsg("ERROR", 108);
    append_piece(file);
    return;
  }
  if (!begins_with(kind, "TEXT") && !begins_with(kind, "ROTEXT") && !begins_with(kind, "READ")) {
    *nerr = 101;
    setmsg("ERROR", 101);
    append_piece(file);
    apcmsg("(Bad value for file type =", 27);
    append_piece(kind);
    apcmsg(")", 2);
    return;
  }
  // A pipe under the name would hold the process until some program writes to it, and a
  // directory or a device is no text: the open never waits, and keeps only a regular file.
  std::FILE* opened = nullptr;
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    *nerr = 101;
    setmsg("ERROR", 101);
    append_piece(file);
    apcmsg(kNotRegularFile, sizeof kNotRegularFile);
    return;
  }
  if (fd >= 0) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    opened = ::fdopen(fd, "r");
    if (opened == nullptr) ::close(fd);
  }
  if (opened == nullptr) {
    *nerr = 101;
    setmsg("ERROR", 101);
    append_piece(file);
    apcmsg("(Fortran i/o error number =", 28);
    apimsg(1);
    apcmsg(")", 2);
    return;
  }
  *stream = opened;
}

void zcloses(std::FILE** stream, int* nerr) {
  if (stream == nullptr || *stream == nullptr) {
    *nerr = -1;
    return;
  }
  *nerr = std::fclose(*stream) == 0 ? 0 : -1;
  // A closed stream must not be closed twice.
  *stream = nullptr;
}

}  // namespace xcn
