// What every platform's implementation of the seam must do, through its
// header alone.
#include "io/files.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>

using namespace cassmak::core;

namespace fs = std::filesystem;

namespace {

// The largest image an update takes is the caller's rule; these tests take
// any.
constexpr std::uint64_t any_size = std::numeric_limits<std::uint64_t>::max();

std::set<std::string> names_in(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(Files, ReadWholeFileWithinItsLimit)
{
    scratch_dir dir;
    write_file(dir.path("a"), hex("01 02 03"));
    std::vector<std::uint8_t> buffer;
    std::size_t size = 99;
    EXPECT_EQ(read_outcome::read, read_whole_file(dir.path("a"), 3, buffer, size).outcome);
    EXPECT_EQ(hex("01 02 03"), bytes(buffer.begin(), buffer.begin() + 3));
    EXPECT_EQ(3U, size);
    EXPECT_EQ(read_outcome::too_large, read_whole_file(dir.path("a"), 2, buffer, size).outcome);
    const read_result missing = read_whole_file(dir.path("b"), 3, buffer, size);
    EXPECT_EQ(read_outcome::open_failed, missing.outcome);
    EXPECT_FALSE(missing.reason.empty());
    EXPECT_EQ(nullptr, open_input_file(dir.root().string()));
    EXPECT_EQ(nullptr, open_input_file(dir.path("b")));
}

TEST(Files, WriteOutputCreatesReplacesAndAppends)
{
    scratch_dir dir;
    const std::string out = dir.path("t.kst");
    const bytes first = hex("01 00 AA");
    const bytes second = hex("02 00 BB CC");
    EXPECT_EQ(write_outcome::written, write_output(out, first.data(), first.size(), false).outcome);
    EXPECT_EQ(first, read_file(out));
    EXPECT_EQ(write_outcome::written,
              write_output(out, second.data(), second.size(), true).outcome);
    EXPECT_EQ(concat({first, second}), read_file(out));
    EXPECT_EQ(write_outcome::written,
              write_output(out, second.data(), second.size(), false).outcome);
    EXPECT_EQ(second, read_file(out));
    EXPECT_EQ(write_outcome::open_failed,
              write_output(dir.path("no/t.kst"), first.data(), first.size(), false).outcome);
    EXPECT_EQ(write_outcome::open_failed,
              write_output(dir.root().string(), first.data(), first.size(), true).outcome);
    EXPECT_EQ((std::set<std::string>{"t.kst"}), names_in(dir.root()));
}

TEST(Files, WriteNewTakesOnlyAFreeName)
{
    scratch_dir dir;
    const std::string out = dir.path("new.bin");
    const bytes first = hex("01 02");
    const bytes second = hex("03");
    EXPECT_EQ(write_outcome::written, write_new(out, first.data(), first.size()).outcome);
    EXPECT_EQ(first, read_file(out));
    // A file that appeared since the caller found the name free is refused,
    // not replaced.
    const write_result taken = write_new(out, second.data(), second.size());
    EXPECT_EQ(write_outcome::exists, taken.outcome);
    EXPECT_EQ(std::strerror(EEXIST), taken.reason);
    EXPECT_EQ(first, read_file(out));
    EXPECT_EQ(write_outcome::open_failed,
              write_new(dir.path("no/new.bin"), first.data(), first.size()).outcome);
    EXPECT_NE(write_outcome::written,
              write_new(dir.root().string(), first.data(), first.size()).outcome);
    EXPECT_TRUE(fs::is_directory(dir.root()));
    EXPECT_EQ((std::set<std::string>{"new.bin"}), names_in(dir.root()));
}

TEST(Files, WriteNewNeverFollowsALink)
{
    SKIP_IF_MISSING(symbolic_links_missing());
    scratch_dir dir;
    fs::create_symlink(dir.path("elsewhere"), dir.path("link.bin"));
    const bytes first = hex("01 02");
    EXPECT_EQ(write_outcome::exists,
              write_new(dir.path("link.bin"), first.data(), first.size()).outcome);
    EXPECT_EQ((std::set<std::string>{"link.bin"}), names_in(dir.root()));
}

TEST(Files, UpdateOutputBuildsTheImageFromItsPlan)
{
    scratch_dir dir;
    const std::string out = dir.path("t.kst");
    write_file(out, hex("01 00 AA"));
    static const std::uint8_t fresh[] = {0x5A, 0x5B};
    // An image of exactly the largest size is taken.
    EXPECT_EQ(write_outcome::written,
              update_output(out, false, 3,
                            [](const old_file& old, bool existed, std::vector<plan_piece>& plan) {
                                EXPECT_TRUE(existed);
                                EXPECT_EQ(3U, old.size);
                                std::uint8_t first = 0;
                                EXPECT_TRUE(old.read(2, &first, 1));
                                EXPECT_EQ(0xAA, first);
                                // Spans of the old image in any order, new bytes between.
                                plan = {{nullptr, 2, 1}, {fresh, 0, 2}, {nullptr, 0, 2}};
                                return true;
                            })
                  .outcome);
    EXPECT_EQ(hex("AA 5A 5B 01 00"), read_file(out));
    EXPECT_EQ((std::set<std::string>{"t.kst"}), names_in(dir.root()));

    // One byte more than the largest fails before the transform sees it.
    const write_result large =
        update_output(out, false, 4, [](const old_file&, bool, std::vector<plan_piece>&) {
            ADD_FAILURE() << "the transform was called for an image over the largest";
            return true;
        });
    EXPECT_EQ(write_outcome::read_failed, large.outcome);
    EXPECT_FALSE(large.reason.empty());
    EXPECT_EQ(hex("AA 5A 5B 01 00"), read_file(out));

    // A read past the end fails the update with the system's reason, and
    // the file stays as it was whatever the transform then answers.
    const write_result failed = update_output(
        out, false, any_size, [](const old_file& old, bool, std::vector<plan_piece>& plan) {
            std::uint8_t byte = 0;
            EXPECT_FALSE(old.read(old.size, &byte, 1));
            plan = {{fresh, 0, 1}};
            return true;
        });
    EXPECT_EQ(write_outcome::read_failed, failed.outcome);
    EXPECT_FALSE(failed.reason.empty());
    EXPECT_EQ(hex("AA 5A 5B 01 00"), read_file(out));

    // A missing file made from new bytes alone, in fast mode.
    const std::string made = dir.path("new.kst");
    EXPECT_EQ(write_outcome::written,
              update_output(
                  made, true, any_size,
                  [](const old_file& old, bool existed, std::vector<plan_piece>& plan) {
                      EXPECT_FALSE(existed);
                      EXPECT_EQ(0U, old.size);
                      plan = {{fresh, 0, 2}};
                      return true;
                  },
                  sync_mode::fast)
                  .outcome);
    EXPECT_EQ(hex("5A 5B"), read_file(made));
}

// Kept spans longer than the steps a synced copy is cut into, and an append
// by copy of such an image, come out whole and in order in both modes.
TEST(Files, LongKeptSpansAreCopiedWhole)
{
    scratch_dir dir;
    const std::size_t size = (std::size_t{17} << 20) + 123;
    bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 256);
    static const std::uint8_t fresh[] = {0xC3};
    const std::size_t cut = (std::size_t{8} << 20) + 5;
    bytes updated(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
    updated.push_back(0xC3);
    updated.insert(updated.end(), image.begin() + static_cast<std::ptrdiff_t>(cut + 95),
                   image.end());
    for (const sync_mode sync : {sync_mode::durable, sync_mode::fast}) {
        const std::string out = dir.path("big.kst");
        write_file(out, image);
        EXPECT_EQ(write_outcome::written,
                  update_output(
                      out, false, any_size,
                      [&](const old_file& old, bool, std::vector<plan_piece>& plan) {
                          plan = {{nullptr, 0, cut},
                                  {fresh, 0, 1},
                                  {nullptr, cut + 95, old.size - cut - 95}};
                          return true;
                      },
                      sync)
                      .outcome);
        EXPECT_TRUE(updated == read_file(out));
        EXPECT_EQ(write_outcome::written, write_output(out, fresh, 1, true, sync).outcome);
        bytes appended = updated;
        appended.push_back(0xC3);
        EXPECT_TRUE(appended == read_file(out));
    }
}

TEST(Files, LookAtPathSaysWhatANameIsWithoutFollowingALink)
{
    scratch_dir dir;
    write_file(dir.path("a"), hex("01"));
    fs::create_directory(dir.path("d"));
    const struct {
        std::string path;
        path_kind kind;
    } cases[] = {
        {dir.path("a"), path_kind::file},       {dir.path("d"), path_kind::folder},
        {dir.path("none"), path_kind::missing}, {dir.path("none/a"), path_kind::missing},
        {dir.path("a/x"), path_kind::missing},
    };
    for (const auto& c : cases) {
        std::string reason;
        EXPECT_EQ(c.kind, look_at_path(c.path, reason)) << c.path;
        EXPECT_EQ("", reason) << c.path;
    }
    SKIP_IF_MISSING(symbolic_links_missing());
    fs::create_symlink(dir.path("a"), dir.path("to-a"));
    fs::create_symlink(dir.path("none"), dir.path("to-none"));
    std::string reason;
    EXPECT_EQ(path_kind::link, look_at_path(dir.path("to-a"), reason));
    EXPECT_EQ(path_kind::link, look_at_path(dir.path("to-none"), reason));
}

TEST(Files, MakeFoldersMakesWhatIsMissingAndStopsAtAFile)
{
    scratch_dir dir;
    write_file(dir.path("file"), hex("01"));
    for (const sync_mode sync : {sync_mode::durable, sync_mode::fast}) {
        const std::string top = dir.path(sync == sync_mode::durable ? "d" : "f");
        std::string reason;
        // Doubled and trailing separators; the second time every part is there.
        for (int time = 0; time < 2; ++time)
            EXPECT_TRUE(make_folders(top + "//x/y/", sync, reason)) << reason;
        EXPECT_TRUE(fs::is_directory(top + "/x/y"));
        EXPECT_FALSE(make_folders(dir.path("file/z"), sync, reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_TRUE(fs::is_regular_file(dir.path("file")));
    }
}

TEST(Files, NamesSameFileGoesByTheFileNotTheSpelling)
{
    scratch_dir dir;
    write_file(dir.path("a"), hex("01"));
    write_file(dir.path("b"), hex("01"));
    fs::create_directory(dir.path("d"));
    EXPECT_TRUE(names_same_file(dir.path("a"), dir.path("a")));
    EXPECT_TRUE(names_same_file(dir.path("a"), dir.path("d/../a")));
    EXPECT_TRUE(names_same_file(dir.path("d"), dir.path("./d")));
    EXPECT_FALSE(names_same_file(dir.path("a"), dir.path("b")));
    EXPECT_FALSE(names_same_file(dir.path("a"), dir.path("d")));
    EXPECT_FALSE(names_same_file(dir.path("a"), dir.path("none")));
    EXPECT_FALSE(names_same_file(dir.path("none"), dir.path("none")));
    SKIP_IF_MISSING(symbolic_links_missing());
    fs::create_symlink(dir.path("a"), dir.path("to-a"));
    EXPECT_TRUE(names_same_file(dir.path("to-a"), dir.path("a")));
}

} // namespace
