// The connection pool: see components/MySQLConnectionPool.h.
#include "components/MySQLConnectionPool.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/DB.h"
#include "host/Threads.h"

namespace rowset {

// One pooled connection with what its return needs to restore.
struct TMySQLPooledConnection::Entry {
  MySQLHandle handle = nullptr;
  TMySQLBase* driver = nullptr;
  // The statement that gives a reset session back what it had when it was
  // opened and a reset takes away ("SET NAMES '<charset>' COLLATE
  // '<collation>', SESSION wsrep_sync_wait = <n>"); empty when the reset
  // alone restores it.
  std::string restore;
  std::string database;  // the session's database at open; empty for none
  uint64_t generation = 0;
  std::chrono::steady_clock::time_point idle_since;
};

namespace {

// Runs SQL on Handle and reads and drops its result.
void Run(TMySQLBase* Driver, MySQLHandle Handle, const std::string& SQL) {
  MySQLResultHandle result = Driver->OpenQuery(Handle, SQL);
  if (result == nullptr) return;
  try {
    while (Driver->RetrieveRow(result) != nullptr) {
    }
  } catch (...) {
    Driver->CloseQuery(result);
    throw;
  }
  Driver->CloseQuery(result);
}

// The first row of SQL's result (nullopt for NULL); empty without a row.
std::vector<std::optional<std::string>> FirstRow(TMySQLBase* Driver, MySQLHandle Handle,
                                                 const std::string& SQL) {
  std::vector<std::optional<std::string>> values;
  MySQLResultHandle result = Driver->OpenQuery(Handle, SQL);
  if (result == nullptr) return values;
  try {
    const uint32_t columns = Driver->RetrieveColCount(result);
    bool first = true;
    MySQLLengths lengths = nullptr;
    while (MySQLRow row = Driver->RetrieveRowWithLengths(result, lengths)) {
      if (!first) continue;
      first = false;
      for (uint32_t i = 0; i < columns; ++i) {
        if (row[i] == nullptr)
          values.emplace_back();
        else
          values.emplace_back(std::string(row[i], lengths[i]));
      }
    }
  } catch (...) {
    Driver->CloseQuery(result);
    throw;
  }
  Driver->CloseQuery(result);
  return values;
}

// The session's wsrep_sync_wait; nullopt where the server has none (MySQL).
std::optional<std::string> SyncWait(TMySQLBase* Driver, MySQLHandle Handle) {
  try {
    std::vector<std::optional<std::string>> row =
        FirstRow(Driver, Handle, "SELECT @@SESSION.wsrep_sync_wait");
    return row.empty() ? std::nullopt : row[0];
  } catch (const EMySQLError& e) {
    if (e.ServerErrorCode() == 1193) return std::nullopt;  // unknown system variable
    throw;
  }
}

bool IsDigits(const std::string& Text) {
  return !Text.empty() &&
         std::all_of(Text.begin(), Text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

EMySQLPoolExhausted::EMySQLPoolExhausted(int64_t WaitedMs)
    : EMySQLError(-1, "pool exhausted after " + std::to_string(WaitedMs) + " ms"),
      waited_ms_(WaitedMs) {}

// ---------------------------------------------------------------------------
// TMySQLPooledConnection

TMySQLPooledConnection::TMySQLPooledConnection(TMySQLConnectionPool* Pool,
                                               std::unique_ptr<Entry> Item)
    : pool_(Pool), entry_(std::move(Item)) {}

TMySQLPooledConnection::~TMySQLPooledConnection() { Release(); }

TMySQLPooledConnection::TMySQLPooledConnection(TMySQLPooledConnection&& Other) noexcept
    : pool_(Other.pool_), entry_(std::move(Other.entry_)) {
  Other.pool_ = nullptr;
}

TMySQLPooledConnection& TMySQLPooledConnection::operator=(
    TMySQLPooledConnection&& Other) noexcept {
  if (this != &Other) {
    Release();
    pool_ = Other.pool_;
    entry_ = std::move(Other.entry_);
    Other.pool_ = nullptr;
  }
  return *this;
}

MySQLHandle TMySQLPooledConnection::Handle() const {
  return entry_ ? entry_->handle : nullptr;
}

TMySQLBase* TMySQLPooledConnection::Driver() const {
  return entry_ ? entry_->driver : nullptr;
}

void TMySQLPooledConnection::ExecSQL(const std::string& SQL) {
  if (!entry_) throw EMySQLError(-1, "No pooled connection held");
  Run(entry_->driver, entry_->handle, SQL);
}

void TMySQLPooledConnection::Release() noexcept {
  if (entry_ && pool_) pool_->Return(std::move(entry_), true);
  entry_.reset();
  pool_ = nullptr;
}

void TMySQLPooledConnection::Discard() noexcept {
  if (entry_ && pool_) pool_->Return(std::move(entry_), false);
  entry_.reset();
  pool_ = nullptr;
}

// ---------------------------------------------------------------------------
// TMySQLConnectionPool

TMySQLConnectionPool::TMySQLConnectionPool(TMySQLServer* Server, TComponent* AOwner)
    : TComponent(AOwner), server_(Server) {
  if (server_ == nullptr) throw EMySQLError(-1, "A connection pool needs a connection component");
  server_->RegisterClient(this, [this](TObject* Sender, bool Connecting) {
    OnConnectChange(Sender, Connecting);
  });
}

TMySQLConnectionPool::~TMySQLConnectionPool() {
  try {
    Clear();
  } catch (...) {
    ApplicationHandleException(this);
  }
  try {
    server_->UnRegisterClient(this);
  } catch (...) {
    ApplicationHandleException(this);
  }
}

int32_t TMySQLConnectionPool::MaxSize() const {
  std::lock_guard<std::mutex> lock(lock_);
  return max_size_;
}

void TMySQLConnectionPool::SetMaxSize(int32_t Value) {
  std::lock_guard<std::mutex> lock(lock_);
  max_size_ = std::max<int32_t>(1, Value);
  // A larger size may let waiting borrowers open connections.
  returned_.notify_all();
}

int32_t TMySQLConnectionPool::WaitTimeout() const {
  std::lock_guard<std::mutex> lock(lock_);
  return wait_timeout_;
}

void TMySQLConnectionPool::SetWaitTimeout(int32_t Value) {
  std::lock_guard<std::mutex> lock(lock_);
  wait_timeout_ = std::max<int32_t>(0, Value);
}

int32_t TMySQLConnectionPool::IdleCheckTime() const {
  std::lock_guard<std::mutex> lock(lock_);
  return idle_check_time_;
}

void TMySQLConnectionPool::SetIdleCheckTime(int32_t Value) {
  std::lock_guard<std::mutex> lock(lock_);
  idle_check_time_ = std::max<int32_t>(0, Value);
}

bool TMySQLConnectionPool::ReadOnly() const {
  std::lock_guard<std::mutex> lock(lock_);
  return read_only_;
}

void TMySQLConnectionPool::SetReadOnly(bool Value) {
  std::lock_guard<std::mutex> lock(lock_);
  read_only_ = Value;
}

TMySQLPoolStatistics TMySQLConnectionPool::Statistics() const {
  std::lock_guard<std::mutex> lock(lock_);
  TMySQLPoolStatistics s = counters_;
  s.InUse = in_use_;
  s.Idle = static_cast<int32_t>(idle_.size());
  return s;
}

TMySQLPooledConnection TMySQLConnectionPool::Acquire() {
  if (!server_->GetConnected()) {
    // Connecting the component is the main thread's business: it tells its
    // datasets and may show a login dialog.
    if (!IsMainThread())
      throw EMySQLError(-1, "The connection component is not connected");
    server_->ActivateConnection();
  }
  const Clock::time_point start = Clock::now();
  std::unique_lock<std::mutex> lock(lock_);
  const Clock::time_point deadline = start + std::chrono::milliseconds(wait_timeout_);
  bool waited = false;
  for (;;) {
    // An idle connection: the one returned last.
    while (!idle_.empty()) {
      std::unique_ptr<TMySQLPooledConnection::Entry> item = std::move(idle_.back());
      idle_.pop_back();
      ++in_use_;
      const bool check =
          Clock::now() - item->idle_since >= std::chrono::milliseconds(idle_check_time_);
      if (check) {
        lock.unlock();
        const bool healthy = Healthy(*item);
        lock.lock();
        if (!healthy) {
          --in_use_;
          ++counters_.Dropped;
          returned_.notify_one();
          continue;
        }
      }
      ++counters_.Acquired;
      if (waited) ++counters_.Waits;
      return TMySQLPooledConnection(this, std::move(item));
    }
    // Room for a new one.
    if (in_use_ + opening_ < max_size_) {
      ++opening_;
      lock.unlock();
      std::unique_ptr<TMySQLPooledConnection::Entry> item;
      try {
        item = Open();
      } catch (...) {
        lock.lock();
        --opening_;
        ++counters_.Failed;
        returned_.notify_one();
        throw;
      }
      lock.lock();
      --opening_;
      ++in_use_;
      ++counters_.Created;
      ++counters_.Acquired;
      if (waited) ++counters_.Waits;
      return TMySQLPooledConnection(this, std::move(item));
    }
    // Full: wait for a return (or a larger size) until the deadline.
    waited = true;
    if (returned_.wait_until(lock, deadline) == std::cv_status::timeout &&
        idle_.empty() && in_use_ + opening_ >= max_size_) {
      ++counters_.TimedOut;
      ++counters_.Waits;
      const auto waited_ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      throw EMySQLPoolExhausted(waited_ms);
    }
  }
}

std::unique_ptr<TMySQLPooledConnection::Entry> TMySQLConnectionPool::Open() {
  auto item = std::make_unique<TMySQLPooledConnection::Entry>();
  item->driver = server_->GetDriver();
  bool read_only;
  {
    std::lock_guard<std::mutex> lock(lock_);
    item->generation = generation_;
    read_only = read_only_;
  }
  item->handle = server_->AllocConnection(read_only);
  try {
    // The session as opened, then as a reset leaves it: what differs is
    // what every return sets again.
    const char* const kSettings = "SELECT @@character_set_client, @@collation_connection, DATABASE()";
    const bool causal = server_->CausalReads();
    std::vector<std::optional<std::string>> opened = FirstRow(item->driver, item->handle, kSettings);
    std::optional<std::string> sync_wait;
    if (causal) sync_wait = SyncWait(item->driver, item->handle);
    bool resets = true;
    try {
      item->driver->ResetConnection(item->handle);
    } catch (const EMySQLError&) {
      // A back end that cannot reset: each return fails its reset and
      // closes the connection instead.
      resets = false;
    }
    std::vector<std::optional<std::string>> reset =
        resets ? FirstRow(item->driver, item->handle, kSettings) : opened;
    std::vector<std::string> settings;
    if (opened.size() >= 3 && reset.size() >= 3) {
      if (opened[0] && opened[1] && (opened[0] != reset[0] || opened[1] != reset[1])) {
        settings.push_back("NAMES '" + item->driver->EscapeStr(*opened[0]) + "' COLLATE '" +
                           item->driver->EscapeStr(*opened[1]) + "'");
      }
      if (opened[2]) item->database = *opened[2];
    }
    // Causal reads that the component set on a Galera node.
    if (resets && sync_wait && IsDigits(*sync_wait) &&
        SyncWait(item->driver, item->handle) != sync_wait)
      settings.push_back("SESSION wsrep_sync_wait = " + *sync_wait);
    for (const std::string& setting : settings)
      item->restore += (item->restore.empty() ? "SET " : ", ") + setting;
    if (!item->restore.empty()) Run(item->driver, item->handle, item->restore);
    // From here the driver tells when a borrower may have left another
    // database selected; a return selects the pool's only then.
    item->driver->WatchDatabase(item->handle);
    item->driver->TakeDatabaseMark(item->handle);
  } catch (...) {
    try {
      Close(*item);
    } catch (...) {
    }
    throw;
  }
  return item;
}

bool TMySQLConnectionPool::Healthy(TMySQLPooledConnection::Entry& Item) {
  try {
    if (Item.driver->Ping(Item.handle)) return true;
  } catch (...) {
  }
  try {
    Close(Item);
  } catch (...) {
    // Already gone on the server side; nothing more to free.
  }
  return false;
}

bool TMySQLConnectionPool::Reset(TMySQLPooledConnection::Entry& Item) {
  try {
    Item.driver->ResetConnection(Item.handle);
    if (!Item.restore.empty()) Run(Item.driver, Item.handle, Item.restore);
    if (Item.driver->TakeDatabaseMark(Item.handle)) {
      // A session that started without a database cannot be given none
      // again: it is closed rather than lent with the borrower's.
      if (Item.database.empty()) return false;
      Item.driver->SelectDatabase(Item.handle, Item.database);
      Item.driver->TakeDatabaseMark(Item.handle);
    }
    return true;
  } catch (...) {
    return false;
  }
}

void TMySQLConnectionPool::Close(TMySQLPooledConnection::Entry& Item) {
  // Through the driver, not FreeConnection: giving a pooled connection back
  // is no reason for the component's close-on-children check (which could
  // disconnect it from inside its own disconnect notice).
  server_->ForgetConnection(Item.handle);
}

void TMySQLConnectionPool::Return(std::unique_ptr<TMySQLPooledConnection::Entry> Item,
                                  bool Reusable) noexcept {
  uint64_t generation;
  int32_t max_size;
  {
    std::lock_guard<std::mutex> lock(lock_);
    generation = generation_;
    max_size = max_size_;
  }
  if (Item->generation != generation && server_->DriverKind() != dtDirect) {
    // Lent while the component disconnected: a library back end closed it
    // then, and its address may belong to a newer connection by now.
    Item->handle = nullptr;
  }
  bool keep = Reusable && Item->generation == generation && Reset(*Item);
  if (!keep) {
    try {
      Close(*Item);
    } catch (...) {
    }
  }
  std::lock_guard<std::mutex> lock(lock_);
  --in_use_;
  if (keep && Item->generation == generation_ &&
      in_use_ + opening_ + static_cast<int32_t>(idle_.size()) < max_size) {
    Item->idle_since = Clock::now();
    idle_.push_back(std::move(Item));
  } else {
    if (Reusable && !keep && Item->generation == generation_) ++counters_.Dropped;
    if (Item->generation != generation_ && server_->DriverKind() != dtDirect) Item->handle = nullptr;
    if (Item->handle != nullptr) {
      // Over the size, or the component reconnected while it was lent.
      try {
        Close(*Item);
      } catch (...) {
      }
    }
  }
  returned_.notify_one();
}

void TMySQLConnectionPool::Clear() {
  std::vector<std::unique_ptr<TMySQLPooledConnection::Entry>> closing;
  {
    std::lock_guard<std::mutex> lock(lock_);
    closing.swap(idle_);
  }
  std::exception_ptr first;
  for (auto& item : closing) {
    try {
      Close(*item);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  {
    std::lock_guard<std::mutex> lock(lock_);
    returned_.notify_all();
  }
  if (first) std::rethrow_exception(first);
}

void TMySQLConnectionPool::OnConnectChange(TObject*, bool Connecting) {
  if (Connecting) return;
  {
    std::lock_guard<std::mutex> lock(lock_);
    ++generation_;
  }
  // Before the main connection closes: a library back end unloads with it
  // and would take these handles along.
  Clear();
}

}  // namespace rowset
