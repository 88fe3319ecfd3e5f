// The connection component without a server: properties, options, driver
// choice, the named-dataset registry and the creation script.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/MySQLServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::TTestDataset;

TEST(ServerOptionsTest, ClientFlagWordSkips512And2048) {
  EXPECT_EQ(TMySQLServerOptions{coInteractive}.Word(), 512u);
  EXPECT_EQ(MySQLClientFlags({coInteractive}), 1024u);
  EXPECT_EQ(MySQLClientFlags({coProtocol41}), 16384u);
  EXPECT_EQ(MySQLClientFlags({coLongPassword, coConnectWithDB, coIgnoreSpace}), 1u + 8u + 256u);
  EXPECT_EQ(MySQLClientFlags({coIgnoreSigpipe, coTransactions, coSecureConnection, coMultiQueries}),
            4096u + 8192u + 32768u + 65536u);
  EXPECT_EQ(MySQLClientFlags({soAutoCreate, soDropIfExists, soCloseOnChildren}), 0u);
  TMySQLServerOptions all;
  for (int m = coLongPassword; m <= soCloseOnChildren; ++m)
    all.Include(static_cast<TMySQLServerOption>(m));
  EXPECT_EQ(MySQLClientFlags(all), 0x1F5FFu);
}

TEST(ServerPropertiesTest, Defaults) {
  TMySQLServer server;
  EXPECT_EQ(server.DatabaseName(), "");
  EXPECT_EQ(server.Host(), "localhost");
  EXPECT_EQ(server.Port(), 3306);
  EXPECT_EQ(server.UserName(), "root");
  EXPECT_EQ(server.Password(), "");
  EXPECT_FALSE(server.LoginPrompt());
  EXPECT_EQ(server.Options().Word(), 512u);
  EXPECT_FALSE(server.Compression());
  EXPECT_EQ(server.Params()->Count(), 0);
  EXPECT_EQ(server.DriverKind(), dtDirect);
  ASSERT_NE(server.GetDriver(), nullptr);
  EXPECT_NE(dynamic_cast<TViVURIzodor*>(server.GetDriver()), nullptr);
  EXPECT_FALSE(server.GetDriver()->Loaded());
  EXPECT_FALSE(server.Connected());
  EXPECT_EQ(server.ServerVersion(), "-1");
}

TEST(ServerPropertiesTest, CompressionIsTheCompressOption) {
  TMySQLServer server;
  server.SetCompression(true);
  EXPECT_TRUE(server.Options().Contains(coCompress));
  EXPECT_TRUE(server.Options().Contains(coInteractive));
  server.SetOptions({coLongPassword});
  EXPECT_FALSE(server.Compression());
}

TEST(ServerDriverTest, EachKindGetsTheOptionsOfItsSection) {
  TMySQLServer server;
  server.SetParams(
      "[client]\r\nhost=h\r\nconnect_timeout=7\r\n"
      "[direct]\r\nread_timeout=9\r\n"
      "[embedded]\r\ndatadir=/tmp/x\r\n");
  EXPECT_EQ(server.GetDriver()->Options().Text(), "read_timeout=9\r\n");

  server.SetDriverType(dtLibrary);
  EXPECT_EQ(server.DriverKind(), dtLibrary);
  auto* library = dynamic_cast<TMySQLLibrary*>(server.GetDriver());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(dynamic_cast<TMySQLEmbedded*>(library), nullptr);
  EXPECT_EQ(library->Options().Text(), "host=h\r\nconnect_timeout=7\r\n");

  server.SetDriverType(dtEmbedded);
  ASSERT_NE(dynamic_cast<TMySQLEmbedded*>(server.GetDriver()), nullptr);
  EXPECT_EQ(server.GetDriver()->Options().Text(), "datadir=/tmp/x\r\n");

  // New parameters reach the current driver.
  server.SetParams("[embedded]\r\ndatadir=/tmp/y\r\n");
  EXPECT_EQ(server.GetDriver()->Options().Text(), "datadir=/tmp/y\r\n");
  EXPECT_EQ(server.Params()->Text(), "[embedded]\r\ndatadir=/tmp/y\r\n");

  server.SetDriverType(dtDirect);
  EXPECT_NE(dynamic_cast<TViVURIzodor*>(server.GetDriver()), nullptr);
  EXPECT_EQ(server.GetDriver()->Options().Text(), "");

  // The same direct kind again re-reads its section from Params.
  server.Params()->SetText("[direct]\r\nconnect_timeout=3\r\n");
  server.SetDriverType(dtDirect);
  EXPECT_EQ(server.GetDriver()->Options().Text(), "connect_timeout=3\r\n");
}

TEST(ServerDriverTest, SetDriverTakesOwnershipAndRefusesNone) {
  TMySQLServer server;
  auto driver = std::make_unique<TMySQLLibrary>("connect_timeout=1");
  TMySQLBase* raw = driver.get();
  server.SetDriver(std::move(driver));
  EXPECT_EQ(server.GetDriver(), raw);
  EXPECT_EQ(server.DriverProperties(), raw);
  EXPECT_EQ(server.DriverKind(), dtLibrary);
  server.SetDriver(std::make_unique<TViVURIzodor>());
  EXPECT_EQ(server.DriverKind(), dtDirect);
  raw = server.GetDriver();
  EXPECT_THROW(server.SetDriver(nullptr), EMySQLError);
  EXPECT_EQ(server.GetDriver(), raw);
}

TEST(ServerPropertiesTest, AssignCopiesTheConnectionSettings) {
  TMySQLServer source;
  source.SetHost("db.example");
  source.SetPort(3307);
  source.SetUserName("u");
  source.SetPassword("p");
  source.SetDatabaseName("d");
  source.SetLoginPrompt(true);
  source.SetOptions({coCompress, soAutoCreate});
  source.SetParams("[client]\r\nuser=x\r\n");
  source.SetDriverType(dtLibrary);
  dynamic_cast<TMySQLLibrary*>(source.GetDriver())->SetClientDLL("libother.so");

  TMySQLServer copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Host(), "db.example");
  EXPECT_EQ(copy.Port(), 3307);
  EXPECT_EQ(copy.UserName(), "u");
  EXPECT_EQ(copy.Password(), "p");
  EXPECT_EQ(copy.DatabaseName(), "d");
  EXPECT_TRUE(copy.LoginPrompt());
  EXPECT_EQ(copy.Options(), (TMySQLServerOptions{coCompress, soAutoCreate}));
  EXPECT_EQ(copy.Params()->Text(), "[client]\r\nuser=x\r\n");
  EXPECT_EQ(copy.DriverKind(), dtLibrary);
  EXPECT_EQ(dynamic_cast<TMySQLLibrary*>(copy.GetDriver())->ClientDLL(), "libother.so");
  EXPECT_EQ(copy.GetDriver()->Options().Text(), "user=x\r\n");
}

// ----- Named datasets

class NamedDatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = TMySQLServer::DatasetFactory();
    TMySQLServer::DatasetFactory() = [] { return std::make_unique<TTestDataset>(); };
  }
  void TearDown() override { TMySQLServer::DatasetFactory() = previous_; }

  static TTestDataset* Test(TDataSet* d) { return dynamic_cast<TTestDataset*>(d); }

  TMySQLServer server_;
  TMySQLServer::TDatasetFactory previous_;
};

TEST_F(NamedDatasetTest, DatasetsAreFoundByNameIgnoringCase) {
  TDataSet* customers = server_.Dataset("Customers", "cust");
  ASSERT_NE(customers, nullptr);
  EXPECT_EQ(server_.FindDataset("customers"), 0);
  EXPECT_EQ(server_.FindDataset("CUSTOMERS"), 0);
  EXPECT_EQ(server_.FindDataset("orders"), -1);
  TTestDataset* d = Test(customers);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Server(), &server_);
  EXPECT_EQ(d->table_name, "cust");
  EXPECT_FALSE(d->retrieve_options);
  EXPECT_FALSE(customers->Active());

  // The same name again is the same object; its table name stays.
  EXPECT_EQ(server_.Dataset("customers", "other"), customers);
  EXPECT_EQ(d->table_name, "cust");
  EXPECT_EQ(server_.NamedDatasetCount(), 1);

  // NewDataset does not test for duplicates; the first one is found.
  TDataSet* second = server_.NewDataset("CUSTOMERS", "");
  EXPECT_NE(second, customers);
  EXPECT_EQ(server_.NamedDatasetCount(), 2);
  EXPECT_EQ(server_.Dataset("Customers"), customers);
}

TEST_F(NamedDatasetTest, DatasetFromReplacesTheSqlOnlyWhenItDiffers) {
  TDataSet* q = server_.DatasetFrom("q", "select * from t");
  TTestDataset* d = Test(q);
  EXPECT_EQ(d->table_name, "");
  EXPECT_EQ(d->SQL()->Text(), "select * from t\r\n");
  d->SQL()->OnChange = [d](TObject*) { ++d->sql_changes; };
  server_.DatasetFrom("Q", "SELECT * FROM T");
  EXPECT_EQ(d->sql_changes, 0);
  EXPECT_EQ(d->SQL()->Text(), "select * from t\r\n");
  server_.DatasetFrom("q", "select a from t");
  EXPECT_GE(d->sql_changes, 1);
  EXPECT_EQ(d->SQL()->Text(), "select a from t\r\n");
}

TEST_F(NamedDatasetTest, LinkKeepsOrReplacesTheMasterSource) {
  TDataSet* master = server_.Dataset("master");
  TTestDataset* detail = Test(server_.Dataset("detail"));
  server_.Link("detail", "master", "id=master_id");
  TDataSource* source = detail->MasterSource();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->DataSet(), master);
  EXPECT_EQ(detail->MasterFields(), "id=master_id");

  server_.Link("DETAIL", "Master", "ID=MASTER_ID");  // the same link
  EXPECT_EQ(detail->MasterSource(), source);
  EXPECT_EQ(detail->MasterFields(), "id=master_id");

  server_.Link("detail", "master", "id=other_id");
  ASSERT_NE(detail->MasterSource(), nullptr);
  EXPECT_EQ(detail->MasterSource()->DataSet(), master);
  EXPECT_EQ(detail->MasterFields(), "id=other_id");

  server_.UnLink("detail");
  EXPECT_EQ(detail->MasterSource(), nullptr);
  EXPECT_EQ(detail->MasterFields(), "");

  // Dataset with a master name links too.
  server_.Dataset("detail", "", false, "master", "a=b");
  EXPECT_EQ(detail->MasterFields(), "a=b");
}

TEST_F(NamedDatasetTest, LinkToUnknownNamesRaisesWithNumberOne) {
  server_.Dataset("detail");
  try {
    server_.Link("detail", "nobody", "a=b");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1);
    EXPECT_EQ(e.Message().rfind("[1] Master dataset \"nobody\" not found.", 0), 0u) << e.Message();
  }
  try {
    server_.Dataset("master");
    server_.Link("ghost", "master", "a=b");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.Message().rfind("[1] Detail dataset \"ghost\" not found.", 0), 0u) << e.Message();
  }
  EXPECT_THROW(server_.UnLink("ghost"), EMySQLError);
}

TEST_F(NamedDatasetTest, FreeDatasetUnlinksItsDetails) {
  server_.Dataset("master");
  TTestDataset* detail = Test(server_.Dataset("detail", "", false, "master", "a=b"));
  server_.FreeDataset("nobody");  // ignored
  EXPECT_EQ(server_.NamedDatasetCount(), 2);
  server_.FreeDataset("MASTER");
  EXPECT_EQ(server_.NamedDatasetCount(), 1);
  EXPECT_EQ(server_.FindDataset("master"), -1);
  EXPECT_EQ(detail->MasterSource(), nullptr);
  server_.FreeDataset("detail");
  EXPECT_EQ(server_.NamedDatasetCount(), 0);
}

TEST_F(NamedDatasetTest, WithoutADatasetClassNewDatasetRaises) {
  TMySQLServer::DatasetFactory() = nullptr;
  EXPECT_THROW(server_.Dataset("x"), EMySQLError);
  EXPECT_EQ(server_.NamedDatasetCount(), 0);
}

TEST_F(NamedDatasetTest, DisconnectClientsFreesNamedAndDetachesRegistered) {
  server_.Dataset("a");
  server_.Dataset("b");
  TTestDataset registered;
  registered.SetServer(&server_);
  EXPECT_EQ(server_.DataSetCount(), 3);  // named datasets register too
  server_.DisconnectClients();
  EXPECT_EQ(server_.NamedDatasetCount(), 0);
  EXPECT_EQ(server_.DataSetCount(), 0);
  EXPECT_EQ(registered.Server(), nullptr);
}

TEST_F(NamedDatasetTest, ChildrenAreClosedWhenNoDatasetIsActive) {
  EXPECT_TRUE(server_.CheckChildrenAllClosed());
  TTestDataset registered;
  registered.SetServer(&server_);
  server_.Dataset("a");
  EXPECT_TRUE(server_.CheckChildrenAllClosed());
}

TEST_F(NamedDatasetTest, CreationScriptCollectsTheTablesOfAutoCreatingDatasets) {
  TTestDataset registered;
  registered.auto_create = true;
  registered.table_name = "reg";
  registered.SetServer(&server_);
  TTestDataset* named = Test(server_.Dataset("n", "named"));
  named->auto_create = true;
  Test(server_.Dataset("plain", "plain"));  // does not create its table

  EXPECT_EQ(server_.CreateDatabase(false),
            "create table if not exists named (id int);\r\n"
            "create table if not exists reg (id int);\r\n"
            "create table if not exists named (id int);\r\n");

  server_.SetDatabaseName("shop");
  server_.SetOptions({coInteractive, soDropIfExists});
  registered.SetServer(nullptr);
  EXPECT_EQ(server_.CreateDatabase(false),
            "drop database if exists shop;\r\n"
            "create database if not exists shop;\r\n"
            "use shop;\r\n"
            "create table if not exists named (id int);\r\n"
            "create table if not exists named (id int);\r\n"
            "use shop;\r\n");
}

TEST(ServerServicesTest, EmptyScriptRunsNothingAndDoesNotConnect) {
  TMySQLServer server;
  server.SetHost("no-such-host.invalid");
  TStringList script;
  EXPECT_FALSE(server.ExecSQLBatch(script));
  script.SetText("-- only a comment\r\n;\r\n");
  EXPECT_FALSE(server.ExecSQLBatch(script));
  EXPECT_FALSE(server.Connected());
  EXPECT_FALSE(server.Ping());
  EXPECT_EQ(server.ConnectionDatabase(), "");
}

TEST(ServerServicesTest, IdentifiersAreNotQuotedWithoutAConnection) {
  TMySQLServer server;
  EXPECT_EQ(server.FormatIdentifier("a b"), "a b");
  EXPECT_EQ(server.EscapeStr("it's"), "it\\'s");
}

}  // namespace
}  // namespace rowset
