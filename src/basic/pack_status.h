// The statuses of packing an input as cassmak packs it, and the words of each
// failure, which cassmak, the library and the page all say.
#pragma once

#include <string>
#include <string_view>

namespace cassmak::core {

// A status is 0 or a non-negative length on success, negative otherwise.
// The process exit code is the status without its sign.
constexpr int status_ok = 0;
constexpr int status_usage = -1;
constexpr int status_version = -2;
constexpr int status_bad_combination = -3;
constexpr int status_input_open = -4;
constexpr int status_input_access = -5;
constexpr int status_input_length = -6;
constexpr int status_input_size = -7;
constexpr int status_input_read = -8;
constexpr int status_output_open = -9;
constexpr int status_output_access = -10;
constexpr int status_output_write = -11;
constexpr int status_no_input = -12;
constexpr int status_two_inputs = -13;
constexpr int status_two_outputs = -14;
constexpr int status_bad_address = -15;
constexpr int status_bad_number = -16;
constexpr int status_bad_type = -17;
constexpr int status_bad_name = -18;
constexpr int status_basic_too_large = -19;
constexpr int status_stdout_write = -20;

// The message of a failure status, without the empty line that follows it
// on standard error; `text`, `low` and `high` as for report_status.
std::string status_message(int status, std::string_view text, long low = 0, long high = 0);

} // namespace cassmak::core
