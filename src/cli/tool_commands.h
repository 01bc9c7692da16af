// The work of casstool's commands, apart from its command line. Each returns
// a casstool status (cli/tool_report.h), its failures already reported.
#pragma once

#include <optional>
#include <string>
#include <vector>

// `casstool check`: checks each BASIC source for what the importer will do
// differently from what was meant; `disabled` holds the kinds turned off.
int run_check(const std::vector<std::string>& sources, const std::vector<std::string>& disabled);
