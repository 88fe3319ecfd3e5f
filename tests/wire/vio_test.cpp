// The transport against scripted peers: opening, failure codes and texts,
// retry classification, the local server connection and descriptor hygiene.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <vector>

#include "host/Sockets.h"
#include "tests/common/ScriptedPeer.h"
#include "wire/uMysqlVio.h"

namespace rowset {
namespace {

using test::Packet;
using test::ScriptedPeer;

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

// Reads until `n` bytes came or a read fails.
std::string ReadBytes(TMysqlVio& vio, size_t n, size_t chunk) {
  std::string out;
  std::vector<char> buf(chunk);
  while (out.size() < n) {
    long got = vio.vio_read(buf.data(), std::min(chunk, n - out.size()));
    if (got <= 0) break;
    out.append(buf.data(), static_cast<size_t>(got));
  }
  return out;
}

// A port where nothing listens.
uint16_t DeadPort() {
  ScriptedPeer peer;
  return peer.port();  // the listener closes when the peer goes
}

TEST(Vio, OpensTcpAndRefusesSecondOpen) {
  ScriptedPeer peer;
  peer.Send("hello");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  EXPECT_EQ(vio.vio_type, VIO_TYPE_TCPIP);
  EXPECT_EQ(vio.last_errorno, 0u);
  int sock = vio.sock;
  EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), -20);
  EXPECT_EQ(vio.sock, sock);
  char buf[5];
  EXPECT_EQ(vio.vio_read(buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(vio.vio_write("abc", 3), 3);
  EXPECT_EQ(vio.vio_close(), 0);
  EXPECT_EQ(vio.vio_type, VIO_CLOSED);
  EXPECT_EQ(vio.sock, -1);
  peer.Join();
  EXPECT_EQ(peer.Received(), "abc");
}

TEST(Vio, FailuresReportNumbersTextsAndReleaseTheSocket) {
  const int before = OpenDescriptors();
  {
    TMysqlVio vio;
    uint16_t port = DeadPort();
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", port, 5, true), -6);
    EXPECT_EQ(vio.last_errorno, 2003u);
    EXPECT_EQ(vio.last_error(), "Can't connect to MySQL server on '127.0.0.1' (111)");
    EXPECT_EQ(vio.vio_type, VIO_CLOSED);
  }
  {
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "no-such-host.invalid", "", 3306, 5, true), -7);
    EXPECT_EQ(vio.last_errorno, 2005u);
    EXPECT_EQ(vio.last_error().rfind("Unknown MySQL Server Host 'no-such-host.invalid' (", 0),
              0u);
  }
  {
    // Accepts but never greets: no bytes within the time-out.
    ScriptedPeer peer;
    peer.Pause(1500);
    peer.Start();
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 1, true), -7);
    EXPECT_EQ(vio.last_errorno, 2003u);
    EXPECT_EQ(vio.vio_type, VIO_CLOSED);
    peer.Join();
  }
  {
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_SSL, "127.0.0.1", "", 1, 5, true), -2);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Vio, RetryClassification) {
  ScriptedPeer peer;
  peer.Send("x");
  peer.Start();
  TMysqlVio vio;
  EXPECT_FALSE(vio.vio_should_retry());  // closed
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  for (int e : {10036, 10004, 10035}) {
    host::SetSocketLastError(e);
    EXPECT_TRUE(vio.vio_should_retry()) << e;
  }
  host::SetSocketLastError(10004);
  EXPECT_TRUE(vio.vio_intrerupted());
  for (int e : {0, 104, 10060, 32}) {
    host::SetSocketLastError(e);
    EXPECT_FALSE(vio.vio_should_retry()) << e;
    EXPECT_FALSE(vio.vio_intrerupted());
  }
  vio.vio_close();
  peer.Join();
}

TEST(Vio, TimeoutDefaultsAndBlockingMode) {
  ScriptedPeer peer;
  peer.Send("x");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 0, true), 0);
  EXPECT_EQ(vio.timeout, 30u);  // NET_READ_TIMEOUT stands in for 0
  EXPECT_EQ(vio.nonblocking & 1, 1u);
  EXPECT_EQ(vio.vio_blocking(false), 0);  // unchanged
  vio.SetNoTimeOut(true);
  EXPECT_EQ(vio.nonblocking & 1, 0u);
  vio.vio_close();
  EXPECT_EQ(vio.vio_blocking(true), -1);
  peer.Join();

  TMysqlVio other;
  other.SetNoTimeOut(true);
  other.SetNoTimeOut(false);
  EXPECT_EQ(other.timeout, 30u);
}

TEST(Vio, PollWorksForHighDescriptorNumbers) {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 2100 && lim.rlim_max >= 2100) {
    lim.rlim_cur = 2100;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  std::vector<int> filler;
  while (filler.empty() || filler.back() < 1100) {
    int fd = dup(0);
    if (fd < 0) break;
    filler.push_back(fd);
  }
  ASSERT_GE(filler.back(), 1100);
  ScriptedPeer peer;
  peer.Pause(200).Send("late");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  EXPECT_GT(vio.sock, 1024);
  char buf[4];
  size_t got = 0;
  while (got < 4) {
    long n = vio.vio_read(buf + got, 4 - got);
    ASSERT_GT(n, 0);
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::string(buf, 4), "late");
  vio.vio_close();
  peer.Join();
  for (int fd : filler) close(fd);
}

// Small reads are served from the bytes received ahead: none is lost or
// repeated, a read never waits while bytes are buffered, and an empty buffer
// still waits for the socket only up to the time-out.
TEST(Vio, ReadAheadKeepsEveryByteAndTheTimeOut) {
  ScriptedPeer peer;
  peer.Send("abcdefghij").Pause(1600).Send("klm").Drop();
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 1, true), 0);
  std::string got;
  char c;
  while (got.size() < 10) {
    ASSERT_EQ(vio.vio_read(&c, 1), 1);
    got += c;
    if (vio.vio_pending() > 0) {
      EXPECT_TRUE(vio.vio_poll_read(0));
    }
  }
  EXPECT_EQ(got, "abcdefghij");
  EXPECT_EQ(vio.vio_pending(), 0u);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vio.vio_read(&c, 1), -1);  // the peer is silent: time-out
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(ReadBytes(vio, 3, 2), "klm");
  EXPECT_EQ(vio.vio_read(&c, 1), -1);  // end of stream
  vio.vio_close();
  peer.Join();
}

TEST(Vio, LargeReadsAfterBufferedBytesStayInOrder) {
  std::mt19937 gen(7);
  std::string data(70000, '\0');
  for (auto& ch : data) ch = static_cast<char>(gen());
  ScriptedPeer peer;
  peer.Send(data.substr(0, 1)).Pause(100).Send(data.substr(1)).Drop();
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  vio.SetNoTimeOut(true);  // blocking reads take the same path
  std::string got = ReadBytes(vio, 5, 5);
  got += ReadBytes(vio, 30000, 30000);  // larger than the read-ahead
  got += ReadBytes(vio, 7, 3);
  got += ReadBytes(vio, data.size() - got.size(), 20000);
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  vio.vio_close();
  peer.Join();
}

TEST(Vio, ClosingDiscardsBufferedBytes) {
  ScriptedPeer old_peer;
  old_peer.Send("stale bytes of the old connection").Pause(300);
  old_peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", old_peer.port(), 5, true), 0);
  EXPECT_EQ(ReadBytes(vio, 5, 5), "stale");
  EXPECT_EQ(vio.vio_close(), 0);
  EXPECT_EQ(vio.vio_pending(), 0u);
  EXPECT_FALSE(vio.vio_poll_read(0));
  char c;
  EXPECT_EQ(vio.vio_read(&c, 1), -1);
  old_peer.Join();

  ScriptedPeer new_peer;
  new_peer.Send("new").Drop();
  new_peer.Start();
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", new_peer.port(), 5, true), 0);
  EXPECT_EQ(ReadBytes(vio, 4, 1), "new");
  vio.vio_close();
  new_peer.Join();
}

class PipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = host::LocalServerSocket();
    path_ = "/tmp/rowset-vio-" + std::to_string(getpid()) + ".sock";
    host::SetLocalServerSocket(path_);
  }
  void TearDown() override { host::SetLocalServerSocket(saved_); }
  std::string saved_, path_;
};

TEST_F(PipeTest, AnyHostAndPipeNameOpenTheLocalServer) {
  ScriptedPeer peer(path_);
  peer.Send("hi");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, "somehost", "otherpipe", 0, 5, false), 0);
  EXPECT_EQ(vio.vio_type, VIO_TYPE_NAMEDPIPE);
  EXPECT_EQ(vio.sock, 0);
  EXPECT_TRUE(vio.vio_poll_read(1));
  char buf[2];
  EXPECT_EQ(vio.vio_read(buf, 2), 2);
  EXPECT_EQ(vio.vio_write("ok", 2), 2);
  EXPECT_EQ(vio.vio_blocking(false), 0);
  EXPECT_EQ(vio.vio_close(), 0);
  peer.Join();
  EXPECT_EQ(peer.Received(), "ok");
}

// The local server socket waits like TCP: a greeting that does not come
// within the time-out fails the open, and a stalled answer fails the read
// instead of blocking for ever (the late byte is not what the read returns).
TEST_F(PipeTest, LocalServerSocketHasTimeOuts) {
  {
    ScriptedPeer silent(path_);
    silent.Pause(2500).Send("late greeting");
    silent.Start();
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, ".", "MySQL", 0, 1, false), -7);
    EXPECT_EQ(vio.vio_type, VIO_CLOSED);
    silent.Join();
  }
  {
    ScriptedPeer stalled(path_);
    stalled.Send("g").Pause(2500).Send("late").Drop();
    stalled.Start();
    TMysqlVio vio;
    ASSERT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, ".", "MySQL", 0, 1, false), 0);
    char c;
    EXPECT_EQ(vio.vio_read(&c, 1), 1);
    EXPECT_EQ(vio.vio_read(&c, 1), -1);
    EXPECT_EQ(host::SocketLastError(), host::kErrTimedOut);
    vio.vio_close();
    stalled.Join();
  }
}

TEST(Vio, TcpNoDelayIsSet) {
  ScriptedPeer peer;
  peer.Send("g");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  EXPECT_TRUE(host::SocketNoDelay(vio.sock));
  vio.vio_close();
  peer.Join();
}

TEST_F(PipeTest, FailureWithoutTrySocketIsMinusNine) {
  const int before = OpenDescriptors();
  TMysqlVio vio;
  EXPECT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, "h", "p", 0, 1, false), -9);
  EXPECT_EQ(vio.last_errorno, 2017u);
  EXPECT_EQ(vio.last_error(), "Can't open named pipe to host: .  pipe: MySQL (2)");
  EXPECT_EQ(vio.vio_type, VIO_CLOSED);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(PipeTest, FailureWithTrySocketFallsBackToTcpWithoutError) {
  ScriptedPeer peer;
  peer.Send("g");
  peer.Start();
  TMysqlVio vio;
  ASSERT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, "127.0.0.1", "p", peer.port(), 5, true), 0);
  EXPECT_EQ(vio.vio_type, VIO_TYPE_TCPIP);
  EXPECT_EQ(vio.last_errorno, 0u);
  EXPECT_EQ(vio.last_error(), "");
  vio.vio_close();
  peer.Join();
}

TEST(Vio, NonPipeTypeWithoutTrySocketAttemptsNothing) {
  TMysqlVio vio;
  EXPECT_EQ(vio.vio_open(VIO_TYPE_SOCKET, "127.0.0.1", "", 1, 5, false), 0);
  EXPECT_EQ(vio.vio_type, VIO_CLOSED);
}

}  // namespace
}  // namespace rowset
