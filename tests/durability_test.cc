// The order in which the tools' changes reach the disk. Each change runs
// under strace; its file system calls drive a model of the folder that keeps,
// for each file, what the disk is sure to hold (as of its last sync) apart
// from what the system shows, and the same for each folder's names. A power
// cut after any call may leave either for each file and folder on the path
// of an output: every such state must hold the old output or the new one
// whole (or none, for an output that was not there), and once the tool has
// said anything after its change began, and when it exits, the disk alone
// must hold the new output.
#include "support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>


namespace fs = std::filesystem;

namespace {

// ---- The recorded calls ----

struct call {
    std::string name;
    std::vector<std::string> args;
    std::string result;
};

std::string unhex(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The arguments of a call, split at the commas outside brackets.
std::vector<std::string> split_args(const std::string& text)
{
    std::vector<std::string> out;
    std::string current;
    int depth = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (!quoted && (c == '(' || c == '[' || c == '{' || c == '<'))
            ++depth;
        if (!quoted && (c == ')' || c == ']' || c == '}' || c == '>'))
            --depth;
        if (!quoted && depth == 0 && c == ',') {
            out.push_back(current);
            current.clear();
            continue;
        }
        if (!(current.empty() && c == ' '))
            current += c;
    }
    if (!current.empty())
        out.push_back(current);
    return out;
}

std::vector<call> parse_log(const std::string& log)
{
    std::vector<call> calls;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        // "PID name(args) = result"; a signal's or an exit's line has no call.
        std::size_t at = line.find_first_not_of("0123456789 ");
        if (at == std::string::npos || line.compare(at, 3, "+++") == 0 ||
            line.compare(at, 3, "---") == 0)
            continue;
        EXPECT_EQ(std::string::npos, line.find("unfinished")) << line;
        // strace pads short calls before their " = result".
        const std::size_t open = line.find('(', at);
        const std::size_t equals = line.rfind(" = ");
        const std::size_t close = line.rfind(')', equals);
        call c;
        c.name = line.substr(at, open - at);
        c.args = split_args(line.substr(open + 1, close - open - 1));
        c.result = equals == std::string::npos ? "?" : line.substr(equals + 3);
        calls.push_back(c);
    }
    return calls;
}

// The number of a descriptor argument or result ("4<\x2f...>"), or -1 for
// AT_FDCWD and failures.
long fd_of(const std::string& text)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return -1;
    return std::stol(text);
}

// The path in a descriptor's decoration, decoded.
std::string decoration(const std::string& text)
{
    const std::size_t open = text.find('<');
    const std::size_t close = text.rfind('>');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return {};
    return unhex(text.substr(open + 1, close - open - 1));
}

std::string string_arg(const std::string& text)
{
    const std::size_t open = text.find('"');
    const std::size_t close = text.rfind('"');
    return unhex(text.substr(open + 1, close - open - 1));
}

long number(const std::string& text)
{
    std::size_t at = text.find_first_of("-0123456789");
    return at == std::string::npos ? 0 : std::stol(text.substr(at));
}

// ---- The model of the folder ----

struct node {
    bool folder = false;
    std::string data, durable_data;
    std::map<std::string, int> names, durable_names;
};

struct open_file {
    int node = -1;
    long position = 0;
    bool append = false;
};

class disk_model {
  public:
    explicit disk_model(const fs::path& root) : root_(fs::canonical(root).string())
    {
        nodes_.push_back({true, {}, {}, {}, {}});
        add_tree(fs::path(root_), 0);
    }

    // What a power cut now may leave at `path` (inside the root): every
    // combination of synced and shown state for the folders on the way and
    // the file. `disk_only` takes the synced state alone.
    std::vector<std::optional<std::string>> states(const std::string& path, bool disk_only) const
    {
        std::vector<std::optional<std::string>> out;
        const std::vector<std::string> parts = parts_of(path);
        walk(0, parts, 0, disk_only, out);
        return out;
    }

    // Applies one call; false, with `why`, for a call on a file of the model
    // that the model does not know.
    bool apply(const call& c, std::string& why)
    {
        const auto ok = [&](const std::string& result) {
            return !result.empty() && result[0] != '-' && result[0] != '?';
        };
        if (c.name == "openat" && ok(c.result)) {
            // The result names the file opened, but not always.
            std::string path = decoration(c.result);
            if (path.empty()) {
                const std::string name = string_arg(c.args[1]);
                path = name[0] == '/' ? name : decoration(c.args[0]) + "/" + name;
            }
            if (!inside(path) && path != root_)
                return true;
            const std::string& flags = c.args[2];
            int n = find(path, false);
            if (n < 0) {
                n = make(path, flags.find("O_DIRECTORY") != std::string::npos);
                if (n < 0)
                    return (why = "opened outside the model: " + path), false;
            }
            if (flags.find("O_TRUNC") != std::string::npos)
                nodes_[static_cast<std::size_t>(n)].data.clear();
            files_[fd_of(c.result)] = {n, 0, flags.find("O_APPEND") != std::string::npos};
            return true;
        }
        if (c.name == "close") {
            files_.erase(fd_of(c.args[0]));
            return true;
        }
        const auto file = [&](const std::string& arg) -> open_file* {
            const auto found = files_.find(fd_of(arg));
            return found == files_.end() ? nullptr : &found->second;
        };
        if ((c.name == "write" || c.name == "pwrite64") && ok(c.result)) {
            open_file* f = file(c.args[0]);
            if (!f)
                return true;
            const long count = number(c.result);
            const std::string bytes =
                string_arg(c.args[1]).substr(0, static_cast<std::size_t>(count));
            std::string& data = nodes_[static_cast<std::size_t>(f->node)].data;
            long at = c.name == "pwrite64" ? number(c.args[3])
                      : f->append          ? static_cast<long>(data.size())
                                           : f->position;
            put(data, at, bytes);
            if (c.name == "write")
                f->position = at + count;
            return true;
        }
        if (c.name == "copy_file_range" && ok(c.result)) {
            open_file* from = file(c.args[0]);
            open_file* to = file(c.args[2]);
            if (!to)
                return true;
            if (!from || c.args[3] != "NULL")
                return (why = "an unmodelled copy_file_range"), false;
            const long count = number(c.result);
            const long at = c.args[1] == "NULL" ? from->position : number(c.args[1]);
            const std::string bytes = nodes_[static_cast<std::size_t>(from->node)].data.substr(
                static_cast<std::size_t>(at), static_cast<std::size_t>(count));
            put(nodes_[static_cast<std::size_t>(to->node)].data, to->position, bytes);
            to->position += count;
            if (c.args[1] == "NULL")
                from->position += count;
            return true;
        }
        if (c.name == "lseek" && ok(c.result)) {
            if (open_file* f = file(c.args[0]))
                f->position = number(c.result);
            return true;
        }
        if (c.name == "ftruncate" && ok(c.result)) {
            if (open_file* f = file(c.args[0]))
                nodes_[static_cast<std::size_t>(f->node)].data.resize(
                    static_cast<std::size_t>(number(c.args[1])));
            return true;
        }
        if ((c.name == "fsync" || c.name == "fdatasync") && ok(c.result)) {
            if (open_file* f = file(c.args[0])) {
                node& n = nodes_[static_cast<std::size_t>(f->node)];
                n.durable_data = n.data;
                n.durable_names = n.names;
            }
            return true;
        }
        if ((c.name == "renameat" || c.name == "renameat2") && ok(c.result)) {
            const std::string from = decoration(c.args[0]) + "/" + string_arg(c.args[1]);
            const std::string to = decoration(c.args[2]) + "/" + string_arg(c.args[3]);
            if (!inside(from))
                return true;
            const int n = find(from, false);
            unlink(from);
            unlink(to);
            link(to, n);
            return true;
        }
        if (c.name == "linkat" && ok(c.result)) {
            const std::string from = decoration(c.args[0]) + "/" + string_arg(c.args[1]);
            const std::string to = decoration(c.args[2]) + "/" + string_arg(c.args[3]);
            if (inside(from))
                link(to, find(from, false));
            return true;
        }
        if (c.name == "unlinkat" && ok(c.result)) {
            const std::string path = decoration(c.args[0]) + "/" + string_arg(c.args[1]);
            if (inside(path))
                unlink(path);
            return true;
        }
        if (c.name == "mkdir" && ok(c.result)) {
            std::string path = string_arg(c.args[0]);
            if (!path.empty() && path[0] != '/')
                path = cwd_ + "/" + path;
            if (inside(path))
                make(path, true);
            return true;
        }
        if (c.name == "mkdirat" && ok(c.result)) {
            const std::string path = decoration(c.args[0]) + "/" + string_arg(c.args[1]);
            if (inside(path))
                make(path, true);
            return true;
        }
        for (const char* name : {"writev", "pwritev", "pwritev2", "sendfile", "splice", "rename",
                                 "unlink", "link", "truncate", "fallocate"})
            if (c.name == name && ok(c.result))
                return (why = "an unmodelled " + c.name), false;
        return true;
    }

    void set_cwd(const std::string& cwd)
    {
        cwd_ = fs::canonical(cwd).string();
    }

  private:
    void add_tree(const fs::path& folder, int into)
    {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            node n;
            n.folder = entry.is_directory();
            if (!n.folder) {
                std::ifstream in(entry.path(), std::ios::binary);
                n.data.assign(std::istreambuf_iterator<char>(in), {});
                n.durable_data = n.data;
            }
            nodes_.push_back(n);
            const int index = static_cast<int>(nodes_.size() - 1);
            const std::string name = entry.path().filename().string();
            nodes_[static_cast<std::size_t>(into)].names[name] = index;
            nodes_[static_cast<std::size_t>(into)].durable_names[name] = index;
            if (n.folder)
                add_tree(entry.path(), index);
        }
    }

    bool inside(const std::string& path) const
    {
        return path.size() > root_.size() && path.compare(0, root_.size(), root_) == 0 &&
               path[root_.size()] == '/';
    }

    std::vector<std::string> parts_of(const std::string& path) const
    {
        std::vector<std::string> parts;
        if (path.size() <= root_.size())
            return parts;
        std::istringstream rest(path.substr(root_.size() + 1));
        std::string part;
        while (std::getline(rest, part, '/'))
            if (!part.empty() && part != ".")
                parts.push_back(part);
        return parts;
    }

    // The node at `path` as the system shows it, or -1; with `parent`, the
    // folder it is (or would be) in.
    int find(const std::string& path, bool parent) const
    {
        const std::vector<std::string> parts = parts_of(path);
        int at = 0;
        for (std::size_t i = 0; i + (parent ? 1 : 0) < parts.size(); ++i) {
            const node& n = nodes_[static_cast<std::size_t>(at)];
            const auto found = n.names.find(parts[i]);
            if (!n.folder || found == n.names.end())
                return -1;
            at = found->second;
        }
        return at;
    }

    int make(const std::string& path, bool folder)
    {
        const int parent = find(path, true);
        if (parent < 0)
            return -1;
        node n;
        n.folder = folder;
        nodes_.push_back(n);
        const int index = static_cast<int>(nodes_.size() - 1);
        nodes_[static_cast<std::size_t>(parent)].names[parts_of(path).back()] = index;
        return index;
    }

    void unlink(const std::string& path)
    {
        const int parent = find(path, true);
        if (parent >= 0)
            nodes_[static_cast<std::size_t>(parent)].names.erase(parts_of(path).back());
    }

    void link(const std::string& path, int n)
    {
        const int parent = find(path, true);
        if (parent >= 0 && n >= 0)
            nodes_[static_cast<std::size_t>(parent)].names[parts_of(path).back()] = n;
    }

    static void put(std::string& data, long at, const std::string& bytes)
    {
        const auto end = static_cast<std::size_t>(at) + bytes.size();
        if (data.size() < end)
            data.resize(end);
        data.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
    }

    void walk(int at, const std::vector<std::string>& parts, std::size_t depth, bool disk_only,
              std::vector<std::optional<std::string>>& out) const
    {
        const node& n = nodes_[static_cast<std::size_t>(at)];
        if (depth == parts.size()) {
            out.emplace_back(n.durable_data);
            if (!disk_only)
                out.emplace_back(n.data);
            return;
        }
        for (const bool shown : {false, true}) {
            if (shown && disk_only)
                break;
            const std::map<std::string, int>& names = shown ? n.names : n.durable_names;
            const auto found = names.find(parts[depth]);
            if (found == names.end())
                out.emplace_back(std::nullopt);
            else
                walk(found->second, parts, depth + 1, disk_only, out);
        }
    }

    std::string root_;
    std::string cwd_;
    std::vector<node> nodes_;
    std::map<long, open_file> files_;
};

// ---- The cases ----

struct change_case {
    const char* what;
    bool cassmak;
    std::vector<std::string> args;    // relative to the work folder
    std::vector<std::string> outputs; // the files the change makes or replaces
    bool whole = true;                // by a new file and a rename, so a cut leaves either
    bool durable = true;              // expected on the disk when the tool exits
};

std::string text_of(const bytes& b)
{
    return std::string(b.begin(), b.end());
}

std::string model_path(const scratch_dir& work, const std::string& output)
{
    return fs::canonical(work.root()).string() + "/" + output;
}

// Runs the case under strace in a fresh folder and checks every moment of it.
void check_case(const change_case& c)
{
    SCOPED_TRACE(c.what);
    scratch_dir work;
    scratch_dir logs;
    // One tape of two files and a headless block, another of one file, a
    // program and a second name for a tape that is changed in place.
    const bytes file_a = concat(
        {header_block("00 3F 00 40 02 00 41 20 20 20 20 20 20 20 00"), hex("04 00 01 02 03 06")});
    bytes tape = concat({file_a, hex("03 00 AA BB CC"),
                         header_block("01 3E 01 24 01 00 42 20 20 20 20 20 20 20 00"),
                         hex("03 00 07 08 0F")});
    // The header checksums: computed by the reader's rule, low byte of the sum.
    for (std::size_t at : {std::size_t{0}, file_a.size() + 5}) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < 14; ++i)
            sum += tape[at + 2 + 48 + i];
        tape[at + 2 + 48 + 14] = static_cast<std::uint8_t>(sum);
    }
    write_file(work.path("tape.kst"), tape);
    write_file(work.path("other.kst"), file_a);
    write_file(work.path("game.bin"), bytes(700, 0x42));
    write_file(work.path("linked.kst"), tape);
    fs::create_hard_link(work.path("linked.kst"), work.path("second.kst"));

    std::map<std::string, std::optional<std::string>> before;
    for (const std::string& output : c.outputs) {
        const std::string path = work.path(output);
        before[output] = fs::exists(path) ? std::optional(text_of(read_file(path))) : std::nullopt;
    }
    disk_model model(work.root());
    model.set_cwd(work.root().string());

    // LeakSanitizer cannot run under a tracer; the other tests look for leaks.
    std::vector<std::string> args = {"-E",
                                     "ASAN_OPTIONS=detect_leaks=0",
                                     "-f",
                                     "-y",
                                     "-xx",
                                     "-s",
                                     "10000000",
                                     "-o",
                                     logs.path("log"),
                                     "--",
                                     c.cassmak ? cassmak_path : casstool_path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    run_options in_work;
    in_work.cwd = work.root().string();
    static const std::string strace = strace_path();
    const run_result r = run_exe(strace.c_str(), args, in_work);
    ASSERT_EQ(0, r.exit_code) << r.err;

    std::map<std::string, std::string> after;
    for (const std::string& output : c.outputs) {
        ASSERT_TRUE(fs::exists(work.path(output))) << output;
        after[output] = text_of(read_file(work.path(output)));
        ASSERT_NE(before[output], std::optional(after[output])) << output << " did not change";
    }
    std::ifstream in(logs.path("log"), std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), {});
    const std::vector<call> calls = parse_log(log);
    ASSERT_FALSE(calls.empty());

    const auto whole = [&](const std::string& output, bool disk_only, std::string& seen) {
        for (const std::optional<std::string>& state :
             model.states(model_path(work, output), disk_only)) {
            if (state == before[output] || state == std::optional(after[output]))
                continue;
            seen = state ? std::to_string(state->size()) + " bytes" : "no file";
            return false;
        }
        return true;
    };
    bool changing = false;
    bool said_early = false;
    std::string early; // the first output said done before it was on the disk, and when
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const call& k = calls[i];
        std::string why;
        ASSERT_TRUE(model.apply(k, why)) << why << " at call " << i;
        if (k.name == "openat" && k.args.size() > 2 &&
            (k.args[2].find("O_WRONLY") != std::string::npos ||
             k.args[2].find("O_RDWR") != std::string::npos))
            changing = true;
        if (c.whole)
            for (const std::string& output : c.outputs) {
                std::string seen;
                EXPECT_TRUE(whole(output, false, seen))
                    << "a cut after call " << i << " (" << k.name << ") may leave " << seen
                    << " at " << output;
            }
        // What the tool says once its change began, and its exit, come only
        // when the disk holds each output it has shown whole.
        const bool says =
            (k.name == "write" && (fd_of(k.args[0]) == 1 || fd_of(k.args[0]) == 2) && changing) ||
            k.name == "exit_group";
        if (!says)
            continue;
        for (const std::string& output : c.outputs) {
            const std::vector<std::optional<std::string>> shown =
                model.states(model_path(work, output), false);
            const std::vector<std::optional<std::string>> disk =
                model.states(model_path(work, output), true);
            const bool shows_new = shown.back() == std::optional(after[output]);
            const bool disk_new = !disk.empty() && disk.front() == std::optional(after[output]);
            if (shows_new && !disk_new && !said_early) {
                said_early = true;
                early = output + " at call " + std::to_string(i) + " (the disk holds " +
                        (disk.front() ? std::to_string(disk.front()->size()) + " bytes"
                                      : std::string("no file")) +
                        ")";
            }
        }
    }
    EXPECT_EQ(c.durable, !said_early)
        << (c.durable ? "said done before the disk held " + early : "synced with --no-sync");
}

TEST(Durability, EveryChangeReachesTheDiskBeforeItIsCalledDone)
{
    SKIP_IF_MISSING(system_call_trace_missing());
    const std::vector<change_case> cases = {
        {"cassmak replaces", true, {"-o", "tape.kst", "game.bin"}, {"tape.kst"}},
        {"cassmak makes", true, {"-o", "new.kst", "game.bin"}, {"new.kst"}},
        {"cassmak appends by copy", true, {"-append", "-o", "tape.kst", "game.bin"}, {"tape.kst"}},
        {"cassmak appends in place",
         true,
         {"-append", "-o", "linked.kst", "game.bin"},
         {"linked.kst"},
         false},
        {"casstool rm", false, {"rm", "tape.kst", "2"}, {"tape.kst"}},
        {"casstool set", false, {"set", "tape.kst", "1", "--name", "x"}, {"tape.kst"}},
        {"casstool move", false, {"move", "tape.kst", "3", "1"}, {"tape.kst"}},
        {"casstool copy into", false, {"copy", "other.kst", "1", "--to", "tape.kst"}, {"tape.kst"}},
        {"casstool copy within",
         false,
         {"copy", "tape.kst", "1-2", "--to", "tape.kst", "--at", "1"},
         {"tape.kst"}},
        {"casstool copy makes", false, {"copy", "tape.kst", "all", "--to", "new.kst"}, {"new.kst"}},
        {"casstool rm in place", false, {"rm", "linked.kst", "1"}, {"linked.kst"}, false},
        {"casstool join", false, {"join", "-o", "tape.kst", "other.kst", "tape.kst"}, {"tape.kst"}},
        {"casstool split into a new folder",
         false,
         {"split", "tape.kst", "-d", "parts"},
         {"parts/01-A.kst", "parts/02-headless.kst", "parts/03-B.kst"}},
        {"casstool extract all into a new folder",
         false,
         {"extract", "tape.kst", "all", "-d", "out/x"},
         {"out/x/01-A.bin", "out/x/02-headless.bin", "out/x/03-B.bin"}},
        {"casstool extract one",
         false,
         {"extract", "tape.kst", "2", "-o", "game.bin"},
         {"game.bin"}},
        // Without the syncs a cut may leave an empty file, and the checks see it.
        {"casstool rm --no-sync",
         false,
         {"rm", "tape.kst", "2", "--no-sync"},
         {"tape.kst"},
         false,
         false},
    };
    for (const change_case& c : cases)
        check_case(c);
}

} // namespace
