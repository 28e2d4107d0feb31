#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "matrix.hpp"
#include "test_support.hpp"

namespace {

constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();

TEST(MatrixGlyph, RuleExamples) {
    const struct {
        int r;
        std::uint8_t glyph;
    } cases[] = {
        {0, ' '}, {32, ' '}, {126, ' '}, {33, '!'}, {159, '!'}, {125, '}'}, {251, '}'}, {252, ' '}, {127, ' '},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matrix_glyph_of(c.r), c.glyph) << "r = " << c.r;
    }
}

TEST(MatrixGlyph, OneResidueEachForCharactersSpaceForTheRest) {
    std::vector<int> seen(256);
    for (int r = 0; r < 126; ++r) {
        ++seen[matrix_glyph_of(r)];
    }
    EXPECT_EQ(seen[' '], 33);
    EXPECT_EQ(seen['~'], 0);
    for (int g = 33; g <= 125; ++g) {
        EXPECT_EQ(seen[static_cast<std::size_t>(g)], 1) << "glyph " << g;
    }
}

TEST(MatrixGlyph, RandomGlyphDrawsOneNumber) {
    for (unsigned seed : {1U, 7U, 12345U}) {
        const std::vector<int> numbers = rand_sequence(seed, 2);
        std::srand(seed);
        EXPECT_EQ(matrix_random_glyph(), matrix_glyph_of(numbers[0]));
        EXPECT_EQ(std::rand(), numbers[1]);
    }
}

TEST(MatrixFill, OneNumberPerCellRowMajorAndAllUnlit) {
    const struct {
        std::uint16_t rows;
        std::uint16_t cols;
    } sizes[] = {{1, 1}, {3, 5}, {5, 3}, {24, 80}, {1, 200}};
    for (const auto& size : sizes) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, size.rows, size.cols, 0.01F));
        // Whatever the cells held before, the fill leaves only glyphs.
        for (std::size_t i = 0; i < matrix_size(m); ++i) {
            m.cells[i] = static_cast<cell>(0xFFFF - i);
        }
        const unsigned seed = 99U + size.rows;
        const std::size_t n = matrix_size(m);
        const std::vector<int> numbers = rand_sequence(seed, n + 1);
        std::srand(seed);
        matrix_fill(m);
        EXPECT_EQ(std::rand(), numbers[n]) << size.rows << " x " << size.cols;
        for (std::size_t r = 0; r < m.rows; ++r) {
            for (std::size_t c = 0; c < m.cols; ++c) {
                const std::size_t i = r * m.cols + c;
                EXPECT_EQ(m.cells[i], cell{matrix_glyph_of(numbers[i])}) << "(" << r << ", " << c << ")";
            }
        }
        matrix_free(m);
    }
}

TEST(MatrixFill, NoCellsNoNumbers) {
    const struct {
        std::uint16_t rows;
        std::uint16_t cols;
    } sizes[] = {{0, 0}, {0, 5}, {5, 0}};
    for (const auto& size : sizes) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, size.rows, size.cols, 0.5F));
        EXPECT_TRUE(draws_exactly(4U, 0, [&] { matrix_fill(m); })) << size.rows << " x " << size.cols;
        EXPECT_EQ(m.cells, nullptr);
        matrix_free(m);
    }
}

TEST(MatrixSetters, EmptyMatrixIgnoresEverything) {
    matrix m{};
    EXPECT_TRUE(draws_exactly(5U, 0, [&] {
        matrix_fill(m);
        matrix_set_kind(m, 0, 0, 1);
        matrix_set_value(m, 0, 0, 8);
        matrix_set_glyph(m, 0, 0, 'x');
    }));
    EXPECT_EQ(m.cells, nullptr);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.cols, 0);
    EXPECT_EQ(m.drop_count, 0U);
}

TEST(MatrixSetters, PositionIsRowTimesColsPlusCol) {
    matrix m{};
    ASSERT_TRUE(matrix_create(m, 3, 4, 0.0F));
    std::fill(m.cells, m.cells + matrix_size(m), cell{0});  // created cells hold anything
    for (std::int32_t r = 0; r < 3; ++r) {
        for (std::int32_t c = 0; c < 4; ++c) {
            matrix_set_glyph(m, r, c, static_cast<std::uint32_t>(10 * r + c));
        }
    }
    EXPECT_EQ(cells_of(m), (std::vector<cell>{0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23}));
    matrix_free(m);
}

TEST(MatrixSetters, OutsideTheMatrixChangesNothing) {
    const struct {
        std::int32_t row;
        std::int32_t col;
    } positions[] = {
        {-1, 0},
        {0, -1},
        {3, 0},
        {0, 4},
        {3, 4},
        {1, 4},
        {-1, 4},
        {2, -1},
        {int_min, 0},
        {0, int_min},
        {int_max, 0},
        {0, int_max},
        {int_min, int_max},
        {int_max, int_max},
        {int_min, int_min},
    };
    matrix m = matrix_picture(3, 4, {"h8", "t1", "t5", ".", "t2", "h63", ".", "t3", ".", ".", "t4", "h20"});
    const std::vector<cell> before = cells_of(m);
    for (const auto& p : positions) {
        matrix_set_kind(m, p.row, p.col, 3);
        matrix_set_value(m, p.row, p.col, 63);
        matrix_set_glyph(m, p.row, p.col, 0);
        EXPECT_EQ(cells_of(m), before) << "(" << p.row << ", " << p.col << ")";
    }
    matrix_free(m);
}

TEST(MatrixSetters, ReplaceOneFieldKeepLowBits) {
    enum class field { kind, value, glyph };
    const struct {
        field which;
        cell start;
        std::uint32_t given;
        cell expected;
    } cases[] = {
        {field::kind, 0xFC41, 2, 0xFE41},
        {field::kind, 0xFFFF, 0, 0xFCFF},
        {field::kind, 0x0041, 5, 0x0141},
        {field::kind, 0x0000, 0xFFFFFFFF, 0x0300},
        {field::value, 0x0241, 63, 0xFE41},
        {field::value, 0xFFFF, 0, 0x03FF},
        {field::value, 0x0141, 64 + 5, 0x1541},
        {field::value, 0x0000, 0xFFFFFFFF, 0xFC00},
        {field::glyph, 0xFF00, 'A', 0xFF41},
        {field::glyph, 0xFFFF, 0, 0xFF00},
        {field::glyph, 0x0641, 0x100 + 'z', 0x067A},
        {field::glyph, 0x0000, 0xFFFFFFFF, 0x00FF},
    };
    for (const auto& c : cases) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, 3, 4, 0.0F));
        for (std::size_t i = 0; i < matrix_size(m); ++i) {
            m.cells[i] = static_cast<cell>(0x5A5A + i);
        }
        std::vector<cell> expected = cells_of(m);
        m.cells[1 * 4 + 2] = c.start;
        expected[1 * 4 + 2] = c.expected;
        switch (c.which) {
        case field::kind: matrix_set_kind(m, 1, 2, c.given); break;
        case field::value: matrix_set_value(m, 1, 2, c.given); break;
        case field::glyph: matrix_set_glyph(m, 1, 2, c.given); break;
        }
        EXPECT_EQ(cells_of(m), expected) << "field " << static_cast<int>(c.which) << " start " << std::hex << c.start
                                         << " given " << c.given;
        matrix_free(m);
    }
}

TEST(MatrixLifecycle, CreateStartsFromAnEmptyRecord) {
    const struct {
        std::uint16_t rows;
        std::uint16_t cols;
        bool has_cells;
    } cases[] = {{24, 80, true}, {1, 1, true}, {0, 0, false}, {0, 5, false}, {5, 0, false}};
    for (const auto& c : cases) {
        matrix m{};
        m.drop_count = 77;
        m.drop_ratio = 3.0F;
        ASSERT_TRUE(matrix_create(m, c.rows, c.cols, 0.01F)) << c.rows << " x " << c.cols;
        EXPECT_EQ(m.rows, c.rows);
        EXPECT_EQ(m.cols, c.cols);
        EXPECT_EQ(m.drop_count, 0U);
        EXPECT_EQ(m.drop_ratio, 0.01F);
        EXPECT_EQ(m.cells != nullptr, c.has_cells);
        if (c.has_cells) {
            // Every cell is there to be written (the sanitizer build checks the size).
            matrix_fill(m);
            matrix_set_glyph(m, c.rows - 1, c.cols - 1, 'z');
            EXPECT_EQ(m.cells[matrix_size(m) - 1], cell{'z'});
        }
        matrix_free(m);
    }
}

TEST(MatrixLifecycle, ResizeTakesTheNewSizeAndResetsTheCount) {
    const struct {
        std::uint16_t from_rows, from_cols, rows, cols;
        bool has_cells;
    } cases[] = {
        {3, 4, 24, 80, true}, {24, 80, 3, 4, true}, {3, 4, 3, 4, true},  {0, 0, 2, 2, true},
        {3, 4, 0, 7, false},  {3, 4, 7, 0, false},  {0, 0, 0, 0, false}, {0, 5, 5, 0, false},
    };
    for (const auto& c : cases) {
        matrix m{};
        ASSERT_TRUE(matrix_create(m, c.from_rows, c.from_cols, 0.01F));
        m.drop_count = 12;
        ASSERT_TRUE(matrix_resize(m, c.rows, c.cols, 0.05F))
            << c.from_rows << " x " << c.from_cols << " -> " << c.rows << " x " << c.cols;
        EXPECT_EQ(m.rows, c.rows);
        EXPECT_EQ(m.cols, c.cols);
        EXPECT_EQ(m.drop_count, 0U);
        EXPECT_EQ(m.drop_ratio, 0.05F);
        EXPECT_EQ(m.cells != nullptr, c.has_cells);
        if (c.has_cells) {
            matrix_fill(m);
            matrix_set_glyph(m, c.rows - 1, c.cols - 1, 'z');
            EXPECT_EQ(m.cells[matrix_size(m) - 1], cell{'z'});
        }
        matrix_free(m);
    }
}

// On a 32-bit target the bytes of 2^31 cells or more do not fit in size_t: a
// wrapped-round size would allocate a sliver and fill far past it.
TEST(MatrixLifecycle, SizesWhoseBytesSizeTCannotCountFail) {
    if (sizeof(std::size_t) > 4) {
        GTEST_SKIP() << "every size fits a 64-bit size_t";
    }
    const struct {
        std::uint16_t rows, cols;
    } sizes[] = {{32769, 65535}, {46341, 46341}, {65535, 65535}, {65535, 32769}};
    for (const auto& size : sizes) {
        const std::string label = text_of(size.rows, " x ", size.cols);
        matrix m{};
        m.drop_count = 4;
        EXPECT_FALSE(matrix_create(m, size.rows, size.cols, 0.01F)) << label;
        EXPECT_EQ(m.cells, nullptr) << label;
        EXPECT_EQ(matrix_size(m), 0U) << label;
        EXPECT_EQ(m.drop_count, 0U) << label;

        ASSERT_TRUE(matrix_create(m, 3, 4, 0.01F));
        const cell* const cells = m.cells;
        m.drop_count = 9;
        EXPECT_FALSE(matrix_resize(m, size.rows, size.cols, 0.05F)) << label;
        EXPECT_EQ(m.cells, cells) << label;
        EXPECT_EQ(m.rows, 3) << label;
        EXPECT_EQ(m.cols, 4) << label;
        EXPECT_EQ(m.drop_count, 9U) << label;
        EXPECT_EQ(m.drop_ratio, 0.01F) << label;
        matrix_free(m);
    }
}

TEST(MatrixLifecycle, FreeLeavesTheEmptyMatrix) {
    matrix m{};
    ASSERT_TRUE(matrix_create(m, 5, 6, 0.01F));
    m.drop_count = 3;
    matrix_free(m);
    EXPECT_EQ(m.cells, nullptr);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.cols, 0);
    EXPECT_EQ(m.drop_count, 0U);
    EXPECT_EQ(m.drop_ratio, 0.0F);
    // Freeing again, and using what is left, is harmless.
    matrix_free(m);
    EXPECT_TRUE(draws_exactly(3U, 0, [&] {
        matrix_fill(m);
        matrix_set_kind(m, 0, 0, 1);
    }));
    EXPECT_TRUE(matrix_resize(m, 2, 3, 0.01F));
    EXPECT_NE(m.cells, nullptr);
    matrix_free(m);
}

}  // namespace
