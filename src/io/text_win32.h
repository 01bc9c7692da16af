// Text as the Windows seam hands it to the system and takes it back: UTF-8
// in the program, UTF-16 in the system's wide functions.
#pragma once

#include <string>

namespace cassmak::core {

namespace win32_text {

// `text` (UTF-8) as UTF-16.
std::wstring wide(const std::string& text);

// The UTF-16 text up to its terminating zero as UTF-8.
std::string narrow(const wchar_t* text);

} // namespace win32_text

} // namespace cassmak::core
