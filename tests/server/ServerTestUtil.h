// Helpers shared by the connection component's tests: a component set up for
// the test server, reading a column through its driver, and a minimal dataset
// that binds to the component the way the library's datasets do.
#ifndef ROWSET_TESTS_SERVER_SERVERTESTUTIL_H_
#define ROWSET_TESTS_SERVER_SERVERTESTUTIL_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"

namespace rowset::test {

// A component of the given driver kind, pointed at the test server with the
// password-less account (not connected).
inline std::unique_ptr<TMySQLServer> TestComponent(TMySQLDriverType Kind) {
  auto server = std::make_unique<TMySQLServer>();
  server->SetDriverType(Kind);
  const TestServer& ts = Server();
  server->SetHost(ts.host);
  server->SetPort(ts.port);
  server->SetUserName(ts.user);
  server->SetPassword("");
  return server;
}

// The first column of every row of SQL, run on Handle (the main connection
// when nullptr); "(null)" for NULL.
inline std::vector<std::string> Column(TMySQLServer& Component, const std::string& SQL,
                                       MySQLHandle Handle = nullptr) {
  TMySQLBase* driver = Component.GetDriver();
  MySQLResultHandle result =
      driver->OpenQuery(Handle ? Handle : Component.Connection(), SQL);
  std::vector<std::string> values;
  while (MySQLRow row = driver->RetrieveRow(result)) {
    MySQLLengths lengths = driver->RetrieveRowFieldLenghts(result);
    values.push_back(row[0] ? std::string(row[0], lengths[0]) : "(null)");
  }
  driver->CloseQuery(result);
  return values;
}

inline std::string Scalar(TMySQLServer& Component, const std::string& SQL,
                          MySQLHandle Handle = nullptr) {
  auto values = Column(Component, SQL, Handle);
  return values.empty() ? std::string("(none)") : values.front();
}

// A dataset that binds to a connection component as the library's datasets
// do: it registers with the component, closes when the connection goes down,
// and on open takes the shared main connection or a private one from
// AllocConnection, which it hands back through FreeConnection on close.
class TTestDataset : public TDataSet, public TMySQLServerClient {
 public:
  explicit TTestDataset(TComponent* AOwner = nullptr) : TDataSet(AOwner) {}
  ~TTestDataset() override;

  TMySQLServer* Server() const { return server_; }
  void SetServer(TMySQLServer* Value) override;
  bool AutoCreatesTable() const override { return auto_create; }
  std::string CreateTable(bool Execute) override;
  void ExcludeRetrieveOptions() override { retrieve_options = false; }
  void SetTableName(const std::string& Value) override { table_name = Value; }
  TStringList* SQL() override { return &sql_; }
  std::string MasterFields() const override { return master_fields_; }
  void SetMasterFields(const std::string& Value) override { master_fields_ = Value; }
  TDataSource* MasterSource() const override { return master_source_; }
  void SetMasterSource(TDataSource* Value) override { master_source_ = Value; }

  bool share_connection = true;
  bool auto_create = false;
  bool retrieve_options = true;
  std::string table_name;
  MySQLHandle handle = nullptr;
  int sql_changes = 0;
  bool fail_close = false;  // the next close raises

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return open_; }
  // No records: the record-buffer hooks are never asked for one.
  TRecordBuffer AllocRecordBuffer() override { return nullptr; }
  void FreeRecordBuffer(TRecordBuffer& Buffer) override { Buffer = nullptr; }
  TGetResult GetRecord(TRecordBuffer, TGetMode, bool) override { return grEOF; }
  void InternalInitRecord(TRecordBuffer) override {}
  void GetBookmarkData(TRecordBuffer, void*) override {}
  void SetBookmarkData(TRecordBuffer, const void*) override {}
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer) override { return bfCurrent; }
  void SetBookmarkFlag(TRecordBuffer, TBookmarkFlag) override {}
  void InternalGotoBookmark(const void*) override {}
  void InternalSetToRecord(TRecordBuffer) override {}
  void InternalInitFieldDefs() override {}
  void InternalFirst() override {}
  void InternalLast() override {}
  void InternalHandleException() override {}
  void InternalDelete() override {}
  void InternalAddRecord(TRecordBuffer, bool) override {}

 private:
  void ConnectEvent(TObject* Sender, bool Connecting);

  TMySQLServer* server_ = nullptr;
  TStringList sql_;
  std::string master_fields_;
  TDataSource* master_source_ = nullptr;
  bool open_ = false;
};

inline TTestDataset::~TTestDataset() {
  CloseInDestructor();
  if (server_) {
    if (handle && !share_connection) server_->FreeConnection(handle);
    server_->UnRegisterClient(this);
  }
}

inline void TTestDataset::SetServer(TMySQLServer* Value) {
  if (Value == server_) return;
  Close();
  if (server_) server_->UnRegisterClient(this);
  server_ = Value;
  if (server_)
    server_->RegisterClient(this, [this](TObject* Sender, bool Connecting) {
      ConnectEvent(Sender, Connecting);
    });
}

inline std::string TTestDataset::CreateTable(bool Execute) {
  std::string script = "create table if not exists " + table_name + " (id int);\r\n";
  if (Execute && server_) {
    TStringList lines;
    lines.SetText(script);
    server_->ExecSQLBatch(lines);
  }
  return script;
}

inline void TTestDataset::InternalOpen() {
  if (!server_) DatabaseError("No server");
  server_->ActivateConnection();
  if (share_connection)
    handle = server_->Connection();
  else if (!handle)
    handle = server_->AllocConnection();
  open_ = true;
}

inline void TTestDataset::InternalClose() {
  open_ = false;
  if (fail_close) {
    fail_close = false;
    DatabaseError("close failed");
  }
  if (server_ && handle) server_->FreeConnection(handle);
  handle = nullptr;
}

inline void TTestDataset::ConnectEvent(TObject*, bool Connecting) {
  if (!Connecting && Active()) Close();
}

// The embedded server of this test program: a private data directory made
// on first use under /tmp, a component set up to run in it, and a suite
// base that removes the directory when the suite ends.
inline const std::string& EmbeddedDataDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/rowset_embedded_XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "");
  }();
  return dir;
}

inline std::unique_ptr<TMySQLServer> EmbeddedComponent() {
  auto server = std::make_unique<TMySQLServer>();
  server->SetParams("[embedded]\r\ndatadir=" + EmbeddedDataDir() +
                    "\r\nlc-messages-dir=/usr/share/mysql\r\n"
                    "innodb-log-file-size=4M\r\ninnodb-buffer-pool-size=16M\r\n"
                    "innodb-buffer-pool-dump-at-shutdown=0\r\n");
  server->SetDriverType(dtEmbedded);
  return server;
}

class EmbeddedServerTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(EmbeddedDataDir(), ignored);
  }
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_SERVER_SERVERTESTUTIL_H_
