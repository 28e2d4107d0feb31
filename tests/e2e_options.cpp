// The command line end to end: help and version without a terminal, the
// background, options that are skipped or not read at all, the speed and the
// drop density, and never a word on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "pty_harness.hpp"

namespace {

std::string help_text() {
    return std::string("USAGE\n\t") + pty_binary() +
           " [OPTIONS...]\n\n"
           "OPTIONS\n"
           "\t-b\tuse black background color\n"
           "\t-d\tdrops ratio (1 .. 100, default: 10)\n"
           "\t-e\terror ratio (1 .. 100, default: 2)\n"
           "\t-h\tprint this help text and exit\n"
           "\t-r\tseed for the random number generator\n"
           "\t-s\tspeed factor (1 .. 100, default: 10)\n"
           "\t-V\tprint version information and exit\n";
}

constexpr std::string_view version_text = "glyphfall 0.2.4\nhttps://glyphfall.org\n";

std::string joined(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        line += (line.empty() ? "" : " ") + a;
    }
    return line;
}

// The first `count` frames of a fast 24 x 80 run with seed 9.
std::vector<std::string> first_frames(std::vector<std::string> args, std::size_t count) {
    args.insert(args.end(), {"-s", "100", "-r", "9"});
    pty_child c;
    EXPECT_TRUE(pty_run(c, {.args = args, .rows = 24, .cols = 80}, count + 1));
    const pty_stream s = pty_split(c.out);
    return {s.frames.begin(), s.frames.begin() + static_cast<std::ptrdiff_t>(std::min(count, s.frames.size()))};
}

TEST(Options, HelpAndVersionNeedNoTerminal) {
    struct request {
        std::vector<std::string> args;
        bool help;
    };
    const std::vector<request> requests = {
        {{"-h"}, true},
        {{"-V"}, false},
        {{"-V", "-h"}, true},
        {{"-h", "-V"}, true},
        {{"-x", "-V"}, false},
        {{"-s", "300", "-h", "-b"}, true},
        {{"-d", "-b", "-V"}, false},
    };
    for (const request& r : requests) {
        for (const pty_sink sink : {pty_sink::pipe, pty_sink::file}) {
            SCOPED_TRACE(joined(r.args) + (sink == pty_sink::pipe ? " | pipe" : " > file"));
            const pty_plain_result result = pty_run_plain(r.args, sink);
            ASSERT_TRUE(result.exited);
            EXPECT_TRUE(pty_exited_with(result.status, 0));
            EXPECT_EQ(result.out, r.help ? help_text() : std::string(version_text));
            EXPECT_EQ(result.err, "");
        }
    }
}

// Each of these runs the animation; only where -b is read as an option does
// the set-up paint the background black.
TEST(Options, BackgroundOnlyWhereMinusBIsReadAsAnOption) {
    struct command {
        std::vector<std::string> args;
        bool black;
    };
    const std::vector<command> commands = {
        {{}, false},
        {{"-b"}, true},
        {{"-b", "-b"}, true},
        {{"-x", "-b"}, true},     // unknown options are skipped
        {{"-d", "-b"}, false},    // -b is the number of -d
        {{"word", "-b"}, false},  // reading stops at the first non-option
        {{"--", "-b"}, false},    // and after --
        {{"--", "-h"}, false},    // a help request after -- is not read either
        {{"word", "-V"}, false},
        {{"-d"}, false},  // a number missing at the end
        {{"-s", "abc", "-e", "-7", "-b"}, true},
        {{"-r", "-1", "-d", "100000", "-b"}, true},
    };
    for (const command& cmd : commands) {
        SCOPED_TRACE(joined(cmd.args));
        pty_child c;
        ASSERT_TRUE(pty_run(c, {.args = cmd.args, .rows = 12, .cols = 40}, 2));
        EXPECT_TRUE(pty_exited_with(c.status, 0));
        EXPECT_EQ(c.err_text, "");
        const pty_stream s = pty_split(c.out);
        EXPECT_EQ(s.setup, cmd.black ? pty_setup_black : pty_setup_plain);
        EXPECT_EQ(s.restore, pty_restore);
        // The background sequence is written once, at set-up only.
        for (const std::string_view frame : s.frames) {
            EXPECT_EQ(frame.find("\033[48;5;0m"), std::string_view::npos);
        }
        const std::vector<pty_frame> frames = pty_parse_frames(c);
        ASSERT_GE(frames.size(), 2U);
        for (const pty_frame& f : frames) {
            EXPECT_TRUE(f.ok) << f.error;
            EXPECT_EQ(f.cells.size(), 12U * 40U);
        }
    }
}

// A loose bound on the median gap: the machine is shared and busy.
TEST(Options, SpeedPacesTheFrames) {
    pty_child c;
    ASSERT_TRUE(pty_run(c, {.args = {"-s", "5"}, .rows = 24, .cols = 80}, 7));
    EXPECT_TRUE(pty_exited_with(c.status, 0));
    const std::vector<pty_clock::time_point> times = pty_frame_times(c);
    ASSERT_GE(times.size(), 7U);
    std::vector<pty_clock::duration> gaps;
    for (std::size_t i = 1; i < times.size(); ++i) {
        gaps.push_back(times[i] - times[i - 1]);
    }
    std::nth_element(gaps.begin(), gaps.begin() + std::ssize(gaps) / 2, gaps.end());
    const pty_clock::duration median = gaps[gaps.size() / 2];
    EXPECT_GT(median, 150ms);
    EXPECT_LT(median, 400ms);
}

// Out-of-range numbers take the default or are cut to their low 8 bits
// before the clamp; the seed makes the runs comparable byte for byte.
TEST(Options, DropsSetTheDensity) {
    const std::vector<std::string> normal = first_frames({"-d", "10"}, 31);
    const std::vector<std::string> dense = first_frames({"-d", "100"}, 31);
    ASSERT_EQ(normal.size(), 31U);
    ASSERT_EQ(dense.size(), 31U);
    EXPECT_GT(pty_lit(pty_parse_frame(dense.back())), 2 * pty_lit(pty_parse_frame(normal.back())));

    EXPECT_EQ(first_frames({"-d", "0"}, 31), normal);
    EXPECT_EQ(first_frames({"-d", "266"}, 31), normal);
    EXPECT_EQ(first_frames({"-d", "150"}, 31), dense);
    EXPECT_EQ(first_frames({"-d", "-156"}, 31), dense);
}

}  // namespace
