// glyphfall: characters falling like rain in a text terminal.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "matrix.hpp"
#include "rain.hpp"
#include "screen.hpp"
#include "settings.hpp"

namespace {

volatile std::sig_atomic_t running = 0;
volatile std::sig_atomic_t resized = 0;

extern "C" void handle_signal(int signal) {
    if (signal == SIGWINCH) {
        resized = 1;
    } else {
        running = 0;
    }
}

// SA_RESTART: a signal must not cut a write to a slow terminal short, or the
// stream drops the rest of its buffer. nanosleep is never restarted on Linux,
// so a signal still ends the frame's sleep at once.
void install_handlers() {
    struct sigaction action {};
    action.sa_handler = handle_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGQUIT, SIGTERM, SIGWINCH}) {
        sigaction(signal, &action, nullptr);
    }
}

int term_size(winsize& size) { return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size); }

// The terminal is gone, yet no hang-up signal came (SIGHUP ignored, or not our
// controlling terminal). End as that signal would have ended the run, so the
// parent sees a hang-up; the terminal cannot be restored.
int hang_up() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGHUP, &fallback, nullptr);
    sigset_t hup;
    sigemptyset(&hup);
    sigaddset(&hup, SIGHUP);
    sigprocmask(SIG_UNBLOCK, &hup, nullptr);
    std::raise(SIGHUP);
    return 128 + SIGHUP;  // not reached
}

}  // namespace

int main(int argc, char* argv[]) {
    install_handlers();

    settings options{};
    settings_read(options, argc, argv);
    if (!settings_finish(options, argc > 0 ? argv[0] : nullptr)) {
        return 0;
    }
    if (options.seed == 0) {
        options.seed = std::time(nullptr);
    }

    winsize size{};
    if (term_size(size) == -1) {
        std::fputs("Failed to determine terminal size\n", stderr);
        return 1;
    }
    if (size.ws_row == 0 || size.ws_col == 0) {
        std::fputs("Terminal size not appropriate\n", stderr);
        return 1;
    }

    const timespec delay = settings_frame_delay(options);
    const float drop_ratio = settings_drop_ratio(options);
    const float error_ratio = settings_error_ratio(options);
    std::srand(static_cast<unsigned>(static_cast<std::uint64_t>(options.seed) & 0xFFFFFFFFU));

    // Without cells the run goes on empty until a window-size change allocates them.
    matrix picture{};
    if (matrix_create(picture, size.ws_row, size.ws_col, drop_ratio)) {
        matrix_fill(picture);
    }
    if (!screen_setup(options.background)) {
        matrix_free(picture);
        return hang_up();
    }

    // A termination signal during start-up is forgotten; a size change stays pending.
    running = 1;
    while (running != 0) {
        if (resized != 0) {
            // Cleared before the query, so a change that lands while this one
            // is handled is taken up next frame instead of lost.
            resized = 0;
            term_size(size);  // on failure the last size is used again
            matrix_resize(picture, size.ws_row, size.ws_col, drop_ratio);
            matrix_fill(picture);
            rain_seed(picture);
        }
        if (!screen_draw(picture)) {
            matrix_free(picture);
            return hang_up();
        }
        rain_glitch(picture, error_ratio);
        rain_advance(picture);
        rain_spawn(picture);
        nanosleep(&delay, nullptr);  // a caught signal ends the sleep early
    }

    matrix_free(picture);
    return screen_restore() ? 0 : hang_up();
}
