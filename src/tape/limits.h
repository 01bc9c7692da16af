// The largest tape image, one rule for everything that reads or changes one:
// both tools, the library and the page.
#pragma once

#include <cstdint>
#include <string_view>

namespace cassmak::core {

// The largest image read or changed, itself taken. No tape image comes near
// it; it stops a device such as /dev/zero from eating the memory.
constexpr std::uint64_t largest_image = std::uint64_t{1} << 30;

// Why a larger file is refused, after "PATH: ".
constexpr std::string_view image_too_large = "larger than 1 GiB, not a tape image";

} // namespace cassmak::core
