#include "programs/casstool/commands.h"
#include "programs/casstool/report.h"
#include "io/files.h"

#include <new>

using namespace cassmak::core;

int main(int argc, char** argv)
{
    use_binary_streams();
    take_program_arguments(argc, argv);
    hold_signals_over_changes();
    // An image changed under the lock is left as it was by the change
    // itself; here only a read, a listing or a report runs out of memory.
    try {
        return run_tool(argc, argv);
    } catch (const std::bad_alloc&) {
        return report_tool(tool_failed, "out of memory");
    }
}
