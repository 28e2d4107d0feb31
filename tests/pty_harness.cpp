#include "pty_harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

constexpr std::array<std::string_view, 6> colours = {
    "\033[38;5;231m", "\033[38;5;48m", "\033[38;5;41m", "\033[38;5;35m", "\033[38;5;29m", "\033[38;5;238m",
};

constexpr auto slice = 5ms;

void close_fd(int& fd) {
    if (fd != -1) {
        close(fd);
        fd = -1;
    }
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void set_cloexec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

std::vector<char*> argv_of(const std::vector<std::string>& args, const char* binary, const char* emulator) {
    std::vector<char*> argv;
    if (emulator != nullptr) {
        argv.push_back(const_cast<char*>(emulator));
    }
    argv.push_back(const_cast<char*>(binary != nullptr ? binary : pty_binary()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// In the child between fork and exec: only async-signal-safe calls. The child
// must not outlive a test that failed half-way, and starts with clean signal
// state whatever the test runner left to it, SIGHUP ignored if asked.
[[noreturn]] void exec_child(char* const* argv, bool hangup_ignored = false) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction fallback {};
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP) {
            fallback.sa_handler = s == SIGHUP && hangup_ignored ? SIG_IGN : SIG_DFL;
            sigaction(s, &fallback, nullptr);
        }
    }
    execv(argv[0], argv);
    _exit(127);
}

// Reads what `fd` holds now into `into`. False at end of file or on an error
// other than "nothing yet".
bool drain(int fd, std::string& into, std::vector<std::pair<std::size_t, pty_clock::time_point>>* reads) {
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            into.append(buffer.data(), static_cast<std::size_t>(n));
            if (reads != nullptr) {
                reads->emplace_back(into.size(), pty_clock::now());
            }
            continue;
        }
        if (n == -1 && errno == EINTR) {
            continue;
        }
        return n == -1 && errno == EAGAIN;
    }
}

void count_homes(pty_child& c) {
    std::size_t at = c.out.find(pty_home, c.scanned);
    while (at != std::string::npos) {
        ++c.homes;
        at = c.out.find(pty_home, at + 1);
    }
    // A sequence cut between two reads is found on the next pass.
    c.scanned = std::max(c.scanned, c.out.size() >= 2 ? c.out.size() - 2 : 0);
}

void reap(pty_child& c) {
    if (!c.exited && waitpid(c.pid, &c.status, WNOHANG) == c.pid) {
        c.exited = true;
        c.exit_time = pty_clock::now();
    }
}

// One wait of at most `wait` for output, then reads all that came.
void pump(pty_child& c, std::chrono::milliseconds wait) {
    std::array<pollfd, 2> fds{{{c.master, POLLIN, 0}, {c.err, POLLIN, 0}}};
    poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (c.master != -1 && fds[0].revents != 0) {
        if (!drain(c.master, c.out, &c.reads)) {
            close_fd(c.master);  // EIO: the child's side is closed and all read
        }
        count_homes(c);
    }
    if (c.err != -1 && fds[1].revents != 0 && !drain(c.err, c.err_text, nullptr)) {
        close_fd(c.err);
    }
    reap(c);
}

// After the child's end: note the modes it left, then let go of our end of the
// terminal so that reading stops with EIO once everything is read.
bool finish(pty_child& c, pty_clock::time_point deadline) {
    if (c.slave != -1) {
        c.echo_at_exit = pty_echo(c);
        c.nonblocking_at_exit = (fcntl(c.slave, F_GETFL) & O_NONBLOCK) != 0;
        int waiting = 0;
        ioctl(c.slave, FIONREAD, &waiting);
        c.input_at_exit = static_cast<std::size_t>(waiting);
        close_fd(c.slave);
    }
    while ((c.master != -1 || c.err != -1) && pty_clock::now() < deadline) {
        pump(c, slice);
    }
    return c.master == -1 && c.err == -1;
}

}  // namespace

const char* pty_binary() { return GLYPHFALL_BINARY; }

const char* pty_emulator() {
    constexpr std::string_view emulator = GLYPHFALL_EMULATOR;
    return emulator.empty() ? nullptr : emulator.data();
}

bool pty_start(pty_child& c, const pty_options& o) {
    winsize size{};
    size.ws_row = o.rows;
    size.ws_col = o.cols;
    std::array<int, 2> err{-1, -1};
    if (openpty(&c.master, &c.slave, nullptr, nullptr, nullptr) != 0 || ioctl(c.master, TIOCSWINSZ, &size) != 0 ||
        pipe2(err.data(), O_CLOEXEC) != 0) {
        pty_close(c);
        return false;
    }
    c.err = err[0];
    set_cloexec(c.master);
    set_cloexec(c.slave);
    set_nonblocking(c.master);
    set_nonblocking(c.err);
    termios modes{};
    if (tcgetattr(c.slave, &modes) != 0) {
        close(err[1]);
        pty_close(c);
        return false;
    }
    if (o.echo) {
        modes.c_lflag |= ECHO;
    } else {
        modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    }
    tcsetattr(c.slave, TCSANOW, &modes);
    if (o.nonblocking) {
        set_nonblocking(c.slave);
    }

    std::vector<char*> argv = argv_of(o.args, o.binary, o.emulator);
    c.pid = fork();
    if (c.pid == 0) {
        setsid();
        if (o.controlling_terminal) {
            ioctl(c.slave, TIOCSCTTY, 0);
        }
        dup2(o.input != -1 ? o.input : c.slave, STDIN_FILENO);
        dup2(c.slave, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        exec_child(argv.data(), o.hangup_ignored);
    }
    close(err[1]);
    if (c.pid == -1) {
        pty_close(c);
        return false;
    }
    return true;
}

bool pty_read_until(pty_child& c, const std::function<bool(const pty_child&)>& done,
                    std::chrono::milliseconds timeout) {
    const pty_clock::time_point deadline = pty_clock::now() + timeout;
    for (;;) {
        if (done(c)) {
            return true;
        }
        if (c.exited) {
            finish(c, deadline);
            return done(c);
        }
        if (pty_clock::now() >= deadline) {
            return false;
        }
        pump(c, slice);
    }
}

std::size_t pty_frames_begun(const pty_child& c) {
    const std::size_t restored = c.out.ends_with(pty_restore) ? 1 : 0;
    return c.homes > 1 + restored ? c.homes - 1 - restored : 0;
}

bool pty_wait_frames(pty_child& c, std::size_t frames, std::chrono::milliseconds timeout) {
    return pty_read_until(
        c, [frames](const pty_child& x) { return pty_frames_begun(x) >= frames; }, timeout);
}

bool pty_wait_exit(pty_child& c, std::chrono::milliseconds timeout) {
    const pty_clock::time_point deadline = pty_clock::now() + timeout;
    while (!c.exited && pty_clock::now() < deadline) {
        pump(c, slice);
    }
    return c.exited && finish(c, deadline);
}

void pty_stall(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

namespace {

// The number of the system call the task is blocked in: the first field.
long blocked_in(const pty_child& c) {
    std::ifstream file("/proc/" + std::to_string(c.pid) + "/syscall");
    long number = -1;
    return file >> number ? number : -1;
}

}  // namespace

bool pty_in_write(const pty_child& c) { return blocked_in(c) == SYS_write; }

bool pty_in_sleep(const pty_child& c) {
    const long number = blocked_in(c);
    return number == SYS_nanosleep || number == SYS_clock_nanosleep;
}

bool pty_resize(pty_child& c, std::uint16_t rows, std::uint16_t cols) {
    winsize size{};
    size.ws_row = rows;
    size.ws_col = cols;
    return c.master != -1 && ioctl(c.master, TIOCSWINSZ, &size) == 0;
}

bool pty_signal(const pty_child& c, int signal) { return !c.exited && c.pid > 0 && kill(c.pid, signal) == 0; }

void pty_hang_up(pty_child& c) { close_fd(c.master); }

bool pty_type(const pty_child& c, std::string_view keys) {
    return c.master != -1 && write(c.master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

bool pty_echo(const pty_child& c) {
    termios modes{};
    const int fd = c.slave != -1 ? c.slave : c.master;
    return fd != -1 && tcgetattr(fd, &modes) == 0 && (modes.c_lflag & ECHO) != 0;
}

void pty_close(pty_child& c) {
    if (c.pid > 0 && !c.exited) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, &c.status, 0);
        c.exited = true;
        c.exit_time = pty_clock::now();
    }
    close_fd(c.master);
    close_fd(c.slave);
    close_fd(c.err);
}

bool pty_run(pty_child& c, const pty_options& o, std::size_t frames, int signal) {
    const bool ok = pty_start(c, o) && pty_wait_frames(c, frames) && pty_signal(c, signal) && pty_wait_exit(c);
    pty_close(c);
    return ok;
}

std::vector<pty_clock::time_point> pty_frame_times(const pty_child& c) {
    std::vector<pty_clock::time_point> times;
    for (const std::string_view frame : pty_split(c.out).frames) {
        const auto offset = static_cast<std::size_t>(frame.data() - c.out.data());
        const auto read =
            std::find_if(c.reads.begin(), c.reads.end(), [offset](const auto& r) { return r.first > offset; });
        if (read != c.reads.end()) {
            times.push_back(read->second);
        }
    }
    return times;
}

pty_plain_result pty_run_plain(const std::vector<std::string>& args, pty_sink sink, std::chrono::milliseconds timeout,
                               const char* emulator) {
    pty_plain_result result;
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    std::FILE* file = sink == pty_sink::file ? std::tmpfile() : nullptr;
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool made = (sink == pty_sink::file ? file != nullptr : pipe2(out.data(), O_CLOEXEC) == 0) &&
                      pipe2(err.data(), O_CLOEXEC) == 0 && input != -1;
    std::vector<char*> argv = argv_of(args, nullptr, emulator);
    const pid_t pid = made ? fork() : -1;
    if (pid == 0) {
        setsid();
        dup2(input, STDIN_FILENO);
        dup2(file != nullptr ? fileno(file) : out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        exec_child(argv.data());
    }
    close_fd(out[1]);
    close_fd(err[1]);
    if (input != -1) {
        close(input);
    }
    if (pid > 0) {
        if (out[0] != -1) {
            set_nonblocking(out[0]);
        }
        set_nonblocking(err[0]);
        const pty_clock::time_point deadline = pty_clock::now() + timeout;
        while ((!result.exited || out[0] != -1 || err[0] != -1) && pty_clock::now() < deadline) {
            std::array<pollfd, 2> fds{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
            poll(fds.data(), fds.size(), static_cast<int>(slice.count()));
            if (out[0] != -1 && fds[0].revents != 0 && !drain(out[0], result.out, nullptr)) {
                close_fd(out[0]);
            }
            if (err[0] != -1 && fds[1].revents != 0 && !drain(err[0], result.err, nullptr)) {
                close_fd(err[0]);
            }
            if (!result.exited && waitpid(pid, &result.status, WNOHANG) == pid) {
                result.exited = true;
            }
        }
        if (!result.exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &result.status, 0);
        }
    }
    if (file != nullptr) {
        std::rewind(file);
        std::array<char, 4096> buffer;
        for (std::size_t n = 0; (n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
            result.out.append(buffer.data(), n);
        }
        std::fclose(file);
    }
    close_fd(out[0]);
    close_fd(err[0]);
    return result;
}

std::optional<pty_parting> pty_parting_of(const pty_stream& a, const pty_stream& b, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        const std::string_view x = a.frames[i];
        const std::string_view y = b.frames[i];
        if (x != y) {
            const auto byte = std::mismatch(x.begin(), x.end(), y.begin(), y.end()).first - x.begin();
            return pty_parting{i, static_cast<std::size_t>(byte)};
        }
    }
    return std::nullopt;
}

pty_stream pty_split(std::string_view out) {
    pty_stream s;
    if (out.ends_with(pty_restore)) {
        s.restore = out.substr(out.size() - pty_restore.size());
        out.remove_suffix(pty_restore.size());
    }
    std::size_t at = out.find(pty_home);
    if (at == std::string_view::npos) {
        s.setup = out;
        return s;
    }
    s.setup = out.substr(0, at + pty_home.size());
    at = out.find(pty_home, s.setup.size());
    while (at != std::string_view::npos) {
        const std::size_t next = out.find(pty_home, at + pty_home.size());
        s.frames.push_back(out.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        at = next;
    }
    return s;
}

pty_frame pty_parse_frame(std::string_view frame) {
    pty_frame f;
    if (!frame.starts_with(pty_home)) {
        f.error = "no cursor home at the start";
        return f;
    }
    for (std::size_t i = pty_home.size(); i < frame.size();) {
        if (frame[i] == ' ') {
            f.cells.push_back(pty_cell{});
            ++i;
            continue;
        }
        const auto colour = std::find_if(colours.begin(), colours.end(),
                                         [rest = frame.substr(i)](std::string_view c) { return rest.starts_with(c); });
        if (colour == colours.end()) {
            f.error = "unexpected byte " + std::to_string(static_cast<unsigned char>(frame[i])) + " at offset " +
                      std::to_string(i);
            return f;
        }
        i += colour->size();
        if (i >= frame.size() || frame[i] < ' ' || frame[i] > '}') {
            f.error = "colour without a glyph at offset " + std::to_string(i);
            return f;
        }
        f.cells.push_back(pty_cell{static_cast<int>(colour - colours.begin()), frame[i]});
        ++i;
    }
    f.ok = true;
    return f;
}

std::vector<pty_frame> pty_parse_frames(const pty_child& c) {
    const pty_stream s = pty_split(c.out);
    std::vector<pty_frame> frames;
    const std::size_t complete = s.restore.empty() && !s.frames.empty() ? s.frames.size() - 1 : s.frames.size();
    for (std::size_t i = 0; i < complete; ++i) {
        frames.push_back(pty_parse_frame(s.frames[i]));
    }
    return frames;
}

std::size_t pty_lit(const pty_frame& f) {
    return static_cast<std::size_t>(
        std::count_if(f.cells.begin(), f.cells.end(), [](const pty_cell& c) { return c.colour >= 0; }));
}

bool pty_exited_with(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
