#include "basic/detokenizer.h"
