#!/usr/bin/env bash
# Each file keeps to its room (docs/architecture.md), and the check finds the
# faults it is planted with. Needs python3 alone; runs before any build.
source "$(dirname "$0")/common.sh"

part "the rooms of docs/architecture.md (tools/check_rooms.py), and that the check finds planted faults"
/usr/bin/python3 tools/check_rooms.py
/usr/bin/python3 tools/check_rooms.py --self-test >/dev/null ||
  { /usr/bin/python3 tools/check_rooms.py --self-test; exit 1; }
