// The work of casstool's commands, apart from its command line. Each returns
// a casstool status (cli/tool_report.h), its failures already reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads the whole file at `path` into `buffer` (kept between files, so that
// going through many allocates once) and sets `size`. A file of more than
// `limit` bytes is refused, `too_large` saying why.
int load_file(const std::string& path, std::size_t limit, std::string_view too_large,
              std::vector<std::uint8_t>& buffer, std::size_t& size);

// Flushes standard output, where stdio shows a failed write (a full disk, a
// closed pipe), and reports that failure; otherwise returns `status`.
int finish_stdout(int status);

// `casstool list`: a table of each image's entries with a summary line, or
// with `json` one JSON object per entry and line. Goes on past an image that
// cannot be read.
int run_list(const std::vector<std::string>& images, bool json);

// `casstool extract`: the payload of entry `number` of `image_path` into
// `output`, or to standard output when there is none. A damaged entry only
// with `force`.
int run_extract(const std::string& image_path, std::size_t number,
                const std::optional<std::string>& output, bool force);

// `casstool basic`: the BASIC program in entry `number` of `image_path` (the
// first file of type '>' when there is none) as source text into `output` or
// to standard output.
int run_basic(const std::string& image_path, std::optional<std::size_t> number,
              const std::optional<std::string>& output);

// `casstool check`: checks each BASIC source for what the importer will do
// differently from what was meant; `disabled` holds the kinds turned off.
int run_check(const std::vector<std::string>& sources, const std::vector<std::string>& disabled);
