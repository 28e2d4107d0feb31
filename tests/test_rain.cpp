#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "matrix.hpp"
#include "rain.hpp"
#include "test_support.hpp"

namespace {

using lights = std::vector<std::string>;

// The smallest s with s * length >= 5 * k: the ceiling of 5k / length, found
// without dividing.
std::uint32_t ceiling_shade(std::uint32_t k, std::uint32_t length) {
    std::uint32_t s = 0;
    while (s * length < 5 * k) {
        ++s;
    }
    return s;
}

// A one-column matrix lit as given, top row first.
matrix column(const lights& names) { return matrix_picture(static_cast<std::uint16_t>(names.size()), 1, names); }

lights repeated(std::size_t count, const std::string& name) { return lights(count, name); }

lights joined(std::initializer_list<lights> parts) {
    lights all;
    for (const lights& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(RainPlaceDrop, Placements) {
    const struct {
        std::uint16_t rows;
        std::int32_t row;
        std::int32_t length;
        lights expected;  // column 1 of three, top row first
        std::uint64_t counted;
    } cases[] = {
        {8, 5, 20, {"t2", "t1", "t1", "t1", "t1", "h20", ".", "."}, 1},
        {4, 0, 30, {"h30", ".", ".", "."}, 1},
        {24, 40, 63, joined({repeated(3, "t4"), repeated(12, "t3"), repeated(9, "t2")}), 0},
        {24, 23, 8, joined({repeated(15, "."), {"t5", "t5", "t4", "t4", "t3", "t2", "t2", "t1", "h8"}}), 1},
        {4, 3, 3, {"t5", "t4", "t2", "h3"}, 1},
        {4, 2, 0, {".", ".", "h0", "."}, 1},
        {4, 4, 1, {".", ".", ".", "t5"}, 0},
        {4, 5, 1, {".", ".", ".", "."}, 0},
        {4, -1, 20, {".", ".", ".", "."}, 0},
        {4, 2, -1, {".", ".", ".", "."}, 0},
        {4, std::numeric_limits<std::int32_t>::min(), 8, {".", ".", ".", "."}, 0},
        {4, 2, std::numeric_limits<std::int32_t>::min(), {".", ".", ".", "."}, 0},
        {4, std::numeric_limits<std::int32_t>::max(), 8, {".", ".", ".", "."}, 0},
    };
    for (const auto& c : cases) {
        matrix m = matrix_picture(c.rows, 3);
        m.drop_count = 5;
        const std::vector<std::uint8_t> before = glyphs(m);
        rain_place_drop(m, c.row, 1, c.length);
        const std::string label = text_of("row ", c.row, " length ", c.length);
        EXPECT_EQ(column_lights(m, 1), c.expected) << label;
        EXPECT_EQ(column_lights(m, 0), repeated(c.rows, ".")) << label;
        EXPECT_EQ(column_lights(m, 2), repeated(c.rows, ".")) << label;
        EXPECT_EQ(m.drop_count, 5 + c.counted) << label;
        EXPECT_EQ(glyphs(m), before) << label;
        matrix_free(m);
    }
}

TEST(RainPlaceDrop, OverwritesLightingAndCountsHeadsOutsideTheColumns) {
    matrix m = column({"h9", "t3", "h40", "t5", "."});
    m.drop_count = 2;
    rain_place_drop(m, 3, 0, 10);
    EXPECT_EQ(column_lights(m, 0), (lights{"t2", "t1", "t1", "h10", "."}));
    EXPECT_EQ(m.drop_count, 3U);
    // A column outside the matrix stores nothing, but the head's row is inside.
    rain_place_drop(m, 1, -1, 10);
    rain_place_drop(m, 1, 1, 10);
    EXPECT_EQ(column_lights(m, 0), (lights{"t2", "t1", "t1", "h10", "."}));
    EXPECT_EQ(m.drop_count, 5U);
    matrix_free(m);
}

TEST(RainShade, ExactCeilingOfFiveKOverLength) {
    for (std::int32_t length = 1; length <= 63; ++length) {
        const auto rows = static_cast<std::uint16_t>(length + 1);
        matrix m = matrix_picture(rows, 1);
        rain_place_drop(m, length, 0, length);
        lights expected;
        for (std::int32_t k = length; k >= 1; --k) {
            expected.push_back(
                text_of("t", ceiling_shade(static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(length))));
        }
        expected.push_back(text_of("h", length));
        EXPECT_EQ(column_lights(m, 0), expected) << "length " << length;
        matrix_free(m);
    }
    // Where a quotient formed in floating point lands on the wrong side of an
    // integer: 2/10 times 5 in double precision, and 16777220 / 16777219 in
    // single precision, whose operands both round to 16777220.
    const struct {
        std::int32_t k, length;
        const char* shade;
    } cases[] = {{2, 10, "t1"}, {3355444, 16777219, "t2"}, {16777219, 16777219, "t5"}, {1, 2147483647, "t1"}};
    for (const auto& c : cases) {
        matrix m = matrix_picture(1, 1);  // the drop's cell k, and nothing else, on the one row
        rain_place_drop(m, c.k, 0, c.length);
        EXPECT_EQ(column_lights(m, 0), lights{c.shade}) << "k " << c.k << " length " << c.length;
        matrix_free(m);
    }
}

TEST(RainAdvance, ThreeRowColumnOverFourAdvances) {
    matrix m = column({"h8", ".", "."});
    m.drop_count = 1;
    const std::vector<std::uint8_t> before = glyphs(m);
    const struct {
        lights expected;
        std::uint64_t count;
    } steps[] = {
        {{"t1", "h8", "."}, 1},  {{"t2", "t1", "h8"}, 1},
        {{"t2", "t2", "t1"}, 0}, {{".", "t2", "t2"}, 0},  // no head left: the trail only moves down
        {{".", ".", "t2"}, 0},   {{".", ".", "."}, 0},
    };
    int advance = 0;
    for (const auto& step : steps) {
        rain_advance(m);
        ++advance;
        EXPECT_EQ(column_lights(m, 0), step.expected) << "advance " << advance;
        EXPECT_EQ(m.drop_count, step.count) << "advance " << advance;
        EXPECT_EQ(glyphs(m), before) << "advance " << advance;
    }
    matrix_free(m);
}

TEST(RainAdvance, OneColumnCases) {
    const struct {
        const char* name;
        lights start;
        lights expected;
        std::uint64_t count_after;  // from 3
    } cases[] = {
        {"one row: the head becomes its first tail", {"h8"}, {"t1"}, 2},
        {"row 0 empty: no new tail", {".", "h20", ".", "."}, {".", ".", "h20", "."}, 3},
        {"row 0 empty above a short trail", {".", "t1", "h20", "."}, {".", ".", "t1", "h20"}, 3},
        {"fully grown: row 0 empties",
         {"t5", "t4", "t3", "t2", "t1", "h5", "."},
         {".", "t5", "t4", "t3", "t2", "t1", "h5"},
         3},
        {"seeded drop keeps growing", {"t1", "t1", "t1", "h20", ".", "."}, {"t1", "t1", "t1", "t1", "h20", "."}, 3},
        {"the next tail takes the next shade",
         {"t1", "t1", "t1", "t1", "h20", "."},
         {"t2", "t1", "t1", "t1", "t1", "h20"},
         3},
        {"gaps neither reset nor add to the tail count",
         {"t1", ".", "t1", "h10", "."},
         {"t2", "t1", ".", "t1", "h10"},
         3},
        {"tails below the topmost head do not count", {"t1", "h8", "t3", "t3"}, {"t2", "t1", "h8", "t3"}, 3},
        {"the topmost head restarts the count",
         {"t1", "h8", "t1", "t1", "t1", "h10"},
         {"t2", "t1", "h8", "t1", "t1", "t1"},
         2},
        {"a tail at the bottom is not counted off", {".", "h8", "t1"}, {".", ".", "h8"}, 3},
        {"a trail with no head anywhere", {"t3", "t4", "."}, {".", "t3", "t4"}, 3},
    };
    for (const auto& c : cases) {
        matrix m = column(c.start);
        m.drop_count = 3;
        const std::vector<std::uint8_t> before = glyphs(m);
        rain_advance(m);
        EXPECT_EQ(column_lights(m, 0), c.expected) << c.name;
        EXPECT_EQ(m.drop_count, c.count_after) << c.name;
        EXPECT_EQ(glyphs(m), before) << c.name;
        matrix_free(m);
    }
}

TEST(RainAdvance, ColumnsMoveIndependentlyAndHeadsLeavingAreCountedOff) {
    matrix m = matrix_picture(3, 3,
                              {"h8", ".", "t1",  //
                               ".", ".", "h9",   //
                               ".", "h30", "."});
    m.drop_count = 2;
    const std::vector<std::uint8_t> before = glyphs(m);
    rain_advance(m);
    EXPECT_EQ(column_lights(m, 0), (lights{"t1", "h8", "."}));
    EXPECT_EQ(column_lights(m, 1), (lights{".", ".", "."}));
    EXPECT_EQ(column_lights(m, 2), (lights{"t2", "t1", "h9"}));
    EXPECT_EQ(m.drop_count, 1U);
    EXPECT_EQ(glyphs(m), before);
    // Never below zero: a head that was never counted may still leave.
    m.drop_count = 0;
    rain_advance(m);
    EXPECT_EQ(column_lights(m, 2), (lights{"t2", "t2", "t1"}));  // the trail still grows behind it
    EXPECT_EQ(m.drop_count, 0U);
    matrix_free(m);
}

TEST(RainAdvance, GrowingInMatchesPlacingWhole) {
    for (std::int32_t length = 1; length <= 63; ++length) {
        const auto rows = static_cast<std::uint16_t>(length + 2);
        matrix grown = matrix_picture(rows, 1);
        matrix placed = matrix_picture(rows, 1);
        rain_place_drop(grown, 0, 0, length);
        rain_place_drop(placed, length, 0, length);
        for (std::int32_t i = 0; i < length; ++i) {
            rain_advance(grown);
        }
        EXPECT_EQ(cells_of(grown), cells_of(placed)) << "length " << length;
        // Once all its tail cells are in, the drop leaves row 0.
        rain_advance(grown);
        EXPECT_EQ(column_lights(grown, 0)[0], ".") << "length " << length;
        EXPECT_EQ(column_lights(grown, 0)[static_cast<std::size_t>(length) + 1], text_of("h", length));
        matrix_free(grown);
        matrix_free(placed);
    }
}

TEST(RainAdvance, TailCountWrapsAt256) {
    matrix m = column(joined({repeated(300, "t5"), {"h63"}}));
    m.drop_count = 1;
    rain_advance(m);
    EXPECT_EQ(column_lights(m, 0), joined({{"t4"}, repeated(300, "t5")}));
    EXPECT_EQ(m.drop_count, 0U);
    matrix_free(m);
}

TEST(RainSeed, DrawsColumnRowLengthInThatOrder) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        matrix m = matrix_picture(5, 7, {}, 0.3F);  // 35 x 0.3 = 10 drops
        matrix expected = matrix_picture(5, 7, {}, 0.3F);
        const std::vector<int> numbers = rand_sequence(seed, 31);
        for (std::size_t i = 0; i < 10; ++i) {
            rain_place_drop(expected, numbers[3 * i + 1] % 5, numbers[3 * i] % 7, numbers[3 * i + 2] % 56 + 8);
        }
        std::srand(seed);
        rain_seed(m);
        EXPECT_EQ(std::rand(), numbers[30]) << "seed " << seed;
        EXPECT_EQ(cells_of(m), cells_of(expected)) << "seed " << seed;
        EXPECT_EQ(m.drop_count, 10U);
        matrix_free(m);
        matrix_free(expected);
    }
}

TEST(RainSeed, CountInSinglePrecision) {
    const struct {
        std::uint16_t rows, cols;
        float ratio;
        std::size_t drops;
    } cases[] = {
        {30, 100, static_cast<float>(9 * 0.001), 26},  // 26.99999.. in single precision
        {24, 80, static_cast<float>(10 * 0.001), 19},
        {10, 20, static_cast<float>(5 * 0.001), 1},  // 0.99999.. in double precision
        {24, 80, 0.0F, 0},
        {1, 1, 0.999F, 0},
        {2, 3, 1.0F, 6},
    };
    for (const auto& c : cases) {
        matrix m = matrix_picture(c.rows, c.cols, {}, c.ratio);
        EXPECT_TRUE(draws_exactly(11U, 3 * c.drops, [&] { rain_seed(m); })) << c.rows << " x " << c.cols;
        EXPECT_EQ(m.drop_count, c.drops) << c.rows << " x " << c.cols;
        matrix_free(m);
    }
}

TEST(RainGlitch, DrawsRowColumnGlyphAndKeepsLighting) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const lights lit = {"h8", "t1", ".", "t5", "h63", "t3", "t2"};
        matrix m = matrix_picture(5, 7, lit);
        matrix expected = matrix_picture(5, 7, lit);
        const std::vector<int> numbers = rand_sequence(seed, 31);  // 35 x 0.3 = 10 glitches
        for (std::size_t i = 0; i < 10; ++i) {
            matrix_set_glyph(expected, numbers[3 * i] % 5, numbers[3 * i + 1] % 7, matrix_glyph_of(numbers[3 * i + 2]));
        }
        std::srand(seed);
        rain_glitch(m, 0.3F);
        EXPECT_EQ(std::rand(), numbers[30]) << "seed " << seed;
        EXPECT_EQ(cells_of(m), cells_of(expected)) << "seed " << seed;
        EXPECT_EQ(m.drop_count, 0U);
        matrix_free(m);
        matrix_free(expected);
    }
}

TEST(RainGlitch, CountInSinglePrecision) {
    const struct {
        std::uint16_t rows, cols;
        float ratio;
        std::size_t glitches;
    } cases[] = {
        {24, 80, static_cast<float>(2 * 0.01), 38},
        {24, 80, 1.0F, 1920},
        {5, 20, static_cast<float>(1 * 0.01), 1},  // 0.99999.. in double precision
        {24, 80, 0.0F, 0},
        {24, 80, -1.0F, 0},
        {3, 3, 0.1F, 0},
    };
    for (const auto& c : cases) {
        matrix m = matrix_picture(c.rows, c.cols);
        EXPECT_TRUE(draws_exactly(12U, 3 * c.glitches, [&] { rain_glitch(m, c.ratio); })) << "ratio " << c.ratio;
        matrix_free(m);
    }
}

TEST(RainSpawn, KeepsNearTheTargetAt80x24) {
    // Target 19: below it two drops enter, up to target + rows - 1 one, above none.
    const struct {
        std::uint64_t count;
        std::size_t drops;
    } cases[] = {
        {0, 2},    {1, 2},
        {18, 2},   {19, 1},
        {20, 1},   {42, 1},
        {43, 0},   {44, 0},
        {1000, 0}, {19 + (std::uint64_t{1} << 32), 1},  // only the low 32 bits of the count take part
    };
    for (const auto& c : cases) {
        for (unsigned seed : {3U, 8U, 21U}) {
            matrix m = matrix_picture(24, 80, {}, static_cast<float>(10 * 0.001));
            matrix expected = matrix_picture(24, 80, {}, static_cast<float>(10 * 0.001));
            m.drop_count = c.count;
            const std::vector<int> numbers = rand_sequence(seed, 2 * c.drops + 1);
            std::vector<bool> head_in(80);
            for (std::size_t i = 0; i < c.drops; ++i) {
                rain_place_drop(expected, 0, numbers[2 * i] % 80, numbers[2 * i + 1] % 56 + 8);
                head_in[static_cast<std::size_t>(numbers[2 * i] % 80)] = true;
            }
            std::srand(seed);
            rain_spawn(m);
            const std::string label = text_of("count ", c.count, " seed ", seed);
            EXPECT_EQ(std::rand(), numbers[2 * c.drops]) << label;
            EXPECT_EQ(m.drop_count, c.count + c.drops) << label;
            EXPECT_EQ(cells_of(m), cells_of(expected)) << label;
            std::size_t heads = 0;
            for (std::size_t col = 0; col < 80; ++col) {
                heads += cell_kind(m.cells[col]) == kind_head ? 1U : 0U;
            }
            EXPECT_EQ(heads, static_cast<std::size_t>(std::count(head_in.begin(), head_in.end(), true))) << label;
            matrix_free(m);
            matrix_free(expected);
        }
    }
}

// The difference from the target is rounded to single precision before it is
// divided: 16841725 becomes 16841724, which 65532 rows divide exactly (257).
// Unrounded, the quotient passes 257 and one more drop enters.
TEST(RainSpawn, DifferenceRoundedToSingleBeforeTheDivision) {
    matrix m = matrix_picture(65532, 1);
    m.drop_count = (std::uint64_t{1} << 32) - 16841725;  // target 0 less this: 16841725 in 32 bits
    EXPECT_TRUE(draws_exactly(5U, 2 * 258, [&] { rain_spawn(m); }));
    matrix_free(m);
}

TEST(RainEveryOperation, NoCellsNoNumbersNoChange) {
    const struct { std::uint16_t rows, cols; } sizes[] = {{0, 0}, {0, 5}, {5, 0}};
    const struct {
        const char* name;
        void (*run)(matrix&);
    } operations[] = {
        {"seed", [](matrix& m) { rain_seed(m); }},
        {"glitch", [](matrix& m) { rain_glitch(m, 1.0F); }},
        {"advance", [](matrix& m) { rain_advance(m); }},
        {"spawn", [](matrix& m) { rain_spawn(m); }},
    };
    for (const auto& size : sizes) {
        for (const auto& op : operations) {
            matrix m{};
            ASSERT_TRUE(matrix_create(m, size.rows, size.cols, 1.0F));
            EXPECT_TRUE(draws_exactly(6U, 0, [&] { op.run(m); })) << op.name << " " << size.rows << " x " << size.cols;
            EXPECT_EQ(m.cells, nullptr);
            EXPECT_EQ(m.rows, size.rows);
            EXPECT_EQ(m.cols, size.cols);
            EXPECT_EQ(m.drop_count, 0U) << op.name << " " << size.rows << " x " << size.cols;
            EXPECT_EQ(m.drop_ratio, 1.0F);
            matrix_free(m);
        }
    }
}

TEST(RainEveryOperation, GlyphsNeverMoveWithTheLighting) {
    matrix m = matrix_picture(24, 80, {}, static_cast<float>(10 * 0.001));
    std::srand(2024U);
    rain_seed(m);
    const std::vector<std::uint8_t> before = glyphs(m);
    for (int frame = 0; frame < 50; ++frame) {
        rain_advance(m);
        rain_spawn(m);
    }
    EXPECT_EQ(glyphs(m), before);
    // Every lit cell holds a head of length 8..63 or a tail of shade 1..5.
    for (std::size_t i = 0; i < matrix_size(m); ++i) {
        const cell c = m.cells[i];
        const unsigned kind = cell_kind(c);
        const unsigned value = cell_value(c);
        const bool valid = (kind == kind_empty && value == 0) || (kind == kind_head && value >= 8 && value <= 63) ||
                           (kind == kind_tail && value >= 1 && value <= 5);
        EXPECT_TRUE(valid) << "cell " << i << " " << light_name(c);
    }
    matrix_free(m);
}

}  // namespace
