// What one frame costs at steady density, part by part, and how drawing it
// compares with merely copying its bytes. The machine is shared and noisy, so
// the summary at the end gives ratios between benchmarks of the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "matrix.hpp"
#include "rain.hpp"
#include "screen.hpp"
#include "settings.hpp"
#include "spread.hpp"

namespace {

struct frame_size {
    std::uint16_t cols;
    std::uint16_t rows;
};

constexpr std::array<frame_size, 4> sizes = {{{80, 24}, {200, 60}, {400, 120}, {1000, 300}}};
constexpr unsigned seed = 1;

std::string size_name(frame_size s) { return std::to_string(s.cols) + "x" + std::to_string(s.rows); }
double cells_of(frame_size s) { return static_cast<double>(s.cols) * s.rows; }

// Appended, not prefixed: g++ 12 misreads `"/" + string` at -O3 (-Wrestrict).
std::string bench_name(std::string_view label, frame_size s) {
    std::string name(label);
    name += '/';
    name += size_name(s);
    return name;
}

const float drop_ratio = settings_drop_ratio(settings{});
const float error_ratio = settings_error_ratio(settings{});

// One frame's step, as the frame loop takes it after drawing.
void step_once(matrix& m) {
    rain_glitch(m, error_ratio);
    rain_advance(m);
    rain_spawn(m);
}

struct steady_picture {
    std::vector<cell> cells;
    std::uint64_t drop_count;
};

// Drops enter at the top only: after rows + 63 frames every row has seen
// them, and a few hundred more let the count settle where spawning holds it.
// Built once per size; every benchmark works on its own copy.
const steady_picture& steady(frame_size s) {
    static std::map<std::pair<int, int>, steady_picture> built;
    const auto key = std::make_pair(int{s.cols}, int{s.rows});
    if (const auto found = built.find(key); found != built.end()) {
        return found->second;
    }
    std::srand(seed);
    matrix m{};
    if (!matrix_create(m, s.rows, s.cols, drop_ratio)) {
        std::fputs("frame_bench: no memory for the picture\n", stderr);
        std::exit(1);
    }
    matrix_fill(m);
    for (int frame = 0; frame < 2 * s.rows + 300; ++frame) {
        step_once(m);
    }
    steady_picture picture{std::vector<cell>(m.cells, m.cells + matrix_size(m)), m.drop_count};
    matrix_free(m);
    return built.emplace(key, std::move(picture)).first->second;
}

matrix copy_of_steady(frame_size s) {
    const steady_picture& picture = steady(s);
    matrix m{};
    if (!matrix_create(m, s.rows, s.cols, drop_ratio)) {
        std::fputs("frame_bench: no memory for the picture\n", stderr);
        std::exit(1);
    }
    std::copy(picture.cells.begin(), picture.cells.end(), m.cells);
    m.drop_count = picture.drop_count;
    return m;
}

// The exact bytes of one frame, drawn into a file in memory.
std::vector<char> frame_bytes(const matrix& m) {
    const int fd = memfd_create("frame", MFD_CLOEXEC);
    if (fd == -1 || !screen_draw(m, fd)) {
        std::fputs("frame_bench: cannot draw into memory\n", stderr);
        std::exit(1);
    }
    std::vector<char> bytes(static_cast<std::size_t>(lseek(fd, 0, SEEK_CUR)));
    if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        std::fputs("frame_bench: cannot read the frame back\n", stderr);
        std::exit(1);
    }
    close(fd);
    return bytes;
}

// Time per cell, shown with its unit ("1.2ns"): the CPU time of an iteration
// over the cells of a frame.
void count_cells(benchmark::State& state, frame_size s) {
    state.counters["per_cell"] =
        benchmark::Counter(cells_of(s), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void bm_matrix_fill(benchmark::State& state, frame_size s) {
    matrix m = copy_of_steady(s);
    for (auto _ : state) {
        matrix_fill(m);
        benchmark::DoNotOptimize(m.cells);
        benchmark::ClobberMemory();
    }
    count_cells(state, s);
    matrix_free(m);
}

enum class rain_part { glitch, advance, spawn };

// One part of the step timed alone; the other two still run, untimed, so the
// picture stays at steady density however many iterations there are.
void bm_rain_part(benchmark::State& state, frame_size s, rain_part timed) {
    using clock = std::chrono::steady_clock;
    matrix m = copy_of_steady(s);
    double seconds = 0;
    for (auto _ : state) {
        const auto before_glitch = clock::now();
        rain_glitch(m, error_ratio);
        const auto before_advance = clock::now();
        rain_advance(m);
        const auto before_spawn = clock::now();
        rain_spawn(m);
        const auto after = clock::now();
        const auto spent = timed == rain_part::glitch    ? before_advance - before_glitch
                           : timed == rain_part::advance ? before_spawn - before_advance
                                                         : after - before_spawn;
        const double part = std::chrono::duration<double>(spent).count();
        state.SetIterationTime(part);
        seconds += part;
    }
    // The measured time of the part alone, in seconds ("1.2n").
    state.counters["per_cell"] = seconds / (static_cast<double>(state.iterations()) * cells_of(s));
    state.counters["drops"] = static_cast<double>(m.drop_count);
    matrix_free(m);
}

void bm_rain_step(benchmark::State& state, frame_size s) {
    matrix m = copy_of_steady(s);
    for (auto _ : state) {
        step_once(m);
        benchmark::ClobberMemory();
    }
    count_cells(state, s);
    state.counters["drops"] = static_cast<double>(m.drop_count);
    matrix_free(m);
}

// Into /dev/null, as the program writes to the terminal.
void bm_screen_draw(benchmark::State& state, frame_size s) {
    matrix m = copy_of_steady(s);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink == -1) {
        state.SkipWithError("cannot open /dev/null");
        matrix_free(m);
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(screen_draw(m, sink));
    }
    count_cells(state, s);
    state.counters["bytes/frame"] = static_cast<double>(frame_bytes(m).size());
    close(sink);
    matrix_free(m);
}

// The floor for drawing: the frame's bytes already exist and are only copied.
void bm_memcpy_frame(benchmark::State& state, frame_size s) {
    matrix m = copy_of_steady(s);
    const std::vector<char> from = frame_bytes(m);
    std::vector<char> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    count_cells(state, s);
    state.counters["bytes/frame"] = static_cast<double>(from.size());
    matrix_free(m);
}

// Prints the medians and keeps every repetition's time for the summary.
class recording_reporter : public benchmark::ConsoleReporter {
public:
    // Per benchmark name ("screen_draw/400x120"), one time per repetition, in
    // microseconds: CPU time, or the measured time of the parts timed alone.
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, double> bytes_per_frame;

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const bool manual = run.run_name.time_type.find("manual") != std::string::npos;
                times[name].push_back(manual ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime());
                if (const auto b = run.counters.find("bytes/frame"); b != run.counters.end()) {
                    bytes_per_frame[name] = b->second.value;
                }
            }
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) {
                shown.push_back(run);
            }
        }
        if (!shown.empty()) {
            ConsoleReporter::ReportRuns(shown);
        }
    }
};

// Repetition i of one benchmark against repetition i of the other.
bool ratios(const recording_reporter& r, const std::string& top, const std::string& bottom, spread& out) {
    const auto a = r.times.find(top);
    const auto b = r.times.find(bottom);
    if (a == r.times.end() || b == r.times.end() || a->second.empty()) {
        return false;
    }
    const std::size_t n = std::min(a->second.size(), b->second.size());
    std::vector<double> quotients;
    for (std::size_t i = 0; i < n; ++i) {
        quotients.push_back(a->second[i] / b->second[i]);
    }
    out = spread_of(quotients);
    return true;
}

// Median time per cell of one benchmark, in nanoseconds; 0 if it did not run.
double ns_per_cell(const recording_reporter& r, const std::string& name, frame_size s) {
    const auto found = r.times.find(name);
    return found == r.times.end() || found->second.empty() ? 0.0 : spread_of(found->second).median * 1e3 / cells_of(s);
}

void print_summary(const recording_reporter& r) {
    std::printf(
        "\nns per cell (medians) and ratios between benchmarks of this run, median of the repetitions "
        "[lowest .. highest]\n");
    std::printf("%-9s %11s %7s %7s %7s %7s %7s %22s %22s\n", "size", "bytes/frame", "draw", "step", "glitch", "advance",
                "spawn", "draw / memcpy", "step / draw");
    for (const frame_size s : sizes) {
        const std::string draw = bench_name("screen_draw", s);
        const std::string step = bench_name("rain_step", s);
        spread draw_memcpy{};
        spread step_draw{};
        const bool have_memcpy = ratios(r, draw, bench_name("memcpy_frame", s), draw_memcpy);
        const bool have_step = ratios(r, step, draw, step_draw);
        if (!have_memcpy || !have_step) {
            continue;
        }
        const auto bytes = r.bytes_per_frame.find(draw);
        std::printf("%-9s %11.0f %7.3f %7.3f %7.3f %7.3f %7.4f %8.2f [%5.2f .. %5.2f] %8.2f [%5.2f .. %5.2f]\n",
                    size_name(s).c_str(), bytes == r.bytes_per_frame.end() ? 0.0 : bytes->second,
                    ns_per_cell(r, draw, s), ns_per_cell(r, step, s), ns_per_cell(r, bench_name("rain_glitch", s), s),
                    ns_per_cell(r, bench_name("rain_advance", s), s), ns_per_cell(r, bench_name("rain_spawn", s), s),
                    draw_memcpy.median, draw_memcpy.low, draw_memcpy.high, step_draw.median, step_draw.low,
                    step_draw.high);
    }
}

void register_all() {
    for (const frame_size s : sizes) {
        // Fixed iterations: counting only the part timed, the library would
        // run the whole step for ever to gather its minimum time of spawning.
        const auto iterations = static_cast<benchmark::IterationCount>(std::max(50.0, 2e7 / cells_of(s)));
        const auto timed = [s, iterations](std::string_view label, rain_part part) {
            benchmark::RegisterBenchmark(bench_name(label, s).c_str(), bm_rain_part, s, part)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMicrosecond);
        };
        benchmark::RegisterBenchmark(bench_name("matrix_fill", s).c_str(), bm_matrix_fill, s)
            ->Unit(benchmark::kMicrosecond);
        timed("rain_glitch", rain_part::glitch);
        timed("rain_advance", rain_part::advance);
        timed("rain_spawn", rain_part::spawn);
        benchmark::RegisterBenchmark(bench_name("rain_step", s).c_str(), bm_rain_step, s)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(bench_name("screen_draw", s).c_str(), bm_screen_draw, s)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(bench_name("memcpy_frame", s).c_str(), bm_memcpy_frame, s)
            ->Unit(benchmark::kMicrosecond);
    }
}

bool has_flag(int argc, char** argv, std::string_view flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with(flag)) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Defaults suited to a noisy machine, each one overridden by its flag.
int main(int argc, char** argv) {
    std::vector<std::string> owned(argv, argv + argc);
    if (!has_flag(argc, argv, "--benchmark_repetitions")) {
        owned.emplace_back("--benchmark_repetitions=5");
    }
    if (!has_flag(argc, argv, "--benchmark_min_time")) {
        owned.emplace_back("--benchmark_min_time=0.1");
    }
    if (!has_flag(argc, argv, "--benchmark_enable_random_interleaving")) {
        owned.emplace_back("--benchmark_enable_random_interleaving=true");
    }
    std::vector<char*> args;
    for (std::string& a : owned) {
        args.push_back(a.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    register_all();
    recording_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    return 0;
}
