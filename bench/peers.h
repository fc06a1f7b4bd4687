// The peers of the per-frame figures, measured in the benchmark's own run so that a ratio
// compares like with like: a memcpy of the frame, and what one sleep of a paced thread
// costs the host in CPU (a loop that sleeps once a frame pays it whatever its work); and the
// percentiles the benchmarks report their samples by.
#ifndef EKVISION_BENCH_PEERS_H
#define EKVISION_BENCH_PEERS_H

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <vector>

namespace benchsupport {

// The sample at @p fraction (0.5: the median) of @p values, sorted; 0 when there is none.
inline double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

inline double frameMemcpySeconds(std::size_t bytes) {
  std::vector<unsigned char> source(bytes, 7);
  std::vector<unsigned char> destination(bytes);
  const int rounds = 500;
  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    std::memcpy(destination.data(), source.data(), bytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() / rounds;
}

// CPU time of the calling thread for one sleep of @p period, the mean of 60.
inline double pacedSleepCpuSeconds(std::chrono::microseconds period) {
  const auto threadCpu = [] {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  };
  const int rounds = 60;
  const timespec pause{0, static_cast<long>(period.count()) * 1000L};
  const double begin = threadCpu();
  for (int i = 0; i < rounds; ++i) {
    nanosleep(&pause, nullptr);
  }
  return (threadCpu() - begin) / rounds;
}

}  // namespace benchsupport

#endif  // EKVISION_BENCH_PEERS_H
