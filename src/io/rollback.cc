// The copy a change in place writes first, and the leftovers of changes cut
// short, over the platform's primitives. The copy is self-checking, so that
// one cut short while it was written (the file not touched yet) is told from
// a whole one, and bound to its file by the file's identity, so that it is
// never written into another file that took the name since.
#include "io/rollback.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace cassmak::core {

namespace rollback {

namespace {

// The copy's head: its mark, the file's size, how many bytes are kept, the
// file's volume and index, and a check of all before it and the kept bytes.
constexpr char mark[8] = {'C', 'A', 'S', 'R', 'B', 'K', '0', '1'};
constexpr std::size_t head_size = 48;

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

// FNV-1a: enough to tell a copy whole from one cut short or left unsynced.
std::uint64_t check_of(const std::uint8_t* head, const std::vector<std::uint8_t>& kept)
{
    std::uint64_t hash = 0xCBF29CE484222325U;
    const auto take = [&](const std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            hash = (hash ^ bytes[i]) * 0x100000001B3U;
    };
    take(head, head_size - 8);
    take(kept.data(), kept.size());
    return hash;
}

std::array<std::uint8_t, head_size> head_of(const platform::file_facts& facts,
                                            const std::vector<std::uint8_t>& kept)
{
    std::array<std::uint8_t, head_size> head{};
    std::memcpy(head.data(), mark, sizeof mark);
    put_number(head.data() + 8, facts.size);
    put_number(head.data() + 16, kept.size());
    put_number(head.data() + 24, facts.volume);
    put_number(head.data() + 32, facts.index);
    put_number(head.data() + 40, check_of(head.data(), kept));
    return head;
}

// Reads a whole copy open on `copy` that belongs to the file of `facts`:
// the file's size and its kept bytes. False for one cut short, damaged or
// another file's.
bool read_copy(handle copy, const platform::file_facts& facts, std::uint64_t& size,
               std::vector<std::uint8_t>& kept)
{
    platform::file_facts own;
    std::array<std::uint8_t, head_size> head{};
    if (!platform::facts_of(copy, own) || !own.regular || own.size < head_size ||
        !platform::read_at(copy, head.data(), head_size, 0) ||
        std::memcmp(head.data(), mark, sizeof mark) != 0)
        return false;
    size = number_at(head.data() + 8);
    const std::uint64_t count = number_at(head.data() + 16);
    if (count > size || own.size - head_size != count || number_at(head.data() + 24) != facts.volume ||
        number_at(head.data() + 32) != facts.index)
        return false;
    kept.resize(static_cast<std::size_t>(count));
    return platform::read_at(copy, kept.data(), kept.size(), head_size) &&
           check_of(head.data(), kept) == number_at(head.data() + 40);
}

// Writes back the copy at `name`, if a whole one of this file is there, and
// removes it. A rollback is always synced: the copy goes only once the file
// it restored is on the disk.
bool roll_back(handle file, const place& where, const platform::file_facts& facts, int& error)
{
    const std::string name = copy_name(where.name);
    handle copy = platform::no_handle;
    bool readable = true;
    if (!platform::open_at(where.folder, name, copy, readable))
        return true;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> kept;
    bool whole = false;
    try {
        whole = readable && read_copy(copy, facts, size, kept);
    } catch (const std::bad_alloc&) {
        platform::close_handle(copy);
        error = ENOMEM;
        return false;
    }
    platform::close_handle(copy);
    if (whole) {
        std::size_t done = 0;
        if (!platform::write_at(file, kept.data(), kept.size(), 0, done) ||
            !platform::truncate_to(file, size) || !platform::sync_to_disk(file)) {
            error = platform::last_fault();
            return false;
        }
    }
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

bool make_copy(const place& where, const platform::file_facts& facts,
               const std::vector<std::uint8_t>& kept, int& error)
{
    const std::string name = copy_name(where.name);
    handle copy = platform::no_handle;
    if (!platform::create_new_at(where.folder, name, platform::new_file_access::owner_only, copy)) {
        error = platform::last_fault();
        return false;
    }
    const std::array<std::uint8_t, head_size> head = head_of(facts, kept);
    error = write_steps::close_written(
        copy, write_steps::write_all(copy, head.data(), head.size()) &&
                  write_steps::write_all(copy, kept.data(), kept.size()) &&
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
