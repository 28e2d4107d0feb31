// A run seen from the terminal: refusals at start, the set-up bytes, whole
// frames, the end on a signal, window-size changes and the frame sleep.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

#include "pty_harness.hpp"

namespace {

struct size {
    std::uint16_t rows;
    std::uint16_t cols;
};

std::string size_name(size s) { return std::to_string(s.rows) + "x" + std::to_string(s.cols); }

std::string signal_name(int signal) { return sigabbrev_np(signal); }

// Every frame must parse; returns their cell counts in order.
std::vector<std::size_t> cell_counts(const pty_child& c) {
    std::vector<std::size_t> counts;
    for (const pty_frame& f : pty_parse_frames(c)) {
        EXPECT_TRUE(f.ok) << "frame " << counts.size() << ": " << f.error;
        counts.push_back(f.cells.size());
    }
    return counts;
}

std::string listed(const std::vector<std::size_t>& counts) {
    std::string text;
    for (const std::size_t n : counts) {
        text += std::to_string(n) + " ";
    }
    return text;
}

TEST(Startup, RefusesStandardOutputThatIsNoTerminal) {
    for (const pty_sink sink : {pty_sink::file, pty_sink::pipe}) {
        SCOPED_TRACE(sink == pty_sink::file ? "file" : "pipe");
        const pty_plain_result r = pty_run_plain({"-r", "3"}, sink);
        ASSERT_TRUE(r.exited);
        EXPECT_TRUE(pty_exited_with(r.status, 1));
        EXPECT_EQ(r.err, "Failed to determine terminal size\n");
        EXPECT_EQ(r.out, "");
    }
}

// Echo starts off: a run that touched the terminal would leave it on.
TEST(Startup, RefusesATerminalWithoutRowsOrColumns) {
    for (const size s : {size{0, 80}, size{24, 0}, size{0, 0}}) {
        SCOPED_TRACE(size_name(s));
        pty_child c;
        ASSERT_TRUE(pty_start(c, {.args = {}, .rows = s.rows, .cols = s.cols, .echo = false}));
        ASSERT_TRUE(pty_wait_exit(c));
        pty_close(c);
        EXPECT_TRUE(pty_exited_with(c.status, 1));
        EXPECT_EQ(c.err_text, "Terminal size not appropriate\n");
        EXPECT_EQ(c.out, "");
        EXPECT_FALSE(c.echo_at_exit);
    }
}

TEST(Frames, SetupThenFramesOfEveryCellStartingBlank) {
    for (const size s : {size{1, 1}, size{24, 80}, size{50, 200}, size{1, 120}, size{40, 1}}) {
        SCOPED_TRACE(size_name(s));
        pty_child c;
        ASSERT_TRUE(pty_run(c, {.args = {}, .rows = s.rows, .cols = s.cols}, 4));
        EXPECT_TRUE(pty_exited_with(c.status, 0));
        EXPECT_EQ(c.err_text, "");
        const pty_stream stream = pty_split(c.out);
        EXPECT_EQ(stream.setup, pty_setup_plain);
        EXPECT_EQ(stream.restore, pty_restore);
        const std::vector<pty_frame> frames = pty_parse_frames(c);
        ASSERT_GE(frames.size(), 4U);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            ASSERT_TRUE(frames[i].ok) << "frame " << i << ": " << frames[i].error;
            EXPECT_EQ(frames[i].cells.size(), std::size_t{s.rows} * s.cols) << "frame " << i;
        }
        // No drops are laid at start: they enter from the top afterwards.
        EXPECT_EQ(pty_lit(frames[0]), 0U);
    }
}

TEST(Signals, EachTerminationSignalEndsTheRunAndTurnsEchoOn) {
    for (const int signal : {SIGINT, SIGQUIT, SIGTERM}) {
        for (const bool echo_before : {false, true}) {
            SCOPED_TRACE(signal_name(signal) + (echo_before ? " echo on before" : " echo off before"));
            pty_child c;
            ASSERT_TRUE(pty_start(c, {.args = {"-s", "50"}, .rows = 24, .cols = 80, .echo = echo_before}));
            ASSERT_TRUE(pty_wait_frames(c, 3));
            EXPECT_FALSE(pty_echo(c)) << "echo during the run";
            ASSERT_TRUE(pty_signal(c, signal));
            ASSERT_TRUE(pty_wait_exit(c));
            pty_close(c);
            EXPECT_TRUE(pty_exited_with(c.status, 0)) << "status " << c.status;
            EXPECT_TRUE(c.echo_at_exit);
            EXPECT_TRUE(c.out.ends_with(pty_restore));
            const std::vector<std::size_t> counts = cell_counts(c);
            ASSERT_GE(counts.size(), 3U);
            EXPECT_EQ(std::count(counts.begin(), counts.end(), 24U * 80U), std::ssize(counts));
            EXPECT_EQ(c.err_text, "");
        }
    }
}

// Typed keys must not land in the picture (they would break a frame apart)
// nor wait in the terminal for the shell after the end.
TEST(Signals, KeysTypedDuringTheRunAreNeitherEchoedNorKept) {
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-s", "50"}, .rows = 24, .cols = 80}));
    ASSERT_TRUE(pty_wait_frames(c, 2));
    ASSERT_TRUE(pty_type(c, "qwerty\nasdf"));
    ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 3));
    ASSERT_TRUE(pty_signal(c, SIGINT));
    ASSERT_TRUE(pty_wait_exit(c));
    pty_close(c);
    EXPECT_TRUE(pty_exited_with(c.status, 0));
    EXPECT_EQ(c.out.find("asdf"), std::string::npos);
    EXPECT_EQ(c.input_at_exit, 0U);
    const std::vector<std::size_t> counts = cell_counts(c);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), 24U * 80U), std::ssize(counts)) << listed(counts);
}

// Echo belongs to the terminal on standard input; when that is something
// else the run goes on and leaves the terminal's echo as it was.
TEST(Signals, StandardInputThatIsNoTerminalIsLeftAlone) {
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_NE(null, -1);
    pty_child c;
    const bool started = pty_start(c, {.args = {"-s", "50"}, .rows = 24, .cols = 80, .echo = false, .input = null});
    close(null);
    ASSERT_TRUE(started);
    ASSERT_TRUE(pty_wait_frames(c, 3));
    ASSERT_TRUE(pty_signal(c, SIGINT));
    ASSERT_TRUE(pty_wait_exit(c));
    pty_close(c);
    EXPECT_TRUE(pty_exited_with(c.status, 0));
    EXPECT_FALSE(c.echo_at_exit);
    EXPECT_EQ(pty_split(c.out).setup, pty_setup_plain);
    EXPECT_TRUE(c.out.ends_with(pty_restore));
    EXPECT_EQ(c.err_text, "");
}

// Frames up to the change keep the old size, every frame after it has the new
// one, and the new picture starts full of scattered drops.
TEST(Resize, FramesFollowTheNewSizeAndStartFullOfDrops) {
    struct change {
        size to;
        bool drops;  // whether the new size holds at least one drop's worth of cells
    };
    for (const change ch : {change{{40, 120}, true}, change{{10, 30}, true}, change{{1, 1}, false}}) {
        SCOPED_TRACE(size_name(ch.to));
        pty_child c;
        ASSERT_TRUE(pty_start(c, {.args = {"-s", "50", "-r", "11"}, .rows = 24, .cols = 80}));
        ASSERT_TRUE(pty_wait_frames(c, 3));
        ASSERT_TRUE(pty_resize(c, ch.to.rows, ch.to.cols));
        ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 4));
        ASSERT_TRUE(pty_signal(c, SIGINT));
        ASSERT_TRUE(pty_wait_exit(c));
        pty_close(c);
        EXPECT_TRUE(pty_exited_with(c.status, 0));

        const std::vector<pty_frame> frames = pty_parse_frames(c);
        constexpr std::size_t old_cells = 24U * 80U;
        const std::size_t new_cells = std::size_t{ch.to.rows} * ch.to.cols;
        const auto first_new =
            std::find_if(frames.begin(), frames.end(), [](const pty_frame& f) { return f.cells.size() != old_cells; });
        ASSERT_GE(first_new - frames.begin(), 3);
        ASSERT_NE(first_new, frames.end());
        for (auto f = first_new; f != frames.end(); ++f) {
            ASSERT_TRUE(f->ok) << f->error;
            EXPECT_EQ(f->cells.size(), new_cells) << "frame " << (f - frames.begin());
        }
        if (ch.drops) {
            EXPECT_TRUE(std::any_of(first_new->cells.begin(), first_new->cells.end(), [](const pty_cell& cell) {
                return cell.colour == 0;
            })) << "no head in the first frame after the change";
        }
    }
}

// A size change that lands while the program is blocked writing a frame to a
// slow terminal must not cost any of the frame's bytes.
TEST(Signals, OutputStaysWholeWhenSignalsHitABlockedWrite) {
    if (pty_emulator() != nullptr) {
        GTEST_SKIP() << "under an emulator /proc/PID/syscall shows the emulator's system calls, not the program's";
    }
    pty_child c;
    ASSERT_TRUE(pty_start(c, {.args = {"-s", "100", "-d", "100", "-r", "5"}, .rows = 60, .cols = 200}));
    ASSERT_TRUE(pty_wait_frames(c, 8));  // trails pile up and frames grow past the terminal's buffer

    // Blocked for good only when still in write() after a pause: a frame
    // that merely happens to be on its way out would let the loop go on.
    bool blocked = false;
    const pty_clock::time_point deadline = pty_clock::now() + 5s;
    while (!blocked && pty_clock::now() < deadline) {
        pty_stall(20ms);
        if (pty_in_write(c)) {
            pty_stall(100ms);
            blocked = pty_in_write(c);
        }
    }
    ASSERT_TRUE(blocked) << "the program never blocked in write()";
    const std::array<size, 4> sizes{{{61, 200}, {60, 201}, {62, 199}, {60, 202}}};
    for (const size s : sizes) {
        ASSERT_TRUE(pty_resize(c, s.rows, s.cols));
        pty_stall(50ms);
    }
    ASSERT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 5));
    ASSERT_TRUE(pty_signal(c, SIGINT));
    ASSERT_TRUE(pty_wait_exit(c));
    pty_close(c);
    EXPECT_TRUE(pty_exited_with(c.status, 0));
    EXPECT_TRUE(c.out.ends_with(pty_restore));

    // Every frame whole: the old size until the stalled frame is done, then
    // only sizes that were sent (a loaded machine may take one up early),
    // ending with the last.
    const std::vector<std::size_t> counts = cell_counts(c);
    const auto first_new = std::find_if(counts.begin(), counts.end(), [](std::size_t n) { return n != 60U * 200U; });
    ASSERT_GE(first_new - counts.begin(), 8) << "cells per frame: " << listed(counts);
    ASSERT_NE(first_new, counts.end());
    for (auto n = first_new; n != counts.end(); ++n) {
        EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [&](size s) { return *n == std::size_t{s.rows} * s.cols; }))
            << "cells per frame: " << listed(counts);
    }
    EXPECT_EQ(counts.back(), 60U * 202U) << "cells per frame: " << listed(counts);
}

// With speed 1 the program sleeps a full second after each frame; a signal
// in that sleep must take effect at once, not when the second is over.
TEST(Speed, SignalCutsTheOneSecondSleepShort) {
    for (const int signal : {SIGINT, SIGWINCH}) {
        SCOPED_TRACE(signal_name(signal));
        pty_child c;
        ASSERT_TRUE(pty_start(c, {.args = {"-s", "1"}, .rows = 24, .cols = 80}));
        ASSERT_TRUE(pty_wait_frames(c, 1));
        pty_stall(200ms);  // well inside the sleep after the first frame
        const pty_clock::time_point sent = pty_clock::now();
        if (signal == SIGWINCH) {
            ASSERT_TRUE(pty_resize(c, 30, 90));
            ASSERT_TRUE(pty_wait_frames(c, 2, 2s));
            EXPECT_LT(pty_frame_times(c).at(1) - sent, 500ms);
            ASSERT_TRUE(pty_signal(c, SIGINT));
            ASSERT_TRUE(pty_wait_exit(c));
        } else {
            ASSERT_TRUE(pty_signal(c, signal));
            ASSERT_TRUE(pty_wait_exit(c, 2s));
            EXPECT_LT(c.exit_time - sent, 500ms);
            // The loop ends with the cut sleep: no second frame.
            EXPECT_EQ(pty_split(c.out).frames.size(), 1U);
        }
        pty_close(c);
        EXPECT_TRUE(pty_exited_with(c.status, 0));
        EXPECT_TRUE(c.out.ends_with(pty_restore));
    }
}

}  // namespace
