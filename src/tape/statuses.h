// The statuses casstool exits with, which the library gives back for the
// same work, so that both say alike how it went.
#pragma once

namespace cassmak::core {

// Everything read is sound; something read is damaged (or, for a BASIC
// listing or check, has warnings); the work failed: a usage error, an
// unreadable file, a missing or unfit entry, a refused output, or (in the
// library) memory run out.
constexpr int work_sound = 0;
constexpr int work_damaged = 1;
constexpr int work_failed = 2;

} // namespace cassmak::core
