#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "matrix.hpp"
#include "screen.hpp"
#include "test_support.hpp"

namespace {

const std::string home = "\033[H";
const std::string white = "\033[38;5;231m";
const std::string grey = "\033[38;5;238m";

// Runs `action` with standard input on `fd`, so that no test touches the
// terminal the tests were started from.
void with_stdin(int fd, const std::function<void()>& action) {
    const int saved = dup(STDIN_FILENO);
    dup2(fd, STDIN_FILENO);
    action();
    dup2(saved, STDIN_FILENO);
    close(saved);
}

void without_terminal(const std::function<void()>& action) {
    const int null = open("/dev/null", O_RDONLY);
    ASSERT_GE(null, 0);
    with_stdin(null, action);
    close(null);
}

cell make_cell(unsigned kind, unsigned value, char glyph) {
    return static_cast<cell>((value << cell_value_shift) | (kind << cell_kind_shift) |
                             static_cast<std::uint8_t>(glyph));
}

std::string drawn(const matrix& m) {
    return written([&](int fd) { EXPECT_TRUE(screen_draw(m, fd)); });
}

// The frame as the terminal should receive it, written one cell at a time.
std::string reference_frame(const matrix& m) {
    static const char* const colours[] = {
        "\033[38;5;231m", "\033[38;5;48m", "\033[38;5;41m", "\033[38;5;35m", "\033[38;5;29m", "\033[38;5;238m",
    };
    std::string frame = "\033[H";
    for (std::size_t i = 0; i < matrix_size(m); ++i) {
        const cell c = m.cells[i];
        switch (cell_kind(c)) {
        case kind_empty: frame += ' '; break;
        case kind_head:
            frame += colours[0];
            frame += static_cast<char>(cell_glyph(c));
            break;
        case kind_tail:
            frame += colours[cell_value(c)];
            frame += static_cast<char>(cell_glyph(c));
            break;
        default: break;
        }
    }
    return frame;
}

TEST(ScreenDraw, OneRowOfThree) {
    matrix m{};
    ASSERT_TRUE(matrix_create(m, 1, 3, 0.0F));
    m.cells[0] = make_cell(kind_empty, 0, 'a');
    m.cells[1] = make_cell(kind_head, 8, 'b');
    m.cells[2] = make_cell(kind_tail, 5, 'c');
    const std::string frame = drawn(m);
    EXPECT_EQ(frame, home + " " + white + "b" + grey + "c");
    EXPECT_EQ(frame.size(), 28U);
    matrix_free(m);
}

TEST(ScreenDraw, EmptyMatrixDrawsHomeAlone) {
    const struct { std::uint16_t rows, cols; } sizes[] = {{0, 0}, {0, 5}, {5, 0}};
    for (const auto& size : sizes) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, size.rows, size.cols, 0.0F));
        EXPECT_EQ(drawn(m), home) << size.rows << " x " << size.cols;
        matrix_free(m);
    }
}

TEST(ScreenDraw, EachCellByItsLighting) {
    const struct {
        cell c;
        std::string bytes;
    } cases[] = {
        {make_cell(kind_empty, 0, 'q'), " "},
        {make_cell(kind_empty, 0, ' '), " "},
        {make_cell(kind_head, 8, 'Q'), "\033[38;5;231mQ"},
        {make_cell(kind_head, 63, '}'), "\033[38;5;231m}"},
        {make_cell(kind_tail, 1, 'x'), "\033[38;5;48mx"},
        {make_cell(kind_tail, 2, 'x'), "\033[38;5;41mx"},
        {make_cell(kind_tail, 3, 'x'), "\033[38;5;35mx"},
        {make_cell(kind_tail, 4, 'x'), "\033[38;5;29mx"},
        {make_cell(kind_tail, 5, 'x'), "\033[38;5;238mx"},
        {make_cell(kind_tail, 1, ' '), "\033[38;5;48m "},
        // Never produced: drawn as the far end of a trail rather than past the table.
        {make_cell(kind_tail, 6, 'y'), "\033[38;5;238my"},
        {make_cell(kind_tail, 63, 'y'), "\033[38;5;238my"},
        {make_cell(3, 0, 'z'), ""},
        {make_cell(3, 63, 'z'), ""},
    };
    for (const auto& c : cases) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, 1, 1, 0.0F));
        m.cells[0] = c.c;
        EXPECT_EQ(drawn(m), home + c.bytes) << "cell " << std::hex << c.c;
        matrix_free(m);
    }
}

TEST(ScreenDraw, LargeFramesMatchCellByCell) {
    // Uniform frames whose last cells fall around the 64 KiB mark, where the
    // frame is handed on in pieces, and frames many pieces long.
    const struct {
        std::uint16_t rows, cols;
        cell every;  // 0xFFFF: a mix of all kinds
    } frames[] = {
        {1, 65519, make_cell(kind_empty, 0, 'a')},
        {1, 65520, make_cell(kind_empty, 0, 'a')},
        {1, 65521, make_cell(kind_empty, 0, 'a')},
        {1, 65522, make_cell(kind_empty, 0, 'a')},
        {1, 65523, make_cell(kind_empty, 0, 'a')},
        {1, 65535, make_cell(kind_empty, 0, 'a')},
        {1, 5460, make_cell(kind_tail, 5, 'b')},
        {1, 5461, make_cell(kind_tail, 5, 'b')},
        {1, 5462, make_cell(kind_tail, 5, 'b')},
        {1, 5463, make_cell(kind_tail, 5, 'b')},
        {1, 5956, make_cell(kind_tail, 1, 'c')},
        {1, 5957, make_cell(kind_tail, 1, 'c')},
        {1, 5958, make_cell(kind_tail, 1, 'c')},
        {1, 20000, make_cell(kind_head, 8, 'd')},
        {300, 400, 0xFFFF},
        {7, 9999, 0xFFFF},
        // Past the 1 MiB in which a frame is gathered: written in pieces.
        {250, 1000, 0xFFFF},
        {300, 1000, make_cell(kind_head, 8, 'e')},
    };
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1103515245U + 12345U;
        return state >> 8;
    };
    for (const auto& f : frames) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, f.rows, f.cols, 0.0F));
        for (std::size_t i = 0; i < matrix_size(m); ++i) {
            if (f.every != 0xFFFF) {
                m.cells[i] = f.every;
                continue;
            }
            const std::uint32_t r = next();
            constexpr unsigned kinds[8] = {kind_empty, kind_empty, kind_empty, kind_head,
                                           kind_head,  kind_tail,  kind_tail,  3};
            const unsigned kind = kinds[r % 8];
            const unsigned value = kind == kind_tail ? 1 + (r >> 3) % 5 : kind == kind_empty ? 0 : (r >> 3) % 64;
            m.cells[i] = make_cell(kind, value, static_cast<char>(r >> 12));
        }
        const std::string frame = drawn(m);
        const std::string expected = reference_frame(m);
        EXPECT_EQ(frame.size(), expected.size()) << f.rows << " x " << f.cols;
        EXPECT_TRUE(frame == expected) << f.rows << " x " << f.cols;
        matrix_free(m);
    }
}

// A write end whose reader first lags, then reads everything until the end.
struct lagging_reader {
    int write_end = -1;
    std::string got;
    std::thread reader;
};

bool start_lagging(lagging_reader& r, bool nonblocking) {
    std::array<int, 2> fds{};
    if (pipe2(fds.data(), O_CLOEXEC) != 0) {
        return false;
    }
    if (nonblocking) {
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    }
    r.write_end = fds[1];
    r.reader = std::thread([&r, read_end = fds[0]] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::array<char, 4096> buffer;
        for (ssize_t n = 0; (n = read(read_end, buffer.data(), buffer.size())) > 0;) {
            r.got.append(buffer.data(), static_cast<std::size_t>(n));
        }
        close(read_end);
    });
    return true;
}

// A terminal's open file may be non-blocking, a flag other programs share:
// a write then takes only what fits while the reader lags. Nothing may be
// dropped, on a blocking file or on such a one.
TEST(ScreenWrite, EveryByteReachesAReaderThatLags) {
    matrix m = matrix_picture(300, 1000);
    for (std::size_t i = 0; i < matrix_size(m); i += 2) {
        m.cells[i] = static_cast<cell>(m.cells[i] | light_cell(i % 4 == 0 ? "h8" : "t3"));
    }
    const std::string expected = text_of("\033[?25l\033[1m\033[2J\033[H", reference_frame(m), reference_frame(m),
                                         "\033[0m\033[?25h\033[2J\033[H");
    for (const bool nonblocking : {false, true}) {
        SCOPED_TRACE(nonblocking ? "non-blocking" : "blocking");
        lagging_reader r;
        ASSERT_TRUE(start_lagging(r, nonblocking));
        without_terminal([&] {
            EXPECT_TRUE(screen_setup(false, r.write_end));
            EXPECT_TRUE(screen_draw(m, r.write_end));
            EXPECT_TRUE(screen_draw(m, r.write_end));
            EXPECT_TRUE(screen_restore(r.write_end));
        });
        EXPECT_EQ((fcntl(r.write_end, F_GETFL) & O_NONBLOCK) != 0, nonblocking) << "the flag is left alone";
        close(r.write_end);
        r.reader.join();
        EXPECT_EQ(r.got.size(), expected.size());
        EXPECT_TRUE(r.got == expected);
    }
    matrix_free(m);
}

// A write that fails for a reason other than "not now": the terminal is gone,
// and each function says so.
TEST(ScreenWrite, AFailedWriteReportsTheTerminalGone) {
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGPIPE, &ignore, &before), 0);
    std::array<int, 2> widowed{};
    ASSERT_EQ(pipe2(widowed.data(), O_CLOEXEC), 0);
    close(widowed[0]);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);

    matrix m = matrix_picture(24, 80, {"h8", "t1"});
    const struct {
        const char* name;
        int fd;
    } sinks[] = {{"a pipe with no reader", widowed[1]}, {"a full device", full}};
    for (const auto& sink : sinks) {
        SCOPED_TRACE(sink.name);
        without_terminal([&] {
            EXPECT_FALSE(screen_setup(true, sink.fd));
            EXPECT_FALSE(screen_draw(m, sink.fd));
            EXPECT_FALSE(screen_restore(sink.fd));
        });
    }
    matrix_free(m);
    close(full);
    close(widowed[1]);
    sigaction(SIGPIPE, &before, nullptr);
}

TEST(ScreenSetup, ExactBytes) {
    const struct {
        bool background;
        std::string bytes;
    } cases[] = {
        {false, "\033[?25l\033[1m\033[2J\033[H"},
        {true, "\033[?25l\033[1m\033[48;5;0m\033[2J\033[H"},
    };
    for (const auto& c : cases) {
        without_terminal([&] {
            EXPECT_EQ(written([&](int fd) { EXPECT_TRUE(screen_setup(c.background, fd)); }), c.bytes)
                << "background " << c.background;
        });
    }
}

TEST(ScreenRestore, ExactBytes) {
    without_terminal([] {
        const std::string bytes = written([](int fd) { EXPECT_TRUE(screen_restore(fd)); });
        EXPECT_EQ(bytes, "\033[0m\033[?25h\033[2J\033[H");
        EXPECT_EQ(bytes.size(), 17U);
    });
}

TEST(ScreenEcho, OffDuringTheRunOnAfterItOnlyEchoChanges) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    // Echo on or off before the run, it is off during the run and on after it.
    for (const bool echo_before : {true, false}) {
        termios start{};
        ASSERT_EQ(tcgetattr(terminal, &start), 0);
        start.c_lflag |= ICANON;
        start.c_lflag = echo_before ? start.c_lflag | ECHO : start.c_lflag & ~static_cast<tcflag_t>(ECHO);
        ASSERT_EQ(tcsetattr(terminal, TCSANOW, &start), 0);
        termios during{};
        termios after{};
        std::string setup_bytes;
        std::string restore_bytes;
        with_stdin(terminal, [&] {
            setup_bytes = written([](int fd) { screen_setup(false, fd); });
            tcgetattr(terminal, &during);
            restore_bytes = written([](int fd) { screen_restore(fd); });
            tcgetattr(terminal, &after);
        });
        EXPECT_EQ(setup_bytes, "\033[?25l\033[1m\033[2J\033[H");
        EXPECT_EQ(restore_bytes, "\033[0m\033[?25h\033[2J\033[H");
        EXPECT_EQ(during.c_lflag, start.c_lflag & ~static_cast<tcflag_t>(ECHO)) << "echo before " << echo_before;
        EXPECT_EQ(after.c_lflag, start.c_lflag | ECHO) << "echo before " << echo_before;
        EXPECT_EQ(during.c_iflag, start.c_iflag);
        EXPECT_EQ(during.c_oflag, start.c_oflag);
        EXPECT_EQ(during.c_cflag, start.c_cflag);
        EXPECT_EQ(after.c_iflag, start.c_iflag);
    }
    close(terminal);
    close(master);
}

}  // namespace
