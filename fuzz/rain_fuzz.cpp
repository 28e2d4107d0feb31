// Arbitrary sequences of the matrix and rain operations, at any size the cell
// cap below allows (0 rows or 0 columns included), with chosen allocations
// made to fail. After every step the cells must hold only what drops leave:
// no kind 3, empty cells of value 0, tails of shade 1-5, heads of length 8-63,
// and a drop count never below the heads on screen. Every drawn frame is
// compared byte for byte with a plain rendering of the cells.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "matrix.hpp"
#include "rain.hpp"
#include "screen.hpp"
#include "settings.hpp"

namespace {

bool fail_next_realloc = false;

}  // namespace

extern "C" void* __real_realloc(void* old, std::size_t size);

// Linked with --wrap=realloc: the cells' reallocation fails when asked to.
extern "C" void* __wrap_realloc(void* old, std::size_t size) {
    if (fail_next_realloc) {
        fail_next_realloc = false;
        return nullptr;
    }
    return __real_realloc(old, size);
}

namespace {

// The harness's own bound on rows x cols; either side alone may still reach
// 65535, the other then shrinks to fit (65535 x 2 at most).
constexpr std::uint64_t cell_cap = 1U << 17;
constexpr int max_steps = 48;
constexpr int max_frames = 80;
// Cells visited per input, roughly: keeps every input to a few milliseconds.
constexpr std::uint64_t work_budget = 1U << 18;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

void check_cells(const matrix& m) {
    const std::size_t count = matrix_size(m);
    require((m.cells != nullptr) == (count != 0), "cells held exactly when the size is not zero");
    std::uint64_t heads = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const cell c = m.cells[i];
        const unsigned value = cell_value(c);
        switch (cell_kind(c)) {
        case kind_empty: require(value == 0, "an empty cell has value 0"); break;
        case kind_head:
            require(value >= 8 && value <= 63, "a head has a length of 8 to 63");
            ++heads;
            break;
        case kind_tail: require(value >= 1 && value <= 5, "a tail has a shade of 1 to 5"); break;
        default: require(false, "no cell of kind 3"); break;
        }
    }
    require(m.drop_count >= heads, "drop count not below the heads on screen");
}

bool same_record(const matrix& a, const matrix& b) {
    return a.cells == b.cells && a.rows == b.rows && a.cols == b.cols && a.drop_count == b.drop_count &&
           a.drop_ratio == b.drop_ratio;
}

struct size_request {
    std::uint16_t rows;
    std::uint16_t cols;
};

// Mostly small sizes, which run fast; now and then any size at all.
size_request consume_size(FuzzedDataProvider& data) {
    if (!data.ConsumeBool()) {
        return {data.ConsumeIntegral<std::uint8_t>(), data.ConsumeIntegral<std::uint8_t>()};
    }
    size_request size{data.ConsumeIntegral<std::uint16_t>(), data.ConsumeIntegral<std::uint16_t>()};
    if (std::uint64_t{size.rows} * size.cols > cell_cap) {
        size.cols = static_cast<std::uint16_t>(cell_cap / size.rows);
    }
    return size;
}

float consume_drop_ratio(FuzzedDataProvider& data) {
    settings s{};
    s.drops = data.ConsumeIntegral<std::uint8_t>();
    return settings_drop_ratio(s);
}

float consume_error_ratio(FuzzedDataProvider& data) {
    settings s{};
    s.errors = data.ConsumeIntegral<std::uint8_t>();
    return settings_error_ratio(s);
}

std::string rendered(const matrix& m) {
    constexpr std::array<const char*, 6> colours = {"231", "48", "41", "35", "29", "238"};
    std::string bytes = "\033[H";
    for (std::size_t i = 0; i < matrix_size(m); ++i) {
        const cell c = m.cells[i];
        if (cell_kind(c) == kind_empty) {
            bytes += ' ';
            continue;
        }
        bytes += "\033[38;5;";
        bytes += colours[cell_kind(c) == kind_head ? 0 : cell_value(c)];
        bytes += 'm';
        bytes += static_cast<char>(cell_glyph(c));
    }
    return bytes;
}

// Drawn into a file in memory, one for the whole run, emptied each time.
void check_drawing(const matrix& m) {
    static const int fd = memfd_create("frame", MFD_CLOEXEC);
    require(fd != -1 && ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0, "file in memory ready");
    require(screen_draw(m, fd), "frame written whole");
    std::string bytes(static_cast<std::size_t>(lseek(fd, 0, SEEK_CUR)), '\0');
    require(pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "frame read back");
    require(bytes == rendered(m), "frame drawn byte for byte");
}

enum step : std::uint8_t { create, resize, fill, seed, glitch, advance, spawn, draw, place, glyph, reseed, frames };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    std::srand(data.ConsumeIntegral<unsigned>());
    matrix m{};
    std::uint64_t work = 0;
    for (int i = 0; i < max_steps && data.remaining_bytes() > 0 && work < work_budget; ++i) {
        switch (data.ConsumeIntegralInRange<std::uint8_t>(0, frames)) {
        case create: {
            const size_request request = consume_size(data);
            const float ratio = consume_drop_ratio(data);
            fail_next_realloc = data.ConsumeBool();
            matrix_free(m);
            if (matrix_create(m, request.rows, request.cols, ratio)) {
                require(m.rows == request.rows && m.cols == request.cols && m.drop_count == 0 && m.drop_ratio == ratio,
                        "created at the size asked");
                matrix_fill(m);
            } else {
                require(same_record(m, matrix{}), "a failed create leaves the empty matrix");
            }
            break;
        }
        case resize: {
            const size_request request = consume_size(data);
            const float ratio = consume_drop_ratio(data);
            fail_next_realloc = data.ConsumeBool();
            const matrix before = m;
            if (matrix_resize(m, request.rows, request.cols, ratio)) {
                require(m.rows == request.rows && m.cols == request.cols && m.drop_count == 0 && m.drop_ratio == ratio,
                        "resized to the size asked");
            } else {
                require(same_record(m, before), "a failed resize keeps the matrix as it was");
            }
            matrix_fill(m);  // as the frame loop does: the new cells hold nothing yet
            break;
        }
        case fill: matrix_fill(m); break;
        case seed: rain_seed(m); break;
        case glitch: rain_glitch(m, consume_error_ratio(data)); break;
        case advance: rain_advance(m); break;
        case spawn: rain_spawn(m); break;
        case draw: check_drawing(m); break;
        case place: {
            const auto row = data.ConsumeIntegral<std::int32_t>();
            const auto col = data.ConsumeIntegral<std::int32_t>();
            rain_place_drop(m, row, col, data.ConsumeIntegralInRange<std::int32_t>(8, 63));
            break;
        }
        case glyph: {
            const auto row = data.ConsumeIntegral<std::int32_t>();
            const auto col = data.ConsumeIntegral<std::int32_t>();
            matrix_set_glyph(m, row, col, data.ConsumeIntegral<std::uint32_t>());
            break;
        }
        case reseed: std::srand(data.ConsumeIntegral<unsigned>()); break;
        case frames: {
            // Whole frames without drawing, so drops get to travel and leave.
            const float ratio = consume_error_ratio(data);
            const int count = data.ConsumeIntegralInRange(1, max_frames);
            for (int f = 0; f < count && work < work_budget; ++f) {
                rain_glitch(m, ratio);
                rain_advance(m);
                rain_spawn(m);
                check_cells(m);
                work += matrix_size(m) + 1;
            }
            break;
        }
        default: break;
        }
        fail_next_realloc = false;  // a zero-cell request never reaches realloc
        check_cells(m);
        work += matrix_size(m) + 1;
    }
    matrix_free(m);
    return 0;
}
