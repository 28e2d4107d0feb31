// Helpers shared by the unit tests: replaying the generator, capturing
// output, and writing cell lighting as short names.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "matrix.hpp"

// The first `count` numbers the generator gives after srand(seed).
inline std::vector<int> rand_sequence(unsigned seed, std::size_t count) {
    std::srand(seed);
    std::vector<int> numbers(count);
    for (int& n : numbers) {
        n = std::rand();
    }
    return numbers;
}

// Runs `action` after srand(seed) and tells whether it drew exactly `count`
// numbers: the next one must be the (count + 1)-th of the sequence.
inline bool draws_exactly(unsigned seed, std::size_t count, const std::function<void()>& action) {
    const std::vector<int> expected = rand_sequence(seed, count + 1);
    std::srand(seed);
    action();
    return std::rand() == expected[count];
}

// Everything written to `out` by `write`.
inline std::string captured(const std::function<void(std::FILE*)>& write) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&data, &size);
    if (out == nullptr) {
        return "<open_memstream failed>";
    }
    write(out);
    std::fclose(out);
    std::string text(data != nullptr ? data : "", size);
    std::free(data);
    return text;
}

// Everything `write` wrote to the file descriptor it was given, a file in memory.
inline std::string written(const std::function<void(int)>& write) {
    const int fd = memfd_create("written", MFD_CLOEXEC);
    if (fd == -1) {
        return "<memfd_create failed>";
    }
    write(fd);
    std::string text;
    std::array<char, 65536> buffer;
    for (ssize_t n = 0; (n = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

// What `action` writes to file descriptor `fd` (e.g. standard error).
inline std::string captured_fd(int fd, const std::function<void()>& action) {
    std::FILE* sink = std::tmpfile();
    if (sink == nullptr) {
        return "<tmpfile failed>";
    }
    std::fflush(nullptr);
    const int saved = dup(fd);
    dup2(fileno(sink), fd);
    action();
    std::fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(sink);
    return text;
}

// The parts written one after the other, as a stream would.
template <typename... Parts>
std::string text_of(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

// Lighting as a short name: "." unlit, "h8" a head of length 8, "t3" a tail
// of shade 3; anything else shows its raw kind and value.
inline std::string light_name(cell c) {
    const unsigned kind = cell_kind(c);
    const unsigned value = cell_value(c);
    if (kind == kind_empty && value == 0) {
        return ".";
    }
    if (kind == kind_head) {
        return text_of("h", value);
    }
    if (kind == kind_tail) {
        return text_of("t", value);
    }
    return text_of("k", kind, "v", value);
}

// The inverse of light_name for ".", "hN" and "tN".
inline cell light_cell(const std::string& name) {
    if (name == ".") {
        return 0;
    }
    const unsigned kind = name[0] == 'h' ? kind_head : kind_tail;
    const auto value = static_cast<unsigned>(std::stoi(name.substr(1)));
    return static_cast<cell>((kind << cell_kind_shift) | (value << cell_value_shift));
}

// The lighting of one column, top row first.
inline std::vector<std::string> column_lights(const matrix& m, std::size_t col) {
    std::vector<std::string> names;
    for (std::size_t r = 0; r < m.rows; ++r) {
        names.push_back(light_name(m.cells[r * m.cols + col]));
    }
    return names;
}

// Every glyph of the matrix, row-major.
inline std::vector<std::uint8_t> glyphs(const matrix& m) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < matrix_size(m); ++i) {
        out.push_back(cell_glyph(m.cells[i]));
    }
    return out;
}

// Every cell of the matrix, row-major.
inline std::vector<cell> cells_of(const matrix& m) {
    return m.cells == nullptr ? std::vector<cell>{} : std::vector<cell>(m.cells, m.cells + matrix_size(m));
}

// A rows x cols matrix whose glyphs are all different from their neighbours,
// unlit except where `lights` (row-major names) says otherwise.
inline matrix matrix_picture(std::uint16_t rows, std::uint16_t cols, const std::vector<std::string>& lights = {},
                             float drop_ratio = 0.0F) {
    matrix m{};
    if (!matrix_create(m, rows, cols, drop_ratio)) {
        return m;
    }
    for (std::size_t i = 0; i < matrix_size(m); ++i) {
        const cell glyph = static_cast<cell>('!' + i % 93);
        m.cells[i] = static_cast<cell>(glyph | (i < lights.size() ? light_cell(lights[i]) : 0));
    }
    return m;
}
