#include "rain.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "single.hpp"

namespace {

// Drop lengths run from 8 to 63: exactly the range of a head's value field.
int random_length() { return std::rand() % 56 + 8; }

// trunc(x) as a count; NaN and negatives count as none, and the cap keeps
// the conversion defined whatever ratio the record holds.
std::uint64_t count_of(float x) {
    constexpr float cap = 0x1p62F;
    if (!(x > 0.0F)) {
        return 0;
    }
    return static_cast<std::uint64_t>(x < cap ? x : cap);
}

// Cells times the ratio in single precision. The cell count is never cut to
// 32 bits signed, so huge windows cannot overflow; below 2^31 cells that
// changes nothing.
std::uint64_t cells_times(const matrix& m, float ratio) {
    return count_of(single(single(static_cast<float>(matrix_size(m))) * ratio));
}

// The exact ceiling of 5k/L: float or double quotients round the wrong way.
std::uint32_t shade(std::int64_t k, std::int64_t length) {
    return static_cast<std::uint32_t>((5 * k + length - 1) / length);
}

cell lighting(std::uint32_t kind, std::uint32_t value) {
    return static_cast<cell>((kind << cell_kind_shift) | ((value & 63U) << cell_value_shift));
}

// The cell `here` after the cell `above` it has moved down: a lit cell above
// lands on it; otherwise a lit cell has gone and an unlit one stays as it is.
// Tested on the 16-bit word, not through cell_kind: narrowing to a byte would
// cost the vectorized loop a pack and unpack per step.
cell moved_down(cell above, cell here) {
    const cell glyph = here & cell_glyph_mask;
    const cell left = (here & cell_kind_mask) == 0 ? here : glyph;
    return (above & cell_kind_mask) != 0 ? static_cast<cell>(glyph | (above & cell_light_mask)) : left;
}

// The lighting byte that grows in on row 0 of a column lit there: the next
// tail cell of the topmost head while it has fewer than its length. The tails
// above that head are counted in 8 bits: past 255 the count starts again at 0.
std::uint8_t grown_light(const matrix& m, std::size_t col) {
    std::uint8_t tails = 0;
    for (std::size_t at = col; at < matrix_size(m); at += m.cols) {
        const cell here = m.cells[at];
        if (cell_kind(here) == kind_head) {
            const std::uint8_t head = cell_value(here);
            return tails < head
                       ? static_cast<std::uint8_t>(lighting(kind_tail, shade(tails + 1, head)) >> cell_kind_shift)
                       : std::uint8_t{0};
        }
        if (cell_kind(here) != kind_empty) {
            tails = static_cast<std::uint8_t>(tails + 1);
        }
    }
    return 0;  // no head in the column: nothing grows
}

}  // namespace

void rain_place_drop(matrix& m, std::int32_t row, std::int32_t col, std::int32_t length) {
    if (row < 0 || length < 0) {
        return;
    }
    // Cell k of the drop (0 the head) lies on row - k. Those below the bottom
    // row are skipped at once, those above the top edge are not stored.
    const std::int64_t first = std::max<std::int64_t>(0, std::int64_t{row} - m.rows + 1);
    const std::int64_t last = std::min<std::int64_t>(length, row);
    for (std::int64_t k = first; k <= last; ++k) {
        const auto r = static_cast<std::int32_t>(row - k);
        if (k == 0) {
            matrix_set_kind(m, r, col, kind_head);
            matrix_set_value(m, r, col, static_cast<std::uint32_t>(length));
            ++m.drop_count;
        } else {
            matrix_set_kind(m, r, col, kind_tail);
            matrix_set_value(m, r, col, shade(k, length));
        }
    }
}

void rain_seed(matrix& m) {
    const std::uint64_t n = cells_times(m, m.drop_ratio);
    for (std::uint64_t i = 0; i < n; ++i) {
        const int col = std::rand() % m.cols;
        const int row = std::rand() % m.rows;
        rain_place_drop(m, row, col, random_length());
    }
}

void rain_glitch(matrix& m, float error_ratio) {
    const std::uint64_t n = cells_times(m, error_ratio);
    for (std::uint64_t i = 0; i < n; ++i) {
        const int a = std::rand();
        const int b = std::rand();
        const int c = std::rand();
        const std::size_t at = static_cast<std::size_t>(a % m.rows) * m.cols + static_cast<std::size_t>(b % m.cols);
        m.cells[at] = static_cast<cell>((m.cells[at] & cell_light_mask) | matrix_glyph_of(c));
    }
}

void rain_advance(matrix& m) {
    if (m.rows == 0) {
        return;  // no bottom row to remember, nothing to move
    }
    const std::size_t cols = m.cols;
    const std::size_t rows = m.rows;
    cell* const top = m.cells;
    const cell* const bottom = m.cells + (rows - 1) * cols;

    // Heads on the bottom row leave. Never below zero: a head the count never
    // saw may still leave.
    std::uint64_t leaving = 0;
    for (std::size_t c = 0; c < cols; ++c) {
        leaving += cell_kind(bottom[c]) == kind_head ? 1U : 0U;
    }
    m.drop_count -= std::min(leaving, m.drop_count);

    // Decided before anything moves, for the columns lit on row 0 only. On
    // the stack: the step takes no heap memory, and cols fits in 16 bits.
    std::array<std::uint8_t, 65536> grown;  // NOLINT: read only where written
    for (std::size_t c = 0; c < cols; ++c) {
        if (cell_kind(top[c]) != kind_empty) {
            grown[c] = grown_light(m, c);
        }
    }

    // Row by row from the bottom up rather than column by column: the same
    // moves, but memory is read in order. Eight cells at a time through local
    // copies: a loop of fixed length over memory nothing else can reach is
    // one the compiler vectorizes even at -O2.
    constexpr std::size_t group = 8;
    for (std::size_t r = rows - 1; r > 0; --r) {
        cell* const below = m.cells + r * cols;
        const cell* const above = below - cols;
        std::size_t c = 0;
        for (; c + group <= cols; c += group) {
            std::array<cell, group> from{};
            std::array<cell, group> to{};
            std::memcpy(from.data(), above + c, sizeof from);
            std::memcpy(to.data(), below + c, sizeof to);
            for (std::size_t k = 0; k < group; ++k) {
                to[k] = moved_down(from[k], to[k]);
            }
            std::memcpy(below + c, to.data(), sizeof to);
        }
        for (; c < cols; ++c) {
            below[c] = moved_down(above[c], below[c]);
        }
    }
    // Row 0 was lit: its lighting has moved down, and a trail may grow in.
    for (std::size_t c = 0; c < cols; ++c) {
        if (cell_kind(top[c]) != kind_empty) {
            top[c] = static_cast<cell>((top[c] & cell_glyph_mask) | (grown[c] << cell_kind_shift));
        }
    }
}

void rain_spawn(matrix& m) {
    if (m.rows == 0 || m.cols == 0) {
        return;  // no top row to spawn on, no column to pick
    }
    const std::uint64_t target = cells_times(m, m.drop_ratio);
    // The low 32 bits of the difference, read as signed.
    const auto d = static_cast<std::int32_t>(static_cast<std::uint32_t>(target - m.drop_count));
    const float k = std::ceil(single(single(static_cast<float>(d)) / static_cast<float>(m.rows)));
    if (k < 0.0F) {
        return;  // well above the target; a ceiling of -0 still spawns one
    }
    const auto drops = static_cast<std::int64_t>(k) + 1;
    for (std::int64_t i = 0; i < drops; ++i) {
        const int col = std::rand() % m.cols;
        rain_place_drop(m, 0, col, random_length());
    }
}
