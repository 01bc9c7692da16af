// The copy a change in place writes first, and the leftovers of changes cut
// short, over the platform's primitives. The copy's head, written last, tells
// one cut short while it was written (the file not touched yet) from a whole
// one, and binds it to its file by the file's identity, so that it is never
// written into another file that took the name since.
#include "io/rollback.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace cassmak::core {

namespace rollback {

namespace {

// The copy's head: its mark, the file's size, how many bytes are kept
// (after the head), the file's volume and index, and a check of all before
// it. It is written last, once the kept bytes are on the disk, so that a
// copy cut short before then has none and is known to have touched nothing.
constexpr char mark[8] = {'C', 'A', 'S', 'R', 'B', 'K', '0', '1'};
constexpr std::size_t head_size = 48;
using head = std::array<std::uint8_t, head_size>;

std::string copy_name(const std::string& image)
{
    return write_steps::temp_stem(image) + "rollback";
}

void put_number(std::uint8_t* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t number_at(const std::uint8_t* at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

// FNV-1a over the head's fields.
std::uint64_t check_of(const head& bytes)
{
    std::uint64_t hash = 0xCBF29CE484222325U;
    for (std::size_t i = 0; i < head_size - 8; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001B3U;
    return hash;
}

head head_of(const platform::file_facts& facts, std::uint64_t keep)
{
    head bytes{};
    std::memcpy(bytes.data(), mark, sizeof mark);
    put_number(bytes.data() + 8, facts.size);
    put_number(bytes.data() + 16, keep);
    put_number(bytes.data() + 24, facts.volume);
    put_number(bytes.data() + 32, facts.index);
    put_number(bytes.data() + 40, check_of(bytes));
    return bytes;
}

// Whether the copy open on `copy` is whole and belongs to the file of
// `facts`, and then the file's size and how many bytes it keeps.
bool whole_copy(handle copy, const platform::file_facts& facts, std::uint64_t& size,
                std::uint64_t& kept)
{
    platform::file_facts own;
    head bytes{};
    if (!platform::facts_of(copy, own) || !own.regular || own.size < head_size ||
        !platform::read_at(copy, bytes.data(), head_size, 0) ||
        std::memcmp(bytes.data(), mark, sizeof mark) != 0 ||
        number_at(bytes.data() + 40) != check_of(bytes))
        return false;
    size = number_at(bytes.data() + 8);
    kept = number_at(bytes.data() + 16);
    return kept <= size && own.size - head_size == kept &&
           number_at(bytes.data() + 24) == facts.volume &&
           number_at(bytes.data() + 32) == facts.index;
}

// Writes back the copy beside the file, if a whole one of this file is
// there, and removes it. A rollback is always synced: the copy goes only
// once the file it restored is on the disk.
bool roll_back(handle file, const place& where, const platform::file_facts& facts, int& error)
{
    const std::string name = copy_name(where.name);
    handle copy = platform::no_handle;
    bool readable = true;
    if (!platform::open_at(where.folder, name, copy, readable))
        return true;
    std::uint64_t size = 0;
    std::uint64_t kept = 0;
    if (readable && whole_copy(copy, facts, size, kept) &&
        !(platform::seek_start(file) && write_steps::copy_kept(copy, head_size, kept, file, 0) &&
          platform::truncate_to(file, size) && platform::sync_to_disk(file))) {
        error = platform::last_fault();
        platform::close_handle(copy);
        return false;
    }
    platform::close_handle(copy);
    // One cut short was made before the file was touched, and one of another
    // file that took the name since restores nothing here.
    platform::remove_at(where.folder, name);
    if (!platform::sync_to_disk(where.folder)) {
        // The copy may come back after a power cut, and restore the same.
    }
    return true;
}

// Removes the new files beside the image whose makers are gone.
void remove_orphans(const place& where)
{
    std::vector<std::string> names;
    if (!platform::names_beginning(where.folder, write_steps::temp_stem(where.name), names))
        return;
    for (const std::string& name : names) {
        if (!is_new_file_of(name, where.name))
            continue;
        handle file = platform::no_handle;
        bool readable = true;
        if (!platform::open_at(where.folder, name, file, readable))
            continue;
        platform::file_facts facts;
        if (platform::maker_gone(file) && platform::still_named(file, where.folder, name, facts) &&
            facts.regular)
            platform::remove_at(where.folder, name);
        platform::close_handle(file);
    }
}

} // namespace

bool is_new_file_of(const std::string& name, const std::string& image)
{
    const std::string stem = write_steps::temp_stem(image);
    return name.size() == stem.size() + write_steps::temp_letters &&
           name.compare(0, stem.size(), stem) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), name.end(),
                       [](char c) {
                           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                  (c >= '0' && c <= '9');
                       });
}

bool clear_leftovers(handle file, const place& where, platform::file_facts& facts, int& error)
{
    if (!roll_back(file, where, facts, error))
        return false;
    remove_orphans(where);
    if (!platform::facts_of(file, facts)) {
        error = platform::last_fault();
        return false;
    }
    return true;
}

bool make_copy(handle file, const place& where, const platform::file_facts& facts,
               std::uint64_t keep, int& error)
{
    const std::string name = copy_name(where.name);
    handle copy = platform::no_handle;
    if (!platform::create_new_at(where.folder, name, platform::new_file_access::owner_only, copy)) {
        error = platform::last_fault();
        return false;
    }
    // The kept bytes go on the disk before the head that makes them count,
    // even where the change is not durable: a head before its bytes would
    // write garbage back after a power cut.
    const head blank{};
    const head bytes = head_of(facts, keep);
    std::size_t done = 0;
    error = write_steps::close_written(
        copy, write_steps::write_all(copy, blank.data(), blank.size()) &&
                  write_steps::copy_kept(file, 0, keep, copy, blank.size()) && platform::sync_to_disk(copy) &&
                  platform::write_at(copy, bytes.data(), bytes.size(), 0, done) &&
                  write_steps::sync_written(copy, where.durable));
    // Found by its name only once the folder holds it.
    if (error == 0 && !write_steps::sync_written(where.folder, where.durable))
        error = platform::last_fault();
    if (error == 0)
        return true;
    platform::remove_at(where.folder, name);
    return false;
}

bool drop_copy(const place& where)
{
    platform::remove_at(where.folder, copy_name(where.name));
    return write_steps::sync_written(where.folder, where.durable);
}

} // namespace rollback

} // namespace cassmak::core
