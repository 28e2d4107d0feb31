#include "settings.hpp"

#include <unistd.h>

#include <cstdlib>

#include "single.hpp"

namespace {

// A leading '+' stops glibc's getopt at the first non-option instead of
// permuting, without it looking at the environment. Other C libraries do not
// permute and would take the '+' for an option.
#ifdef __GLIBC__
constexpr const char* options = "+bd:e:hr:s:V";
constexpr int restart_index = 0;  // glibc's full reset of its scanning state
#else
constexpr const char* options = "bd:e:hr:s:V";
constexpr int restart_index = 1;
#endif

// The low 8 bits of what atoi reads where long has 64 bits: glibc's atoi is
// strtol cut to an int. strtoll gives 32-bit targets the same numbers (strtol
// would stop at 2^31 - 1 there) and stays defined where atoi would not.
std::uint8_t low_byte(const char* text) { return static_cast<std::uint8_t>(std::strtoll(text, nullptr, 10)); }

std::uint8_t clamp(std::uint8_t value, std::uint8_t fallback) {
    if (value == 0) {
        return fallback;
    }
    return value > settings_max ? settings_max : value;
}

void print_help(const char* program, std::FILE* out) {
    std::fprintf(out, "USAGE\n\t%s [OPTIONS...]\n\nOPTIONS\n", program);
    std::fputs("\t-b\tuse black background color\n", out);
    std::fprintf(out, "\t-d\tdrops ratio (%u .. %u, default: %u)\n", 1U, unsigned{settings_max},
                 unsigned{settings_drops_default});
    std::fprintf(out, "\t-e\terror ratio (%u .. %u, default: %u)\n", 1U, unsigned{settings_max},
                 unsigned{settings_errors_default});
    std::fputs("\t-h\tprint this help text and exit\n", out);
    std::fputs("\t-r\tseed for the random number generator\n", out);
    std::fprintf(out, "\t-s\tspeed factor (%u .. %u, default: %u)\n", 1U, unsigned{settings_max},
                 unsigned{settings_speed_default});
    std::fputs("\t-V\tprint version information and exit\n", out);
}

void print_version(std::FILE* out) {
    std::fprintf(out, "%.*s %d.%d.%d\n%.*s\n", static_cast<int>(settings_name.size()), settings_name.data(),
                 settings_version_major, settings_version_minor, settings_version_patch,
                 static_cast<int>(settings_home_page.size()), settings_home_page.data());
}

}  // namespace

void settings_read(settings& s, int argc, char** argv) {
    opterr = 0;
    optind = restart_index;
    for (int option = getopt(argc, argv, options); option != -1; option = getopt(argc, argv, options)) {
        switch (option) {
        case 'b': s.background = true; break;
        case 'd': s.drops = low_byte(optarg); break;
        case 'e': s.errors = low_byte(optarg); break;
        case 'h': s.help = true; break;
        case 'r': s.seed = std::strtoll(optarg, nullptr, 10); break;
        case 's': s.speed = low_byte(optarg); break;
        case 'V': s.version = true; break;
        default: break;  // unknown, or a number missing: skipped without a word
        }
    }
}

bool settings_finish(settings& s, const char* program, std::FILE* out) {
    if (s.help) {
        // With no argv[0] at all there is still a name to show.
        print_help(program != nullptr ? program : settings_name.data(), out);
        return false;
    }
    if (s.version) {
        print_version(out);
        return false;
    }
    s.speed = clamp(s.speed, settings_speed_default);
    s.drops = clamp(s.drops, settings_drops_default);
    s.errors = clamp(s.errors, settings_errors_default);
    return true;
}

timespec settings_frame_delay(const settings& s) {
    // An unclamped 0 would make the delay infinite and its conversion undefined.
    const unsigned speed = s.speed != 0 ? s.speed : settings_speed_default;
    const float seconds = single(1.0 / speed);
    timespec delay{};
    delay.tv_sec = static_cast<std::time_t>(seconds);
    delay.tv_nsec = static_cast<long>(single((seconds - static_cast<float>(delay.tv_sec)) * 1e9F));
    return delay;
}

float settings_drop_ratio(const settings& s) { return single(s.drops * 0.001); }

float settings_error_ratio(const settings& s) { return single(s.errors * 0.01); }
