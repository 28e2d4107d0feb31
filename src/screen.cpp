#include "screen.hpp"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// Hands every byte to the terminal, whatever it takes. Its open file may be
// non-blocking: that flag is shared with every program started from the same
// shell, and one may have left it set. Then a write that finds the terminal
// behind takes part of the bytes or none, and the rest waits until it can take
// more. False when a write fails for good: the terminal is gone.
bool write_all(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == -1 && errno == EINTR) {
            continue;
        }
        if (n == -1 && errno != EAGAIN) {
            return false;
        }
        pollfd ready{fd, POLLOUT, 0};
        poll(&ready, 1, -1);
    }
    return true;
}

// Set-up and restore are each gathered and written in one call.
using short_text = std::array<char, 64>;

char* put(std::string_view bytes, char* at) { return std::copy(bytes.begin(), bytes.end(), at); }

bool write_text(int fd, const short_text& text, const char* end) {
    return write_all(fd, text.data(), static_cast<std::size_t>(end - text.data()));
}

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

// What one lit cell draws, by its lighting byte: a colour sequence and the
// glyph, or nothing for the unused kind 3. Sixteen bytes, copied whole: the
// bytes past the glyph are overwritten by what follows the cell.
struct paint {
    std::array<char, 14> bytes;
    std::uint8_t glyph_at;  // the glyph goes right after the colour
    std::uint8_t advance;   // colour and glyph: the bytes the cell takes
};
static_assert(sizeof(paint) == 16);

constexpr std::array<paint, 256> paints = [] {
    std::array<paint, 256> table{};
    for (std::size_t light = 0; light < table.size(); ++light) {
        paint& p = table[light];
        const std::size_t kind = light & 3U;
        const std::size_t value = light >> 2U;
        if (kind == kind_empty) {
            p.bytes[0] = ' ';  // blank cells are drawn in runs; kept right all the same
            p.glyph_at = 1;
            p.advance = 1;
        } else if (kind == kind_head || kind == kind_tail) {
            // A tail's shade (1 to 5) indexes the table directly; a value past
            // its end, never produced, is drawn as the far end of a trail.
            const std::string_view colour = screen_colours[kind == kind_head ? 0 : (value < 6 ? value : 5)];
            for (std::size_t i = 0; i < colour.size(); ++i) {
                p.bytes[i] = colour[i];
            }
            p.glyph_at = static_cast<std::uint8_t>(colour.size());
            p.advance = static_cast<std::uint8_t>(colour.size() + 1);
        }
    }
    return table;
}();

constexpr std::array<char, 16> blanks = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// Cells are drawn in blocks of 64 with one bit per cell for the lit ones:
// most cells of a frame are blank, and a run of them costs no per-cell work.
constexpr std::size_t block_cells = 64;

// Bit i set when cell i has a kind other than empty.
std::uint64_t lit_mask(const cell* cells, std::size_t count) {
    std::uint64_t mask = 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (count == block_cells) {
            // A byte per cell first, in a loop the compiler vectorizes; then a
            // multiply turns each eight bytes of 0 or 1 into eight adjacent
            // bits: byte k lands on bit 56 + k, and no two partial products meet.
            std::array<std::uint8_t, block_cells> lit;  // NOLINT: filled next
            for (std::size_t i = 0; i < block_cells; ++i) {
                lit[i] = (cells[i] & cell_kind_mask) != 0 ? 1 : 0;
            }
            for (std::size_t k = 0; k < block_cells / 8; ++k) {
                std::uint64_t eight = 0;
                std::memcpy(&eight, lit.data() + 8 * k, sizeof eight);
                mask |= (eight * 0x0102'0408'1020'4080U) >> 56 << (8 * k);
            }
            return mask;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        mask |= ((cells[i] & cell_kind_mask) != 0 ? std::uint64_t{1} : 0) << i;
    }
    return mask;
}

// Writes spaces over [from, to) in whole runs of 16, possibly a little past.
void fill_blanks(char* from, const char* to, const std::array<char, 16>& spaces) {
    for (; from < to; from += spaces.size()) {
        std::memcpy(from, spaces.data(), spaces.size());
    }
}

// Draws up to 64 cells at `to`, returns the end. Sixteen spaces always wait
// past the end of what is drawn, so a run of blank cells is merely skipped.
char* draw_block(const cell* cells, std::size_t count, char* to) {
    // A local copy stays in a register; the global would be reloaded after
    // every store, since a store through char* may change any object.
    const std::array<char, 16> spaces = blanks;
    std::uint64_t lit = lit_mask(cells, count);
    // Cell i starts at to + i + shift: each lit cell adds its bytes less one,
    // kind 3 takes one off. Unsigned and wrapping, so it may dip below zero.
    std::size_t shift = 0;
    std::size_t next = 0;  // the first cell not drawn yet
    std::memcpy(to, spaces.data(), spaces.size());
    while (lit != 0) {
        const std::size_t i = static_cast<unsigned>(std::countr_zero(lit));
        lit &= lit - 1;
        char* const at = to + (shift + i);
        if (i - next > spaces.size()) [[unlikely]] {
            fill_blanks(at - (i - next) + spaces.size(), at, spaces);
        }
        const std::uint32_t c = cells[i];  // 32 bits: no narrowing in the index below
        const paint& p = paints[c >> cell_kind_shift];
        std::memcpy(at, &p, sizeof p);
        at[p.glyph_at] = static_cast<char>(cell_glyph(static_cast<cell>(c)));
        shift += std::size_t{p.advance} - 1;
        std::memcpy(at + p.advance, spaces.data(), spaces.size());
        next = i + 1;
    }
    char* const end = to + (shift + count);
    if (count - next > spaces.size()) {
        fill_blanks(end - (count - next) + spaces.size(), end, spaces);
    }
    return end;
}

// A frame is assembled here and written in one call, or one per mebibyte:
// 1 MiB holds a 1000 x 300 frame at the usual density.
constexpr std::size_t chunk_size = std::size_t{1} << 20;
// A block of lit cells, plus what is written past its end.
constexpr std::size_t block_room = block_cells * sizeof(paint) + 2 * blanks.size();

}  // namespace

bool screen_setup(bool black_background, int fd) {
    short_text text{};
    char* at = put(screen_hide_cursor, text.data());
    at = put(screen_bold, at);
    if (black_background) {
        at = put(screen_black_background, at);
    }
    at = put(screen_clear, at);
    at = put(screen_home, at);
    set_echo(false);
    return write_text(fd, text, at);
}

bool screen_draw(const matrix& m, int fd) {
    // Static, as too large for the stack; only the pages a frame reaches are touched.
    static std::array<char, chunk_size> chunk;
    char* at = chunk.data();
    const char* const last_block = chunk.data() + chunk.size() - block_room;
    std::memcpy(at, screen_home.data(), screen_home.size());
    at += screen_home.size();
    const std::size_t count = matrix_size(m);
    for (std::size_t first = 0; first < count; first += block_cells) {
        if (at > last_block) {
            if (!write_all(fd, chunk.data(), static_cast<std::size_t>(at - chunk.data()))) {
                return false;
            }
            at = chunk.data();
        }
        at = draw_block(m.cells + first, std::min(block_cells, count - first), at);
    }
    return write_all(fd, chunk.data(), static_cast<std::size_t>(at - chunk.data()));
}

bool screen_restore(int fd) {
    short_text text{};
    char* at = put(screen_reset, text.data());
    at = put(screen_show_cursor, at);
    at = put(screen_clear, at);
    at = put(screen_home, at);
    set_echo(true);
    return write_text(fd, text, at);
}
