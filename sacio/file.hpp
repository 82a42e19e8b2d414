// Data files of the SAC library: open by type name, create, read words at a word offset,
// close and delete.
//
// A handle holds the negated descriptor: negative is open, 0 never opened, 1 a failed open.
// These routines compose messages in the message store but never output them.
#pragma once

#include <sys/types.h>

#include <cstddef>

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

}  // namespace xcn
