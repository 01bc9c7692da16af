// cassmak: tape images of an 8-bit computer with a 16-bit address space,
// made, read, listed, checked and changed byte for byte as the cassmak and
// casstool programs do. Free functions over plain records and byte
// buffers; no function throws, prints or ends the process: each returns a
// status and the tools' own message.
#pragma once

#include "cassmak/basic.h"
#include "cassmak/check.h"
#include "cassmak/edit.h"
#include "cassmak/make.h"
#include "cassmak/read.h"
#include "cassmak/version.h"
#include "cassmak/write.h"

#include <string>

namespace cassmak {

// The library's version, "1.3.0"; the same as the tools' of its release.
CASSMAK_API std::string version();

} // namespace cassmak
