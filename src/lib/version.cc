#include "cassmak/cassmak.h"

namespace cassmak {

std::string version()
{
    return CASSMAK_LIBRARY_VERSION;
}

} // namespace cassmak
