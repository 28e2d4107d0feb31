// Linked with --wrap=realloc and --wrap=malloc into a test copy of the
// program, whose only allocations are the cells': the calls that
// ALLOC_SEAM_FAIL lists fail, counted from 1 over both functions and separated
// by commas ("1" fails the first call, "2,3" the second and the third).
// malloc is there because the compiler turns a realloc of the null pointer,
// as in the first allocation, into a malloc. Every other call goes through.
// The calls that ALLOC_SEAM_SIGWINCH lists first raise SIGWINCH: a window-size
// change that lands in the middle of handling one, after its size query.
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" void* __real_realloc(void* old, std::size_t size);
extern "C" void* __real_malloc(std::size_t size);

namespace {

unsigned calls = 0;
bool counting = false;

// A static program's C library allocates through the seam too: before the
// count starts, and for standard output's buffer at the program's setvbuf.
// That buffer is made here first, in the mode the program asks for.
[[gnu::constructor]] void start_counting() {
    std::setvbuf(stdout, nullptr, _IOFBF, 0);
    counting = true;
}

// Whether the list of call numbers in the variable `name` holds `call`.
bool listed(const char* name, unsigned call) {
    const char* rule = std::getenv(name);
    while (rule != nullptr && *rule != '\0') {
        char* end = nullptr;
        const unsigned long n = std::strtoul(rule, &end, 10);
        if (end == rule) {
            return false;
        }
        if (n == call) {
            return true;
        }
        rule = *end == ',' ? end + 1 : end;
    }
    return false;
}

// Counts the call just made; whether it is one to fail.
bool fails() {
    if (!counting) {
        return false;
    }
    ++calls;
    if (listed("ALLOC_SEAM_SIGWINCH", calls)) {
        std::raise(SIGWINCH);
    }
    return listed("ALLOC_SEAM_FAIL", calls);
}

}  // namespace

extern "C" void* __wrap_realloc(void* old, std::size_t size) { return fails() ? nullptr : __real_realloc(old, size); }

extern "C" void* __wrap_malloc(std::size_t size) { return fails() ? nullptr : __real_malloc(size); }
