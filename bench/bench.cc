// Micro-benchmarks of the tokenizer, the importer and the lister.
#include "basic/detokenizer.h"
#include "basic/importer.h"
#include "basic/tokenizer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace cassmak::core;

namespace {

// A 126-byte line of the kind programs are made of.
const std::string typical = [] {
    std::string line = "PRINT \"VALUE OF A IS\";A(I)*2+B:IF X>Y THEN GOSUB 2000:FOR J=1 TO "
                       "10:NEXT J:DATA 1,2,\"A:B\":REM CHECK THE RESULT";
    line.resize(126, 'X');
    return line;
}();

void tokenize(benchmark::State& state, const std::string& line)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(tokenize_line(line));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

int import(std::vector<std::uint8_t>& buffer, const std::string& source)
{
    return import_basic(buffer.data(), static_cast<int>(buffer.size()), source).length;
}

// The largest source of typical lines whose image still fits.
std::string largest_source(std::vector<std::uint8_t>& buffer)
{
    std::string fits;
    for (int number = 10;; number += 10) {
        std::string more = fits + std::to_string(number) + " " + typical + "\n";
        if (more.size() > basic_source_max || import(buffer, more) < 0)
            return fits;
        fits = std::move(more);
    }
}

void BM_import_largest(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(65536);
    std::string source = largest_source(buffer);
    int length = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(length = import(buffer, source));
    state.counters["image_bytes"] = length;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

// The largest image there is of one record: 65,527 tokens of the longest
// keyword, every one of which fitting the line must consider.
std::vector<std::uint8_t> longest_record_image()
{
    int token = first_token;
    for (int t = first_token; t < first_token + keyword_count; ++t)
        if (keyword_of(t).size() > keyword_of(token).size())
            token = t;
    const std::size_t text = 65534 - end_link_size - record_size(0);
    std::vector<std::uint8_t> image(record_text, 0);
    store_word(image.data() + record_link,
               static_cast<std::uint32_t>(basic_base_address + record_size(text)));
    store_word(image.data() + record_number, 10);
    image.resize(record_text + text, static_cast<std::uint8_t>(token));
    image.resize(image.size() + 1 + end_link_size, 0);
    return image;
}

void BM_list_longest_record(benchmark::State& state)
{
    const std::vector<std::uint8_t> image = longest_record_image();
    for (auto _ : state)
        benchmark::DoNotOptimize(list_basic_program(image.data(), image.size()));
    state.counters["image_bytes"] = static_cast<double>(image.size());
}

} // namespace

BENCHMARK_CAPTURE(tokenize, typical_126, typical);
// Every byte starts several keywords and completes none.
BENCHMARK_CAPTURE(tokenize, near_misses_126, std::string(126, 'S'));
// Every byte is checked against the whole table with the plain linear lookup.
BENCHMARK_CAPTURE(tokenize, no_keyword_126, std::string(126, 'Z'));
BENCHMARK(BM_import_largest);
BENCHMARK(BM_list_longest_record)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
