// TMySQLConnectionPool: a bounded set of open connections of one connection
// component (TMySQLServer), lent to threads and handed back, so that a short
// piece of work does not pay for a connect and a disconnect each time.
//
// Flow: create the pool over a component (connected, or connected by the
// first Acquire on the main thread); Acquire() returns a
// TMySQLPooledConnection, a move-only handle on one connection; run
// statements on its Handle() through the component's driver; let the handle
// go (or Release() it): the connection is reset and goes back to the pool.
//
// Lending. An idle connection is lent first (the one used last, so that the
// others may age out); without one, a new connection is opened while the
// pool holds fewer than MaxSize; otherwise Acquire waits up to WaitTimeout
// ms for one to come back and then raises EMySQLPoolExhausted ("pool
// exhausted after N ms"). A connection that was idle for IdleCheckTime ms
// or more is pinged before it is lent; one that does not answer is closed
// and replaced, so a connection the server ended (wait_timeout, KILL, a
// restart) never reaches a borrower.
//
// Return. A connection comes back reset (TMySQLBase::ResetConnection:
// session and user variables, temporary tables, locks, an open transaction
// rolled back) with the character set and collation it had when it was
// opened set again and the component's database selected again when the
// borrower may have chosen another one (the driver watches the connection:
// TMySQLBase::WatchDatabase); a connection opened without a database whose
// borrower may have chosen one is closed instead, as is one whose reset
// fails or that the borrower Discard()s, and its place becomes free.
//
// Threads: Acquire, Statistics, Clear and the setters may be called from any
// thread at once (one mutex guards the pool's state; connects, pings and
// resets run outside it). A borrowed connection belongs to one thread at a
// time, as every connection handle does. Worker threads of the
// worker-thread API (components/MySQLThreads.h) borrow the same way.
//
// REQUIRES: the component outlives the pool; every borrowed connection is
// given back before the pool is destroyed. The pool connects the component
// only on the main thread (a worker never connects it): Acquire on another
// thread raises EMySQLError while the component is disconnected. When the
// component disconnects, the pool closes its idle connections first (before
// the main connection goes, which unloads a library back end); connections
// lent at that time are closed when they come back.
//
// The destructor never throws; failures while it closes connections go to
// the application's exception handler. Call Clear() first to see them.
#ifndef ROWSET_COMPONENTS_MYSQLCONNECTIONPOOL_H_
#define ROWSET_COMPONENTS_MYSQLCONNECTIONPOOL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/MySQLServer.h"
#include "host/Classes.h"

namespace rowset {

// Raised by Acquire when no connection came free within WaitTimeout ms. The
// error number is -1; the message is "pool exhausted after N ms".
class EMySQLPoolExhausted : public EMySQLError {
 public:
  // The time waited, in milliseconds.
  explicit EMySQLPoolExhausted(int64_t WaitedMs);
  // How long Acquire waited before it gave up, in milliseconds.
  int64_t WaitedMs() const { return waited_ms_; }

 private:
  int64_t waited_ms_;
};

// A snapshot of the pool's counters (TMySQLConnectionPool::Statistics).
struct TMySQLPoolStatistics {
  int32_t InUse = 0;     // connections lent now
  int32_t Idle = 0;      // open connections waiting to be lent
  uint64_t Acquired = 0; // Acquire calls that returned a connection
  uint64_t Waits = 0;    // Acquire calls that had to wait for a connection
  uint64_t TimedOut = 0; // Acquire calls that ended in EMySQLPoolExhausted
  uint64_t Created = 0;  // connections opened
  uint64_t Failed = 0;   // connects that failed
  uint64_t Dropped = 0;  // connections closed because they failed a ping or a reset
};

class TMySQLConnectionPool;

// One borrowed connection: valid from Acquire until Release, Discard or the
// end of the object, which gives it back. Move-only. The handle and driver
// it hands out stay valid while the object holds the connection.
class TMySQLPooledConnection {
 public:
  // Holds nothing.
  TMySQLPooledConnection() = default;
  // Gives the connection back (Release); never throws.
  ~TMySQLPooledConnection();
  // Takes Other's connection; Other holds nothing afterwards.
  TMySQLPooledConnection(TMySQLPooledConnection&& Other) noexcept;
  // Gives back the connection held (Release), then takes Other's.
  TMySQLPooledConnection& operator=(TMySQLPooledConnection&& Other) noexcept;
  // Not copyable: one borrower per connection.
  TMySQLPooledConnection(const TMySQLPooledConnection&) = delete;
  // Not copyable.
  TMySQLPooledConnection& operator=(const TMySQLPooledConnection&) = delete;

  // Whether it holds a connection.
  explicit operator bool() const { return entry_ != nullptr; }
  // The connection handle; nullptr when it holds none.
  MySQLHandle Handle() const;
  // The driver to use the handle with (the component's).
  TMySQLBase* Driver() const;
  // Runs one statement on the connection and reads and drops any result;
  // raises the server's error. REQUIRES: it holds a connection.
  void ExecSQL(const std::string& SQL);
  // Gives the connection back now: it is reset and lent again, or closed
  // when the reset fails. Holds nothing afterwards. Never throws.
  void Release() noexcept;
  // Closes the connection instead of giving it back (after a failure that
  // may have left it in an unknown state); its place in the pool becomes
  // free. Never throws.
  void Discard() noexcept;

 private:
  friend class TMySQLConnectionPool;
  struct Entry;
  TMySQLPooledConnection(TMySQLConnectionPool* Pool, std::unique_ptr<Entry> Item);

  TMySQLConnectionPool* pool_ = nullptr;
  std::unique_ptr<Entry> entry_;
};

// The pool, described at the top of this header.
class TMySQLConnectionPool : public TComponent {
 public:
  // A pool over Server (registered with it to hear of disconnects), empty:
  // connections are opened as they are asked for. Defaults: MaxSize 10,
  // WaitTimeout 5000 ms, IdleCheckTime 10000 ms.
  // REQUIRES: Server is not nullptr and outlives the pool.
  explicit TMySQLConnectionPool(TMySQLServer* Server, TComponent* AOwner = nullptr);
  // Closes the idle connections and unregisters; never throws (see the top
  // of this header).
  ~TMySQLConnectionPool() override;

  // The component whose connections the pool lends.
  TMySQLServer* Server() const { return server_; }

  // The most connections open at once, lent and idle together (at least 1).
  int32_t MaxSize() const;
  // Sets MaxSize; values below 1 count as 1. Connections above a smaller
  // size are closed as they come back idle.
  void SetMaxSize(int32_t Value);
  // How long Acquire waits for a connection to come free, in milliseconds.
  int32_t WaitTimeout() const;
  // Sets WaitTimeout; negative values count as 0 (no wait).
  void SetWaitTimeout(int32_t Value);
  // Idle time in milliseconds after which a connection is pinged before it
  // is lent; 0 pings every time.
  int32_t IdleCheckTime() const;
  // Sets IdleCheckTime; negative values count as 0.
  void SetIdleCheckTime(int32_t Value);

  // Whether new connections are opened for reading only: under the
  // component's hmReplication they go to a replica (false).
  bool ReadOnly() const;
  // Sets ReadOnly for connections opened from now on.
  void SetReadOnly(bool Value);

  // Lends a connection (see the top of this header). Raises
  // EMySQLPoolExhausted after WaitTimeout ms without a free connection, the
  // connect error when a new connection cannot be opened, and EMySQLError
  // when the component is disconnected and the caller is not the main
  // thread.
  TMySQLPooledConnection Acquire();
  // The counters now.
  TMySQLPoolStatistics Statistics() const;
  // Closes every idle connection (lent ones are not touched). Raises the
  // first failure after closing the rest.
  void Clear();

 private:
  friend class TMySQLPooledConnection;
  using Clock = std::chrono::steady_clock;

  // Gives an entry back: reset and pooled, or closed.
  void Return(std::unique_ptr<TMySQLPooledConnection::Entry> Item, bool Reusable) noexcept;
  // Opens a connection and notes the session's character set.
  std::unique_ptr<TMySQLPooledConnection::Entry> Open();
  // Whether an idle entry still answers (pinged when it was idle long).
  bool Healthy(TMySQLPooledConnection::Entry& Item);
  // Resets a returned entry's session; false when that failed.
  bool Reset(TMySQLPooledConnection::Entry& Item);
  // Closes the entry's connection through the driver; raises its failure.
  void Close(TMySQLPooledConnection::Entry& Item);
  // Closes the idle entries (main thread, before a disconnect).
  void OnConnectChange(TObject* Sender, bool Connecting);

  TMySQLServer* server_;
  mutable std::mutex lock_;
  std::condition_variable returned_;
  // Idle entries, the one returned last at the back.
  std::vector<std::unique_ptr<TMySQLPooledConnection::Entry>> idle_;
  int32_t in_use_ = 0;    // lent
  int32_t opening_ = 0;   // connects under way (they hold a place)
  int32_t max_size_ = 10;
  int32_t wait_timeout_ = 5000;
  int32_t idle_check_time_ = 10000;
  bool read_only_ = false;
  // Raised each time the component disconnects: entries of an older
  // generation are closed when they come back, never lent again.
  uint64_t generation_ = 0;
  TMySQLPoolStatistics counters_;
};

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLCONNECTIONPOOL_H_
