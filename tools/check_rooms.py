#!/usr/bin/python3
"""Checks the rooms of docs/architecture.md on the sources git knows.

Fails, naming the file, the line and the rule, when
  - a file includes a header of a room its own room may not call,
  - an operating system header or function is used outside a platform file,
    or a platform's own header is included there,
  - a test holds an #if, #ifdef or #ifndef (tests skip by name instead, with
    SKIP_IF_MISSING and an answer of tests/support.h).

  check_rooms.py [FOLDER]   checks the tree at FOLDER (default: this one's)
  check_rooms.py --self-test
                            checks this tree, then the tree with one fault
                            planted at a time, each of which it must find
"""

import fnmatch
import os
import re
import subprocess
import sys

# The rooms, in the order of the architecture's table: which files a room
# holds (first match wins), the rooms whose headers it may include, and the
# folders its build searches for a quoted include after the including file's
# own, in the build's order. A room always may include its own headers; "std"
# is the C and C++ standard library.
CORE_FOLDERS = ["src"]
ROOMS = [
    # The tests that run the programs and the library as their users do. A
    # unit test beside its code (*_test.cc elsewhere) is of its folder's room,
    # and may use the tests' support besides.
    ("tests", ["tests/*"], ["plan", "tape", "basic", "io", "cassmak", "casstool", "public",
                            "lib", "web"],
     ["tests", "include", "src", "web"]),
    ("plan", ["src/plan/*"], [], CORE_FOLDERS),
    ("tape", ["src/tape/*"], ["plan"], CORE_FOLDERS),
    ("basic", ["src/basic/*"], ["plan", "tape"], CORE_FOLDERS),
    ("io", ["src/io/*"], ["plan"], CORE_FOLDERS),
    ("public", ["include/cassmak/*"], [], ["include"]),
    ("lib", ["src/lib/*"], ["plan", "tape", "basic", "io", "public"], ["include", "src"]),
    ("cassmak", ["src/programs/cassmak/*"], ["plan", "tape", "basic", "io"], CORE_FOLDERS),
    ("casstool", ["src/programs/casstool/*"], ["plan", "tape", "basic", "io"], CORE_FOLDERS),
    # A page has no file system: no src/io/.
    ("web", ["web/*"], ["plan", "tape", "basic"], ["src"]),
    ("python", ["python/*"], ["public"], ["include"]),
    ("example", ["examples/*"], ["public"], ["include"]),
    # The fuzzers and the benchmark run every part of the code.
    ("fuzz", ["fuzz/*"], ["plan", "tape", "basic", "io", "cassmak", "casstool"], CORE_FOLDERS),
    ("bench", ["bench/*"], ["plan", "tape", "basic", "io", "cassmak", "casstool"], CORE_FOLDERS),
]

# Files that may call the operating system: the seam's platform files, and
# the tests' own platform files (running a program, the output tests of a
# platform, and the shim that stands in for a file system without locks).
PLATFORM_FILES = [
    "src/io/*_posix.cc",
    "src/io/*_posix.h",
    "src/io/*_win32.cc",
    "src/io/*_win32.h",
    "tests/*_posix.cc",
    "tests/*_win32.cc",
    "tests/no_lock_shim.cc",
]

# Libraries other than the standard one, and the rooms that use them.
THIRD_PARTY = [
    (re.compile(r"^(gtest|gmock)/"), ["tests"]),
    (re.compile(r"^benchmark/"), ["bench"]),
    (re.compile(r"^(pybind11/|Python\.h$|structmember\.h$)"), ["python"]),
    (re.compile(r"^emscripten(/|\.h$)"), ["web"]),
]

STD_HEADERS = set("""
algorithm any array atomic bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes
climits clocale cmath codecvt complex condition_variable csetjmp csignal cstdarg cstddef cstdint
cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution filesystem
forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
iterator limits list locale map memory memory_resource mutex new numeric optional ostream queue
random ratio regex scoped_allocator set shared_mutex sstream stack stdexcept streambuf string
string_view system_error thread tuple type_traits typeindex typeinfo unordered_map
unordered_set utility valarray variant vector
assert.h ctype.h errno.h float.h inttypes.h limits.h locale.h math.h setjmp.h signal.h stdarg.h
stddef.h stdint.h stdio.h stdlib.h string.h time.h wchar.h wctype.h
""".split())

# Standard headers that reach the file system or the process all the same:
# only the seam and the tests use them (the core and the front ends go
# through io/files.h).
SEAM_STD_HEADERS = {"filesystem", "csignal", "signal.h"}
SEAM_STD_ROOMS = {"plan", "tape", "basic", "cassmak", "casstool", "lib", "web", "public",
                  "python"}

# Calls of the operating system (POSIX and Win32), and the C library's own
# file and signal calls, which are the system's under another name.
OS_FUNCTIONS = re.compile(
    r"(?<![\w.>:])(?:::)?\b("
    r"open|openat|creat|close|read|write|pread|pwrite|lseek|fstat|stat|lstat|fstatat|"
    r"flock|fcntl|ioctl|rename|renameat|renameat2|unlink|unlinkat|link|linkat|symlink|"
    r"mkdir|mkdirat|rmdir|fsync|fdatasync|ftruncate|truncate|isatty|signal|sigaction|"
    r"sigprocmask|pthread_sigmask|raise|kill|fork|vfork|execv|execve|execvp|execl|execlp|"
    r"waitpid|wait|usleep|sleep|nanosleep|getpid|geteuid|getuid|setrlimit|getrlimit|mmap|"
    r"munmap|dup|dup2|pipe|poll|select|chdir|mkstemp|mkdtemp|umask|fchmod|chmod|fchown|"
    r"chown|dlopen|dlsym|"
    r"CreateFileW|CreateFileA|ReadFile|WriteFile|CloseHandle|MoveFileExW|ReplaceFileW|"
    r"DeleteFileW|GetFileType|GetStdHandle|GetConsoleMode|SetConsoleCtrlHandler|"
    r"CreateProcessW|LockFileEx|FlushFileBuffers|SetFileInformationByHandle|"
    r"GetFileInformationByHandle|_wopen|_open|_isatty|_setmode|_fileno"
    r")\s*\(")
# std::rename, std::remove, std::signal and std::raise: the same calls.
STD_OS_FUNCTIONS = re.compile(r"\bstd::(rename|remove|signal|raise)\s*\(")
# Names common enough that a file may hold its own function, parameter or
# member of the name: these count only where the file declares none.
COMMON_NAMES = {"open", "close", "read", "write", "stat", "link", "unlink", "wait", "sleep",
                "pipe", "poll", "dup", "kill", "raise", "select", "mkdir", "rmdir", "chdir",
                "truncate", "signal", "rename"}
NOT_TYPES = {"return", "else", "case", "throw", "not", "and", "or", "new", "delete", "co_return"}


def declares(code, name):
    for found in re.finditer(r"(\w+|[&*>])\s+" + name + r"\s*[(),={;]", code):
        if found.group(1) not in NOT_TYPES:
            return True
    return False

TEST_FILES = ["tests/*", "*_test.cc", "fuzz/*"]
CONDITIONAL = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = (".cc", ".h", ".cpp", ".hpp")


def matches(path, patterns):
    return any(fnmatch.fnmatch(path, pattern) for pattern in patterns)


def room_of(path):
    for name, patterns, _, _ in ROOMS:
        if matches(path, patterns):
            return name
    return None


def unit_test(path):
    return fnmatch.fnmatch(path, "*_test.cc") and not fnmatch.fnmatch(path, "tests/*")


def may_include(room, header_room, test=False):
    allowed = next(calls for name, _, calls, _ in ROOMS if name == room)
    return header_room == room or header_room in allowed or (test and header_room == "tests")


LITERALS = re.compile(r"//[^\n]*|/\*.*?\*/|\bR\"([^(\s]*)\(.*?\)\1\"|\"(?:\\.|[^\"\\\n])*\"|"
                      r"'(?:\\.|[^'\\\n])*'", re.S)


def code_only(text):
    """The text with comments, string and character literals blanked, lines kept."""
    return LITERALS.sub(lambda found: '""' + "\n" * found.group(0).count("\n"), text)


def resolve(root, path, room, header):
    """The files a quoted include may name, in the order the build looks."""
    folders = next(folders for name, _, _, folders in ROOMS if name == room)
    if unit_test(path):
        folders = folders + ["tests"]
    found = []
    for folder in [os.path.dirname(path)] + folders:
        candidate = os.path.normpath(os.path.join(folder, header))
        # A header the build configures from its template (X.h from X.h.in)
        # is of the template's room.
        if (os.path.isfile(os.path.join(root, candidate))
                or os.path.isfile(os.path.join(root, candidate + ".in"))) and candidate not in found:
            found.append(candidate)
    return found


def source_files(root):
    listed = subprocess.run(["git", "-C", root, "ls-files", "-z"], capture_output=True,
                            check=False)
    if listed.returncode == 0 and listed.stdout:
        names = listed.stdout.decode().split("\0")
    else:
        # Not a git checkout: every file but those of build folders.
        names = []
        for folder, folders, files in os.walk(root):
            folders[:] = [name for name in folders if not name.startswith((".", "build"))
                          and name != "node_modules"]
            names += [os.path.relpath(os.path.join(folder, name), root) for name in files]
    return sorted(name for name in names if name.endswith(SOURCE_SUFFIXES)
                  and os.path.isfile(os.path.join(root, name)))


def check(root, files, planted=None):
    """The faults of `files` in `root`; `planted` is (path, text) put at the end of a file."""
    faults = []
    for path in files:
        room = room_of(path)
        if room is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as file:
            text = file.read()
        if planted and planted[0] == path:
            text += planted[1]
        platform = matches(path, PLATFORM_FILES)
        test = matches(path, TEST_FILES)
        for number, line in enumerate(text.split("\n"), 1):
            where = f"{path}:{number}"
            include = INCLUDE.match(line)
            if include and include.group(1) == '"':
                header = include.group(2)
                targets = resolve(root, path, room, header)
                if not targets:
                    faults.append(f'{where}: includes "{header}", which is no file of the tree')
                    continue
                if len(targets) > 1:
                    faults.append(f'{where}: includes "{header}", which names '
                                  f'{" and ".join(targets)}: one name, one file')
                    continue
                target = targets[0]
                if matches(target, PLATFORM_FILES) and not platform:
                    faults.append(f'{where}: includes "{header}", a platform header, '
                                  "outside a platform file")
                    continue
                target_room = room_of(target)
                if target_room is not None and not may_include(room, target_room,
                                                               unit_test(path)):
                    faults.append(f'{where}: includes "{header}" of room {target_room}, '
                                  f"which room {room} ({path.split('/')[0]}/...) may not call")
            elif include:
                header = include.group(2)
                public = os.path.join("include", header)
                if os.path.isfile(os.path.join(root, public)):
                    if not may_include(room, room_of(public)):
                        faults.append(f"{where}: includes <{header}> of room public, "
                                      f"which room {room} may not call")
                    continue
                if header in STD_HEADERS:
                    if header in SEAM_STD_HEADERS and room in SEAM_STD_ROOMS and not unit_test(path):
                        faults.append(f"{where}: includes <{header}>, which asks the system; "
                                      "outside src/io/ and the tests use io/files.h")
                    continue
                third = [rooms for pattern, rooms in THIRD_PARTY if pattern.search(header)]
                if third:
                    if room not in third[0] and not (unit_test(path) and third[0] == ["tests"]):
                        faults.append(f"{where}: includes <{header}>, "
                                      f"a library that room {room} does not use")
                elif not platform:
                    faults.append(f"{where}: includes <{header}>, an operating system header, "
                                  "outside a platform file")
            if test and CONDITIONAL.match(line):
                faults.append(f"{where}: {line.strip()} in a test; skip by name with "
                              "SKIP_IF_MISSING and an answer of tests/support.h")
        if not platform:
            code = code_only(text)
            own = {name for name in COMMON_NAMES if declares(code, name)}
            for number, line in enumerate(code.split("\n"), 1):
                if line.lstrip().startswith("#"):
                    continue
                for pattern in (OS_FUNCTIONS, STD_OS_FUNCTIONS):
                    for call in pattern.finditer(line):
                        if pattern is OS_FUNCTIONS and call.group(1) in own and \
                                not call.group(0).startswith("::"):
                            continue
                        faults.append(f"{path}:{number}: calls {call.group(1)}(), an operating "
                                      "system function, outside a platform file")
    return faults


# One planted fault per rule: the file, the text put at its end, and a word
# of the message that must name it.
PLANTED = [
    ("src/tape/format.h", '#include "basic/program_format.h"\n', "room basic"),
    ("src/basic/tokenizer.cc", '#include "io/files.h"\n', "room io"),
    ("src/programs/casstool/list.cc", '#include "lib/guard.h"\n', "room lib"),
    ("src/io/updates.cc", '#include "tape/spans.h"\n', "room tape"),
    ("src/lib/make.cc", '#include "programs/cassmak/options.h"\n', "room cassmak"),
    ("web/page_pack.cc", '#include "programs/cassmak/status.h"\n', "room cassmak"),
    ("src/tape/changes.cc", '#include "programs/casstool/image.h"\n', "room casstool"),
    ("src/programs/cassmak/run.cc", '#include "programs/casstool/report.h"\n', "room casstool"),
    ("include/cassmak/read.h", '#include "tape/reader.h"\n', "no file of the tree"),
    ("web/page_pack.cc", '#include "io/files.h"\n', "room io"),
    ("src/programs/casstool/copy.cc", "#include <unistd.h>\n", "operating system header"),
    ("src/io/writes.cc", '#include "io/open_flags_posix.h"\n', "platform header"),
    ("src/tape/spans.cc", "#include <filesystem>\n", "asks the system"),
    ("src/programs/cassmak/files.cc", "static int f(int d) { return ::close(d); }\n", "calls close()"),
    ("src/programs/casstool/rm.cc", "static bool t() { return isatty(1); }\n", "calls isatty()"),
    ("src/lib/write.cc", "static int g() { return std::rename(\"a\", \"b\"); }\n",
     "calls rename()"),
    ("tests/casstool_test.cc", "#ifdef _WIN32\n#endif\n", "in a test"),
    ("src/io/files_test.cc", "#if defined(X)\n#endif\n", "in a test"),
    ("src/basic/tokenizer_test.cc", '#include "programs/cassmak/run.h"\n', "room cassmak"),
]


def self_test(root):
    files = source_files(root)
    faults = check(root, files)
    if faults:
        print("\n".join(faults))
        print("check_rooms: the tree itself breaks the rooms; the self-test needs it clean")
        return 1
    # Neither a comment nor a string is a call.
    harmless = [("src/tape/words.cc", '// open(), rename() and isatty() are the seam\'s\n'
                 'static const char* const n = "rename(a, b) flock(";\n', None)]
    failed = 0
    for path, text, word in harmless + PLANTED:
        # The rest of the tree is clean: the planted file alone tells.
        found = check(root, [path], (path, text))
        ok = not found if word is None else len(found) == 1 and word in found[0]
        print(f"{'ok  ' if ok else 'FAIL'} {path}: {text.strip()!r} -> {found or 'no fault'}")
        failed += 0 if ok else 1
    if failed:
        print(f"check_rooms: {failed} planted cases went otherwise than expected")
        return 1
    print(f"check_rooms self-test: {len(PLANTED)} planted faults found, the tree clean")
    return 0


def main(argv):
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if argv[1:] == ["--self-test"]:
        return self_test(here)
    root = argv[1] if len(argv) > 1 else here
    files = source_files(root)
    faults = check(root, files)
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_rooms: {len(faults)} faults against the rooms of docs/architecture.md")
        return 1
    print(f"check_rooms: {len(files)} files keep to their rooms")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
