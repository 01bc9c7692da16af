#!/usr/bin/env bash
# The build and its tests under AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "$0")/common.sh"

part "AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --workflow --preset sanitize
