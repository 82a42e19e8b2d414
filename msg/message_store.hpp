// Writable access to the process-wide message records, for the files of the message layer only.
#pragma once

#include "msg/message.hpp"

namespace xcn::detail {

extern CmMsg cmmsg;
extern KmMsg kmmsg;

// Stores the six type names, 8 characters each, blank-filled and terminated.
void store_type_names(KmMsg& texts);

}  // namespace xcn::detail
