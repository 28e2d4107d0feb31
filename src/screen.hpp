// Everything the terminal sees: set-up, frames, restore.
#pragma once

#include <unistd.h>

#include <array>
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

// Each writes straight to `fd`, every byte whatever the terminal's pace, and
// returns false when a write fails for good: the terminal is gone, and
// nothing more can reach it.

// Hides the cursor, clears the screen, turns echo off on standard input.
bool screen_setup(bool black_background, int fd = STDOUT_FILENO);

// Writes the whole matrix as one frame from the top left corner, in one call
// (one per mebibyte of a frame larger than that).
bool screen_draw(const matrix& m, int fd = STDOUT_FILENO);

// Resets attributes, shows the cursor, clears the screen, turns echo back on.
bool screen_restore(int fd = STDOUT_FILENO);
