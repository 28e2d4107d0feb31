// Rounding to IEEE single precision at the points the picture depends on.
//
// On x87 (32-bit x86) arithmetic runs in 80-bit registers and g++ rounds a
// result to its type only when it happens to store it, so a count taken
// from an unrounded product can come out one less than on every other
// target. A volatile store is the one store the compiler cannot leave out;
// elsewhere it costs a store and a load, a few times a frame.
#pragma once

inline float single(float x) {
    volatile float stored = x;
    return stored;
}

// A double result is rounded to double first, then to single, as its type
// says. For n from 1 to 255, x87's 80-bit n * 0.001, n * 0.01 and 1.0 / n
// round to the very doubles that double arithmetic gives.
inline float single(double x) {
    volatile double stored = x;
    return single(static_cast<float>(stored));
}
