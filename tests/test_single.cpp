#include <gtest/gtest.h>

#include <cfloat>

#include "single.hpp"

namespace {

// The tests of the counts and the frame delay catch a missing rounding only
// where arithmetic runs wider than its type. On x87 that must hold, natively
// or under an emulator, or those tests would pass there with the rounding
// taken out and prove nothing.
TEST(Single, RoundsAwayWhatX87KeepsInItsRegisters) {
    if (FLT_EVAL_METHOD != 2) {
        GTEST_SKIP() << "arithmetic runs in the precision of its type here";
    }
    volatile float big = 16777216.0F;  // 2^24: one more is not a float
    volatile float one = 1.0F;
    const float a = big;
    const float b = one;
    EXPECT_EQ((a + b) - a, 1.0F) << "x87 keeps 2^24 + 1 in its register";
    EXPECT_EQ(single(a + b) - a, 0.0F) << "single() rounds it to 2^24";
    EXPECT_EQ(single(static_cast<double>(a) + 1.0) - a, 0.0F);
}

}  // namespace
