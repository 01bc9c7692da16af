// cassmak's one failure reporter.
#pragma once

#include "basic/pack_status.h"

#include <string_view>

// Writes the message of a failure status to standard error, followed by an
// empty line, and returns the status unchanged. `text` fills the message's
// placeholder (a path or an option word); `low` and `high` are the bounds
// named by the size messages (-7 gives both, -19 only `high`).
int report_status(int status, std::string_view text, long low = 0, long high = 0);
