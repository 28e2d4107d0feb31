// The median and the range of repeated measurements: on a shared machine a
// single figure says little without its spread.
#pragma once

#include <algorithm>
#include <vector>

struct spread {
    double median;
    double low;
    double high;
};

inline spread spread_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}
