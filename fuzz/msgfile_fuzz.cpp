// Fuzz target: the message-file loader on an arbitrary "messages" file, then messages composed
// and written with whatever texts it loaded.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/common.hpp"
#include "msg/message.hpp"
#include "msg/text.hpp"

using xcn::fuzz::broken;

const xcn::fuzz::Messages xcn::fuzz::kMessages = xcn::fuzz::Messages::kScratch;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xcn::fuzz::write_file(xcn::fuzz::scratch_file("messages"), data, size);
  xcn::inimsg();

  const xcn::CmMsg& store = xcn::message_store();
  if (store.table_count < 0 || store.table_count > xcn::kMsgTableSize) broken("table count");
  for (int k = 0; k < store.table_count; ++k) {
    if (strnlen(xcn::message_texts().table_texts[k], xcn::kMsgColumns + 1) > xcn::kMsgColumns) {
      broken("a loaded text longer than its column limit");
    }
  }
  // A failed load leaves its error composed; output it as the library would.
  xcn::outmsg();
  xcn::clrmsg();

  // Compose with the first loaded numbers: long texts, odd numbers, several lines.
  for (int k = 0; k < store.table_count && k < 4; ++k) {
    const int number = store.table_numbers[k];
    xcn::setmsg(k % 2 == 0 ? "ERROR" : "WARNING", number);
    xcn::apcmsg("station.sac", 12);
    xcn::aplmsg("second line", 12);
    xcn::apimsg(number);
    xcn::apcmsgnum(number);
    xcn::outmsg();
    xcn::clrmsg();
    xcn::error(number, "%s %d", "formatted", number);
    xcn::outmsg();
    xcn::clrmsg();
    char small[7];
    xcn::getsmsg(number, small, sizeof small);
    if (small[sizeof small - 1] != '\0') broken("getsmsg past its width");
    xcn::HeapText copy(xcn::getsmsg2(number));
  }
  return 0;
}
