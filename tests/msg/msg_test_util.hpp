// Helpers for the message tests: temporary directories, message tables and the store's reset.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "msg/auxfile.hpp"
#include "msg/message.hpp"
#include "msg/message_store.hpp"
#include "tests/common/scratch_dir.hpp"

namespace xcn::testing {

using xcn::test::ScratchDir;

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Points SACAUX at a directory and drops the cached value.
inline void use_sacaux(const std::string& dir) {
  setenv("SACAUX", dir.c_str(), 1);
  detail::forget_sacaux();
}

// Starts the store afresh with a message table of the given file contents.
inline void init_with_table(const ScratchDir& dir, std::string_view contents) {
  write_file(dir.file("messages"), contents);
  use_sacaux(dir.path().string());
  inimsg();
  clrmsg();
}

// Empties the table and the current message so that sacmsg loads into a clean store.
inline void reset_table() {
  detail::cmmsg.table_count = 0;
  clrmsg();
}

// Text of message line k (1-based) without its trailing blanks.
inline std::string line_text(int k) {
  std::string line(message_texts().lines[k - 1], kMsgColumns);
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

}  // namespace xcn::testing
