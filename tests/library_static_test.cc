// A program linked with the static library that has functions of its own
// named and typed as the library's internals once were: the library keeps
// calling its own, so its behaviour does not depend on the program's names.
#include "cassmak/cassmak.h"

#include "support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {
int own_calls = 0;
} // namespace

enum class sync_mode { durable, fast };
enum class write_outcome { written };
struct write_result {
    write_outcome outcome = write_outcome::written;
    std::string reason;
};

bool is_path_separator(char)
{
    ++own_calls;
    return false;
}

std::string safe_name(const std::string&)
{
    ++own_calls;
    return "own";
}

write_result write_output(const std::string&, const std::uint8_t*, std::size_t, bool, sync_mode)
{
    ++own_calls;
    return {};
}

TEST(LibraryStatic, KeepsItsOwnFunctionsBesideAProgramsOfTheSameName)
{
    const std::uint8_t data[] = {1, 2, 3};
    cassmak::file_fields fields;
    fields.name = "a b";
    const cassmak::made_tape made = cassmak::make_file(data, sizeof data, fields);
    ASSERT_EQ(made.status, 0) << made.message;

    scratch_dir dir;
    const std::string path = dir.path("tape.kst");
    const cassmak::write_result written =
        cassmak::write_output(path, made.image.data(), made.image.size());
    EXPECT_EQ(written.status, 0) << written.message;
    EXPECT_TRUE(same_bytes(read_file(path), made.image));

    const cassmak::split_result split = cassmak::split_tape(made.image);
    ASSERT_EQ(split.pieces.size(), 1u) << split.message;
    EXPECT_EQ(split.pieces[0].file_name, "01-A_B.kst");
    EXPECT_EQ(own_calls, 0);
}
