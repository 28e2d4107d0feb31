// Everything the terminal sees: set-up, frames, restore.
#pragma once

#include <array>
#include <cstdio>
#include <string_view>

#include "matrix.hpp"

// Foreground colours by a tail's shade; entry 0 is the head.
constexpr std::array<std::string_view, 6> screen_colours = {
    "\033[38;5;231m",  // 231 white: heads
    "\033[38;5;48m",   // 48 bright green: the tail next to the head
    "\033[38;5;41m",   // 41 green
    "\033[38;5;35m",   // 35 green
    "\033[38;5;29m",   // 29 dark green
    "\033[38;5;238m",  // 238 dark grey: the far end of a trail
};

constexpr std::string_view screen_hide_cursor = "\033[?25l";
constexpr std::string_view screen_show_cursor = "\033[?25h";
constexpr std::string_view screen_bold = "\033[1m";
constexpr std::string_view screen_reset = "\033[0m";
constexpr std::string_view screen_black_background = "\033[48;5;0m";
constexpr std::string_view screen_clear = "\033[2J";
constexpr std::string_view screen_home = "\033[H";

// Hides the cursor, clears the screen, turns echo off on standard input and
// makes `out` fully buffered. Must be the first output on `out`.
void screen_setup(bool black_background, std::FILE* out = stdout);

// Writes the whole matrix as one frame from the top left corner, then flushes once.
void screen_draw(const matrix& m, std::FILE* out = stdout);

// Resets attributes, shows the cursor, clears the screen, turns echo back on.
void screen_restore(std::FILE* out = stdout);
