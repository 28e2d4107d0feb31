#include "rain.hpp"

#include <cmath>
#include <cstddef>
#include <cstdlib>

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

// Cells times the ratio in single precision. The product is formed in 64 bits
// so huge windows cannot overflow; where it fits in 32 bits the float is the same.
std::uint64_t cells_times(const matrix& m, float ratio) {
    return count_of(static_cast<float>(matrix_size(m)) * ratio);
}

// The exact ceiling of 5k/L: float or double quotients round the wrong way.
std::uint32_t shade(std::int64_t k, std::int64_t length) {
    return static_cast<std::uint32_t>((5 * k + length - 1) / length);
}

cell lighting(std::uint32_t kind, std::uint32_t value) {
    return static_cast<cell>((kind << cell_kind_shift) | ((value & 63U) << cell_value_shift));
}

}  // namespace

void rain_place_drop(matrix& m, std::int32_t row, std::int32_t col, std::int32_t length) {
    if (row < 0 || length < 0) {
        return;
    }
    std::int32_t r = row;
    for (std::int64_t k = 0; k <= length; ++k) {
        if (r < m.rows) {
            if (k == 0) {
                matrix_set_kind(m, r, col, kind_head);
                matrix_set_value(m, r, col, static_cast<std::uint32_t>(length));
                ++m.drop_count;
            } else {
                matrix_set_kind(m, r, col, kind_tail);
                matrix_set_value(m, r, col, shade(k, length));
            }
        }
        if (r == 0) {
            break;  // the rest of the drop lies above the top edge
        }
        --r;
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
    for (std::size_t c = 0; c < cols; ++c) {
        cell* const column = m.cells + c;
        const cell bottom = column[(rows - 1) * cols];
        std::uint8_t head = 0;   // length of the topmost head met so far
        std::uint8_t tails = 0;  // tail cells above that head; wraps at 256
        bool lit = false;
        // Upward, so each cell is read before the move from above lands on it.
        for (std::size_t r = rows; r-- > 0;) {
            cell& here = column[r * cols];
            const std::uint8_t kind = cell_kind(here);
            if (kind == kind_empty) {
                lit = false;
                continue;
            }
            if (r + 1 < rows) {
                cell& below = column[(r + 1) * cols];
                below = static_cast<cell>((below & cell_glyph_mask) | (here & cell_light_mask));
            }
            if (kind == kind_head) {
                head = cell_value(here);
                tails = 0;
            } else if (head != 0) {
                tails = static_cast<std::uint8_t>(tails + 1);
            }
            here &= cell_glyph_mask;
            lit = true;
        }
        // A trail that still reaches the top edge grows in by one cell.
        if (lit && tails < head) {
            column[0] = static_cast<cell>(column[0] | lighting(kind_tail, shade(tails + 1, head)));
        }
        // Never below zero: a head the count never saw may still leave.
        if (cell_kind(bottom) == kind_head && m.drop_count > 0) {
            --m.drop_count;
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
    const float k = std::ceil(static_cast<float>(d) / static_cast<float>(m.rows));
    if (k < 0.0F) {
        return;  // well above the target; a ceiling of -0 still spawns one
    }
    const auto drops = static_cast<std::int64_t>(k) + 1;
    for (std::int64_t i = 0; i < drops; ++i) {
        const int col = std::rand() % m.cols;
        rain_place_drop(m, 0, col, random_length());
    }
}
