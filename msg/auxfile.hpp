// The library's auxiliary directory (SACAUX), path joining, existence tests and text files:
// what the message table needs to find and read its file.
//
// These routines compose messages in the message store but never output them.
#pragma once

#include <cstdio>

namespace xcn {

// Value of SACAUX, read once; ends the process with status 1 when it is not set.
const char* sacaux();
// Fills a field of `length` bytes with the SACAUX directory, blank-padded and terminated at
// position length - 1; ends the process with status 1 when the directory does not fit.
void zbasename(char* field, int length);
// Appends the delimiter and the name after the last non-blank of path (error 916 if no room).
void crname(char* path, int path_length, char delimiter, const char* name, int name_length,
            int* nerr);
// exists = 1 when a file of that name (trailing white space removed) exists, else 0.
void zinquire(const char* name, int* exists);
// The piece error 101 appends after the name of something that is not a regular file.
inline constexpr char kNotRegularFile[] = "(Not a regular file.)";

// Opens an existing text file for reading; types TEXT, ROTEXT, READ. Only a regular file is
// opened, and the open never waits (error 101 for a pipe, a device or a directory).
void zopens(std::FILE** stream, const char* name, int name_length, const char* type,
            int type_length, int* nerr);
void zcloses(std::FILE** stream, int* nerr);

namespace detail {
// Test hook: forgets the cached SACAUX so that the next use reads the environment again.
void forget_sacaux();
}  // namespace detail

}  // namespace xcn
