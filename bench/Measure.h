// What the benchmarks measure of one piece of work: wall time, the CPU time
// this process spent (user + system, getrusage) and the peak resident memory
// it added. Ratios against a reference measured in the same run are what the
// benchmarks print; Median and Max pick the figure of several interleaved
// rounds.
#ifndef ROWSET_BENCH_MEASURE_H_
#define ROWSET_BENCH_MEASURE_H_

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace rowset::bench {

// Resident memory of this process in bytes (key "VmRSS:" or "VmHWM:").
inline double StatusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k(key);
  while (std::getline(in, line)) {
    if (line.rfind(k, 0) == 0) return std::atol(line.c_str() + k.size()) * 1024.0;
  }
  return 0;
}

// Restarts the peak count at the current resident size.
inline void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

// The system part of CpuSeconds.
inline double SystemSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6;
}

inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Cost {
  double wall = 0;
  double cpu = 0;
  double sys = 0;  // the part of cpu spent in the kernel
  double peak_added = 0;  // bytes over the resident size at the start
};

// Runs Work once and measures it.
template <typename F>
Cost Measure(F&& Work) {
  using Clock = std::chrono::steady_clock;
  const double rss = StatusBytes("VmRSS:");
  ResetPeak();
  const double cpu = CpuSeconds(), sys = SystemSeconds();
  const auto start = Clock::now();
  Work();
  Cost c;
  c.wall = std::chrono::duration<double>(Clock::now() - start).count();
  c.cpu = CpuSeconds() - cpu;
  c.sys = SystemSeconds() - sys;
  c.peak_added = StatusBytes("VmHWM:") - rss;
  return c;
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

inline double Max(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

}  // namespace rowset::bench

#endif  // ROWSET_BENCH_MEASURE_H_
