#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "settings.hpp"
#include "test_support.hpp"

namespace {

using words = std::vector<std::string>;

struct outcome {
    settings s;
    bool goes_on;
    std::string printed;
    std::string errors;
};

// Reads a command line (argv[0] first) and finishes it, as the program
// does, capturing what is printed and anything on standard error.
outcome run(const words& line) {
    words copies = line;  // getopt wants writable words
    std::vector<char*> argv;
    for (std::string& w : copies) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    outcome o{};
    o.errors = captured_fd(2, [&] {
        o.printed = captured([&](std::FILE* out) {
            settings_read(o.s, static_cast<int>(copies.size()), argv.data());
            o.goes_on = settings_finish(o.s, argv[0], out);
        });
    });
    return o;
}

std::string help_text(const std::string& program) {
    return "USAGE\n"
           "\t" +
           program +
           " [OPTIONS...]\n\n"
           "OPTIONS\n"
           "\t-b\tuse black background color\n"
           "\t-d\tdrops ratio (1 .. 100, default: 10)\n"
           "\t-e\terror ratio (1 .. 100, default: 2)\n"
           "\t-h\tprint this help text and exit\n"
           "\t-r\tseed for the random number generator\n"
           "\t-s\tspeed factor (1 .. 100, default: 10)\n"
           "\t-V\tprint version information and exit\n";
}

const std::string version_text = "glyphfall 0.2.4\nhttps://glyphfall.org\n";

struct run_case {
    words args;  // after argv[0]
    unsigned speed, drops, errors;
    bool background;
    std::int64_t seed;
};

const run_case run_cases[] = {
    {{}, 10, 10, 2, false, 0},
    {{"-s", "0"}, 10, 10, 2, false, 0},
    {{"-s", "1"}, 1, 10, 2, false, 0},
    {{"-s", "100"}, 100, 10, 2, false, 0},
    {{"-s", "101"}, 100, 10, 2, false, 0},
    {{"-s", "150"}, 100, 10, 2, false, 0},
    {{"-s", "300"}, 44, 10, 2, false, 0},
    {{"-s", "256"}, 10, 10, 2, false, 0},
    {{"-d", "-1"}, 10, 100, 2, false, 0},
    {{"-d", "258"}, 10, 2, 2, false, 0},
    {{"-d", "0"}, 10, 10, 2, false, 0},
    {{"-e", "abc"}, 10, 10, 2, false, 0},
    {{"-e", "7x"}, 10, 10, 7, false, 0},
    {{"-e", "-3"}, 10, 10, 100, false, 0},
    {{"-e", "1"}, 10, 10, 1, false, 0},
    {{"-x", "-b"}, 10, 10, 2, true, 0},
    {{"-d"}, 10, 10, 2, false, 0},
    {{"-s", "5", "-d"}, 5, 10, 2, false, 0},
    {{"-d", "-b"}, 10, 10, 2, false, 0},
    {{"-s", "-h"}, 10, 10, 2, false, 0},
    {{"word", "-b"}, 10, 10, 2, false, 0},
    {{"-b", "word", "-s", "5"}, 10, 10, 2, true, 0},
    {{"--", "-b"}, 10, 10, 2, false, 0},
    {{"-", "-b"}, 10, 10, 2, false, 0},
    {{"word", "-h"}, 10, 10, 2, false, 0},
    {{"-r", "0"}, 10, 10, 2, false, 0},
    {{"-r", "4294967296"}, 10, 10, 2, false, std::int64_t{1} << 32},
    {{"-r", "-5"}, 10, 10, 2, false, -5},
    {{"-r", "12abc"}, 10, 10, 2, false, 12},
    {{"-s", "5", "-s", "7"}, 7, 10, 2, false, 0},
    {{"-r", "9", "-r", "0"}, 10, 10, 2, false, 0},
    {{"-b", "-b"}, 10, 10, 2, true, 0},
    {{"-bs5"}, 5, 10, 2, true, 0},
    {{"-s5", "-d20", "-e30", "-r77"}, 5, 20, 30, false, 77},
    {{"-s", "20", "-d", "30", "-e", "40", "-r", "123456789012", "-b"}, 20, 30, 40, true, 123456789012},
    // Numbers past 32 bits keep their low byte on every target, as where long has 64 bits.
    {{"-d", "4294967296"}, 10, 10, 2, false, 0},
    {{"-d", "2147483648"}, 10, 10, 2, false, 0},
    {{"-d", "-2147483649"}, 10, 100, 2, false, 0},
    {{"-e", "4294967297"}, 10, 10, 1, false, 0},
    {{"-s", "1099511627826"}, 50, 10, 2, false, 0},
    {{"-s", "99999999999999999999"}, 100, 10, 2, false, 0},
    {{"-d", "-99999999999999999999"}, 10, 10, 2, false, 0},
    {{"-r", "-9223372036854775808"}, 10, 10, 2, false, std::numeric_limits<std::int64_t>::min()},
};

std::string joined(const words& args) {
    std::string text;
    for (const std::string& w : args) {
        text += " " + w;
    }
    return text;
}

void check_run(const run_case& c) {
    words line = {"./glyphfall"};
    line.insert(line.end(), c.args.begin(), c.args.end());
    const outcome o = run(line);
    const std::string label = "args:" + joined(c.args);
    EXPECT_TRUE(o.goes_on) << label;
    EXPECT_EQ(o.s.speed, c.speed) << label;
    EXPECT_EQ(o.s.drops, c.drops) << label;
    EXPECT_EQ(o.s.errors, c.errors) << label;
    EXPECT_EQ(o.s.background, c.background) << label;
    EXPECT_EQ(o.s.seed, c.seed) << label;
    EXPECT_EQ(o.printed, "") << label;
    EXPECT_EQ(o.errors, "") << label;
}

TEST(SettingsRead, ArgumentVectors) {
    for (const run_case& c : run_cases) {
        check_run(c);
    }
}

TEST(SettingsRead, ReadingAgainStartsAfresh) {
    // Each reading follows one that stopped somewhere else: at a word, after
    // "--", inside a group of options, or with a number missing.
    for (auto c = std::rbegin(run_cases); c != std::rend(run_cases); ++c) {
        check_run(*c);
    }
    for (const run_case& c : run_cases) {
        check_run(run_cases[0]);
        check_run(c);
    }
}

TEST(SettingsRead, NeverLooksBackAtThePreviousVector) {
    char program[] = "glyphfall";
    char group[] = {'-', 'b', '\0', 's', '5', '\0'};
    char* first[] = {program, group, nullptr};
    settings s{};
    settings_read(s, 2, first);
    EXPECT_TRUE(s.background);
    // The words read before may change or be freed once read: here the end of
    // the last group turns into "s5".
    group[2] = 's';
    char* second[] = {program, nullptr};
    settings t{};
    settings_read(t, 1, second);
    EXPECT_EQ(t.speed, 10);
    EXPECT_FALSE(t.background);
}

TEST(SettingsRead, SeedKeepsAllSixtyFourBits) {
    const outcome o = run({"glyphfall", "-r", "4294967296"});
    EXPECT_EQ(o.s.seed, std::int64_t{1} << 32);
    EXPECT_EQ(static_cast<std::uint32_t>(o.s.seed), 0U);  // what the generator receives
}

TEST(SettingsFinish, HelpAndVersionEndTheRun) {
    const struct {
        words line;
        std::string printed;
    } cases[] = {
        {{"glyphfall", "-h"}, help_text("glyphfall")},
        {{"glyphfall", "-V"}, version_text},
        {{"glyphfall", "-V", "-h"}, help_text("glyphfall")},
        {{"glyphfall", "-h", "-V"}, help_text("glyphfall")},
        {{"glyphfall", "-Vh"}, help_text("glyphfall")},
        {{"glyphfall", "-x", "-V", "-s", "300"}, version_text},
        {{"./build/glyphfall", "-h"}, help_text("./build/glyphfall")},
        {{"/opt/my tools/glyphfall", "-h"}, help_text("/opt/my tools/glyphfall")},
        {{"50%% off", "-h"}, help_text("50%% off")},
        {{"", "-h"}, help_text("")},
    };
    for (const auto& c : cases) {
        const outcome o = run(c.line);
        EXPECT_FALSE(o.goes_on) << joined(c.line);
        EXPECT_EQ(o.printed, c.printed) << joined(c.line);
        EXPECT_EQ(o.errors, "") << joined(c.line);
    }
}

TEST(SettingsFinish, HelpWithoutAProgramName) {
    settings s{};
    s.help = true;
    const std::string printed = captured([&](std::FILE* out) { EXPECT_FALSE(settings_finish(s, nullptr, out)); });
    EXPECT_EQ(printed, help_text("glyphfall"));
}

TEST(SettingsDerived, FrameDelay) {
    const struct {
        std::uint8_t speed;
        std::time_t seconds;
        long nanoseconds;
    } cases[] = {
        {10, 0, 100000000}, {3, 0, 333333344}, {100, 0, 10000000}, {1, 1, 0},
        {7, 0, 142857152},  {96, 0, 10416667}, {2, 0, 500000000},  {0, 0, 100000000},
    };
    for (const auto& c : cases) {
        settings s{};
        s.speed = c.speed;
        const timespec delay = settings_frame_delay(s);
        EXPECT_EQ(delay.tv_sec, c.seconds) << "speed " << unsigned{c.speed};
        EXPECT_EQ(delay.tv_nsec, c.nanoseconds) << "speed " << unsigned{c.speed};
    }
}

TEST(SettingsDerived, RatiosRoundedOnceToSingle) {
    for (unsigned n = 1; n <= 100; ++n) {
        settings s{};
        s.drops = static_cast<std::uint8_t>(n);
        s.errors = static_cast<std::uint8_t>(n);
        EXPECT_EQ(settings_drop_ratio(s), static_cast<float>(n * 0.001)) << n;
        EXPECT_EQ(settings_error_ratio(s), static_cast<float>(n * 0.01)) << n;
    }
    settings s{};
    s.drops = 9;
    s.errors = 2;
    EXPECT_EQ(static_cast<int>(3000.0F * settings_drop_ratio(s)), 26);
    EXPECT_EQ(static_cast<int>(1920.0F * settings_error_ratio(s)), 38);
}

}  // namespace
