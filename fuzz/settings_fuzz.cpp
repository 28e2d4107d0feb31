// Arbitrary argument vectors through the command line: the input is split at
// NUL bytes into words, the first being argv[0]. What settings_read makes of
// them is compared with a plain scan of the words by the option rules, and
// what settings_finish leaves must be in range.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings.hpp"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

std::FILE* sink() {
    static std::FILE* const file = std::fopen("/dev/null", "w");
    return file;
}

// Options are taken from the words after argv[0] until the first word that is
// not an option or after "--"; a clustered option that needs a number takes the
// rest of its word or else the next word, whatever that looks like.
settings expected_reading(const std::vector<std::string>& words) {
    settings s{};
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            break;
        }
        for (std::size_t at = 1; at < word.size(); ++at) {
            const char option = word[at];
            if (option == 'b') {
                s.background = true;
            } else if (option == 'h') {
                s.help = true;
            } else if (option == 'V') {
                s.version = true;
            } else if (std::string_view{"ders"}.find(option) != std::string_view::npos) {
                const char* number = nullptr;
                if (at + 1 < word.size()) {
                    number = word.c_str() + at + 1;
                } else if (i + 1 < words.size()) {
                    number = words[++i].c_str();
                }
                if (number != nullptr) {
                    const long long n = std::strtoll(number, nullptr, 10);
                    const auto low = static_cast<std::uint8_t>(n);
                    switch (option) {
                    case 'd': s.drops = low; break;
                    case 'e': s.errors = low; break;
                    case 'r': s.seed = n; break;
                    default: s.speed = low; break;
                    }
                }
                break;  // the number ends the word
            }
        }
    }
    return s;
}

bool same(const settings& a, const settings& b) {
    return a.background == b.background && a.help == b.help && a.version == b.version && a.speed == b.speed &&
           a.drops == b.drops && a.errors == b.errors && a.seed == b.seed;
}

std::uint8_t clamped(std::uint8_t value, std::uint8_t fallback) {
    return value == 0 ? fallback : (value > 100 ? 100 : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t max_words = 64;
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 0; i < size && words.size() < max_words; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if ((size > 0 || !word.empty()) && words.size() < max_words) {
        words.push_back(word);  // no input at all is an empty vector: argc 0
    }

    std::vector<std::string> copies = words;
    std::vector<char*> argv;
    for (std::string& w : copies) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    settings read{};
    settings_read(read, argc, argv.data());
    require(same(read, expected_reading(words)), "options read as the rules say");
    for (std::size_t i = 0; i < words.size(); ++i) {
        require(argv[i] == copies[i].data() && copies[i] == words[i], "argument vector left as it was");
    }

    settings finished = read;
    const bool goes_on = settings_finish(finished, argc > 0 ? argv[0] : nullptr, sink());
    require(goes_on == !(read.help || read.version), "help and version end the run");
    if (!goes_on) {
        return 0;
    }
    require(finished.speed == clamped(read.speed, 10), "speed clamped");
    require(finished.drops == clamped(read.drops, 10), "drops clamped");
    require(finished.errors == clamped(read.errors, 2), "errors clamped");
    require(finished.seed == read.seed && finished.background == read.background, "the rest kept");

    const timespec delay = settings_frame_delay(finished);
    require(delay.tv_sec == (finished.speed == 1 ? 1 : 0), "whole seconds only at speed 1");
    require(delay.tv_nsec >= 0 && delay.tv_nsec < 1'000'000'000L, "nanoseconds below a second");
    require(delay.tv_sec == 1 || delay.tv_nsec >= 10'000'000L, "no delay under 10 ms");
    const float drops = settings_drop_ratio(finished);
    const float errors = settings_error_ratio(finished);
    require(drops >= 0.0009F && drops <= 0.1001F, "drop ratio in range");
    require(errors >= 0.009F && errors <= 1.0001F, "error ratio in range");
    return 0;
}
