// Shared set-up of the dataset tests against the test server: a connection
// component on the client library, a database of its own per test program,
// and small helpers to build tables as root. The driver is the client
// library's, or the built-in client's when ROWSET_DATASET_DRIVER is
// "direct" (CTest runs the integration tests both ways).
#ifndef ROWSET_TESTS_DATASET_DATASETTESTUTIL_H_
#define ROWSET_TESTS_DATASET_DATASETTESTUTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"

namespace rowset::test {

class DatasetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new std::string(FreshDatabase("ds")); }
  static void TearDownTestSuite() {
    RootSql("DROP DATABASE IF EXISTS `" + *database_ + "`;");
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    server_ = std::make_unique<TMySQLServer>();
    server_->SetDriverType(DriverKind());
    const TestServer& ts = Server();
    server_->SetHost(ts.host);
    server_->SetPort(ts.port);
    server_->SetUserName(ts.user);
    server_->SetPassword("");
    server_->SetDatabaseName(*database_);
  }
  void TearDown() override {
    if (server_) server_->Close();
  }

  static TMySQLDriverType DriverKind() {
    const char* kind = std::getenv("ROWSET_DATASET_DRIVER");
    return kind != nullptr && std::string(kind) == "direct" ? dtDirect : dtLibrary;
  }

  // Runs SQL as root in the test database.
  static void Sql(const std::string& sql) { RootSql("USE `" + *database_ + "`; " + sql); }
  static const std::string& Database() { return *database_; }

  template <typename T>
  std::unique_ptr<T> NewDataset(const std::string& sql) {
    auto ds = std::make_unique<T>();
    ds->SetServer(server_.get());
    ds->SQL()->SetText(sql);
    return ds;
  }

  std::unique_ptr<TMySQLServer> server_;
  static inline std::string* database_ = nullptr;
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_DATASET_DATASETTESTUTIL_H_
