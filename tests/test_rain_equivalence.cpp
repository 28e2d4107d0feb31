// The fast rain_advance and screen_draw against plain cell-by-cell versions
// written here, on many random matrices: every cell value, kind 3 and lit
// empty-kind junk included, so the fast paths hide no corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "matrix.hpp"
#include "rain.hpp"
#include "screen.hpp"
#include "test_support.hpp"

namespace {

// One column at a time, bottom row up, each cell read before anything lands on it.
void reference_advance(std::vector<cell>& cells, std::size_t rows, std::size_t cols, std::uint64_t& drop_count) {
    const auto kind = [](cell c) { return (c >> 8) & 3U; };
    for (std::size_t c = 0; c < cols; ++c) {
        const auto at = [&](std::size_t r) -> cell& { return cells[r * cols + c]; };
        const cell bottom = at(rows - 1);
        unsigned head = 0;
        std::uint8_t tails = 0;
        bool lit = false;
        for (std::size_t r = rows; r-- > 0;) {
            const cell here = at(r);
            if (kind(here) == 0) {
                lit = false;
                continue;
            }
            if (r + 1 < rows) {
                at(r + 1) = static_cast<cell>((at(r + 1) & 0x00FF) | (here & 0xFF00));
            }
            if (kind(here) == 1) {
                head = here >> 10;
                tails = 0;
            } else if (head != 0) {
                ++tails;
            }
            at(r) = static_cast<cell>(here & 0x00FF);
            lit = true;
        }
        if (lit && tails < head) {
            const unsigned shade = (5 * (tails + 1U) + head - 1) / head;
            at(0) = static_cast<cell>(at(0) | 0x0200 | (shade << 10));
        }
        if (kind(bottom) == 1 && drop_count > 0) {
            --drop_count;
        }
    }
}

// Each cell as its own piece of text, straight from the colour table.
std::string reference_draw(const std::vector<cell>& cells) {
    std::string out(screen_home);
    for (const cell c : cells) {
        const unsigned kind = (c >> 8) & 3U;
        const unsigned value = c >> 10;
        if (kind == 0) {
            out += ' ';
        } else if (kind == 1 || kind == 2) {
            out += screen_colours[kind == 1 ? 0 : (value <= 5 ? value : 5)];
            out += static_cast<char>(c & 0xFF);
        }
    }
    return out;
}

std::string drawn(const matrix& m) {
    return written([&](int fd) { screen_draw(m, fd); });
}

// Random cells; `lit` is the chance that a cell carries lighting at all.
// With `any_bits` an unlit cell may hold a stray value too, which no
// operation makes but every function must still treat alike.
std::vector<cell> random_cells(std::mt19937& gen, std::size_t count, double lit, bool any_bits) {
    std::bernoulli_distribution is_lit(lit);
    std::uniform_int_distribution<unsigned> word(0, 0xFFFF);
    std::uniform_int_distribution<unsigned> light(1, 255);
    std::vector<cell> cells(count);
    for (cell& c : cells) {
        unsigned bits = word(gen);
        if (is_lit(gen)) {
            while (((bits >> 8) & 3U) == 0) {
                bits = (bits & 0xFFU) | (light(gen) << 8);
            }
        } else if (!any_bits) {
            bits &= 0xFFU;
        } else {
            bits &= ~0x0300U;
        }
        c = static_cast<cell>(bits);
    }
    return cells;
}

struct shape {
    std::uint16_t rows;
    std::uint16_t cols;
};

// Edges (one row, one column, a single cell), 301 rows (past the 8-bit tail
// count), terminal-like sizes, the widest rows, and widths that are no
// multiple of anything a fast loop might step by.
const std::vector<shape> shapes = {{1, 1},    {1, 2},    {1, 300}, {2, 1},   {3, 1},    {301, 1},
                                   {301, 3},  {2, 2},    {3, 5},   {24, 80}, {60, 200}, {120, 400},
                                   {7, 1000}, {5, 4099}, {64, 9},  {17, 33}, {300, 17}, {2, 65535}};

matrix matrix_of(shape s, const std::vector<cell>& cells) {
    matrix m{};
    if (matrix_create(m, s.rows, s.cols, 0.01F)) {
        std::copy(cells.begin(), cells.end(), m.cells);
    }
    return m;
}

TEST(RainAdvanceEquivalence, MatchesColumnByColumnOnRandomMatrices) {
    std::mt19937 gen(20240601);
    std::uniform_int_distribution<std::uint64_t> small_count(0, 3);
    for (const shape s : shapes) {
        for (const double lit : {0.0, 0.05, 0.3, 0.8, 1.0}) {
            for (const bool any_bits : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << s.rows << " x " << s.cols << ", lit " << lit << (any_bits ? ", stray bits" : ""));
                std::vector<cell> expected = random_cells(gen, std::size_t{s.rows} * s.cols, lit, any_bits);
                // A small count shows the floor at zero; a large one counts every head.
                std::uint64_t expected_count = lit < 0.5 ? small_count(gen) : 1'000'000;
                matrix m = matrix_of(s, expected);
                ASSERT_NE(m.cells, nullptr);
                m.drop_count = expected_count;
                // Several frames in a row: each starts from what the last one left.
                for (int frame = 0; frame < 4; ++frame) {
                    reference_advance(expected, s.rows, s.cols, expected_count);
                    rain_advance(m);
                    ASSERT_EQ(std::vector<cell>(m.cells, m.cells + matrix_size(m)), expected) << "frame " << frame;
                    ASSERT_EQ(m.drop_count, expected_count) << "frame " << frame;
                }
                matrix_free(m);
            }
        }
    }
}

// Drops as the program lays them (heads with tails above, shades by
// distance), so trails grow in at the top as they really do.
TEST(RainAdvanceEquivalence, MatchesOnRealisticRainOverManyFrames) {
    std::srand(99);
    for (const shape s : {shape{24, 80}, shape{120, 400}, shape{1, 50}, shape{70, 1}}) {
        SCOPED_TRACE(testing::Message() << s.rows << " x " << s.cols);
        matrix m{};
        ASSERT_TRUE(matrix_create(m, s.rows, s.cols, 0.01F));
        matrix_fill(m);
        rain_seed(m);
        std::vector<cell> expected(m.cells, m.cells + matrix_size(m));
        std::uint64_t expected_count = m.drop_count;
        for (int frame = 0; frame < 300; ++frame) {
            reference_advance(expected, s.rows, s.cols, expected_count);
            rain_advance(m);
            ASSERT_EQ(std::vector<cell>(m.cells, m.cells + matrix_size(m)), expected) << "frame " << frame;
            ASSERT_EQ(m.drop_count, expected_count) << "frame " << frame;
            rain_spawn(m);
            std::copy(m.cells, m.cells + matrix_size(m), expected.begin());
            expected_count = m.drop_count;
        }
        matrix_free(m);
    }
}

TEST(RainAdvanceEquivalence, TailCountWrapsAt256) {
    // Head of length 63 on the bottom of 301 rows, tails on all 300 above:
    // the count ends at 300 - 256 = 44, so a tail of shade ceil(5 * 45 / 63) grows.
    for (const std::uint16_t cols : {std::uint16_t{1}, std::uint16_t{3}}) {
        std::vector<cell> cells(301U * cols, cell{'x'});
        for (std::size_t r = 0; r < 300; ++r) {
            cells[r * cols] = static_cast<cell>('x' | 0x0200 | (5U << 10));
        }
        cells[300U * cols] = static_cast<cell>('x' | 0x0100 | (63U << 10));
        matrix m = matrix_of({301, cols}, cells);
        ASSERT_NE(m.cells, nullptr);
        m.drop_count = 1;
        rain_advance(m);
        EXPECT_EQ(m.cells[0], static_cast<cell>('x' | 0x0200 | (4U << 10)));
        EXPECT_EQ(m.drop_count, 0U);
        std::uint64_t count = 1;
        reference_advance(cells, 301, cols, count);
        EXPECT_EQ(std::vector<cell>(m.cells, m.cells + matrix_size(m)), cells);
        matrix_free(m);
    }
}

TEST(ScreenDrawEquivalence, MatchesCellByCellOnRandomMatrices) {
    std::mt19937 gen(7);
    for (const shape s : shapes) {
        for (const double lit : {0.0, 0.05, 0.3, 0.8, 1.0}) {
            SCOPED_TRACE(testing::Message() << s.rows << " x " << s.cols << ", lit " << lit);
            const std::vector<cell> cells = random_cells(gen, std::size_t{s.rows} * s.cols, lit, true);
            matrix m = matrix_of(s, cells);
            ASSERT_NE(m.cells, nullptr);
            EXPECT_EQ(drawn(m), reference_draw(cells));
            matrix_free(m);
        }
    }
}

TEST(ScreenDrawEquivalence, EveryCellValueAndTheEmptyMatrix) {
    // All 65,536 words in one frame, several times larger than a chunk.
    std::vector<cell> cells(65536);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = static_cast<cell>(i);
    }
    matrix m = matrix_of({256, 256}, cells);
    ASSERT_NE(m.cells, nullptr);
    EXPECT_EQ(drawn(m), reference_draw(cells));
    matrix_free(m);

    const matrix empty{};
    EXPECT_EQ(drawn(empty), std::string(screen_home));
}

// Megabytes in one frame: it leaves in more than one piece.
TEST(ScreenDrawEquivalence, FrameOfMegabytes) {
    std::mt19937 gen(11);
    const std::vector<cell> cells = random_cells(gen, 300U * 1000U, 1.0, false);
    matrix m = matrix_of({300, 1000}, cells);
    ASSERT_NE(m.cells, nullptr);
    const std::string expected = reference_draw(cells);
    ASSERT_GT(expected.size(), 2'000'000U);
    EXPECT_EQ(drawn(m), expected);
    matrix_free(m);
}

// Long stretches of blank cells between lit ones, and the reverse: runs of
// every length around the sizes a drawing loop might work in.
TEST(ScreenDrawEquivalence, RunsOfBlankAndLitCells) {
    for (std::size_t run = 1; run <= 140; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        std::vector<cell> blanks_between(1000, cell{'b'});
        std::vector<cell> lit_between(1000, static_cast<cell>('l' | 0x0200 | (3U << 10)));
        for (std::size_t i = 0; i < blanks_between.size(); i += run + 1) {
            blanks_between[i] = static_cast<cell>('h' | 0x0100 | (40U << 10));
            lit_between[i] = cell{'e'};
        }
        for (const auto& cells : {blanks_between, lit_between}) {
            matrix m = matrix_of({10, 100}, cells);
            ASSERT_NE(m.cells, nullptr);
            EXPECT_EQ(drawn(m), reference_draw(cells));
            matrix_free(m);
        }
    }
}

}  // namespace
