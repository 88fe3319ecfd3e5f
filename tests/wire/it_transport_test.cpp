// The transport and packet layer against the real test server: TCP/IP and
// the local server socket both deliver the server's greeting.
#include <gtest/gtest.h>

#include "host/Sockets.h"
#include "tests/common/TestServer.h"
#include "wire/uMysqlNet.h"

namespace rowset {
namespace {

void ExpectGreeting(TMysqlNet& net) {
  uint32_t n = net.net_safe_read();
  ASSERT_NE(n, packet_error) << net.last_error();
  const uint8_t* p = net.read_ptr();
  EXPECT_EQ(p[0], 10);  // protocol version
  std::string version(reinterpret_cast<const char*>(p + 1));
  EXPECT_NE(version.find("MariaDB"), std::string::npos) << version;
  EXPECT_GT(n, version.size() + 14);
}

TEST(RealServerTransport, TcpGreeting) {
  const auto& s = test::Server();
  TMysqlNet net;
  ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, s.host, "", s.port, 10, true), 0) << net.last_error();
  EXPECT_EQ(net.VioType(), VIO_TYPE_TCPIP);
  ExpectGreeting(net);
  EXPECT_EQ(net.net_close(), 0);
  EXPECT_FALSE(net.NetConnected());
}

TEST(RealServerTransport, LocalSocketGreeting) {
  const auto& s = test::Server();
  std::string saved = host::LocalServerSocket();
  host::SetLocalServerSocket(s.socket);
  TMysqlNet net;
  ASSERT_EQ(net.net_open(VIO_TYPE_NAMEDPIPE, "anyhost", "anypipe", 0, 10, false), 0)
      << net.last_error();
  EXPECT_EQ(net.VioType(), VIO_TYPE_NAMEDPIPE);
  ExpectGreeting(net);
  net.net_close();
  host::SetLocalServerSocket(saved);
}

TEST(RealServerTransport, ServerClosingIsALostConnection) {
  const auto& s = test::Server();
  TMysqlNet net;
  ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, s.host, "", s.port, 10, true), 0);
  ASSERT_NE(net.net_safe_read(), packet_error);
  // A login packet the server cannot parse: it answers with an error or
  // closes; reading on after that ends in a lost connection.
  net.my_net_write("\x01", 1);
  net.net_flush();
  uint32_t n = net.net_safe_read();
  if (n == packet_error && net.NetConnected()) n = net.net_safe_read();
  EXPECT_EQ(n, packet_error);
  EXPECT_FALSE(net.NetConnected());
  EXPECT_EQ(net.last_errorno(), 2013u);
}

}  // namespace
}  // namespace rowset
