// What the C++ benchmarks time with: the mean of a batch of calls, and the median of rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

inline double microsecondsPerCall(int batch, const std::function<void()>& call) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) call();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
               .count() /
           batch;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
