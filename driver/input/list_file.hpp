// Reading a list file line by line, as the tool and its helpers read their lists, and the name
// or entry the tool takes from one line. Shared by xcorrnet_v3 and the helper programs; it
// depends on nothing else of the driver.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/limits.hpp"

namespace xcn {

inline constexpr std::size_t kMaxLine = 65536;  // characters kept of one list line

// How long a named pipe given as a list may go without a program opening it for writing.
inline constexpr std::chrono::milliseconds kPipeWriterWait{10000};

using Name = std::array<char, kNameWidth>;

// One line of a list file: its first kMaxLine characters, and how many it has in all.
struct ListLine {
  std::string text;
  std::size_t length = 0;
  bool operator==(const ListLine&) const = default;
};

struct ListFileRules {
  bool create_missing = false;  // a list that does not exist is created empty (the tool's rule)
  std::chrono::milliseconds writer_wait = kPipeWriterWait;
};

// Lines of a list file: LF, CR LF and CR end a line, and a last line without an end counts
// too; a UTF-8 byte-order mark before the first line is not part of it. Only regular files and
// pipes are read (a list may be `<(ls *.sac)`); a named pipe that no program opens for writing
// within `writer_wait` is refused rather than waited on for ever. False, with `error` such as
// `cannot open the station list "x": it is a directory`, when the list cannot be read.
bool read_list_lines(const std::string& path, const char* what, const ListFileRules& rules,
                     std::vector<ListLine>& lines, std::string& error);

// The whole of a file read by the same rules as the lists, at most `limit` bytes: more is
// refused (`cannot read the metadata file "x": it holds more than 512 MiB`) rather than held.
bool read_list_bytes(const std::string& path, const char* what, const ListFileRules& rules,
                     std::size_t limit, std::string& bytes, std::string& error);

// The lines of bytes already read, split as read_list_lines splits a file.
std::vector<ListLine> split_list_lines(std::string_view bytes);

// The name of one name-list line: a line of up to 50 characters is the name, a longer one gives
// the last 50 of its first 100 characters; trailing white space is not part of it. `cut` tells
// whether characters were dropped.
Name name_from_line(std::string_view line, bool* cut);
// The 100-character station entry of one station-list line, without trailing white space.
std::array<char, kEntryWidth> entry_from_line(std::string_view line, bool* cut);

// The folder that a helper takes the names of a list from: the list's own ("day1/" for
// day1/names.txt, "" for names.txt), so that a list can be given from anywhere; "" for a pipe,
// which has none (`<(ls day1/*.sac)` names its files from the current folder).
std::string names_folder(const std::string& list);
// A name of such a list as the path to open: an absolute name as it is, another in `folder`.
std::string path_in_folder(const std::string& folder, const std::string& name);

// A NUL cannot be part of a file name: a line holding one names no file.
bool holds_nul(std::string_view line);
// The line as it can be shown, each NUL written as \0.
std::string shown_line(std::string_view line);

// Writing a list or another output of the helpers in place of what held its name.

// Where a helper's output (a list or a picture) named `path` is written: `path` itself, or, for a
// symbolic link to a regular file, the file it names (the link stays). `mode` is what a new file
// gets under the umask, never more than the file it replaces allows. False (and `error`, such as
// `"x" is a directory; left as it is`) when the name is taken by anything but a regular file.
bool output_target(const std::string& path, std::string& target, mode_t& mode, std::string& error);

// Writes the lines, each ending in a newline, to a temporary file beside the output target of
// `path` and renames it over the target, so no reader ever sees a partial list. False (and
// `error`) on failure, with the temporary file removed and whatever held the name untouched.
bool write_lines_atomically(const std::filesystem::path& path, std::span<const std::string> lines,
                            std::string& error);

}  // namespace xcn
