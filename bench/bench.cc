// Micro-benchmarks of the tokenizer and the importer.
#include "basic/importer.h"
#include "basic/tokenizer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

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

// Silences the importer's progress lines while the loop runs.
class quiet_stdout {
  public:
    quiet_stdout() : saved_(dup(1))
    {
        std::fflush(stdout);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~quiet_stdout()
    {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }
    quiet_stdout(const quiet_stdout&) = delete;
    quiet_stdout& operator=(const quiet_stdout&) = delete;

  private:
    int saved_;
};

int import(std::vector<std::uint8_t>& buffer, std::string& source)
{
    std::FILE* file = fmemopen(source.data(), source.size(), "rb");
    int length = import_basic(buffer.data(), static_cast<int>(buffer.size()), file, "bench.bas");
    std::fclose(file);
    return length;
}

// The largest source of typical lines whose image still fits.
std::string largest_source(std::vector<std::uint8_t>& buffer)
{
    quiet_stdout quiet;
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
    quiet_stdout quiet;
    int length = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(length = import(buffer, source));
    state.counters["image_bytes"] = length;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

} // namespace

BENCHMARK_CAPTURE(tokenize, typical_126, typical);
// Every byte starts several keywords and completes none.
BENCHMARK_CAPTURE(tokenize, near_misses_126, std::string(126, 'S'));
// Every byte is checked against the whole table with the plain linear lookup.
BENCHMARK_CAPTURE(tokenize, no_keyword_126, std::string(126, 'Z'));
BENCHMARK(BM_import_largest);

BENCHMARK_MAIN();
