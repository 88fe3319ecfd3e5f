// TMySQLServer: the connection component. One per database server: it holds
// the connection parameters, owns the driver of the chosen kind and the main
// connection opened through it, hands out shared and private connection
// handles to datasets, keeps datasets by name, and offers server-level
// services (statements, scripts, lists, named locks, databases).
//
// Connecting: SetConnected(true) (or Connect/Open) runs DoConnect: OnLogin,
// the "client" section of Params, the login dialog when LoginPrompt is set
// (it starts with the stored password, so OK on an untouched field keeps it),
// then AllocConnection for the main handle, the version check, the optional
// creation of the database (soAutoCreate) and its selection. Every parameter
// setter disconnects first when the value changes; registered datasets are
// told before the main connection closes and close themselves.
//
// Errors surface as EMySQLError (drivers/MySQLDrivers.h). The destructor never
// throws: a failure while it closes the connection or frees datasets goes to
// the application's exception handler. Close (or Disconnect) explicitly
// before destroying the component to see such errors.
#ifndef ROWSET_COMPONENTS_MYSQLSERVER_H_
#define ROWSET_COMPONENTS_MYSQLSERVER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/MySQLDrivers.h"
#include "host/Classes.h"
#include "host/DB.h"
#include "host/DBConnection.h"
#include "host/Set.h"

namespace rowset {

class TMySQLServer;

// The back end the component's driver uses.
enum TMySQLDriverType {
  dtDirect,    // the built-in client (TViVURIzodor)
  dtEmbedded,  // the embedded server library (TMySQLEmbedded)
  dtLibrary    // the external client library (TMySQLLibrary)
};

// How a host list (Host "a,b:3307,c") is used.
enum TMySQLHostMode {
  hmSequential,   // the first host that answers, in list order
  hmLoadBalance,  // each connect starts at the next host of the list
  hmReplication   // the first host is the primary (writes), the others replicas (reads)
};

// Raised when the connection broke while a transaction was open on it: the
// transaction's work is gone with the session and nothing of it is sent
// again; the application decides whether to run it anew. SqlState "25S03".
class EMySQLTransactionLost : public EMySQLError {
 public:
  // Message: "Transaction lost: " followed by the connection error's text;
  // ErrorCode that of the connection error (2013, 2006, ...).
  explicit EMySQLTransactionLost(const std::string& Reason, int32_t ErrorCode = -1);
};

// Connection options. The first 15 are client capability flags sent at
// connect (see MySQLClientFlags for the values sent); the last three are
// behaviours of the component. Stored as a word, bit n = member n, so the
// default [coInteractive] is the word 512.
enum TMySQLServerOption {
  coLongPassword,
  coFoundRows,
  coLongFlag,
  coConnectWithDB,  // without it the database is also selected after connecting
  coNoSchema,
  coCompress,       // the Compression property
  coODBC,
  coLocalFiles,
  coIgnoreSpace,
  coInteractive,    // sends 1024
  coIgnoreSigpipe,
  coTransactions,
  coProtocol41,
  coSecureConnection,
  coMultiQueries,
  soAutoCreate,       // create DatabaseName when connecting
  soDropIfExists,     // drop the database before creating it
  soCloseOnChildren   // disconnect when the last dataset has closed
};
// The component's options, stored as a word (bit n = member n).
using TMySQLServerOptions = Set<TMySQLServerOption>;

// The client flag word for the capability members of Options: 1, 2, 4, ...,
// 256 for coLongPassword .. coIgnoreSpace, then 1024, 4096, 8192, 16384,
// 32768 and 65536 for coInteractive .. coMultiQueries (512 and 2048 are never
// sent). The behaviour members add nothing.
uint32_t MySQLClientFlags(TMySQLServerOptions Options);

// OnLogin: called at each connect with the component and its Params; the
// handler may edit the parameter lines (section "client") before they are read.
using TMySQLServerLoginEvent = std::function<void(TMySQLServer* Server, TStrings* LoginParams)>;

// What the connection component needs of the datasets bound to it. The
// library's dataset class implements it; the component reaches it on its
// registered clients and on its named datasets through dynamic_cast from
// TDataSet. A registered dataset that does not implement it is only closed
// and unregistered, and contributes no table script.
//
// The rest of the contract: a dataset registers with RegisterClient and an
// event that closes it when the connection goes down; it connects the
// component (ActivateConnection) before taking a handle; it shares
// Connection() or takes one of its own from AllocConnection, and hands that
// back through FreeConnection when it closes, once it is no longer Active
// (so that soCloseOnChildren sees every dataset closed).
class TMySQLServerClient {
 public:
  // Binds the dataset to a connection component, nullptr detaching it: the
  // dataset closes, unregisters from the old component and registers with
  // the new one.
  virtual void SetServer(TMySQLServer* Value) = 0;
  // True when the dataset creates its table before opening (doAutoCreate).
  virtual bool AutoCreatesTable() const = 0;
  // The table creation script of the dataset, run too when Execute is set.
  virtual std::string CreateTable(bool Execute) = 0;

  // Used on the datasets the component creates by name.
  // Drops the options that make the dataset ask the server for column values
  // and index definitions after reading (doRetrieveFieldValues,
  // doRetrieveIndexDefs).
  virtual void ExcludeRetrieveOptions() = 0;
  // The table the dataset edits (and creates).
  virtual void SetTableName(const std::string& Value) = 0;
  // The dataset's SQL text; owned by the dataset.
  virtual TStrings* SQL() = 0;
  // The detail's link fields ("master=detail;..."), as Link sets them.
  virtual std::string MasterFields() const = 0;
  // Sets MasterFields.
  virtual void SetMasterFields(const std::string& Value) = 0;
  // The data source of the master dataset; nullptr without one.
  virtual TDataSource* MasterSource() const = 0;
  // Sets MasterSource.
  virtual void SetMasterSource(TDataSource* Value) = 0;

 protected:
  ~TMySQLServerClient() = default;
};

// The connection component: one per server, described at the top of this
// header. Set Host, Port, UserName, Password and DatabaseName (or DriverType
// and Params), then Connect; datasets bound to it through SetServer share
// its connection.
class TMySQLServer : public TCustomConnection {
 public:
  // Creates the datasets that the component keeps by name (NewDataset).
  // Returns a TDataSet that also implements TMySQLServerClient.
  using TDatasetFactory = std::function<std::unique_ptr<TDataSet>()>;

  // Defaults: DatabaseName empty, LoginPrompt false, Options [coInteractive],
  // Host "localhost", Port 3306, UserName "root", Password empty, Params
  // empty, an unloaded direct driver.
  explicit TMySQLServer(TComponent* AOwner = nullptr);
  // Closes the connection, frees the named datasets, detaches every
  // registered dataset and frees the driver. Never throws (see the top of
  // this header).
  ~TMySQLServer() override;

  // ----- Properties
  std::string ClientVersion();  // the driver's ClientInfo text
  std::string ServerVersion();  // ServerInfo of the main connection; "-1" when disconnected
  int32_t ClientVer();          // the driver's version numbers (major*10000+minor*100+patch)
  int32_t ServerVer();           // of the main connection's server

  // The kind of the driver the component holds.
  TMySQLDriverType DriverKind() const { return driver_kind_; }
  // Disconnects, then replaces the driver by one of the new kind, configured
  // with the option text of its Params section ("direct", "embedded",
  // "client"). The same kind again refreshes a direct driver's options.
  void SetDriverType(TMySQLDriverType Value);
  // The driver object (owned by the component, never nullptr).
  TMySQLBase* DriverProperties() const { return driver_.get(); }
  // The same driver object.
  TMySQLBase* GetDriver() const { return driver_.get(); }
  // Disconnects and takes Value as the driver (DriverKind then names its
  // kind); nullptr is refused with EMySQLError (the component always has a
  // driver).
  void SetDriver(std::unique_ptr<TMySQLBase> Value);

  // Whether the main connection is open.
  bool GetConnected() override;
  // Connects (DoConnect) or disconnects (DoDisconnect); raises when the
  // connect fails.
  void SetConnected(bool Value) override;
  // SetConnected(true).
  void Connect() { SetConnected(true); }
  // SetConnected(false).
  void Disconnect() { SetConnected(false); }

  // The database selected at connect and by SetDatabaseName.
  const std::string& DatabaseName() const { return database_name_; }
  // When connected (and not loading) selects the name on the main
  // connection, also when it did not change, and stores it only once the
  // selection succeeded: a refused name raises and the old one stays.
  void SetDatabaseName(const std::string& Value);
  // The server's host name or address, for the next connect. A list of
  // hosts separated by commas, each optionally with its own port
  // ("db1,db2:3307,10.0.0.3"), is used as HostMode says: a host whose
  // connect fails (or a Galera node that is not ready, see below) is
  // skipped by later connects for DenyTime ms, the next one is tried; when
  // every host is skipped they are all tried again. With more than one host
  // each new connection to a server that has wsrep on is checked: a node
  // whose wsrep_ready is not ON or whose wsrep_local_state is not 4
  // (Synced) is not used.
  const std::string& Host() const { return host_; }
  // Sets Host; a change disconnects first.
  void SetHost(const std::string& Value);
  // The server's TCP port (3306), for the next connect.
  uint16_t Port() const { return port_; }
  // Sets Port; a change disconnects first.
  void SetPort(uint16_t Value);
  // How a host list is used (hmSequential).
  TMySQLHostMode HostMode() const { return host_mode_.load(); }
  // Sets HostMode; a change disconnects first.
  void SetHostMode(TMySQLHostMode Value);
  // Milliseconds a failed host is skipped (30000), counted from its failure
  // (a change applies to hosts that failed before it too).
  int32_t DenyTime() const { return deny_time_.load(); }
  // Sets DenyTime (negative counts as 0: never skipped).
  void SetDenyTime(int32_t Value) { deny_time_ = Value < 0 ? 0 : Value; }
  // Causal reads on Galera: each new connection to a wsrep node sets
  // wsrep_sync_wait = 1, so a read sees every write committed anywhere in
  // the cluster before it (false).
  bool CausalReads() const { return causal_reads_.load(); }
  // Sets CausalReads; a change disconnects first.
  void SetCausalReads(bool Value);
  // How often a dataset's ApplyUpdates runs its transaction again after a
  // retryable failure (EMySQLError::Retryable: a deadlock or certification
  // failure, a Galera node not ready); 0, the default, never.
  int32_t TransactionRetries() const { return transaction_retries_.load(); }
  // Sets TransactionRetries (negative counts as 0).
  void SetTransactionRetries(int32_t Value) { transaction_retries_ = Value < 0 ? 0 : Value; }
  // The "host:port" the main connection went to; empty when disconnected.
  std::string ConnectedHost() const;
  // The "host:port" a connection of this component went to; empty for an
  // unknown handle.
  std::string HostOf(MySQLHandle Handle) const;
  // Skips "host:port" (as HostOf gives it) for DenyTime ms from now.
  void DenyHost(const std::string& HostPort);
  // Whether "host:port" is being skipped now.
  bool HostDenied(const std::string& HostPort) const;

  // The login name, for the next connect.
  const std::string& UserName() const { return user_name_; }
  // Sets UserName; a change disconnects first.
  void SetUserName(const std::string& Value);
  // The login password, for the next connect.
  const std::string& Password() const { return password_; }
  // Sets Password; a change disconnects first.
  void SetPassword(const std::string& Value);

  // INI text. Section "client": keys "host", "port", "user", "password"
  // override the properties at each connect; the section is also the option
  // text of the library driver. Section "direct": options of the direct
  // driver; section "embedded": of the embedded driver (server arguments
  // such as datadir=..., and timeouts). Editing the list directly changes
  // what the next connect reads; SetParams also disconnects and passes the
  // driver its new options.
  TStrings* Params() { return params_.get(); }
  // Disconnects, takes a copy of Value and passes the driver its options.
  void SetParams(const TStrings& Value);
  // As above, from INI text.
  void SetParams(const std::string& Text);

  // Whether coCompress is among Options (the compressed protocol).
  bool Compression() const { return options_.Contains(coCompress); }
  // Adds or removes coCompress; a change disconnects first.
  void SetCompression(bool Value);
  // Client flags (co...) and component options (so...).
  TMySQLServerOptions Options() const { return options_; }
  // Sets Options; a change disconnects first.
  void SetOptions(TMySQLServerOptions Value);

  // Called at each connect with the component and its Params (see above).
  TMySQLServerLoginEvent OnLogin;

  // From another TMySQLServer: disconnects and copies LoginPrompt, Options,
  // Params, DriverKind (and a library driver's ClientDLL), Host, Port,
  // UserName, Password and DatabaseName.
  void Assign(TPersistent* Source) override;

  // ----- Connection sharing
  //
  // AllocConnection opens a new connection through the component's driver
  // with Host, UserName, Password, Port, the client flags of Options and
  // DatabaseName, and returns its handle. It does not connect the component:
  // the first connection the driver ever opened is its main connection, so
  // callers other than DoConnect connect the component first
  // (ActivateConnection). Each handle it returns belongs to the caller, who
  // hands it back through FreeConnection before the component disconnects
  // (closing the main connection unloads the library back ends). Raises the
  // driver's connect message on failure. Safe to call from worker threads:
  // it opens with one consistent copy of the parameters, taken under a lock
  // while the main thread may be changing them.
  MySQLHandle AllocConnection() { return AllocConnection(false); }
  // As above; with ReadOnly under hmReplication the connection goes to a
  // replica (the next in turn that answers), to the primary only when no
  // replica does. Writes (ReadOnly false) go to the primary only.
  MySQLHandle AllocConnection(bool ReadOnly);
  // Closes Handle when it is a connection of its own (not the main one) and
  // clears the variable; the main handle, or any handle while the component
  // is disconnected, is only cleared. Then, with soCloseOnChildren, the
  // component disconnects when all its datasets are closed; called on a
  // worker thread it only closes the handle (the component and its datasets
  // are closed on the main thread only).
  void FreeConnection(MySQLHandle& Handle);
  // Closes a connection of AllocConnection through the driver, without the
  // close-on-children check of FreeConnection (for owners of connections
  // that are not datasets, such as a connection pool); the main handle is
  // only cleared. Clears the variable.
  void ForgetConnection(MySQLHandle& Handle);
  // True when every named dataset and every registered dataset is inactive;
  // a dataset that is opening counts as open (it holds the handle it is
  // about to send on).
  bool CheckChildrenAllClosed();
  // Connects when there is no main connection.
  void ActivateConnection();
  // Closes every named dataset, then every registered dataset.
  void CloseClients();
  // Frees every named dataset, then detaches every registered dataset.
  void DisconnectClients();
  // The main connection handle; nullptr when disconnected.
  MySQLHandle Connection() const { return connection_; }

  // ----- Named datasets (owned by the component)
  //
  // Names are compared without regard to letter case; the first match wins.
  int FindDataset(const std::string& Name) const;
  // Creates a dataset under Name (no test for duplicates), binds it to this
  // component, drops its retrieve options and sets its table name when
  // TableName is not empty.
  TDataSet* NewDataset(const std::string& Name, const std::string& TableName);
  // The dataset of that name, created when it is not known (a known one
  // keeps its table name); linked to MasterName when that is given; opened
  // when Open is set.
  TDataSet* Dataset(const std::string& Name, const std::string& TableName = "",
                    bool Open = false, const std::string& MasterName = "",
                    const std::string& MasterFields = "");
  // As Dataset, a new one without table name; its SQL text is replaced by
  // SQL when they differ (letter case ignored).
  TDataSet* DatasetFrom(const std::string& Name, const std::string& SQL, bool Open = false,
                        const std::string& MasterName = "",
                        const std::string& MasterFields = "");
  // Closes, unlinks, detaches and frees the dataset of that name; an unknown
  // name is ignored.
  void FreeDataset(const std::string& Name);
  // Makes the named detail follow the named master over MasterFields. The
  // same master and fields again change nothing. Raises EMySQLError (number
  // 1) for an unknown master or detail name.
  void Link(const std::string& DetailName, const std::string& MasterName,
            const std::string& MasterFields);
  // Removes the detail's master link (and frees the data source that Link
  // made for it).
  void UnLink(const std::string& DetailName);
  // How many datasets the component keeps by name.
  int NamedDatasetCount() const { return static_cast<int>(named_.size()); }
  // The factory NewDataset uses; empty until the dataset unit provides one,
  // in which case NewDataset raises EMySQLError.
  static TDatasetFactory& DatasetFactory();

  // ----- Server-level services
  //
  // Unless said otherwise they run on the main connection and connect the
  // component first. With soCloseOnChildren the component disconnects after
  // a service when all its datasets are closed. A handle argument of nullptr
  // means the main connection.

  // Runs one statement (any result is read and released); false when there
  // is no connection. Before 3.22 servers a trailing ";" is removed. A server
  // error anywhere in the result (also after some rows) is raised.
  // When the main connection is found lost (2006, 2013) its host is skipped
  // (DenyHost) and the component reconnects to the next host. Inside a
  // transaction begun by a statement sent here ("start transaction",
  // "begin", up to "commit" or "rollback") EMySQLTransactionLost is raised
  // and nothing is sent again. Outside one, a statement that only reads
  // ("select", "show") is run again on the new connection; any other is
  // not (it may have been carried out before the connection broke) and the
  // connection error is raised after the reconnect.
  bool ExecSQL(const std::string& SQL);
  // Splits the script into statements (comments dropped, quoted ";" kept)
  // and runs them in order; false for a script without statements or
  // without a connection. A failing statement raises and ends the batch.
  // The batch is one service: all its statements run on the main connection
  // without a disconnect between them (so "use", temporary tables, locks and
  // transactions hold for the statements after them); soCloseOnChildren is
  // applied once, after the batch.
  bool ExecSQLBatch(const TStrings& Lines);
  // True when connected and the server answers; does not connect.
  bool Ping();
  // The current database of a connection ("select database()"); empty when
  // there is no connection or none is selected. Does not connect.
  std::string ConnectionDatabase(MySQLHandle Handle = nullptr);
  // Fills List with the server's databases ("show databases"); connects
  // when needed.
  void GetDatabaseNames(TStrings* List);
  // The tables of Database (the current database when empty).
  void GetTableNames(const std::string& Database, TStrings* List,
                     MySQLHandle Handle = nullptr);
  // The columns of Database.Table; an empty list without a statement when
  // either name is empty.
  void GetFieldNames(const std::string& Database, const std::string& Table, TStrings* List);
  // get_lock / release_lock on the main connection: 1 taken (released), 0
  // timed out (held by another connection), -1 for NULL (no such lock) or no
  // connection. The name is escaped. TimeOut is in seconds; by the server's
  // rule a negative one waits without limit.
  int32_t GetLock(const std::string& LockName, int32_t TimeOut);
  int32_t ReleaseLock(const std::string& LockName);  // see GetLock
  // Selects Name on Handle; an empty name does nothing and gives true.
  bool SelectDatabase(const std::string& Name, MySQLHandle Handle = nullptr);
  // Creates / drops the database Name on Handle. Works with every driver
  // kind and server: where the back end has no create/drop call, or the
  // server no longer knows the protocol command, the statement "create
  // database if not exists" / "drop database" is sent instead.
  void CreateDatabase(const std::string& Name, MySQLHandle Handle = nullptr);
  void DropDatabase(const std::string& Name, MySQLHandle Handle = nullptr);  // see CreateDatabase
  // A literal name must not pick CreateDatabase(bool).
  void CreateDatabase(const char* Name, MySQLHandle Handle = nullptr) {
    CreateDatabase(std::string(Name), Handle);
  }
  // The creation script of DatabaseName (dropped first with soDropIfExists,
  // created if missing, selected) and of the tables of the datasets that
  // create theirs; run with ExecSQLBatch when Execute is set. Returns the
  // script, one statement per line. The database name is quoted as in the
  // table scripts (components/MySQLScriptNames.h), also while disconnected,
  // where the connection's own quoting would leave "my-db" bare.
  std::string CreateDatabase(bool Execute);
  // The driver's escaping (for the main connection) and identifier quoting.
  std::string EscapeStr(const std::string& S);
  std::string FormatIdentifier(const std::string& S);  // see EscapeStr

 protected:
  void DoConnect() override;
  void DoDisconnect() override;
  void Loaded() override;

 private:
  struct NamedDataset {
    std::string name;
    std::unique_ptr<TDataSet> dataset;
    // The data source Link made for this detail; freed by UnLink.
    std::unique_ptr<TDataSource> link_source;
  };

  std::unique_ptr<TMySQLBase> NewDriver(TMySQLDriverType Kind) const;
  std::string DriverOptionText(TMySQLDriverType Kind) const;
  void CloseOnChildren();
  void DatabaseCommand(bool Create, const std::string& Name, MySQLHandle Handle);
  bool InsideConnect() const { return connecting_ > 0; }
  MySQLHandle Choose(MySQLHandle Handle) const { return Handle ? Handle : connection_.load(); }
  // Runs a listing statement and gives List the first column of each row; a
  // server error in the middle of the list is raised and List stays as it
  // was.
  void ListInto(const std::string& SQL, MySQLHandle Handle, TStrings* List);
  // The integer in the first column of the last row of SQL's result; -1 for
  // NULL, a non-number or no row.
  int32_t QueryInteger(const std::string& SQL);
  // Sends SQL on Handle and releases any result.
  void RunOn(MySQLHandle Handle, const std::string& SQL);
  TMySQLServerClient* ClientOf(TDataSet* DataSet) const;
  NamedDataset& Entry(int Index) { return *named_[static_cast<size_t>(Index)]; }

  std::string database_name_;
  std::string host_ = "localhost";
  uint16_t port_ = 3306;
  std::atomic<TMySQLHostMode> host_mode_{hmSequential};
  std::atomic<int32_t> deny_time_{30000};
  std::atomic<bool> causal_reads_{false};
  std::atomic<int32_t> transaction_retries_{0};
  // The rotation of hmLoadBalance and of replica reads, shared by every
  // component of the process so that their connects spread too.
  static inline std::atomic<uint32_t> next_host_{0};
  // Skipped hosts ("host:port") with the time they failed, and
  // the host of each open connection; under hosts_lock_.
  mutable std::mutex hosts_lock_;
  std::map<std::string, std::chrono::steady_clock::time_point> denied_;
  std::map<MySQLHandle, std::string> handle_hosts_;
  // A transaction begun by ExecSQL is open on the main connection.
  bool exec_transaction_ = false;
  // Opens one connection to host:port and checks a Galera node's state.
  MySQLHandle OpenOn(const std::string& Host, uint16_t Port, const std::string& User,
                     const std::string& Password, TMySQLServerOptions Options,
                     const std::string& Database, bool CheckNode);
  // Runs ExecSQL's statement once, on the main connection.
  void ExecOnce(const std::string& Text);
  std::string user_name_ = "root";
  std::string password_;
  TMySQLServerOptions options_{coInteractive};
  std::unique_ptr<TStringList> params_;
  TMySQLDriverType driver_kind_ = dtDirect;
  std::unique_ptr<TMySQLBase> driver_;
  // Read by worker threads (FreeConnection, ActivateConnection of their
  // datasets) while the main thread connects and disconnects.
  std::atomic<MySQLHandle> connection_{nullptr};
  std::vector<std::unique_ptr<NamedDataset>> named_;
  int connecting_ = 0;
  // Serialises the driver's Open and Close: worker threads allocate and free
  // private connections while the main thread connects and disconnects.
  std::mutex driver_lock_;
  // Guards the connect parameters (host, port, user, password, database,
  // options): the main thread writes them, AllocConnection on any thread
  // copies them.
  mutable std::mutex params_lock_;
  template <typename T, typename V>
  void SetParam(T& Field, V&& Value) {
    std::lock_guard<std::mutex> lock(params_lock_);
    Field = std::forward<V>(Value);
  }
  // Closes the main connection through the driver (REQUIRES driver_lock_).
  void CloseMain() {
    MySQLHandle handle = connection_;
    driver_->Close(handle);
    connection_ = handle;
  }
};

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLSERVER_H_
