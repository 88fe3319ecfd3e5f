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

// CPU time of this process so far, all of it and the part spent in the
// kernel.
struct CpuTimes {
  double total = 0;
  double sys = 0;
};

inline CpuTimes ReadCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return CpuTimes{seconds(u.ru_utime) + seconds(u.ru_stime), seconds(u.ru_stime)};
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
  const CpuTimes cpu = ReadCpu();
  const auto start = Clock::now();
  Work();
  Cost c;
  c.wall = std::chrono::duration<double>(Clock::now() - start).count();
  const CpuTimes end = ReadCpu();
  c.cpu = end.total - cpu.total;
  c.sys = end.sys - cpu.sys;
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
