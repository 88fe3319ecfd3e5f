// Sockets of the operating system, as the wire client's transport uses them:
// stream sockets to a TCP/IP host, and the local server connection that plays
// the part of the server's named pipe (a Unix-domain socket here).
//
// Every call records the last socket error of the calling thread, read with
// SocketLastError(); 0 after a call that succeeded or found the end of the
// stream. The numbers that callers classify are mapped to fixed values:
// would-block 10035, in progress 10036, interrupted 10004, timed out 10060,
// host not found 11001. Other errors keep their errno value.
#ifndef ROWSET_HOST_SOCKETS_H_
#define ROWSET_HOST_SOCKETS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace rowset::host {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

constexpr int kErrWouldBlock = 10035;
constexpr int kErrInProgress = 10036;
constexpr int kErrInterrupted = 10004;
constexpr int kErrTimedOut = 10060;
constexpr int kErrHostNotFound = 11001;
constexpr int kErrTryAgain = 11002;
constexpr int kErrNoRecovery = 11003;
// Local server connection: busy (the server's backlog is full).
constexpr int kErrPipeBusy = 231;

// Socket options the transport sets.
enum class SocketOption { kIpTypeOfServiceEmpty, kTcpNoDelay, kKeepAlive };

// Process start-up and clean-up of the socket library (nothing to do on this
// platform besides ignoring SIGPIPE-free sends, which every send arranges).
bool SocketsStartup();
void SocketsCleanup();

int SocketLastError();
void SetSocketLastError(int error);

// Stream socket of the Internet family; kInvalidSocket on failure.
SocketHandle SocketCreateInet();
// Resolves a dotted address or, failing that, a host name (first IPv4
// address). The address is in network byte order. False on failure.
bool SocketResolveHost(const std::string& host, uint32_t& address);
// Starts a connection; 0, or -1 with the error recorded (10036 or 10035 for
// a non-blocking connect still in progress).
int SocketConnectInet(SocketHandle s, uint32_t address, uint16_t port);
// Waits for a connect in progress to finish: 0 when connected, otherwise the
// connection's error (10060 when `timeout_ms` passed; -1 waits without limit).
int SocketFinishConnect(SocketHandle s, int timeout_ms);
int SocketSetNonBlocking(SocketHandle s, bool non_blocking);
// Bytes sent or received, 0 at the end of the stream (recv), -1 on error.
long SocketSend(SocketHandle s, const void* data, size_t length);
long SocketRecv(SocketHandle s, void* data, size_t length);
// As SocketRecv, but never waits: -1 with kErrWouldBlock when nothing has
// arrived.
long SocketRecvNow(SocketHandle s, void* data, size_t length);
// Waits for readability: 1 ready (data, end of stream or error pending),
// 0 time-out, -1 error. `timeout_ms` -1 waits without limit. Works for any
// descriptor number.
int SocketWaitReadable(SocketHandle s, int timeout_ms);
int SocketSetOption(SocketHandle s, SocketOption option, bool on);
// Bounds each blocking send to `timeout_ms` (0: no bound); 0 or -1.
int SocketSetSendTimeout(SocketHandle s, int timeout_ms);
// Whether TCP_NODELAY is set on `s` (false when it cannot be read).
bool SocketNoDelay(SocketHandle s);
int SocketShutdown(SocketHandle s);
int SocketClose(SocketHandle s);

// The local server connection ("named pipe"). Its path, `\\.\pipe\MySQL`,
// maps to the local server socket, by default Debian's
// /run/mysqld/mysqld.sock; an application may point it elsewhere.
void SetLocalServerSocket(const std::string& path);
std::string LocalServerSocket();
// Opens the local server connection for `pipe_path`, blocking; the handle or
// kInvalidSocket with the error recorded (kErrPipeBusy when the server is
// busy, 2 when there is no such socket).
SocketHandle PipeOpen(const std::string& pipe_path);
// Waits up to `timeout_ms` for a busy local server; false when it cannot.
bool PipeWait(const std::string& pipe_path, int timeout_ms);
// Byte-mode, blocking reads; 0 on success, -1 on failure.
int PipeSetByteMode(SocketHandle h);

}  // namespace rowset::host

#endif  // ROWSET_HOST_SOCKETS_H_
