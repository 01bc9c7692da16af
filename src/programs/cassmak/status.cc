#include "programs/cassmak/status.h"

#include <cstdio>
#include <string>

using namespace cassmak::core;

int report_status(int status, std::string_view text, long low, long high)
{
    const std::string message = status_message(status, text, low, high) + "\n\n";
    // Whatever the run printed before the failure comes before it in a log
    // that holds both streams.
    std::fflush(stdout);
    std::fwrite(message.data(), 1, message.size(), stderr);
    return status;
}
