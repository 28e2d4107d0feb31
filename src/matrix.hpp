// The cell matrix: the whole picture, one 16-bit word per character cell.
#pragma once

#include <cstddef>
#include <cstdint>

// Bits 0-7 glyph, 8-9 kind, 10-15 value. The upper byte is the cell's
// lighting: the part that drops move from cell to cell.
using cell = std::uint16_t;

constexpr unsigned cell_kind_shift = 8;
constexpr unsigned cell_value_shift = 10;
constexpr cell cell_glyph_mask = 0x00FF;
constexpr cell cell_kind_mask = 0x0300;
constexpr cell cell_value_mask = 0xFC00;
constexpr cell cell_light_mask = 0xFF00;  // kind and value

enum : std::uint8_t { kind_empty = 0, kind_head = 1, kind_tail = 2 };

constexpr std::uint8_t cell_glyph(cell c) { return static_cast<std::uint8_t>(c & cell_glyph_mask); }
constexpr std::uint8_t cell_kind(cell c) { return static_cast<std::uint8_t>((c >> cell_kind_shift) & 3U); }
constexpr std::uint8_t cell_value(cell c) { return static_cast<std::uint8_t>(c >> cell_value_shift); }

// All zero is a valid, empty matrix.
struct matrix {
    cell* cells;
    std::uint16_t cols;
    std::uint16_t rows;
    std::uint64_t drop_count;
    float drop_ratio;
};

// rows x cols never overflows: 65535 x 65535 fits even a 32-bit size_t. Its
// size in bytes may not, which matrix_create and matrix_resize refuse.
constexpr std::size_t matrix_size(const matrix& m) { return std::size_t{m.rows} * m.cols; }

// Zeroes the record, then allocates rows x cols cells. On failure the record
// stays empty. Zero cells is a success that holds no cells.
bool matrix_create(matrix& m, std::uint16_t rows, std::uint16_t cols, float drop_ratio);

// Reallocates for a new size; the cells' contents are not kept. On failure the
// matrix is left exactly as it was. Zero cells is a success that holds no cells.
bool matrix_resize(matrix& m, std::uint16_t rows, std::uint16_t cols, float drop_ratio);

void matrix_free(matrix& m);

// Every cell becomes unlit with a new random glyph: one rand() per cell, row-major.
void matrix_fill(matrix& m);

// One rand(): r mod 126, or a space if that is below 33.
std::uint8_t matrix_random_glyph();

// r mod 126, or a space below 33; the rule behind matrix_random_glyph.
constexpr std::uint8_t matrix_glyph_of(int r) {
    const int g = r % 126;
    return static_cast<std::uint8_t>(g < 33 ? ' ' : g);
}

// Replace one field of one cell, keeping the low 2, 6 or 8 bits given.
// Positions outside the matrix are ignored.
void matrix_set_kind(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t kind);
void matrix_set_value(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t value);
void matrix_set_glyph(matrix& m, std::int32_t row, std::int32_t col, std::uint32_t glyph);
