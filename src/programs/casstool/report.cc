#include "programs/casstool/report.h"

#include <cstdio>
#include <string>


int report_tool(int status, std::string_view message)
{
    std::fflush(stdout);
    std::string line = "casstool: ";
    line.append(message);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    return status;
}

// Standard output is written through stdio; a failure shows at the flush.
int finish_stdout(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return report_tool(tool_failed, "standard output: write failed");
    return status;
}
