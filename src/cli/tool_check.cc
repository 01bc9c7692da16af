#include "cli/tool_commands.h"
