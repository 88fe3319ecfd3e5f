#include "components/MySQLServer.h"

#include "components/MySQLScriptNames.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <utility>

#include "design/MySQLLoginDlg.h"
#include "host/Dialogs.h"
#include "host/SysUtils.h"
#include "host/Threads.h"
#include "parser/MySQLParser.h"
#include "util/MySQLStrUtils.h"

namespace rowset {

namespace {

// Client flag value of each capability member, in member order.
constexpr uint32_t kClientFlagValues[] = {1,    2,    4,    8,     16,    32,    64,   128,
                                          256,  1024, 4096, 8192,  16384, 32768, 65536};

const char kEmbeddedWarning[] =
    "You have not specified a \"basedir\" in either the TMySQLServer's [embedded] Options, "
    "nor in the driver's Options! Click Yes if you wish to proceed to enable this server, "
    "and you are sure you have an [embedded] or [server] group in your my.cnf file. Click "
    "Abort if you want to abort this connecting request.  If you don't specify a basedir to "
    "a valid mysql database for the embedded server, your application my become unstable, "
    "in this case your application will be your IDE. See the component helpfile on "
    "Embeddeding mysql server for more information.";

// Releases a driver result on every path.
class ResultGuard {
 public:
  ResultGuard(TMySQLBase* Driver, MySQLResultHandle Result) : driver_(Driver), result_(Result) {}
  ~ResultGuard() {
    if (result_) {
      try {
        driver_->CloseQuery(result_);
      } catch (...) {
        // Freeing a result reads what is left of it; a broken connection
        // surfaces at the next statement.
      }
    }
  }
  ResultGuard(const ResultGuard&) = delete;
  ResultGuard& operator=(const ResultGuard&) = delete;
  MySQLResultHandle get() const { return result_; }

 private:
  TMySQLBase* driver_;
  MySQLResultHandle result_;
};

// The first column of the current row, exactly as sent; Null tells a NULL.
std::string FirstColumn(TMySQLBase* Driver, MySQLResultHandle Result, MySQLRow Row, bool& Null) {
  Null = Row == nullptr || Row[0] == nullptr;
  if (Null) return std::string();
  auto lengths = Driver->RetrieveRowFieldLenghts(Result);
  if (lengths) return std::string(Row[0], lengths[0]);
  return std::string(Row[0]);
}

// Raises the error a connection holds after a row loop: a server error in
// the middle of a result ends the rows early and must not read as their end.
void RaiseIfFailed(TMySQLBase* Driver, MySQLHandle Handle) {
  if (Handle != nullptr && Driver->ErrorNo(Handle) != 0) MySQLError(Driver, Handle, -1, "", -1, -1);
}

// The refusal of a driver entry point that the loaded library does not
// export.
bool IsNotImplemented(const Exception& E) {
  const std::string prefix = kNotImplementedMessage;
  return E.Message().compare(0, prefix.size(), prefix) == 0;
}

// The server's answer to a command it does not know (ER_UNKNOWN_COM_ERROR).
constexpr int32_t kUnknownCommand = 1047;

}  // namespace

uint32_t MySQLClientFlags(TMySQLServerOptions Options) {
  uint32_t flags = 0;
  for (int m = coLongPassword; m <= coMultiQueries; ++m)
    if (Options.Contains(static_cast<TMySQLServerOption>(m))) flags |= kClientFlagValues[m];
  return flags;
}

TMySQLServer::TDatasetFactory& TMySQLServer::DatasetFactory() {
  static TDatasetFactory factory;
  return factory;
}

// ---------------------------------------------------------------------------
// Construction and properties

TMySQLServer::TMySQLServer(TComponent* AOwner)
    : TCustomConnection(AOwner), params_(std::make_unique<TStringList>()) {
  SetLoginPrompt(false);
  driver_ = NewDriver(dtDirect);
}

TMySQLServer::~TMySQLServer() {
  try {
    Close();
  } catch (...) {
    ApplicationHandleException(this);
  }
  try {
    DisconnectClients();
  } catch (...) {
    ApplicationHandleException(this);
  }
  // What could not be released cleanly goes now, while the members the
  // datasets may call back into still exist.
  while (!named_.empty()) {
    std::unique_ptr<NamedDataset> entry = std::move(named_.back());
    named_.pop_back();
    try {
      entry.reset();
    } catch (...) {
      ApplicationHandleException(this);
    }
  }
  while (DataSetCount() > 0) {
    TDataSet* first = DataSets(0);
    try {
      if (TMySQLServerClient* client = ClientOf(first)) client->SetServer(nullptr);
    } catch (...) {
      ApplicationHandleException(this);
    }
    if (DataSetCount() > 0 && DataSets(0) == first) UnRegisterClient(first);
  }
  try {
    DestroyComponents();
  } catch (...) {
  }
  if (connection_ && driver_) {
    try {
      std::lock_guard<std::mutex> lock(driver_lock_);
      CloseMain();
    } catch (...) {
    }
    connection_ = nullptr;
  }
}

std::unique_ptr<TMySQLBase> TMySQLServer::NewDriver(TMySQLDriverType Kind) const {
  std::string options = DriverOptionText(Kind);
  switch (Kind) {
    case dtEmbedded:
      return std::make_unique<TMySQLEmbedded>(options);
    case dtLibrary:
      return std::make_unique<TMySQLLibrary>(options);
    case dtDirect:
    default:
      return std::make_unique<TViVURIzodor>(options);
  }
}

std::string TMySQLServer::DriverOptionText(TMySQLDriverType Kind) const {
  const char* section = Kind == dtEmbedded ? "embedded" : Kind == dtLibrary ? "client" : "direct";
  return ReadIniSection(params_->Text(), section, "");
}

std::string TMySQLServer::ClientVersion() { return driver_ ? driver_->ClientInfo() : ""; }

std::string TMySQLServer::ServerVersion() {
  return driver_ ? driver_->ServerInfo(connection_) : "-1";
}

int32_t TMySQLServer::ClientVer() { return driver_ ? driver_->ClientVer() : 0; }

int32_t TMySQLServer::ServerVer() { return driver_ ? driver_->ServerVer() : 0; }

void TMySQLServer::SetDriverType(TMySQLDriverType Value) {
  if (Value != driver_kind_) {
    if (GetConnected()) {
      SetConnected(false);
    } else {
      SendConnectEvent(false);
      DoDisconnect();
    }
    auto fresh = NewDriver(Value);
    driver_ = std::move(fresh);
    driver_kind_ = Value;
  } else if (Value == dtDirect && driver_) {
    TStringList lines;
    lines.SetText(DriverOptionText(dtDirect));
    driver_->SetOptions(lines);
  }
}

void TMySQLServer::SetDriver(std::unique_ptr<TMySQLBase> Value) {
  if (!Value) MySQLError(nullptr, nullptr, -1, "A connection component needs a driver.", -1, -1);
  if (Value.get() == driver_.get()) {
    Value.release();  // the same object: the component owns it already
    return;
  }
  SetConnected(false);
  driver_ = std::move(Value);
  // DriverKind follows the object, so that choosing a kind later replaces it.
  if (dynamic_cast<TMySQLEmbedded*>(driver_.get()))
    driver_kind_ = dtEmbedded;
  else if (dynamic_cast<TMySQLLibrary*>(driver_.get()))
    driver_kind_ = dtLibrary;
  else
    driver_kind_ = dtDirect;
}

bool TMySQLServer::GetConnected() { return driver_ != nullptr && connection_ != nullptr; }

void TMySQLServer::SetConnected(bool Value) {
  if (Value && !GetConnected() && driver_kind_ == dtEmbedded &&
      ComponentState().Contains(csDesigning) && driver_ &&
      driver_->Options().IndexOfName("basedir") < 0) {
    if (MessageDlg(kEmbeddedWarning, mtWarning, {mbYes, mbAbort}, 0) == mrAbort) return;
  }
  TCustomConnection::SetConnected(Value);
}

void TMySQLServer::SetDatabaseName(const std::string& Value) {
  // The name is kept only once the server has selected it: a refused name
  // would otherwise make every later connect fail.
  if (!ComponentState().Contains(csLoading) && GetConnected()) SelectDatabase(Value, connection_);
  SetParam(database_name_, Value);
}

void TMySQLServer::SetHost(const std::string& Value) {
  if (Value == host_) return;
  SetConnected(false);
  SetParam(host_, Value);
}

void TMySQLServer::SetPort(uint16_t Value) {
  if (Value == port_) return;
  SetConnected(false);
  SetParam(port_, Value);
}

void TMySQLServer::SetUserName(const std::string& Value) {
  if (Value == user_name_) return;
  SetConnected(false);
  SetParam(user_name_, Value);
}

void TMySQLServer::SetPassword(const std::string& Value) {
  if (Value == password_) return;
  SetConnected(false);
  SetParam(password_, Value);
}

void TMySQLServer::SetOptions(TMySQLServerOptions Value) {
  if (Value == options_) return;
  SetConnected(false);
  SetParam(options_, Value);
}

void TMySQLServer::SetCompression(bool Value) {
  if (Value == options_.Contains(coCompress)) return;
  SetConnected(false);
  TMySQLServerOptions options = options_;
  if (Value)
    options.Include(coCompress);
  else
    options.Exclude(coCompress);
  SetParam(options_, options);
}

void TMySQLServer::SetParams(const TStrings& Value) { SetParams(Value.Text()); }

void TMySQLServer::SetParams(const std::string& Text) {
  TStringList fresh;
  fresh.SetText(Text);
  if (fresh.Text() == params_->Text()) return;
  SetConnected(false);
  if (driver_) {
    const char* section = driver_kind_ == dtEmbedded  ? "embedded"
                          : driver_kind_ == dtLibrary ? "client"
                                                      : "direct";
    TStringList lines;
    lines.SetText(ReadIniSection(fresh.Text(), section, ""));
    driver_->SetOptions(lines);
  }
  params_->Assign(&fresh);
}

void TMySQLServer::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TMySQLServer*>(Source);
  if (!other) {
    TCustomConnection::Assign(Source);
    return;
  }
  if (other == this) return;
  SetConnected(false);
  SetLoginPrompt(other->LoginPrompt());
  SetParam(options_, other->options_);
  params_->SetText(other->params_->Text());
  SetDriverType(other->driver_kind_);
  if (driver_kind_ != dtDirect) {
    auto* mine = dynamic_cast<TMySQLLibrary*>(driver_.get());
    auto* theirs = dynamic_cast<TMySQLLibrary*>(other->driver_.get());
    if (mine && theirs) mine->SetClientDLL(theirs->ClientDLL());
  }
  SetHost(other->host_);
  SetPort(other->port_);
  SetUserName(other->user_name_);
  SetPassword(other->password_);
  SetDatabaseName(other->database_name_);
}

void TMySQLServer::Loaded() { TCustomConnection::Loaded(); }

// ---------------------------------------------------------------------------
// Connect and disconnect

void TMySQLServer::DoConnect() {
  if (connection_) DoDisconnect();
  if (OnLogin) OnLogin(this, params_.get());

  const std::string params = params_->Text();
  SetParam(host_, ReadIniString(params, "client", "host", host_));
  std::string port_text = ReadIniString(params, "client", "port", std::to_string(port_));
  SetParam(user_name_, ReadIniString(params, "client", "user", user_name_));
  SetParam(password_, ReadIniString(params, "client", "password", password_));

  // The form starts with the stored password, so OK keeps it; Cancel changes
  // nothing.
  if (LoginPrompt() && !MySQLLoginDialog(host_, port_text, user_name_, password_)) return;

  // A port text that is not a port number leaves Port as it was.
  int32_t port = 0;
  if (TryStrToInt(port_text, port) && port >= 0 && port <= 65535) SetParam(port_, static_cast<uint16_t>(port));

  // With soAutoCreate the connect names no database: it may not exist yet.
  const bool auto_create = options_.Contains(soAutoCreate);
  std::string wanted_database;
  if (auto_create && !database_name_.empty()) {
    wanted_database = database_name_;
    SetDatabaseName("");
  }

  ++connecting_;
  try {
    try {
      connection_ = AllocConnection();
    } catch (...) {
      // A failed connect keeps the database name the user set.
      if (!wanted_database.empty()) SetParam(database_name_, wanted_database);
      throw;
    }
    try {
      if (driver_->ServerVer() < 32100) {
        int32_t version = driver_->ServerVer();
        DoDisconnect();
        MySQLError(driver_.get(), nullptr, -1,
                   "Only compatible with MySQL Server 3.21.xx and higher. Your version: " +
                       std::to_string(version),
                   -1, -1);
      }
      if (auto_create) {
        if (!wanted_database.empty()) SetParam(database_name_, wanted_database);
        CreateDatabase(true);
      }
      if (!options_.Contains(coConnectWithDB) && !database_name_.empty())
        SetDatabaseName(database_name_);
    } catch (...) {
      if (!wanted_database.empty()) SetParam(database_name_, wanted_database);
      if (connection_) {
        std::lock_guard<std::mutex> lock(driver_lock_);
        CloseMain();
        connection_ = nullptr;
      }
      throw;
    }
  } catch (...) {
    --connecting_;
    throw;
  }
  --connecting_;
}

void TMySQLServer::DoDisconnect() {
  exec_transaction_ = false;
  {
    std::lock_guard<std::mutex> lock(hosts_lock_);
    handle_hosts_.clear();
  }
  if (driver_ && connection_) {
    std::lock_guard<std::mutex> lock(driver_lock_);
    CloseMain();
  }
  connection_ = nullptr;
}

// ---------------------------------------------------------------------------
// Connection sharing

namespace {

struct HostEntry {
  std::string host;
  uint16_t port;
};

// The hosts of a list "a,b:3307,[::1]:3306"; a host without a port takes
// Port. Empty entries are dropped.
std::vector<HostEntry> ParseHosts(const std::string& Text, uint16_t Port) {
  std::vector<HostEntry> hosts;
  size_t start = 0;
  while (start <= Text.size()) {
    size_t comma = Text.find(',', start);
    if (comma == std::string::npos) comma = Text.size();
    std::string item = Trim(Text.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    HostEntry entry{item, Port};
    size_t colon = std::string::npos;
    if (item.front() == '[') {
      const size_t close = item.find(']');
      if (close != std::string::npos) {
        entry.host = item.substr(1, close - 1);
        if (close + 1 < item.size() && item[close + 1] == ':') colon = close + 1;
      }
    } else if (item.find(':') == item.rfind(':')) {
      colon = item.find(':');
      if (colon != std::string::npos) entry.host = item.substr(0, colon);
    }
    if (colon != std::string::npos) {
      int32_t port = 0;
      if (!TryStrToInt(item.substr(colon + 1), port) || port <= 0 || port > 65535)
        throw EMySQLError(-1, "Invalid port in host list: " + item);
      entry.port = static_cast<uint16_t>(port);
    }
    hosts.push_back(entry);
  }
  return hosts;
}

std::string HostPort(const HostEntry& Entry) {
  return Entry.host + ":" + std::to_string(Entry.port);
}

// The word of SQL at From (after blanks), lower case; End is set past it.
std::string LeadingWord(const std::string& SQL, size_t From, size_t& End) {
  size_t i = std::min(From, SQL.size());
  while (i < SQL.size() && std::isspace(static_cast<unsigned char>(SQL[i]))) ++i;
  size_t j = i;
  while (j < SQL.size() && std::isalpha(static_cast<unsigned char>(SQL[j]))) ++j;
  End = j;
  return LowerCase(SQL.substr(i, j - i));
}
std::string LeadingWord(const std::string& SQL) {
  size_t end;
  return LeadingWord(SQL, 0, end);
}

bool ConnectionLostCode(int64_t Code) {
  return Code == CR_SERVER_GONE_ERROR || Code == CR_SERVER_LOST || Code == 2055;
}

// The rows of a statement's result, first two columns ("" for NULL).
std::vector<std::pair<std::string, std::string>> Pairs(TMySQLBase* Driver, MySQLHandle Handle,
                                                       const std::string& SQL) {
  std::vector<std::pair<std::string, std::string>> rows;
  ResultGuard result(Driver, Driver->OpenQuery(Handle, SQL));
  if (result.get() == nullptr) return rows;
  const uint32_t columns = Driver->RetrieveColCount(result.get());
  while (MySQLRow row = Driver->RetrieveRow(result.get())) {
    rows.emplace_back(row[0] ? row[0] : "", columns > 1 && row[1] ? row[1] : "");
  }
  return rows;
}

}  // namespace

EMySQLTransactionLost::EMySQLTransactionLost(const std::string& Reason, int32_t ErrorCode)
    : EMySQLError(ErrorCode, "Transaction lost: " + Reason) {
  SetServerError(0, "Transaction lost: " + Reason, "25S03");
}

MySQLHandle TMySQLServer::OpenOn(const std::string& Host, uint16_t Port,
                                 const std::string& User, const std::string& Password,
                                 TMySQLServerOptions Options, const std::string& Database,
                                 bool CheckNode) {
  MySQLHandle handle;
  {
    std::lock_guard<std::mutex> lock(driver_lock_);
    handle = driver_->Open(Host, User, Password, Port,
                           static_cast<int32_t>(MySQLClientFlags(Options)), Database);
  }
  if (!CheckNode) return handle;
  try {
    bool wsrep = false;
    try {
      auto on = Pairs(driver_.get(), handle, "SELECT @@wsrep_on");
      wsrep = !on.empty() && (on[0].first == "1" || UpperCase(on[0].first) == "ON");
    } catch (const EMySQLError& e) {
      // A server without the variable (MySQL) is no Galera node.
      if (ConnectionLostCode(e.ErrorCode())) throw;
    }
    if (wsrep) {
      std::string ready, state;
      for (const auto& row : Pairs(driver_.get(), handle,
                                   "SHOW GLOBAL STATUS WHERE Variable_name IN "
                                   "('wsrep_ready', 'wsrep_local_state')")) {
        if (LowerCase(row.first) == "wsrep_ready") ready = UpperCase(row.second);
        if (LowerCase(row.first) == "wsrep_local_state") state = row.second;
      }
      if (ready != "ON" || state != "4")
        throw EMySQLError(-1, "Galera node " + Host + ":" + std::to_string(Port) +
                                  " is not ready (wsrep_ready " + ready +
                                  ", wsrep_local_state " + state + ")");
      if (causal_reads_) RunOn(handle, "SET SESSION wsrep_sync_wait = 1");
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(driver_lock_);
    driver_->Close(handle);
    throw;
  }
  return handle;
}

MySQLHandle TMySQLServer::AllocConnection(bool ReadOnly) {
  // The main thread may change the parameters meanwhile: open with one
  // consistent copy of them.
  std::string host, user, password, database;
  uint16_t port;
  TMySQLServerOptions options;
  {
    std::lock_guard<std::mutex> lock(params_lock_);
    host = host_;
    user = user_name_;
    password = password_;
    database = database_name_;
    port = port_;
    options = options_;
  }
  if (host.find(',') == std::string::npos)
    return OpenOn(host, port, user, password, options, database, causal_reads_);

  std::vector<HostEntry> hosts = ParseHosts(host, port);
  if (hosts.empty()) throw EMySQLError(-1, "The host list names no host");
  std::vector<HostEntry> order;
  const TMySQLHostMode mode = host_mode_;
  if (mode == hmReplication) {
    if (ReadOnly && hosts.size() > 1) {
      // Replicas in turn, the primary last.
      const size_t replicas = hosts.size() - 1;
      const size_t first = next_host_++ % replicas;
      for (size_t i = 0; i < replicas; ++i) order.push_back(hosts[1 + (first + i) % replicas]);
    }
    order.push_back(hosts[0]);
  } else {
    const size_t first = mode == hmLoadBalance ? next_host_++ % hosts.size() : 0;
    for (size_t i = 0; i < hosts.size(); ++i) order.push_back(hosts[(first + i) % hosts.size()]);
  }
  // Skipped hosts go last: tried only when no other answers.
  std::stable_partition(order.begin(), order.end(),
                        [this](const HostEntry& e) { return !HostDenied(HostPort(e)); });
  std::exception_ptr last;
  for (const HostEntry& entry : order) {
    try {
      MySQLHandle handle =
          OpenOn(entry.host, entry.port, user, password, options, database, true);
      std::lock_guard<std::mutex> lock(hosts_lock_);
      handle_hosts_[handle] = HostPort(entry);
      return handle;
    } catch (const EMySQLError&) {
      DenyHost(HostPort(entry));
      last = std::current_exception();
    }
  }
  std::rethrow_exception(last);
}

void TMySQLServer::SetHostMode(TMySQLHostMode Value) {
  if (Value == host_mode_) return;
  SetConnected(false);
  host_mode_ = Value;
}

void TMySQLServer::SetCausalReads(bool Value) {
  if (Value == causal_reads_) return;
  SetConnected(false);
  causal_reads_ = Value;
}

std::string TMySQLServer::ConnectedHost() const {
  MySQLHandle handle = connection_;
  if (handle == nullptr) return std::string();
  std::string known = HostOf(handle);
  if (!known.empty()) return known;
  std::lock_guard<std::mutex> lock(params_lock_);
  return host_ + ":" + std::to_string(port_);
}

std::string TMySQLServer::HostOf(MySQLHandle Handle) const {
  std::lock_guard<std::mutex> lock(hosts_lock_);
  auto it = handle_hosts_.find(Handle);
  return it == handle_hosts_.end() ? std::string() : it->second;
}

void TMySQLServer::DenyHost(const std::string& HostPort) {
  std::lock_guard<std::mutex> lock(hosts_lock_);
  denied_[HostPort] = std::chrono::steady_clock::now();
}

bool TMySQLServer::HostDenied(const std::string& HostPort) const {
  std::lock_guard<std::mutex> lock(hosts_lock_);
  auto it = denied_.find(HostPort);
  return it != denied_.end() &&
         std::chrono::steady_clock::now() < it->second + std::chrono::milliseconds(deny_time_.load());
}

void TMySQLServer::ForgetConnection(MySQLHandle& Handle) {
  if (Handle == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(hosts_lock_);
    handle_hosts_.erase(Handle);
  }
  if (Handle == connection_) {
    Handle = nullptr;
    return;
  }
  std::lock_guard<std::mutex> lock(driver_lock_);
  driver_->Close(Handle);
  Handle = nullptr;
}

void TMySQLServer::FreeConnection(MySQLHandle& Handle) {
  if (Handle != nullptr) {
    std::lock_guard<std::mutex> lock(hosts_lock_);
    handle_hosts_.erase(Handle);
  }
  {
    std::lock_guard<std::mutex> lock(driver_lock_);
    if (driver_ && connection_ && Handle && Handle != connection_) {
      driver_->Close(Handle);
    }
    Handle = nullptr;
  }
  // Closing the component (and its datasets' close events) stays with the
  // main thread; a worker's dataset is not one of its children anyway.
  if (IsMainThread()) CloseOnChildren();
}

bool TMySQLServer::CheckChildrenAllClosed() {
  // A dataset that is opening holds the connection it is about to use.
  auto open = [](TDataSet* DataSet) { return DataSet->Active() || DataSet->Opening(); };
  for (auto& entry : named_)
    if (entry->dataset && open(entry->dataset.get())) return false;
  for (int i = 0; i < DataSetCount(); ++i)
    if (open(DataSets(i))) return false;
  return true;
}

void TMySQLServer::CloseOnChildren() {
  if (options_.Contains(soCloseOnChildren) && !InsideConnect() && GetConnected() &&
      CheckChildrenAllClosed())
    Close();
}

void TMySQLServer::ActivateConnection() {
  if (!connection_) SetConnected(true);
}

void TMySQLServer::CloseClients() {
  for (size_t i = 0; i < named_.size(); ++i)
    if (named_[i]->dataset) named_[i]->dataset->Close();
  for (int i = 0; i < DataSetCount(); ++i) DataSets(i)->Close();
}

void TMySQLServer::DisconnectClients() {
  while (!named_.empty()) {
    size_t before = named_.size();
    FreeDataset(named_.front()->name);
    if (named_.size() == before) named_.erase(named_.begin());  // cannot happen; never loop
  }
  while (DataSetCount() > 0) {
    TDataSet* first = DataSets(0);
    if (TMySQLServerClient* client = ClientOf(first)) client->SetServer(nullptr);
    // A dataset that did not unregister itself is unregistered here.
    if (DataSetCount() > 0 && DataSets(0) == first) UnRegisterClient(first);
  }
}

TMySQLServerClient* TMySQLServer::ClientOf(TDataSet* DataSet) const {
  return dynamic_cast<TMySQLServerClient*>(DataSet);
}

// ---------------------------------------------------------------------------
// Named datasets

int TMySQLServer::FindDataset(const std::string& Name) const {
  for (size_t i = 0; i < named_.size(); ++i)
    if (SameText(named_[i]->name, Name)) return static_cast<int>(i);
  return -1;
}

TDataSet* TMySQLServer::NewDataset(const std::string& Name, const std::string& TableName) {
  const TDatasetFactory& factory = DatasetFactory();
  if (!factory)
    MySQLError(nullptr, nullptr, -1, "No dataset class is available to create \"" + Name + "\".",
               -1, -1);
  std::unique_ptr<TDataSet> dataset = factory();
  TMySQLServerClient* client = ClientOf(dataset.get());
  if (!client)
    MySQLError(nullptr, nullptr, -1,
               "The dataset class cannot be bound to a connection component.", -1, -1);
  auto entry = std::make_unique<NamedDataset>();
  entry->name = Name;
  entry->dataset = std::move(dataset);
  TDataSet* result = entry->dataset.get();
  client->SetServer(this);
  client->ExcludeRetrieveOptions();
  if (!TableName.empty()) client->SetTableName(TableName);
  named_.push_back(std::move(entry));
  return result;
}

TDataSet* TMySQLServer::Dataset(const std::string& Name, const std::string& TableName, bool Open,
                                const std::string& MasterName, const std::string& MasterFields) {
  int index = FindDataset(Name);
  TDataSet* dataset = index < 0 ? NewDataset(Name, TableName) : Entry(index).dataset.get();
  if (!MasterName.empty()) Link(Name, MasterName, MasterFields);
  if (Open) dataset->Open();
  return dataset;
}

TDataSet* TMySQLServer::DatasetFrom(const std::string& Name, const std::string& SQL, bool Open,
                                    const std::string& MasterName,
                                    const std::string& MasterFields) {
  int index = FindDataset(Name);
  TDataSet* dataset = index < 0 ? NewDataset(Name, "") : Entry(index).dataset.get();
  if (TMySQLServerClient* client = ClientOf(dataset)) {
    TStrings* lines = client->SQL();
    // Compare as the lines would hold it, so that an unchanged text is not
    // set again (which would close the dataset).
    TStringList wanted;
    wanted.SetText(SQL);
    if (!SameText(lines->Text(), wanted.Text())) lines->SetText(SQL);
  }
  if (!MasterName.empty()) Link(Name, MasterName, MasterFields);
  if (Open) dataset->Open();
  return dataset;
}

void TMySQLServer::FreeDataset(const std::string& Name) {
  int index = FindDataset(Name);
  if (index < 0) return;
  TDataSet* dataset = Entry(index).dataset.get();
  // A close that fails (pending updates that cannot be applied) leaves the
  // dataset in place, so that nothing is lost.
  dataset->Close();
  UnLink(Name);
  if (TMySQLServerClient* client = ClientOf(dataset)) client->SetServer(nullptr);
  // Details that follow this dataset lose their master before it goes.
  for (auto& other : named_) {
    if (other->link_source && other->link_source->DataSet() == dataset) {
      if (TMySQLServerClient* client = ClientOf(other->dataset.get())) {
        client->SetMasterSource(nullptr);
        client->SetMasterFields("");
      }
      other->link_source.reset();
    }
  }
  index = FindDataset(Name);  // the calls above may have changed the list
  if (index >= 0 && Entry(index).dataset.get() == dataset) {
    named_.erase(named_.begin() + index);
  } else {
    for (size_t i = 0; i < named_.size(); ++i)
      if (named_[i]->dataset.get() == dataset) {
        named_.erase(named_.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
  }
}

void TMySQLServer::Link(const std::string& DetailName, const std::string& MasterName,
                        const std::string& MasterFields) {
  int master = FindDataset(MasterName);
  if (master < 0)
    MySQLError(driver_.get(), connection_, 1,
               "Master dataset \"" + MasterName + "\" not found.", -1, -1);
  int detail = FindDataset(DetailName);
  if (detail < 0)
    MySQLError(driver_.get(), connection_, 1,
               "Detail dataset \"" + DetailName + "\" not found.", -1, -1);
  TDataSet* master_set = Entry(master).dataset.get();
  NamedDataset& entry = Entry(detail);
  TMySQLServerClient* client = ClientOf(entry.dataset.get());
  if (!client) return;
  TDataSource* current = client->MasterSource();
  if (current && current->DataSet() == master_set &&
      SameText(client->MasterFields(), MasterFields))
    return;
  UnLink(DetailName);
  auto source = std::make_unique<TDataSource>(nullptr);
  source->SetDataSet(master_set);
  client->SetMasterFields(MasterFields);
  client->SetMasterSource(source.get());
  entry.link_source = std::move(source);
}

void TMySQLServer::UnLink(const std::string& DetailName) {
  int detail = FindDataset(DetailName);
  if (detail < 0)
    MySQLError(driver_.get(), connection_, 1,
               "Detail dataset \"" + DetailName + "\" not found.", -1, -1);
  NamedDataset& entry = Entry(detail);
  TMySQLServerClient* client = ClientOf(entry.dataset.get());
  if (!client) return;
  // Only the data source that Link made is freed; one the application set
  // belongs to the application and is only let go.
  client->SetMasterSource(nullptr);
  client->SetMasterFields("");
  if (entry.link_source) {
    entry.link_source->SetDataSet(nullptr);
    entry.link_source.reset();
  }
}

// ---------------------------------------------------------------------------
// Services

bool TMySQLServer::ExecSQL(const std::string& SQL) {
  ActivateConnection();
  if (!connection_) return false;
  std::string text = SQL;
  if (driver_->ServerVer() < 32200 && !text.empty() && text.back() == ';') text.pop_back();
  try {
    ExecOnce(text);
  } catch (const EMySQLError& e) {
    if (!ConnectionLostCode(e.ErrorCode())) throw;
    const bool in_transaction = exec_transaction_;
    exec_transaction_ = false;
    const bool list = Host().find(',') != std::string::npos;
    if (list) {
      // Skip the broken host and move to the next one.
      const std::string lost = ConnectedHost();
      if (!lost.empty()) DenyHost(lost);
      try {
        SetConnected(false);
        SetConnected(true);
      } catch (...) {
        if (in_transaction) throw EMySQLTransactionLost(e.what(), e.ErrorCode());
        throw;
      }
    }
    // The session and with it the transaction's work are gone: never
    // replayed behind the application's back.
    if (in_transaction) throw EMySQLTransactionLost(e.what(), e.ErrorCode());
    const std::string word = LeadingWord(text);
    if (!list || (word != "select" && word != "show")) throw;
    ExecOnce(text);
  }
  CloseOnChildren();
  return true;
}

void TMySQLServer::ExecOnce(const std::string& Text) {
  RunOn(connection_, Text);
  // What the statement did to the session's transaction.
  size_t end;
  const std::string word = LeadingWord(Text, 0, end);
  const std::string next = LeadingWord(Text, end, end);
  if (word == "begin" || (word == "start" && next == "transaction")) {
    exec_transaction_ = true;
  } else if (word == "commit" || (word == "rollback" && next != "to")) {
    exec_transaction_ = false;
  }
}

void TMySQLServer::RunOn(MySQLHandle Handle, const std::string& SQL) {
  ResultGuard result(driver_.get(), driver_->OpenQuery(Handle, SQL));
  if (result.get() == nullptr) return;
  while (driver_->RetrieveRow(result.get()) != nullptr) {
  }
  RaiseIfFailed(driver_.get(), Handle);
}

bool TMySQLServer::ExecSQLBatch(const TStrings& Lines) {
  const std::string text = Lines.Text();
  if (SplitScript(text).empty()) return false;
  // One service: every statement runs on the same connection (a "use", a
  // temporary table, a lock or a transaction holds for the statements after
  // it); close-on-children is looked at once, after the last one.
  ActivateConnection();
  if (!connection_) return false;
  // Strings end where the session says: under NO_BACKSLASH_ESCAPES a
  // backslash before a quote does not keep the string open.
  const std::vector<std::string> script = SplitScript(text, nullptr, EscapeStr("\\") != "\\");
  try {
    for (const std::string& statement : script) {
      std::string text = statement;
      if (driver_->ServerVer() < 32200 && !text.empty() && text.back() == ';') text.pop_back();
      RunOn(connection_, text);
    }
  } catch (...) {
    try {
      CloseOnChildren();
    } catch (...) {
      // The statement's error is the one to report.
    }
    throw;
  }
  CloseOnChildren();
  return true;
}

bool TMySQLServer::Ping() {
  if (!GetConnected()) return false;
  return driver_->Ping(connection_);
}

std::string TMySQLServer::ConnectionDatabase(MySQLHandle Handle) {
  MySQLHandle handle = Choose(Handle);
  if (!handle || !driver_) return std::string();
  ResultGuard result(driver_.get(), driver_->OpenQuery(handle, "select database() as FDB;"));
  std::string found;
  if (result.get()) {
    while (MySQLRow row = driver_->RetrieveRow(result.get())) {
      bool null = false;
      std::string value = FirstColumn(driver_.get(), result.get(), row, null);
      if (found.empty() && !null) found = value;
    }
    RaiseIfFailed(driver_.get(), handle);
  }
  return found;
}

void TMySQLServer::ListInto(const std::string& SQL, MySQLHandle Handle, TStrings* List) {
  // Read completely before the caller's list changes: a failure leaves it
  // as it was.
  TStringList found;
  bool had_result = false;
  if (!SQL.empty()) {
    ResultGuard result(driver_.get(), driver_->OpenQuery(Handle, SQL));
    had_result = result.get() != nullptr;
    if (had_result) {
      while (MySQLRow row = driver_->RetrieveRow(result.get())) {
        bool null = false;
        found.Add(TrimRight(FirstColumn(driver_.get(), result.get(), row, null)));
      }
      // A short list is not a list: the error is raised.
      RaiseIfFailed(driver_.get(), Handle);
    }
  }
  List->BeginUpdate();
  try {
    List->Clear();
    List->AddStrings(found);
  } catch (...) {
    List->EndUpdate();
    throw;
  }
  List->EndUpdate();
  if (had_result) CloseOnChildren();
}

void TMySQLServer::GetDatabaseNames(TStrings* List) {
  ActivateConnection();
  if (!GetConnected() || !List) return;
  ListInto("show databases", connection_, List);
}

void TMySQLServer::GetTableNames(const std::string& Database, TStrings* List, MySQLHandle Handle) {
  ActivateConnection();
  if (!GetConnected() || !List) return;
  std::string sql =
      Database.empty() ? std::string("show tables") : "show tables from " + FormatIdentifier(Database);
  ListInto(sql, Choose(Handle), List);
}

void TMySQLServer::GetFieldNames(const std::string& Database, const std::string& Table,
                                 TStrings* List) {
  ActivateConnection();
  if (!GetConnected() || !List) return;
  std::string sql;
  if (!Database.empty() && !Table.empty())
    sql = "show columns from " + FormatIdentifier(Database) + "." + FormatIdentifier(Table);
  ListInto(sql, connection_, List);
}

int32_t TMySQLServer::QueryInteger(const std::string& SQL) {
  int32_t answer = -1;
  ResultGuard result(driver_.get(), driver_->OpenQuery(connection_, SQL));
  if (result.get()) {
    while (MySQLRow row = driver_->RetrieveRow(result.get())) {
      bool null = false;
      std::string value = FirstColumn(driver_.get(), result.get(), row, null);
      int32_t number = 0;
      answer = (!null && TryStrToInt(value, number)) ? number : -1;
    }
    RaiseIfFailed(driver_.get(), connection_);
  }
  return answer;
}

int32_t TMySQLServer::GetLock(const std::string& LockName, int32_t TimeOut) {
  ActivateConnection();
  if (!GetConnected()) return -1;
  return QueryInteger("select get_lock('" + driver_->EscapeStr(LockName) + "'," +
                      std::to_string(TimeOut) + ");");
}

int32_t TMySQLServer::ReleaseLock(const std::string& LockName) {
  ActivateConnection();
  if (!GetConnected()) return -1;
  return QueryInteger("select release_lock('" + driver_->EscapeStr(LockName) + "');");
}

bool TMySQLServer::SelectDatabase(const std::string& Name, MySQLHandle Handle) {
  if (Name.empty()) return true;
  if (!Handle || Handle == connection_) ActivateConnection();
  MySQLHandle handle = Choose(Handle);
  if (!handle) return false;
  return driver_->SelectDatabase(handle, Name);
}

void TMySQLServer::CreateDatabase(const std::string& Name, MySQLHandle Handle) {
  DatabaseCommand(true, Name, Handle);
}

void TMySQLServer::DropDatabase(const std::string& Name, MySQLHandle Handle) {
  DatabaseCommand(false, Name, Handle);
}

void TMySQLServer::DatabaseCommand(bool Create, const std::string& Name, MySQLHandle Handle) {
  ActivateConnection();
  MySQLHandle handle = Choose(Handle);
  if (handle) {
    bool by_statement = false;
    try {
      if (Create)
        driver_->CreateDatabase(handle, Name);
      else
        driver_->DropDatabase(handle, Name);
    } catch (const EMySQLError& e) {
      // Servers from MySQL 8 and MariaDB 10 answer the protocol's create and
      // drop commands with "Unknown command" and do nothing.
      if (e.ErrorCode() != kUnknownCommand) throw;
      by_statement = true;
    } catch (const Exception& e) {
      // The client and embedded libraries have no such call; their stub
      // refuses before anything is sent.
      if (!IsNotImplemented(e)) throw;
      by_statement = true;
    }
    if (by_statement)
      RunOn(handle, (Create ? "create database if not exists " : "drop database ") +
                        FormatIdentifier(Name));
  }
  CloseOnChildren();
}

std::string TMySQLServer::CreateDatabase(bool Execute) {
  TStringList script;
  if (!database_name_.empty()) {
    std::string name = ScriptIdentifier(driver_.get(), database_name_, true);
    if (options_.Contains(soDropIfExists)) script.Add("drop database if exists " + name + ";");
    script.Add("create database if not exists " + name + ";");
    script.Add("use " + name + ";");
  }
  auto add_table_script = [&](TDataSet* dataset) {
    TMySQLServerClient* client = ClientOf(dataset);
    if (client && client->AutoCreatesTable()) {
      TStringList lines;
      lines.SetText(client->CreateTable(false));
      script.AddStrings(lines);
    }
  };
  for (size_t i = 0; i < named_.size(); ++i) add_table_script(named_[i]->dataset.get());
  for (int i = 0; i < DataSetCount(); ++i) add_table_script(DataSets(i));
  if (!database_name_.empty()) script.Add("use " + ScriptIdentifier(driver_.get(), database_name_, true) + ";");
  if (Execute) ExecSQLBatch(script);
  return script.Text();
}

std::string TMySQLServer::EscapeStr(const std::string& S) {
  return driver_ ? driver_->EscapeStr(S) : S;
}

std::string TMySQLServer::FormatIdentifier(const std::string& S) {
  return driver_ ? driver_->FormatIdentifier(S) : S;
}

}  // namespace rowset
