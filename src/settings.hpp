// The settings of a run and the command line that sets them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>

struct settings {
    bool background = false;
    bool help = false;
    bool version = false;
    std::uint8_t speed = 10;  // frames per second, 1 to 100
    std::uint8_t drops = 10;  // drops per 1,000 cells, 1 to 100
    std::uint8_t errors = 2;  // glyph changes per frame, percent of the cells, 1 to 100
    std::int64_t seed = 0;    // 0: take the clock
};

constexpr std::uint8_t settings_speed_default = 10;
constexpr std::uint8_t settings_drops_default = 10;
constexpr std::uint8_t settings_errors_default = 2;
constexpr std::uint8_t settings_max = 100;

constexpr std::string_view settings_name = "glyphfall";
constexpr int settings_version_major = 0;
constexpr int settings_version_minor = 2;
constexpr int settings_version_patch = 4;
constexpr std::string_view settings_home_page = "https://glyphfall.org";

// Reads the options into `s`; never refuses one and never writes a word.
// May be called again for another argument vector.
void settings_read(settings& s, int argc, char** argv);

// Answers help or version on `out` and returns false (the run ends with
// status 0); otherwise brings the numbers into range and returns true.
// `program` is argv[0], named on the help text's second line.
bool settings_finish(settings& s, const char* program, std::FILE* out = stdout);

// Values derived once per run, in the precision the picture depends on.
timespec settings_frame_delay(const settings& s);
float settings_drop_ratio(const settings& s);
float settings_error_ratio(const settings& s);
