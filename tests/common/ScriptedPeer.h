// A scripted fake server for tests that need what a real server will not do:
// exact bytes, wrong sequence numbers, malformed lengths, dropped connections.
// It listens on loopback TCP (or a Unix socket), accepts one client, plays
// its script on a thread of its own and captures every byte the client sends.
// It can switch the connection to TLS as a server (StartTls); later steps
// and the capture then see the plain bytes inside the encrypted stream.
#ifndef ROWSET_TESTS_COMMON_SCRIPTEDPEER_H_
#define ROWSET_TESTS_COMMON_SCRIPTEDPEER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace rowset::test {

// A protocol packet: 3-byte length, sequence number, payload.
std::string Packet(uint8_t seq, const std::string& payload);
// A compressed frame: body length, sequence number, uncompressed length, body.
std::string Frame(uint8_t seq, const std::string& body, uint32_t uncompressed_length);
// zlib's compress of `data`.
std::string Zip(const std::string& data);
// A greeting of protocol version 10 (or `protocol`), version text, thread id,
// 8-byte challenge, capabilities, language 8, status 2 and 13 filler bytes.
std::string Greeting(uint32_t thread_id, uint16_t capabilities = 0x200C,
                     uint8_t protocol = 10, const std::string& challenge = "abcdefgh",
                     const std::string& version = "3.23.99-scripted");
std::string OkPayload();

class ScriptedPeer {
 public:
  // Listens on 127.0.0.1 at a free port, or on the Unix socket `unix_path`.
  ScriptedPeer();
  explicit ScriptedPeer(const std::string& unix_path);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const { return port_; }

  // Script steps, played in order after the client connects.
  ScriptedPeer& Send(const std::string& bytes);
  // Reads exactly n bytes from the client (captured).
  ScriptedPeer& Read(size_t n);
  // Reads one packet (4-byte header and its payload).
  ScriptedPeer& ReadPacket();
  // Reads one compressed frame (7-byte header and its body).
  ScriptedPeer& ReadFrame();
  ScriptedPeer& Pause(int milliseconds);
  // Accepts the client's TLS handshake with this certificate and key (PEM
  // files); fails the script (TlsFailed()) when the client breaks it off.
  ScriptedPeer& StartTls(const std::string& cert_file, const std::string& key_file);
  // Closes the connection at once.
  ScriptedPeer& Drop();
  // Starts playing (accepting one client). After the script the peer reads
  // and captures until the client closes, unless the script dropped it.
  void Start();
  // Waits for the script to end (the client must close or be dropped).
  void Join();

  // Every byte received from the client so far.
  std::string Received();
  // The client's packets (header and payload), split from Received() as
  // uncompressed packets.
  std::vector<std::string> ReceivedPackets();
  bool ScriptFailed() const { return failed_; }
  bool TlsFailed() const { return tls_failed_; }

 private:
  void Run();
  bool ReadExact(int fd, size_t n);
  long SendSome(int fd, const char* data, size_t n);
  long RecvSome(int fd, char* data, size_t n);
  bool WaitReadable(int fd, int ms);
  void EndTls();

  int listener_ = -1;
  uint16_t port_ = 0;
  std::string unix_path_;
  std::vector<std::function<bool(int)>> steps_;
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
  std::atomic<bool> failed_{false};
  size_t drop_step_ = static_cast<size_t>(-1);
  ssl_ctx_st* ssl_ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  std::atomic<bool> tls_failed_{false};
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_COMMON_SCRIPTEDPEER_H_
