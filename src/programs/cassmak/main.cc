#include "programs/cassmak/run.h"
#include "io/files.h"

int main(int argc, char** argv)
{
    use_binary_streams();
    take_program_arguments(argc, argv);
    return run(argc, argv);
}
