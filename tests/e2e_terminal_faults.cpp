// A terminal on a bad day: its open file left non-blocking by another
// program while the reader lags, and a hang-up that the program is not sent.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>
#include <string>
#include <vector>

#include "pty_harness.hpp"

namespace {

const std::vector<std::string> seeded = {"-r", "5", "-s", "100"};
constexpr std::uint16_t rows = 60;
constexpr std::uint16_t cols = 200;

// How the test lets the reader lag for a second: the run goes on after it,
// or the run is ended while the reader is away.
enum class stall { then_read_on, end_meanwhile };

// A run on a non-blocking terminal whose reader stops for a second.
pty_child stalled_run(stall how) {
    pty_child c;
    EXPECT_TRUE(pty_start(c, {.args = seeded, .rows = rows, .cols = cols, .nonblocking = true}));
    EXPECT_TRUE(pty_wait_frames(c, 5));
    if (how == stall::end_meanwhile) {
        pty_stall(500ms);
        EXPECT_TRUE(pty_signal(c, SIGINT));
        pty_stall(500ms);
    } else {
        pty_stall(1s);
        EXPECT_TRUE(pty_wait_frames(c, pty_frames_begun(c) + 20));
        EXPECT_TRUE(pty_signal(c, SIGINT));
    }
    EXPECT_TRUE(pty_wait_exit(c));
    pty_close(c);
    return c;
}

// The same run on a blocking terminal read without a pause, for at least
// `frames` frames.
std::string blocking_run(std::size_t frames) {
    pty_child c;
    EXPECT_TRUE(pty_start(c, {.args = seeded, .rows = rows, .cols = cols}));
    EXPECT_TRUE(pty_wait_frames(c, frames + 1));
    EXPECT_TRUE(pty_signal(c, SIGINT));
    EXPECT_TRUE(pty_wait_exit(c));
    pty_close(c);
    EXPECT_FALSE(c.nonblocking_at_exit);
    return c.out;
}

// Without care every write that finds the terminal's buffer full loses what
// it could not hand over: frames arrive cut short, and the restore may not
// arrive at all.
TEST(NonBlockingTerminal, EveryByteArrivesAsOnABlockingOne) {
    for (const stall how : {stall::then_read_on, stall::end_meanwhile}) {
        SCOPED_TRACE(how == stall::then_read_on ? "reading on after the stall" : "ended during the stall");
        const pty_child c = stalled_run(how);
        EXPECT_TRUE(pty_exited_with(c.status, 0)) << "status " << c.status;
        EXPECT_TRUE(c.nonblocking_at_exit) << "the flag is another program's too: left as it was";
        EXPECT_TRUE(c.echo_at_exit);
        const pty_stream got = pty_split(c.out);
        ASSERT_EQ(got.restore, pty_restore);
        ASSERT_GE(got.frames.size(), 5U);

        const std::string reference = blocking_run(got.frames.size());
        const pty_stream expected = pty_split(reference);
        ASSERT_GE(expected.frames.size(), got.frames.size());
        EXPECT_EQ(got.setup, expected.setup);
        for (std::size_t i = 0; i < got.frames.size(); ++i) {
            ASSERT_EQ(got.frames[i].size(), expected.frames[i].size()) << "frame " << i;
            ASSERT_TRUE(got.frames[i] == expected.frames[i]) << "frame " << i;
        }
    }
}

// The terminal hangs up while the program draws. Whether SIGHUP reaches it or
// not, it ends within two seconds, as killed by SIGHUP.
TEST(HangUp, EndsTheRunAsTheSignalWould) {
    const struct {
        const char* name;
        bool hangup_ignored;
        bool controlling_terminal;
    } cases[] = {
        {"the session's leader, SIGHUP as it comes", false, true},
        {"the session's leader, started with SIGHUP ignored", true, true},
        {"a session of its own, with no controlling terminal", false, false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        pty_child c;
        ASSERT_TRUE(pty_start(
            c,
            {.args = {"-r", "9"}, .hangup_ignored = t.hangup_ignored, .controlling_terminal = t.controlling_terminal}));
        ASSERT_TRUE(pty_wait_frames(c, 3));
        pty_hang_up(c);
        EXPECT_TRUE(pty_wait_exit(c, 2s)) << "still running two seconds after the hang-up";
        pty_close(c);
        EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == SIGHUP) << "status " << c.status;
        EXPECT_EQ(c.err_text, "");
    }
}

}  // namespace
