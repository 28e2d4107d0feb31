#include "matrix.hpp"

#include <cstdint>
#include <cstdlib>

namespace {

// The program's one allocation site: the cells are its only heap memory. On
// a 32-bit target a window of 2^31 cells or more has more bytes than size_t
// can count: it fails as an allocation would, not as a wrapped-round size.
cell* cells_realloc(cell* old, std::size_t count) {
    if (count > SIZE_MAX / sizeof(cell)) {
        return nullptr;
    }
    return static_cast<cell*>(std::realloc(old, count * sizeof(cell)));
}

bool inside(const matrix& m, std::int32_t row, std::int32_t col) {
    return row >= 0 && col >= 0 && row < m.rows && col < m.cols;
}

cell& cell_at(matrix& m, std::int32_t row, std::int32_t col) {
    return m.cells[static_cast<std::size_t>(row) * m.cols + static_cast<std::size_t>(col)];
}

void set_bits(matrix& m, std::int32_t row, std::int32_t col, cell mask, cell bits) {
    if (!inside(m, row, col)) {
        return;
    }
    cell& c = cell_at(m, row, col);
    c = static_cast<cell>((c & ~mask) | (bits & mask));
}

}  // namespace

bool matrix_create(matrix& m, std::uint16_t rows, std::uint16_t cols, float drop_ratio) {
    m = matrix{};
    return matrix_resize(m, rows, cols, drop_ratio);
}

bool matrix_resize(matrix& m, std::uint16_t rows, std::uint16_t cols, float drop_ratio) {
    const std::size_t count = std::size_t{rows} * cols;
    if (count == 0) {
        // realloc(p, 0) may free p and still return null: never ask it for nothing.
        std::free(m.cells);
        m.cells = nullptr;
    } else {
        cell* cells = cells_realloc(m.cells, count);
        if (cells == nullptr) {
            return false;
        }
        m.cells = cells;
    }
    m.rows = rows;
    m.cols = cols;
    m.drop_count = 0;
    m.drop_ratio = drop_ratio;
    return true;
}

void matrix_free(matrix& m) {
    std::free(m.cells);
    m = matrix{};  // the empty matrix, so nothing can reach the freed cells
}

std::uint8_t matrix_random_glyph() { return matrix_glyph_of(std::rand()); }

void matrix_fill(matrix& m) {
    const std::size_t count = matrix_size(m);
    for (std::size_t i = 0; i < count; ++i) {
        m.cells[i] = matrix_random_glyph();
    }
}

void matrix_set_kind(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t kind) {
    set_bits(m, row, col, cell_kind_mask, static_cast<cell>((kind & 3U) << cell_kind_shift));
}

void matrix_set_value(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t value) {
    set_bits(m, row, col, cell_value_mask, static_cast<cell>((value & 63U) << cell_value_shift));
}

void matrix_set_glyph(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t glyph) {
    set_bits(m, row, col, cell_glyph_mask, static_cast<cell>(glyph & 0xFFU));
}
