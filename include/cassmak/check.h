// The source check: what in a BASIC source the importer will store
// differently from what its writer plainly meant (`casstool check`).
#pragma once

#include "cassmak/export.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cassmak {

struct diagnostic {
    std::size_t line = 0;           // physical line, 1-based
    std::size_t column = 0;         // byte column, 1-based
    std::size_t display_column = 0; // as casstool check prints it (GCC's count)
    std::string kind;               // "no-number", "order", ...; see check_kinds()
    std::string message;
};

// `status` as casstool check gives it: 0 no problems, 1 warnings; 2 with
// `message` on a failure (out of memory).
struct source_check {
    int status = 0;
    std::vector<diagnostic> diagnostics; // in the order of the source
    std::string message;
};

// The warnings for the source `text`, leaving out the kinds in `disabled`
// (as `-W no-KIND` does).
CASSMAK_API source_check check_source(std::string_view text,
                                      const std::vector<std::string>& disabled = {});

// The line casstool check prints for a warning of the source `source`:
// "SOURCE:LINE:COLUMN: warning: MESSAGE [KIND]\n".
CASSMAK_API std::string format_diagnostic(const std::string& source, const diagnostic& warning);

// Every kind's name, in the order the documentation lists them.
CASSMAK_API std::vector<std::string> check_kinds();

} // namespace cassmak
