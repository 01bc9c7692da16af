#include "cli/tool_report.h"

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
