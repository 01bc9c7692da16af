#include "basic/checker.h"
#include "cli/tool_commands.h"
#include "cli/tool_report.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Far past what cassmak -b takes, and a stop for endless devices.
constexpr std::size_t source_limit = std::size_t{16} << 20;

// Reads the file at `path` whole into `content`; reports a failure itself.
int read_source(const std::string& path, std::string& content)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return report_tool(tool_failed, path + ": cannot open: " + std::strerror(errno));
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (content.size() + got > source_limit) {
            std::fclose(file);
            return report_tool(tool_failed, path + ": larger than 16 MiB, not a BASIC source");
        }
        content.append(chunk, got);
    }
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0)
        return report_tool(tool_failed, path + ": cannot read: " + std::strerror(error));
    return tool_ok;
}

} // namespace

int run_check(const std::vector<std::string>& sources, const std::vector<std::string>& disabled)
{
    int status = tool_ok;
    for (const std::string& source : sources) {
        std::string content;
        if (read_source(source, content) != tool_ok) {
            status = tool_failed;
            continue;
        }
        std::size_t shown = 0;
        for (const check_warning& warning : check_basic_source(content)) {
            if (std::find(disabled.begin(), disabled.end(), warning.kind) != disabled.end())
                continue;
            std::string line = source + ":" + std::to_string(warning.line) + ":" +
                               std::to_string(warning.column) + ": warning: " + warning.message +
                               " [" + std::string(warning.kind) + "]\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            ++shown;
        }
        // The summary follows its source's warnings also in a combined log.
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return report_tool(tool_failed, "standard output: write failed");
        if (shown == 0)
            std::fprintf(stderr, "%s: no problems\n", source.c_str());
        else
            std::fprintf(stderr, "%s: %zu warning%s\n", source.c_str(), shown,
                         shown == 1 ? "" : "s");
        if (shown > 0 && status == tool_ok)
            status = tool_damaged;
    }
    return status;
}
