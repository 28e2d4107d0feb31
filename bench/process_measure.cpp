// The whole program's cost per frame in a pseudo-terminal, against the least
// any program could spend there: one that writes the very same frames, one
// write() each, at the same pace.
//
//   process_measure PROGRAM [COLSxROWS [FRAMES [RUNS]]]
//
// Each run starts PROGRAM -s 100 -r 1 in a pseudo-terminal of the given size
// and drains the master side as fast as it can. Once output flows it signals a
// window-size change, so the picture starts full of drops, and after FRAMES
// frames it asks the program to stop. The child's CPU time comes from wait4,
// its write calls from /proc/PID/io (syscw), read before it is reaped. Then
// the floor replays the recorded output in a second pseudo-terminal of the same
// size: set-up, each frame and the restore each in one write(), with the same
// sleep after every frame. The floor's CPU time is counted from its first
// write, so loading the recording is not part of it.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "spread.hpp"

namespace {

constexpr std::string_view home = "\033[H";
constexpr std::string_view clear = "\033[2J";
constexpr timespec frame_delay = {0, 10'000'000};  // speed 100

double seconds_of(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

double cpu_of(const rusage& usage) { return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime); }

// Frames start with cursor home; the set-up and the restore end with clear
// and home, which is not a frame.
std::vector<std::size_t> frame_starts(std::string_view output) {
    std::vector<std::size_t> starts;
    for (std::size_t at = output.find(home); at != std::string_view::npos; at = output.find(home, at + 1)) {
        const bool after_clear = at >= clear.size() && output.substr(at - clear.size(), clear.size()) == clear;
        if (!after_clear) {
            starts.push_back(at);
        }
    }
    return starts;
}

struct terminal {
    int master = -1;
    std::string slave;
};

bool open_terminal(terminal& t, unsigned short cols, unsigned short rows) {
    t.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (t.master < 0 || grantpt(t.master) != 0 || unlockpt(t.master) != 0) {
        return false;
    }
    const char* name = ptsname(t.master);
    if (name == nullptr) {
        return false;
    }
    t.slave = name;
    winsize size{};
    size.ws_col = cols;
    size.ws_row = rows;
    return ioctl(t.master, TIOCSWINSZ, &size) == 0;
}

// In the child: the terminal becomes the controlling one, standard input and
// output; standard error stays where it was, for messages.
void become_terminal_child(const terminal& t) {
    setsid();
    const int slave = open(t.slave.c_str(), O_RDWR);
    if (slave < 0) {
        _exit(127);
    }
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    if (slave > STDOUT_FILENO) {
        close(slave);
    }
}

// Counts occurrences of cursor home seen so far, across read boundaries.
struct home_counter {
    std::size_t scanned = 0;
    std::size_t count = 0;

    void update(const std::string& output) {
        std::size_t at = scanned >= home.size() ? scanned - (home.size() - 1) : 0;
        for (at = output.find(home, at); at != std::string::npos; at = output.find(home, at + 1)) {
            ++count;
        }
        scanned = output.size();
    }
};

// Reads everything the child writes until it closes the terminal. `on_output`
// sees the output so far after every read.
template <typename OnOutput>
void drain(int master, std::string& output, OnOutput on_output) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(master, buffer.data(), buffer.size());
        if (n > 0) {
            output.append(buffer.data(), static_cast<std::size_t>(n));
            on_output(output);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // EIO: every slave descriptor is closed
        }
    }
}

struct child_cost {
    double cpu = 0;  // seconds, user + system
    double user = 0;
    double system = 0;
    long writes = -1;  // write system calls, -1 if unknown
};

// Waits without reaping to read the write count, then reaps for the CPU time.
child_cost finish_child(pid_t pid) {
    child_cost cost;
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const std::string io_path = "/proc/" + std::to_string(pid) + "/io";
    if (std::FILE* io = std::fopen(io_path.c_str(), "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, io) != nullptr) {
            long value = 0;
            if (std::sscanf(line, "syscw: %ld", &value) == 1) {
                cost.writes = value;
            }
        }
        std::fclose(io);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    cost.user = seconds_of(usage.ru_utime);
    cost.system = seconds_of(usage.ru_stime);
    cost.cpu = cpu_of(usage);
    return cost;
}

struct program_run {
    std::string output;
    child_cost cost;
};

bool run_program(const char* program, unsigned short cols, unsigned short rows, std::size_t frames, program_run& run) {
    terminal t;
    if (!open_terminal(t, cols, rows)) {
        std::perror("process_measure: pseudo-terminal");
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        become_terminal_child(t);
        const char* argv[] = {program, "-s", "100", "-r", "1", nullptr};
        execv(program, const_cast<char* const*>(argv));
        std::perror("process_measure: exec");
        _exit(127);
    }
    bool resized = false;
    bool stopped = false;
    home_counter homes;
    run.output.reserve(frames * (std::size_t{cols} * rows * 4 + 64));
    drain(t.master, run.output, [&](const std::string& output) {
        homes.update(output);
        // The handlers are installed before the first byte is written.
        if (!resized) {
            kill(pid, SIGWINCH);
            resized = true;
        }
        if (!stopped && homes.count >= frames + 2) {
            kill(pid, SIGTERM);
            stopped = true;
        }
    });
    close(t.master);
    run.cost = finish_child(pid);
    return true;
}

// The floor, in a forked child: the recording is already in its memory.
// Returns the CPU seconds spent from its first write to its exit.
[[noreturn]] void replay(std::string_view output, const std::vector<std::size_t>& starts, int report) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto put = [](std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = write(STDOUT_FILENO, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                _exit(1);
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    };
    const std::size_t end_of_frames = output.rfind("\033[0m");
    put(output.substr(0, starts.front()));
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : end_of_frames;
        put(output.substr(starts[i], end - starts[i]));
        nanosleep(&frame_delay, nullptr);
    }
    put(output.substr(end_of_frames));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double spent = cpu_of(after) - cpu_of(before);
    (void)!write(report, &spent, sizeof spent);
    _exit(0);
}

bool run_floor(std::string_view output, const std::vector<std::size_t>& starts, unsigned short cols,
               unsigned short rows, child_cost& cost) {
    terminal t;
    int report[2];
    if (!open_terminal(t, cols, rows) || pipe(report) != 0) {
        std::perror("process_measure: floor");
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        become_terminal_child(t);
        replay(output, starts, report[1]);
    }
    close(report[1]);
    std::string drained;
    drained.reserve(output.size() + 1024);
    drain(t.master, drained, [](const std::string&) {});
    close(t.master);
    double spent = -1;
    if (read(report[0], &spent, sizeof spent) != sizeof spent) {
        spent = -1;
    }
    close(report[0]);
    cost = finish_child(pid);
    cost.cpu = spent;  // only the writing, not the set-up before it
    if (drained.size() != output.size()) {
        std::fprintf(stderr, "process_measure: the floor's output differs in size (%zu, not %zu)\n", drained.size(),
                     output.size());
        return false;
    }
    return spent >= 0;
}

bool parse_size(const char* text, unsigned short& cols, unsigned short& rows) {
    unsigned c = 0;
    unsigned r = 0;
    if (std::sscanf(text, "%ux%u", &c, &r) != 2 || c == 0 || r == 0 || c > 65535 || r > 65535) {
        return false;
    }
    cols = static_cast<unsigned short>(c);
    rows = static_cast<unsigned short>(r);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned short cols = 400;
    unsigned short rows = 120;
    if (argc < 2 || (argc > 2 && !parse_size(argv[2], cols, rows))) {
        std::fputs("usage: process_measure PROGRAM [COLSxROWS [FRAMES [RUNS]]]\n", stderr);
        return 2;
    }
    const std::size_t frames = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 1000;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s in a %ux%u pseudo-terminal, speed 100, about %zu frames per run\n", argv[1], cols, rows, frames);
    std::printf("%-4s %7s %11s | %22s %12s | %15s %12s | %11s\n", "run", "frames", "bytes/frame",
                "program us/frame (u+s)", "writes/frame", "floor us/frame", "writes/frame", "ratio");
    std::vector<double> ratios;
    std::vector<double> program_cpu;
    std::vector<double> floor_cpu;
    std::vector<double> program_writes;
    for (int i = 1; i <= runs; ++i) {
        program_run run;
        if (!run_program(argv[1], cols, rows, frames, run)) {
            return 1;
        }
        const std::vector<std::size_t> starts = frame_starts(run.output);
        if (starts.empty() || run.output.rfind("\033[0m") == std::string::npos) {
            std::fputs("process_measure: no frames recorded\n", stderr);
            return 1;
        }
        child_cost floor;
        if (!run_floor(run.output, starts, cols, rows, floor)) {
            return 1;
        }
        const auto n = static_cast<double>(starts.size());
        const double per_frame = run.cost.cpu / n * 1e6;
        const double floor_per_frame = floor.cpu / n * 1e6;
        const double writes = static_cast<double>(run.cost.writes) / n;
        std::printf("%-4d %7zu %11.0f | %8.1f (%5.1f+%6.1f) %12.2f | %15.1f %12.2f | %11.3f\n", i, starts.size(),
                    static_cast<double>(run.output.size()) / n, per_frame, run.cost.user / n * 1e6,
                    run.cost.system / n * 1e6, writes, floor_per_frame, static_cast<double>(floor.writes) / n,
                    per_frame / floor_per_frame);
        std::fflush(stdout);
        ratios.push_back(per_frame / floor_per_frame);
        program_cpu.push_back(per_frame);
        floor_cpu.push_back(floor_per_frame);
        program_writes.push_back(writes);
    }
    const spread r = spread_of(ratios);
    const spread p = spread_of(program_cpu);
    const spread f = spread_of(floor_cpu);
    const spread w = spread_of(program_writes);
    std::printf(
        "median of %d runs [lowest .. highest]: program %.1f us/frame [%.1f .. %.1f], floor %.1f [%.1f .. %.1f], "
        "writes %.2f/frame, ratio %.3f [%.3f .. %.3f]\n",
        runs, p.median, p.low, p.high, f.median, f.low, f.high, w.median, r.median, r.low, r.high);
    return 0;
}
