// Data files of the SAC library: open by type name, create, read words at a word offset,
// close and delete.
//
// A handle holds the negated descriptor: negative is open, 0 never opened, 1 a failed open.
// These routines compose messages in the message store but never output them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace xcn {

inline constexpr char kAccessRefused[] = "(Insufficient access rights.)";
inline constexpr char kSystemError[] = "(System error occurred.)";

// Open status of a name that is not a regular file (a directory, FIFO, device or socket), for
// an open and for the writer's refusal to replace one.
inline constexpr int kOpenNotRegular = 3;

// Primitive open (create nonzero: create or truncate; a new file gets 0666 less the umask).
// status: 0 success, 1 access refused, 2 any other failure (creating over a name that is not a
// regular file among them), 3 (opening only) not a regular file. No open waits.
void zopenc(int* handle, const char* name, const int* create, const int* readonly, int* status,
            int name_length);
// Opens an existing data file; types DATA (read-write) and RODATA (read-only).
void zopen_sac(int* handle, const char* name, int name_length, const char* type, int type_length,
               int* nerr);
// Creates a data file (type DATA), truncating an existing one.
void znfile(int* handle, const char* name, int name_length, const char* type, int type_length,
            int* nerr);
// Reads count 32-bit words from word offset; 114 when fewer bytes come.
void zrabs(const int* handle, void* buffer, int count, const int* offset, int* nerr);
void zclose(const int* handle, int* nerr);
void zclosec(const int* handle);
// Deletes an existing file; nerr is the result of the deletion, 108 when it does not exist.
void zdest(const char* name, int name_length, int* nerr);
void zgetc(const void* source, void* destination, int n);

// Shared by the file layer and the writer.
// Turns a fresh descriptor into one that can become a handle: 0 would read as "never opened".
int lift_descriptor(int fd);
// Reads exactly `bytes` bytes at a byte offset; false on a short read or an error.
bool read_fully(int fd, void* buffer, std::size_t bytes, off_t offset);
// Writes all bytes at the current position; false on a short write or an error.
bool write_fully(int fd, const void* buffer, std::size_t bytes);
// The two status texts of a failed open.
const char* open_status_text(int status);

// An open descriptor, closed with the object.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Where a walk along a path ended: the folder reached, open for use as the folder of the *at
// calls, and the last name of the path (for open_parent); or the errno of the failure, with
// `link` naming a symbolic link the walk refused to follow (error EACCES then).
struct PathWalk {
  Descriptor folder;
  std::string leaf;
  int error = 0;
  std::string link;
  int made = 0;  // folders that open_folder made
};

// Symbolic links on the way to a file we write are followed as the kernel follows them, except
// in a folder that others can write (its group or everyone): there a link is followed only
// when it belongs to the user running the program or to the folder's owner, as the kernel does
// in sticky world-writable folders. Another user's link there could send our files into any
// folder of ours. Paths are taken from `base` (AT_FDCWD: the working folder) unless absolute.
// Opens the folder that holds the last name of `path`; the last name itself is not looked at.
// `base_shown` is how messages name `base` (the folder of a link whose target this is).
PathWalk open_parent(int base, std::string_view path, std::string_view base_shown = {});
// Opens the folder `path` itself; with `make`, each missing folder is made (0777 less the
// umask) and entered without following anything put in its place meanwhile.
PathWalk open_folder(int base, std::string_view path, bool make);
// For writers that go by name: the first symbolic link on the way to `path`, its last name
// included, that the rule would not follow; empty when there is none.
std::string refused_link(const std::string& path);
// Why a file was not written when the walk to it refused `link`, in a few words.
std::string link_refusal(const std::string& link);
// The walk's failure in a few words: the refused link, or the system's reason.
std::string walk_failure(const PathWalk& walk);
// The folder `path`, made where missing under the rule of open_folder: "" when it is there,
// else why not (as walk_failure, or "it is not a folder" for something else in the way).
std::string make_folder(const std::string& path);

}  // namespace xcn
