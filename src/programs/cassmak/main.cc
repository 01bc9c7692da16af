#include "programs/cassmak/run.h"
#include "io/files.h"

using namespace cassmak::core;

int main(int argc, char** argv)
{
    use_binary_streams();
    take_program_arguments(argc, argv);
    hold_signals_over_changes();
    return run(argc, argv);
}
