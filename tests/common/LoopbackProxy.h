// A loopback TCP proxy between a client under test and a real server, which
// the test steers: it forwards bytes both ways until a byte budget is spent
// (then cuts every connection, mid-packet or mid-frame as the count falls),
// stalls (keeps the connections open and forwards nothing) or cuts at once.
// It stands in for networks and servers that vanish or stop answering.
#ifndef ROWSET_TESTS_COMMON_LOOPBACKPROXY_H_
#define ROWSET_TESTS_COMMON_LOOPBACKPROXY_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rowset::test {

class LoopbackProxy {
 public:
  // Listens on 127.0.0.1 at a free port and forwards to host:port.
  LoopbackProxy(const std::string& host, uint16_t port);
  ~LoopbackProxy();
  LoopbackProxy(const LoopbackProxy&) = delete;
  LoopbackProxy& operator=(const LoopbackProxy&) = delete;

  uint16_t port() const { return port_; }

  // Forwards `bytes` more bytes (both directions together, in arrival
  // order), then cuts every connection; new connections are cut at once
  // until the budget is raised again. A negative budget forwards without
  // limit (the start).
  void DropAfter(int64_t bytes);
  // Cuts every open connection now (new ones are still accepted).
  void DropNow();
  // While on, nothing is forwarded and nothing is cut.
  void Stall(bool on);
  // Bytes forwarded so far, both directions.
  uint64_t Forwarded() const { return forwarded_; }
  // Connections accepted so far.
  int Accepted() const { return accepted_; }
  // Every byte forwarded from the server to clients so far (captures of
  // real answers).
  std::string FromServer();

 private:
  struct Pair {
    int client = -1;
    int server = -1;
  };
  void Run();
  void Wake();
  void CloseAll();

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::string host_;
  uint16_t target_port_ = 0;
  std::mutex mutex_;
  int64_t budget_ = -1;
  bool drop_now_ = false;
  std::atomic<bool> stalled_{false};
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> forwarded_{0};
  std::atomic<int> accepted_{0};
  std::string from_server_;  // guarded by mutex_
  std::vector<Pair> pairs_;  // the proxy thread's own
  std::thread thread_;
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_COMMON_LOOPBACKPROXY_H_
