#include "screen.hpp"

#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

void put(std::string_view bytes, std::FILE* out) { std::fwrite(bytes.data(), 1, bytes.size(), out); }

// Echo is a property of the terminal on standard input; when that is not a
// terminal there is nothing to change and nothing to report.
void set_echo(bool on) {
    termios attributes{};
    if (tcgetattr(STDIN_FILENO, &attributes) != 0) {
        return;
    }
    if (on) {
        attributes.c_lflag |= ECHO;
    } else {
        attributes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &attributes);
}

// What one cell draws, by its lighting byte: a colour sequence and the glyph
// for lit cells, a space for empty ones, nothing for the unused kind 3.
struct paint {
    std::array<char, 12> bytes;
    std::uint8_t size;       // bytes written before the glyph
    std::uint8_t shows_glyph;  // 1 when the glyph follows
};

constexpr std::array<paint, 256> paints = [] {
    std::array<paint, 256> table{};
    for (std::size_t light = 0; light < table.size(); ++light) {
        paint& p = table[light];
        const std::size_t kind = light & 3U;
        const std::size_t value = light >> 2U;
        if (kind == kind_empty) {
            p.bytes[0] = ' ';
            p.size = 1;
        } else if (kind == kind_head || kind == kind_tail) {
            // A tail's shade is 1 to 5; any other value would read past the
            // table, so it is drawn as the far end of a trail.
            const std::string_view colour = screen_colours[kind == kind_head ? 0 : (value < 6 ? value : 5)];
            for (std::size_t i = 0; i < colour.size(); ++i) {
                p.bytes[i] = colour[i];
            }
            p.size = static_cast<std::uint8_t>(colour.size());
            p.shows_glyph = 1;
        }
    }
    return table;
}();

// A frame is assembled here and handed to the stream in large pieces: cell by
// cell the stream would cost a system call per kilobyte on a terminal.
constexpr std::size_t chunk_size = 64 * 1024;
constexpr std::size_t cell_room = sizeof(paint::bytes) + 1;

}  // namespace

void screen_setup(bool black_background, std::FILE* out) {
    // Set before the first byte: changing buffering on a used stream is undefined.
    std::setvbuf(out, nullptr, _IOFBF, 0);
    put(screen_hide_cursor, out);
    put(screen_bold, out);
    if (black_background) {
        put(screen_black_background, out);
    }
    put(screen_clear, out);
    put(screen_home, out);
    set_echo(false);
    std::fflush(out);
}

void screen_draw(const matrix& m, std::FILE* out) {
    std::array<char, chunk_size> chunk;  // NOLINT: filled before it is read
    char* at = chunk.data();
    char* const end = chunk.data() + chunk.size() - cell_room;
    std::memcpy(at, screen_home.data(), screen_home.size());
    at += screen_home.size();
    const std::size_t count = matrix_size(m);
    for (std::size_t i = 0; i < count; ++i) {
        if (at > end) {
            std::fwrite(chunk.data(), 1, static_cast<std::size_t>(at - chunk.data()), out);
            at = chunk.data();
        }
        const cell c = m.cells[i];
        const paint& p = paints[c >> cell_kind_shift];
        // Fixed-size copies, no branch: the glyph lands after the colour and
        // is kept only when the cell shows it.
        std::memcpy(at, p.bytes.data(), p.bytes.size());
        at[p.size] = static_cast<char>(cell_glyph(c));
        at += p.size + p.shows_glyph;
    }
    std::fwrite(chunk.data(), 1, static_cast<std::size_t>(at - chunk.data()), out);
    std::fflush(out);
}

void screen_restore(std::FILE* out) {
    put(screen_reset, out);
    put(screen_show_cursor, out);
    put(screen_clear, out);
    put(screen_home, out);
    set_echo(true);
    std::fflush(out);
}
