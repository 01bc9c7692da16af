// The library in a host program with threads: a change ended at any instant,
// by a signal another thread takes or by SIGKILL, leaves the image old or new
// whole once the next change has looked at it, and no file beside it; and
// changes in several threads at once leave the process's signal
// dispositions as they were, all along.
#include "cassmak/cassmak.h"

#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

using image = std::vector<std::uint8_t>;

// The names in the folder, sorted.
std::vector<std::string> names_in(const scratch_dir& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.root()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct kill_case {
    const char* what;
    bool linked; // a second name, so that the image is changed in place
    bool unheld; // SIGKILL, else SIGTERM
};

TEST(threads, a_change_ended_at_any_instant_leaves_an_image_whole)
{
    SKIP_IF_MISSING(signals_missing());
    // Sizes apart, so that a torn image is seen in its length too.
    const image first(384u << 10, 0xAA);
    const image second(256u << 10, 0xBB);
    for (const kill_case& c :
         {kill_case{"renamed, SIGTERM", false, false}, kill_case{"renamed, SIGKILL", false, true},
          kill_case{"in place, SIGTERM", true, false},
          kill_case{"in place, SIGKILL", true, true}}) {
        for (int trial = 0; trial < 16; ++trial) {
            SCOPED_TRACE(std::string(c.what) + ", trial " + std::to_string(trial));
            scratch_dir work;
            const std::string path = work.path("tape.kst");
            write_file(path, first);
            if (c.linked)
                fs::create_hard_link(path, work.path("link.kst"));
            const bool durable = trial % 2 == 1;
            bool flip = false;
            end_threaded_work_by_signal(
                [&] {
                    flip = !flip;
                    cassmak::save_tape(path, flip ? second : first, durable);
                },
                1000 + trial * 6000, c.unheld);

            // The next change sees a whole image, and clears what the
            // killed one left.
            image seen;
            const cassmak::write_result next =
                cassmak::update_output(path, false, [&](const image& old, bool, image&) {
                    seen = old;
                    return false;
                });
            EXPECT_EQ(cassmak::write_outcome::declined, next.outcome) << next.message;
            EXPECT_TRUE(seen == first || seen == second) << seen.size() << " bytes";
            const image now = read_file(path);
            EXPECT_TRUE(now == first || now == second) << now.size() << " bytes";
            std::vector<std::string> expected{"tape.kst"};
            if (c.linked) {
                expected.insert(expected.begin(), "link.kst");
                EXPECT_TRUE(read_file(work.path("link.kst")) == now);
            }
            EXPECT_EQ(expected, names_in(work));
        }
    }
}

TEST(threads, changes_at_once_leave_the_dispositions_as_they_were)
{
    SKIP_IF_MISSING(signals_missing());
    scratch_dir work;
    const std::string before = signal_dispositions();
    std::atomic<bool> done{false};
    std::atomic<int> changed{0};
    std::thread watch([&] {
        while (!done)
            if (signal_dispositions() != before)
                ++changed;
    });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 2; ++writer)
        writers.emplace_back([&, writer] {
            const std::string path = work.path("tape" + std::to_string(writer) + ".kst");
            const image bytes(4096, static_cast<std::uint8_t>(writer));
            for (int i = 0; i < 300; ++i) {
                cassmak::save_tape(path, bytes, false);
                cassmak::write_output(path, bytes.data(), bytes.size(), true, false);
            }
        });
    for (std::thread& writer : writers)
        writer.join();
    done = true;
    watch.join();
    EXPECT_EQ(0, changed.load());
    EXPECT_EQ(before, signal_dispositions());
}

} // namespace
