// The program as the screensaver of a terminal multiplexer: tmux's
// lock-command and GNU screen's blanker. The multiplexer's client runs in a
// pseudo-terminal of its own, on a private server; that terminal must show
// the rain, and after it the client's window again, with the cursor shown.
// What starts the screensaver in daily use (lock-after-time, idle) only
// decides when; the tests start it by command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_harness.hpp"

namespace {

constexpr std::string_view marker = "the window before the rain";
constexpr std::uint16_t rows = 24;
constexpr std::uint16_t cols = 80;
constexpr std::size_t npos = std::string::npos;

// Runs a command line with sh, without input or output; true on status 0.
bool sh(const std::string& command) {
    return std::system(("exec </dev/null >/dev/null 2>&1; " + command).c_str()) == 0;
}

// A directory for the server's socket, its configuration and the window's
// script; `stop` ends the server when the test ends, however it ends.
struct multiplexer {
    std::string dir;
    std::string stop;

    multiplexer() {
        std::string name = (std::filesystem::temp_directory_path() / "glyphfall-saver.XXXXXX").string();
        if (mkdtemp(name.data()) != nullptr) {
            dir = name;
            add("window", "echo '" + std::string(marker) + "'; exec sleep 600\n");
        }
    }
    ~multiplexer() {
        if (!stop.empty()) {
            sh(stop);
        }
        if (!dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
    multiplexer(const multiplexer&) = delete;
    multiplexer& operator=(const multiplexer&) = delete;

    void add(const std::string& file, const std::string& text) const { std::ofstream(dir + "/" + file) << text; }
};

// The client's terminal output from `from` on, without the NUL and SOH bytes
// that screen passes on from its blanker's terminal (terminals ignore them).
std::string shown_since(const pty_child& c, std::size_t from) {
    std::string shown = c.out.substr(from);
    std::erase_if(shown, [](char b) { return b == '\0' || b == '\1'; });
    return shown;
}

// The frames of the rain that starts in `shown`, but the last, which may
// still be cut short.
std::vector<pty_frame> rain_in(std::string_view shown) {
    const std::size_t setup = shown.find(pty_setup_plain);
    if (setup == npos) {
        return {};
    }
    const pty_stream s = pty_split(shown.substr(setup));
    std::vector<pty_frame> frames;
    for (std::size_t i = 0; i + 1 < s.frames.size(); ++i) {
        frames.push_back(pty_parse_frame(s.frames[i]));
    }
    return frames;
}

// Whether the last change of the cursor's visibility in `shown` shows it.
bool cursor_shown(std::string_view shown) {
    const std::size_t hidden = shown.rfind("\033[?25l");
    const std::size_t visible = shown.rfind("\033[?25h");
    return visible != npos && (hidden == npos || visible > hidden);
}

// Starts `client` (a command line for sh) on a terminal of its own and waits
// for its window; starts the screensaver with the command `blank` and checks
// the rain on that terminal; types `key` and waits for the window to come
// back with the cursor shown. Returns what the terminal got after the key.
std::string saver_round(pty_child& c, const std::string& client, const std::string& blank, std::string_view key) {
    if (!pty_start(c, {.args = {"-c", client}, .rows = rows, .cols = cols, .binary = "/bin/sh"})) {
        ADD_FAILURE() << "no terminal for the client";
        return {};
    }
    if (!pty_read_until(c, [](const pty_child& x) { return x.out.find(marker) != npos; })) {
        ADD_FAILURE() << "the client never showed its window; it wrote:\n" << c.out << c.err_text;
        return {};
    }

    const std::size_t locked = c.out.size();
    EXPECT_TRUE(sh(blank)) << blank;
    if (!pty_read_until(c, [locked](const pty_child& x) { return rain_in(shown_since(x, locked)).size() >= 3; })) {
        ADD_FAILURE() << "no rain on the client's terminal; it got:\n" << shown_since(c, locked);
        return {};
    }
    const std::vector<pty_frame> frames = rain_in(shown_since(c, locked));
    for (const pty_frame& f : frames) {
        EXPECT_TRUE(f.ok) << f.error;
        EXPECT_EQ(f.cells.size(), std::size_t{rows} * cols);
    }
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const pty_frame& f) { return pty_lit(f) > 0; }));

    const std::size_t pressed = c.out.size();
    EXPECT_TRUE(pty_type(c, key));
    const auto back = [pressed](const pty_child& x) {
        const std::string shown = shown_since(x, pressed);
        return shown.find(marker) != npos && cursor_shown(shown);
    };
    EXPECT_TRUE(pty_read_until(c, back)) << "the window did not come back; the terminal got:\n"
                                         << shown_since(c, pressed);
    EXPECT_FALSE(c.exited) << "the client ended";
    return shown_since(c, pressed);
}

TEST(Screensaver, TmuxLockShowsTheRainAndCtrlCGivesTheWindowBack) {
    if (pty_emulator() != nullptr) {
        GTEST_SKIP() << "tmux starts the program itself, not through the emulator";
    }
    multiplexer m;
    ASSERT_FALSE(m.dir.empty());
    m.add("tmux.conf", "set -g lock-command '" + std::string(pty_binary()) + "'\n");
    const std::string tmux = "unset TMUX; exec tmux -S " + m.dir + "/socket -f " + m.dir + "/tmux.conf ";
    m.stop = tmux + "kill-server";

    pty_child c;
    const std::string after =
        saver_round(c, "export TERM=xterm-256color; " + tmux + "new-session -s saver 'sh " + m.dir + "/window'",
                    tmux + "lock-client", "\003");
    // Ctrl-C ended the program, which gave the terminal back; then tmux drew
    // the window whole again, status line and all.
    const std::size_t restored = after.find(pty_restore);
    EXPECT_NE(restored, npos) << "the program did not restore the terminal";
    EXPECT_NE(after.find(marker, restored), npos);
    EXPECT_NE(after.find("[saver]", restored), npos) << "no status line after the rain";
    pty_close(c);
}

TEST(Screensaver, ScreenBlankerShowsTheRainAndAKeyGivesTheWindowBack) {
    if (pty_emulator() != nullptr) {
        GTEST_SKIP() << "screen starts the program itself, not through the emulator";
    }
    multiplexer m;
    ASSERT_FALSE(m.dir.empty());
    m.add("screenrc", "startup_message off\ndeflogin off\nblankerprg \"" + std::string(pty_binary()) + "\"\n");
    // screen wants its socket directory private.
    const std::string sockets = m.dir + "/sockets";
    ASSERT_TRUE(std::filesystem::create_directory(sockets));
    std::filesystem::permissions(sockets, std::filesystem::perms::owner_all);
    const std::string screen = "export SCREENDIR=" + sockets + "; exec screen -S saver ";
    m.stop = screen + "-X quit";

    // screen ends the blanker itself on any key, then redraws the window.
    pty_child c;
    saver_round(c, "export TERM=xterm-256color; " + screen + "-c " + m.dir + "/screenrc sh " + m.dir + "/window",
                screen + "-X blanker", "\003");
    pty_close(c);
}

}  // namespace
