// The same frames on every target: the program of a cross build against this
// build's, side by side in pseudo-terminals of the same size, byte for byte
// over a fixed number of frames. The picture depends on the count of frames,
// never on time, so the speed only sets how long a case takes.
// usage: same_frames OTHER [EMULATOR] [GoogleTest options]
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pty_harness.hpp"

namespace {

const char* other_binary = nullptr;
const char* other_emulator = nullptr;

struct size {
    std::uint16_t rows;
    std::uint16_t cols;
};

std::string joined(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        line += (line.empty() ? "" : " ") + a;
    }
    return line;
}

// This build's program in [0], the other one in [1].
using pair = std::array<pty_child, 2>;

bool start(pair& p, const std::vector<std::string>& args, size s) {
    return pty_start(p[0], {.args = args, .rows = s.rows, .cols = s.cols}) &&
           pty_start(
               p[1],
               {.args = args, .rows = s.rows, .cols = s.cols, .binary = other_binary, .emulator = other_emulator});
}

bool wait_frames(pair& p, std::size_t frames) {
    return pty_wait_frames(p[0], frames, 30s) && pty_wait_frames(p[1], frames, 30s);
}

// qemu-i386 (7.2, Debian 12's) does not always give a program back its x87
// registers as they were when a signal handler returns: a size change that
// lands while a frame's drops are counted can change the count. A kernel
// gives them back, and the other emulators have no x87, so only there does
// the change wait for the sleep.
bool loses_x87_on_signals(const char* emulator) {
    return emulator != nullptr && std::string_view(emulator).ends_with("/qemu-i386");
}

// Takes each run through `sizes`, the first being the one it started at: once
// a run has begun its frame at one size, its window gets the next. Each run
// on its own: an emulated one that takes the change only after its sleep
// must not hold back the other, whose sleep would end meanwhile.
bool step_through(pair& p, const std::vector<size>& sizes) {
    std::array<std::size_t, 2> at{0, 0};  // the size each run draws now
    const std::array<bool, 2> in_sleep{false, loses_x87_on_signals(other_emulator)};
    const pty_clock::time_point deadline = pty_clock::now() + 60s;
    while (at[0] + 1 < sizes.size() || at[1] + 1 < sizes.size()) {
        if (pty_clock::now() >= deadline) {
            return false;
        }
        for (std::size_t k = 0; k < p.size(); ++k) {
            const std::size_t drawn = at[k];
            const bool asleep_first = in_sleep[k];
            const auto begun = [drawn, asleep_first](const pty_child& c) {
                return pty_frames_begun(c) > drawn && (!asleep_first || pty_in_sleep(c));
            };
            if (drawn + 1 < sizes.size() && pty_read_until(p[k], begun, 10ms)) {
                at[k] = drawn + 1;
                if (!pty_resize(p[k], sizes[at[k]].rows, sizes[at[k]].cols)) {
                    return false;
                }
            }
        }
    }
    return true;
}

// Ends both runs; each finishes the frame it is drawing.
void stop(pair& p) {
    for (pty_child& c : p) {
        EXPECT_TRUE(pty_signal(c, SIGINT));
        EXPECT_TRUE(pty_wait_exit(c, 30s));
        pty_close(c);
        EXPECT_TRUE(pty_exited_with(c.status, 0)) << "status " << c.status;
        EXPECT_EQ(c.err_text, "");
    }
}

// The set-up and the first `frames` frames, the same in both. Returns the
// native frames compared.
std::vector<std::string_view> expect_same(const pair& p, std::size_t frames) {
    const pty_stream native = pty_split(p[0].out);
    const pty_stream other = pty_split(p[1].out);
    EXPECT_EQ(native.setup, other.setup);
    if (native.frames.size() < frames || other.frames.size() < frames) {
        ADD_FAILURE() << "frames drawn: " << native.frames.size() << " here, " << other.frames.size()
                      << " there; wanted " << frames;
        return {};
    }
    if (const auto part = pty_parting_of(native, other, frames)) {
        ADD_FAILURE() << "frame " << part->frame << " differs from byte " << part->byte << " of "
                      << native.frames[part->frame].size() << " here and " << other.frames[part->frame].size()
                      << " there";
        return {};
    }
    return {native.frames.begin(), native.frames.begin() + static_cast<std::ptrdiff_t>(frames)};
}

std::size_t bytes_of(const std::vector<std::string_view>& frames) {
    std::size_t bytes = 0;
    for (const std::string_view f : frames) {
        bytes += f.size();
    }
    return bytes;
}

// One size from start to end: the drops enter, fall, leave at the bottom and
// flicker. Tall cases run long enough for the first drops to reach the bottom.
TEST(SameFrames, SeedsSizesAndOptions) {
    struct run {
        std::vector<std::string> args;
        size s;
        std::size_t frames;
    };
    const std::vector<run> runs = {
        {{"-r", "1"}, {30, 100}, 40},
        {{"-r", "42"}, {25, 80}, 40},
        {{"-r", "7", "-d", "100", "-e", "100"}, {40, 120}, 50},
        {{"-r", "20241", "-d", "30"}, {60, 200}, 75},
        {{"-r", "3", "-d", "1", "-e", "1", "-b"}, {24, 80}, 30},
        {{"-r", "-1"}, {24, 80}, 30},                       // negative: its low 32 bits
        {{"-r", "-9223372036854775808"}, {30, 100}, 30},    // low 32 bits 0, which the C library takes as 1
        {{"-r", "4294967301", "-e", "50"}, {30, 100}, 30},  // above 32 bits
        {{"-r", "9223372036854775807", "-b", "-d", "77"}, {17, 33}, 30},
        {{"-r", "5", "-d", "4294967296"}, {25, 80}, 30},  // numbers past 32 bits keep their low byte
        {{"-r", "6", "-d", "2147483648", "-e", "4294967297"}, {25, 80}, 30},
        {{"-r", "8", "-d", "-2147483649", "-s", "4294967396"}, {25, 80}, 30},
        {{"-r", "9", "-d", "300", "-e", "-1", "-s", "356"}, {30, 100}, 30},
        {{"-r", "10", "-d", "100"}, {1, 1}, 30},
        {{"-r", "11", "-d", "100"}, {1, 200}, 30},
        {{"-r", "12", "-d", "100", "-e", "100"}, {50, 1}, 60},
        {{"-r", "13", "-d", "50"}, {3, 7}, 30},
    };
    for (const run& r : runs) {
        std::vector<std::string> args = {"-s", "100"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const std::string name = std::to_string(r.s.rows) + "x" + std::to_string(r.s.cols) + " " + joined(args);
        SCOPED_TRACE(name);
        pair p;
        ASSERT_TRUE(start(p, args, r.s));
        ASSERT_TRUE(wait_frames(p, r.frames));
        stop(p);
        const std::vector<std::string_view> frames = expect_same(p, r.frames);
        if (!frames.empty()) {
            EXPECT_EQ(pty_parse_frame(frames.back()).cells.size(), std::size_t{r.s.rows} * r.s.cols);
            std::printf("same: %s, %zu frames, %zu bytes\n", name.c_str(), frames.size(), bytes_of(frames));
        }
    }
}

// A window-size change refills the picture and seeds it with drops. At one
// frame a second, a change sent as a frame begins is taken up by the next
// frame, whether it lands in the sleep (and cuts it short) or before it. A last
// frame follows at the last size.
TEST(SameFrames, AcrossWindowSizeChanges) {
    struct chain {
        std::vector<std::string> args;
        std::vector<size> sizes;
    };
    const std::vector<chain> chains = {
        {{"-r", "21"}, {{24, 80}, {30, 100}, {1, 1}, {25, 80}, {60, 200}, {7, 3}, {40, 120}}},
        {{"-r", "4294967318", "-d", "100", "-e", "100", "-b"}, {{30, 100}, {100, 30}, {1, 90}, {45, 1}, {33, 71}}},
    };
    for (const chain& ch : chains) {
        std::vector<std::string> args = {"-s", "1"};
        args.insert(args.end(), ch.args.begin(), ch.args.end());
        SCOPED_TRACE(joined(args));
        pair p;
        ASSERT_TRUE(start(p, args, ch.sizes[0]));
        ASSERT_TRUE(step_through(p, ch.sizes));
        const std::size_t count = ch.sizes.size() + 1;
        ASSERT_TRUE(wait_frames(p, count));
        stop(p);
        const std::vector<std::string_view> frames = expect_same(p, count);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const size s = ch.sizes[std::min(i, ch.sizes.size() - 1)];
            EXPECT_EQ(pty_parse_frame(frames[i]).cells.size(), std::size_t{s.rows} * s.cols)
                << "frame " << i << ": the change was taken up late";
        }
        std::printf("same: %s, %zu sizes, %zu frames, %zu bytes\n", joined(args).c_str(), ch.sizes.size(),
                    frames.size(), bytes_of(frames));
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2 || argc > 3) {
        std::fputs("usage: same_frames OTHER [EMULATOR] [GoogleTest options]\n", stderr);
        return 2;
    }
    other_binary = argv[1];
    other_emulator = argc == 3 ? argv[2] : nullptr;
    return RUN_ALL_TESTS();
}
