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

void print_source_problems(const std::string& source,
                           const std::vector<cassmak::core::check_warning>& problems,
                           const char* severity)
{
    std::string text;
    for (const cassmak::core::check_warning& problem : problems)
        cassmak::core::append_source_line(text, source, problem.line, problem.display_column,
                                          severity, problem.message,
                                          cassmak::core::check_kind_name(problem.kind));
    std::fwrite(text.data(), 1, text.size(), stderr);
}
