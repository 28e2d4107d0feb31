// Drives the real glyphfall binary for end-to-end tests: in a pseudo-terminal
// of a chosen size, or with standard output on a file or a pipe; then takes
// what it wrote apart into set-up bytes, frames and restore bytes, and a frame
// into cells.
//
// A typical test:
//
//     pty_child c;
//     ASSERT_TRUE(pty_start(c, {.args = {"-r", "7"}, .rows = 24, .cols = 80}));
//     ASSERT_TRUE(pty_wait_frames(c, 3));
//     pty_signal(c, SIGINT);
//     ASSERT_TRUE(pty_wait_exit(c));
//     const pty_stream s = pty_split(c.out);
//     const pty_frame f = pty_parse_frame(s.frames[0]);
//     pty_close(c);
//
// Nothing here reads in the background: output is taken from the terminal only
// inside pty_read_until and the calls built on it, so between those calls the
// child's writes pile up and, once the terminal's buffer is full, block.
// Every wait has a deadline. The child dies with the test process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using pty_clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The sequences the program writes around its frames.
inline constexpr std::string_view pty_home = "\033[H";
inline constexpr std::string_view pty_setup_plain = "\033[?25l\033[1m\033[2J\033[H";
inline constexpr std::string_view pty_setup_black = "\033[?25l\033[1m\033[48;5;0m\033[2J\033[H";
inline constexpr std::string_view pty_restore = "\033[0m\033[?25h\033[2J\033[H";

// The path of the binary under test.
const char* pty_binary();

// What runs the binary under test when it was built for another architecture
// (qemu-user); nullptr when it runs directly.
const char* pty_emulator();

struct pty_options {
    std::vector<std::string> args;  // after argv[0], which is pty_binary()
    std::uint16_t rows = 24;
    std::uint16_t cols = 80;
    bool echo = true;              // the terminal's ECHO flag before the start
    int input = -1;                // standard input of the child; -1: the terminal itself
    const char* binary = nullptr;  // another build of the program; nullptr: pty_binary()
    // What runs the binary, for a build of another architecture; nullptr: none.
    const char* emulator = pty_emulator();
    // The terminal's open file non-blocking before the start, as another
    // program sharing it may leave it.
    bool nonblocking = false;
    // The terminal's hang-up, as it may reach the program or not: SIGHUP
    // ignored from the start (as nohup starts programs), or the terminal not
    // the controlling terminal of the program's session.
    bool hangup_ignored = false;
    bool controlling_terminal = true;
};

struct pty_child {
    pid_t pid = -1;
    int master = -1;
    int slave = -1;        // kept so the terminal's modes can be read while it runs
    int err = -1;          // read end of the child's standard error
    std::string out;       // everything read from the terminal so far
    std::string err_text;  // everything read from standard error so far
    // For each read from the terminal: the size of `out` after it, and when.
    std::vector<std::pair<std::size_t, pty_clock::time_point>> reads;
    std::size_t homes = 0;    // "\033[H" sequences seen in `out`
    std::size_t scanned = 0;  // where the count of `homes` goes on
    bool exited = false;
    int status = 0;  // from waitpid, once exited
    pty_clock::time_point exit_time{};
    bool echo_at_exit = false;         // ECHO once the child had ended
    bool nonblocking_at_exit = false;  // O_NONBLOCK on the terminal's open file then
    std::size_t input_at_exit = 0;     // bytes typed and still waiting to be read then
};

// Opens a terminal of o.rows x o.cols and starts the binary on it as a session
// leader (so a size change signals it). False if anything failed.
bool pty_start(pty_child& c, const pty_options& o);

// Reads terminal and standard error until `done` holds, the child has ended and
// all it wrote is read, or `timeout` passes. Returns whether `done` held.
bool pty_read_until(pty_child& c, const std::function<bool(const pty_child&)>& done,
                    std::chrono::milliseconds timeout = 10s);

// Reads until `frames` frames have begun (frame starts after the set-up).
bool pty_wait_frames(pty_child& c, std::size_t frames, std::chrono::milliseconds timeout = 10s);

// Frames begun so far.
std::size_t pty_frames_begun(const pty_child& c);

// Reads until the child has ended and everything it wrote has been read.
bool pty_wait_exit(pty_child& c, std::chrono::milliseconds timeout = 10s);

// Stops reading for `time`: the child's writes block once the buffer is full.
void pty_stall(std::chrono::milliseconds time);

// Whether the child is inside a write() system call right now.
bool pty_in_write(const pty_child& c);

// Whether the child is asleep in nanosleep() or clock_nanosleep() right now;
// under an emulator, whether the emulator is.
bool pty_in_sleep(const pty_child& c);

// Changes the terminal size; the child gets SIGWINCH when the size differs.
bool pty_resize(pty_child& c, std::uint16_t rows, std::uint16_t cols);

bool pty_signal(const pty_child& c, int signal);

// Hangs the terminal up, as closing its window does: closes the master side.
// Nothing more can be read from it.
void pty_hang_up(pty_child& c);

// Types `keys` on the terminal, as a user at the keyboard would.
bool pty_type(const pty_child& c, std::string_view keys);

// The terminal's ECHO flag now (while the terminal is open).
bool pty_echo(const pty_child& c);

// Kills the child if it still runs and closes everything.
void pty_close(pty_child& c);

// Starts, waits for `frames` frames, sends `signal`, waits for the end and
// closes. False if a step failed or did not come in time.
bool pty_run(pty_child& c, const pty_options& o, std::size_t frames, int signal = SIGINT);

// When each frame's first byte was read, in frame order.
std::vector<pty_clock::time_point> pty_frame_times(const pty_child& c);

// Without a terminal: standard output on an empty file or on a pipe, standard
// input /dev/null, no controlling terminal.
enum class pty_sink { file, pipe };

struct pty_plain_result {
    bool exited = false;  // false: still running at the deadline, then killed
    int status = 0;       // from waitpid
    std::string out;
    std::string err;
};

pty_plain_result pty_run_plain(const std::vector<std::string>& args, pty_sink sink,
                               std::chrono::milliseconds timeout = 10s, const char* emulator = pty_emulator());

// The stream taken apart: everything up to and including the first "\033[H",
// then one piece per frame (each starting with "\033[H"), then the restore
// bytes if the stream ends with them. The views point into `out`. While the
// child runs, the last frame may be incomplete.
struct pty_stream {
    std::string_view setup;
    std::vector<std::string_view> frames;
    std::string_view restore;
};

pty_stream pty_split(std::string_view out);

// Where two streams part within their first `frames` frames, which both must
// hold: the first frame that differs and the first byte of it that does.
struct pty_parting {
    std::size_t frame;
    std::size_t byte;
};
std::optional<pty_parting> pty_parting_of(const pty_stream& a, const pty_stream& b, std::size_t frames);

// A cell as drawn: blank (colour -1) or a colour index 0..5 (0: head, 1..5:
// shade of a tail) with its glyph.
struct pty_cell {
    int colour = -1;
    char glyph = ' ';
};

struct pty_frame {
    bool ok = false;  // false: a byte that no frame holds, at `error`
    std::string error;
    std::vector<pty_cell> cells;
};

pty_frame pty_parse_frame(std::string_view frame);

// Every frame of the child's stream parsed. Unless the stream ends with the
// restore bytes, the last frame may be cut short and is left out.
std::vector<pty_frame> pty_parse_frames(const pty_child& c);

// Cells that are not blank.
std::size_t pty_lit(const pty_frame& f);

// Status helpers for waitpid results.
bool pty_exited_with(int status, int code);
