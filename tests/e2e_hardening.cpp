// The run under stress: allocations that fail, a storm of window-size
// changes, a termination signal that lands while the program is still
// starting. Frames are checked byte for byte against the library's own
// rain, stepped in the test the way the frame loop steps it.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "matrix.hpp"
#include "pty_harness.hpp"
#include "rain.hpp"
#include "screen.hpp"
#include "settings.hpp"
#include "test_support.hpp"

namespace {

// The program's rain, driven here: what the child must draw, frame by frame.
struct model {
    matrix cells{};
    float drop_ratio = 0;
    float error_ratio = 0;
};

model model_of(std::uint8_t drops, unsigned seed) {
    settings s{};
    s.drops = drops;
    std::srand(seed);
    return {matrix{}, settings_drop_ratio(s), settings_error_ratio(s)};
}

std::string drawn(const matrix& m) {
    return written([&](int fd) { screen_draw(m, fd); });
}

// After the draw: glitch, advance, spawn.
void step(model& m) {
    rain_glitch(m.cells, m.error_ratio);
    rain_advance(m.cells);
    rain_spawn(m.cells);
}

// A window-size change as the frame loop takes it up; `allocates` false plays
// a reallocation that fails, which keeps the old cells and their count.
std::function<void(model&)> resize_to(std::uint16_t rows, std::uint16_t cols, bool allocates = true) {
    return [=](model& m) {
        if (allocates) {
            ASSERT_TRUE(matrix_resize(m.cells, rows, cols, m.drop_ratio));
        }
        matrix_fill(m.cells);
        rain_seed(m.cells);
    };
}

// Follows the child's frames with the model. A frame is the model's next
// frame as it stands or, where the window size changed, the one after the
// next of `changes`. Returns the index of the frame at which each change
// was taken up.
std::vector<std::size_t> follow(const std::vector<std::string_view>& frames, model& m,
                                const std::vector<std::function<void(model&)>>& changes) {
    std::vector<std::size_t> taken;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i] != drawn(m.cells)) {
            if (taken.size() == changes.size()) {
                ADD_FAILURE() << "frame " << i << " is no frame the rain draws";
                return taken;
            }
            changes[taken.size()](m);
            taken.push_back(i);
            if (frames[i] != drawn(m.cells)) {
                ADD_FAILURE() << "frame " << i << " differs from the frame after change " << taken.size();
                return taken;
            }
        }
        step(m);
    }
    return taken;
}

// ALLOC_SEAM_FAIL for the allocation seam, set for the children started
// while it lives.
struct failing_calls {
    explicit failing_calls(const char* calls) { setenv("ALLOC_SEAM_FAIL", calls, 1); }
    ~failing_calls() { unsetenv("ALLOC_SEAM_FAIL"); }
    failing_calls(const failing_calls&) = delete;
    failing_calls& operator=(const failing_calls&) = delete;
};

void end_with(pty_child& c, int signal) {
    ASSERT_TRUE(pty_signal(c, signal));
    ASSERT_TRUE(pty_wait_exit(c));
    pty_close(c);
    EXPECT_TRUE(pty_exited_with(c.status, 0)) << "status " << c.status;
    EXPECT_TRUE(c.out.ends_with(pty_restore));
    EXPECT_TRUE(c.echo_at_exit);
    EXPECT_EQ(c.err_text, "");
}

std::size_t cells_of(std::string_view frame) { return pty_parse_frame(frame).cells.size(); }

// The cells can't be had at the start: the run goes on drawing nothing but
// the cursor-home sequence until a window-size change allocates them, and
// from then on draws the rain.
TEST(AllocationFailure, FailedCreateDrawsEmptyFramesUntilASizeChange) {
    const failing_calls seam("1");
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-r", "31", "-s", "100", "-d", "40"}, .binary = GLYPHFALL_ALLOC_SEAM}));
    ASSERT_TRUE(pty_wait_frames(c, 5));
    ASSERT_TRUE(pty_resize(c, 10, 30));
    ASSERT_TRUE(pty_read_until(c, [](const pty_child& x) {
        const pty_stream s = pty_split(x.out);
        return s.frames.size() >= 6 && s.frames[s.frames.size() - 2].size() > pty_home.size();
    }));
    ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 5));
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    EXPECT_EQ(s.setup, pty_setup_plain);
    model m = model_of(40, 31);
    const std::vector<std::size_t> taken = follow(s.frames, m, {resize_to(10, 30)});
    ASSERT_EQ(taken.size(), 1U);
    EXPECT_GE(taken[0], 5U);
    for (std::size_t i = 0; i < taken[0]; ++i) {
        EXPECT_EQ(s.frames[i], pty_home) << "frame " << i;
    }
    EXPECT_GE(s.frames.size() - taken[0], 6U);
    EXPECT_GT(pty_lit(pty_parse_frame(s.frames[taken[0]])), 0U) << "no drops seeded after the size change";
    matrix_free(m.cells);
}

// On a 32-bit target the bytes of such windows outgrow size_t: their cells
// can't be had, as when an allocation fails, and the run goes on.
TEST(AllocationFailure, WindowsWhoseBytesOutgrowSizeTOnA32BitTarget) {
    if (sizeof(std::size_t) > 4) {
        GTEST_SKIP() << "a 64-bit target can count them: it would fill and draw 2^31 cells";
    }
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-r", "33", "-s", "100"}, .rows = 32769, .cols = 65535}));
    ASSERT_TRUE(pty_wait_frames(c, 3));
    ASSERT_TRUE(pty_resize(c, 10, 30));
    const auto frames_of_cells = [](std::size_t count) {
        return [count](const pty_child& x) {
            const pty_stream s = pty_split(x.out);
            return s.frames.size() >= 4 && cells_of(s.frames[s.frames.size() - 2]) == count &&
                   cells_of(s.frames[s.frames.size() - 3]) == count;
        };
    };
    ASSERT_TRUE(pty_read_until(c, frames_of_cells(300)));
    const std::size_t before = pty_frames_begun(c);
    ASSERT_TRUE(pty_resize(c, 46341, 46341));
    ASSERT_TRUE(pty_wait_frames(c, before + 5));
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    model m = model_of(10, 33);
    const std::vector<std::size_t> taken = follow(s.frames, m, {resize_to(10, 30), resize_to(46341, 46341, false)});
    ASSERT_EQ(taken.size(), 2U);
    for (std::size_t i = 0; i < taken[0]; ++i) {
        EXPECT_EQ(s.frames[i], pty_home) << "frame " << i;
    }
    for (std::size_t i = taken[0]; i < s.frames.size(); ++i) {
        EXPECT_EQ(cells_of(s.frames[i]), 300U) << "frame " << i;
    }
    matrix_free(m.cells);
}

// A reallocation that fails keeps the old cells: the picture is refilled and
// reseeded at the old size, and the drop count goes on from where it was, so
// fewer drops are spawned. The next size change that gets its cells recovers.
TEST(AllocationFailure, FailedResizeKeepsTheOldSizeAndItsCount) {
    const failing_calls seam("2");
    pty_child c;
    ASSERT_TRUE(pty_start(
        c, {.args = {"-r", "32", "-s", "100", "-d", "100"}, .rows = 12, .cols = 40, .binary = GLYPHFALL_ALLOC_SEAM}));
    ASSERT_TRUE(pty_wait_frames(c, 4));
    ASSERT_TRUE(pty_resize(c, 8, 20));
    ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 8));
    ASSERT_TRUE(pty_resize(c, 6, 25));
    ASSERT_TRUE(pty_read_until(c, [](const pty_child& x) {
        const pty_stream s = pty_split(x.out);
        return s.frames.size() >= 2 && cells_of(s.frames[s.frames.size() - 2]) == 6U * 25U;
    }));
    ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 3));
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    model m = model_of(100, 32);
    ASSERT_TRUE(matrix_create(m.cells, 12, 40, m.drop_ratio));
    matrix_fill(m.cells);
    model reset{};  // the same run, had the failed resize reset the count
    const auto failed = [&reset](model& x) {
        const std::uint64_t count = x.cells.drop_count;
        resize_to(8, 20, false)(x);
        reset = x;
        reset.cells.cells = nullptr;
        ASSERT_TRUE(matrix_create(reset.cells, x.cells.rows, x.cells.cols, x.drop_ratio));
        std::copy(x.cells.cells, x.cells.cells + matrix_size(x.cells), reset.cells.cells);
        reset.cells.drop_count = x.cells.drop_count - count;
    };
    const std::vector<std::size_t> taken = follow(s.frames, m, {failed, resize_to(6, 25)});
    ASSERT_EQ(taken.size(), 2U);
    EXPECT_GE(taken[0], 4U);
    for (std::size_t i = 0; i < taken[1]; ++i) {
        EXPECT_EQ(cells_of(s.frames[i]), 12U * 40U) << "frame " << i;
    }
    for (std::size_t i = taken[1]; i < s.frames.size(); ++i) {
        EXPECT_EQ(cells_of(s.frames[i]), 6U * 25U) << "frame " << i;
    }
    // The count that was kept shows: with it reset, the frames would differ.
    bool differs = false;
    for (std::size_t i = taken[0] + 1; i < taken[1] && !differs; ++i) {
        step(reset);
        differs = drawn(reset.cells) != s.frames[i];
    }
    EXPECT_TRUE(differs) << "a reset count would have drawn the same frames";
    matrix_free(reset.cells);
    matrix_free(m.cells);
}

// A size change that lands while another is being handled, after its size
// query, is not lost: the next frame handles it, refilling and reseeding again.
TEST(Signals, SizeChangeDuringAResizeIsTakenUpNextFrame) {
    setenv("ALLOC_SEAM_SIGWINCH", "2", 1);
    pty_child c;
    const bool started = pty_start(
        c, {.args = {"-r", "35", "-s", "100", "-d", "50"}, .rows = 12, .cols = 40, .binary = GLYPHFALL_ALLOC_SEAM});
    unsetenv("ALLOC_SEAM_SIGWINCH");
    ASSERT_TRUE(started);
    ASSERT_TRUE(pty_wait_frames(c, 4));
    ASSERT_TRUE(pty_resize(c, 8, 20));
    ASSERT_TRUE(pty_read_until(c, [](const pty_child& x) {
        const pty_stream s = pty_split(x.out);
        return s.frames.size() >= 6 && cells_of(s.frames[s.frames.size() - 6]) == 8U * 20U;
    }));
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    model m = model_of(50, 35);
    ASSERT_TRUE(matrix_create(m.cells, 12, 40, m.drop_ratio));
    matrix_fill(m.cells);
    const std::vector<std::size_t> taken = follow(s.frames, m, {resize_to(8, 20), resize_to(8, 20)});
    ASSERT_EQ(taken.size(), 2U) << "the change raised during the resize was lost";
    EXPECT_EQ(taken[1], taken[0] + 1);
    matrix_free(m.cells);
}

// Several hundred size changes, a third of them to 0 rows or 0 columns,
// while the program draws as fast as it can; it follows each size it reads
// and then ends cleanly on SIGTERM.
TEST(Signals, StormOfSizeChangesThenTermination) {
    constexpr int changes = 600;
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-r", "33", "-s", "100", "-d", "60"}, .rows = 24, .cols = 80}));
    ASSERT_TRUE(pty_wait_frames(c, 2));

    std::mt19937 random(33);
    std::uniform_int_distribution<int> rows(0, 70);
    std::uniform_int_distribution<int> cols(0, 200);
    std::set<std::size_t> cell_counts{24U * 80U};
    int empty = 0;
    for (int i = 0; i < changes; ++i) {
        auto r = static_cast<std::uint16_t>(rows(random));
        auto k = static_cast<std::uint16_t>(cols(random));
        if (i % 3 == 0) {
            (i % 2 == 0 ? r : k) = 0;
        }
        empty += r == 0 || k == 0 ? 1 : 0;
        cell_counts.insert(std::size_t{r} * k);
        ASSERT_TRUE(pty_resize(c, r, k));
        if (i % 4 == 0) {
            pty_read_until(
                c, [](const pty_child&) { return false; }, 1ms);
        }
    }
    cell_counts.insert(20U * 60U);
    ASSERT_TRUE(pty_resize(c, 20, 60));
    ASSERT_TRUE(pty_read_until(c, [](const pty_child& x) {
        const pty_stream s = pty_split(x.out);
        return s.frames.size() >= 2 && cells_of(s.frames[s.frames.size() - 2]) == 20U * 60U;
    }));
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    EXPECT_EQ(s.setup, pty_setup_plain);
    std::size_t empty_frames = 0;
    for (std::size_t i = 0; i < s.frames.size(); ++i) {
        const pty_frame f = pty_parse_frame(s.frames[i]);
        ASSERT_TRUE(f.ok) << "frame " << i << ": " << f.error;
        EXPECT_TRUE(cell_counts.contains(f.cells.size())) << "frame " << i << " has " << f.cells.size() << " cells";
        empty_frames += f.cells.empty() ? 1 : 0;
    }
    EXPECT_EQ(cells_of(s.frames.back()), 20U * 60U);
    std::printf("%d size changes (%d with no rows or columns), %zu frames, %zu of them empty\n", changes, empty,
                s.frames.size(), empty_frames);
}

// What the process is doing now, from /proc: the system call it is blocked
// in, and whether a signal waits to be delivered.
long syscall_of(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    return file >> number ? number : -1;
}

bool pending(pid_t pid, int signal) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    const unsigned long long bit = 1ULL << (signal - 1);
    for (std::string line; std::getline(file, line);) {
        if ((line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) &&
            (std::stoull(line.substr(7), nullptr, 16) & bit) != 0) {
            return true;
        }
    }
    return false;
}

std::string executable_of(pid_t pid) {
    std::array<char, 4096> path{};
    const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), path.data(), path.size() - 1);
    return n > 0 ? std::string(path.data(), static_cast<std::size_t>(n)) : std::string();
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const pty_clock::time_point deadline = pty_clock::now() + timeout;
    while (!done()) {
        if (pty_clock::now() >= deadline) {
            return false;
        }
        pty_stall(2ms);
    }
    return true;
}

// A terminal so slow that the start-up blocks: a shell fills the terminal's
// buffer without blocking, then becomes the program, whose set-up then waits
// until the test reads. A SIGTERM delivered there is forgotten and the run
// goes on; a size change made there is taken up by the first frame. A later
// SIGTERM ends the run.
TEST(Signals, TerminationDuringStartupIsForgotten) {
    if (pty_emulator() != nullptr) {
        GTEST_SKIP() << "under an emulator /proc/PID shows the emulator, and the shell cannot exec the program";
    }
    char* const real = realpath(pty_binary(), nullptr);
    ASSERT_NE(real, nullptr);
    const std::string binary = real;
    std::free(real);
    // Writes until the terminal takes no more. Done twice: the kernel moves
    // part of the first fill on towards the reader, which the second makes up.
    const std::string fill = "dd if=/dev/zero of=/dev/stdout bs=4096 count=1024 oflag=nonblock 2>/dev/null";
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-c", fill + "; sleep 0.1; " + fill + "; exec \"$0\" \"$@\"", binary, "-r", "34",
                                       "-s", "100", "-d", "50"},
                              .binary = "/bin/sh"}));
    const auto blocked = [&c, &binary] {
        const long call = syscall_of(c.pid);
        return executable_of(c.pid) == binary && (call == SYS_write || call == SYS_ioctl);
    };
    ASSERT_TRUE(wait_until(blocked)) << "the set-up never blocked";
    pty_stall(50ms);
    ASSERT_TRUE(blocked());
    ASSERT_TRUE(pty_resize(c, 12, 40));
    ASSERT_TRUE(pty_signal(c, SIGTERM));
    ASSERT_TRUE(wait_until([&c] { return !pending(c.pid, SIGTERM) && !pending(c.pid, SIGWINCH); }));
    // Handling the signals, it runs for a moment before it blocks again.
    ASSERT_TRUE(wait_until(blocked)) << "the set-up did not wait for the terminal";

    ASSERT_TRUE(pty_wait_frames(c, 6)) << "the run ended on the SIGTERM of its start-up; status " << c.status << ", "
                                       << pty_split(c.out).frames.size() << " frames, " << c.err_text;
    end_with(c, SIGTERM);

    const pty_stream s = pty_split(c.out);
    ASSERT_TRUE(s.setup.ends_with(pty_setup_plain));
    EXPECT_EQ(s.setup.find_first_not_of('\0'), s.setup.size() - pty_setup_plain.size());
    model m = model_of(50, 34);
    ASSERT_TRUE(matrix_create(m.cells, 24, 80, m.drop_ratio));
    matrix_fill(m.cells);
    const std::vector<std::size_t> taken = follow(s.frames, m, {resize_to(12, 40)});
    ASSERT_EQ(taken.size(), 1U);
    EXPECT_EQ(taken[0], 0U) << "the size change of the start-up waits for the first frame";
    EXPECT_GE(s.frames.size(), 6U);
    matrix_free(m.cells);
}

}  // namespace
