// Drops: lighting laid over the matrix, moved one row down per frame.
#pragma once

#include <cstdint>

#include "matrix.hpp"

// Lays a drop with its head at (row, col) and its trail of `length` cells
// above it, as far as it lies inside the matrix.
void rain_place_drop(matrix& m, std::int32_t row, std::int32_t col, std::int32_t length);

// Scatters a full screen of drops at random.
void rain_seed(matrix& m);

// Gives randomly chosen cells new glyphs.
void rain_glitch(matrix& m, float error_ratio);

// Moves every drop down one row, grows trails in at the top, counts off the
// heads that leave through the bottom.
void rain_advance(matrix& m);

// Places new drops on the top row to keep the picture near its density.
void rain_spawn(matrix& m);
