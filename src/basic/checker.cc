#include "basic/checker.h"
