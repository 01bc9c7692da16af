#include "cli/tool_run.h"

int main(int argc, char** argv)
{
    return run_tool(argc, argv);
}
