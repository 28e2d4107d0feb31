#include <gtest/gtest.h>

#include "matrix.hpp"

TEST(MatrixGlyph, Placeholder) { EXPECT_EQ(matrix_glyph_of(33), '!'); }
