// Makes a tape of a binary file and a BASIC program, renames and moves its
// entries, saves it and lists it: what these commands do, byte for byte:
//
//   cassmak -m hello -o TAPE BINARY
//   cassmak -b -n 1 -m primes -append -o TAPE PROGRAM
//   casstool set TAPE 1 --name greet --address 0x4000
//   casstool move TAPE 2 1
//   casstool list TAPE
//
// Usage: tape_example TAPE BINARY PROGRAM
#include <cassmak/cassmak.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool read_file(const char* path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

// Prints a failure's message as the tools print it and gives their status.
int failed(int status, const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return failed(2, "usage: tape_example TAPE BINARY PROGRAM");
    const std::string tape_path = argv[1];
    std::string binary, program;
    if (!read_file(argv[2], binary) || !read_file(argv[3], program))
        return failed(2, "cannot read the inputs");

    const auto* data = reinterpret_cast<const std::uint8_t*>(binary.data());
    cassmak::made_tape file =
        cassmak::make_file(data, binary.size(), {"hello", 0, '?', 0}, argv[2]);
    if (file.status != 0)
        return failed(file.status, file.message);
    const cassmak::made_tape basic = cassmak::import_basic(program, "primes", 1, argv[3]);
    if (basic.status != 0)
        return failed(basic.status, basic.message);
    std::vector<std::uint8_t> image = std::move(file.image);
    image.insert(image.end(), basic.image.begin(), basic.image.end());

    cassmak::header_fields fields;
    fields.name = "greet";
    fields.address = "0x4000";
    cassmak::change_result changed =
        cassmak::retag_entry(std::move(image), 1, fields, false, tape_path);
    if (changed.status == 2)
        return failed(2, "casstool: " + changed.message);
    std::fputs(changed.lines.c_str(), stdout);
    changed = cassmak::move_entry(std::move(changed.image), 2, 1, tape_path);
    if (changed.status == 2)
        return failed(2, "casstool: " + changed.message);
    std::fputs(changed.lines.c_str(), stdout);

    const cassmak::write_result saved = cassmak::save_tape(tape_path, changed.image);
    if (saved.status != 0)
        return failed(saved.status, "casstool: " + saved.message);
    const cassmak::text_result listing =
        cassmak::list_table(changed.image.data(), changed.image.size(), tape_path);
    std::fputs(listing.text.c_str(), stdout);
    return listing.status;
}
