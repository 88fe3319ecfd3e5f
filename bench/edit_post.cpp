// Cost of posting records through a dataset, against sending the same
// statements one by one through the client library.
//
// Table rowset_bench.edit_rows (int key, varchar(40), double, datetime),
// emptied before each round. Measured through a TMySQLTable over the table:
// (1) Append and Post of every row; (2) an Edit and Post of one column of
// every row; (3) the appends with cached updates, applied by ApplyUpdates in
// one transaction. Reference for (1)/(3): the same INSERT statements sent by
// OpenQuery on the library driver; for (2): the same UPDATE statements.
// Prints each time as a ratio to its reference (target <= 1.3 for (1) and
// (2)).
//
// Usage: bench_edit_post [rows [direct]]: with "direct" the dataset works
// through the built-in client (the reference stays libmariadb). The server
// is the one named by ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start
// DIR).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "components/MySQLDataset.h"
#include "host/SysUtils.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::unique_ptr<TMySQLServer> NewServer(TMySQLDriverType Kind) {
  const test::TestServer& ts = test::Server();
  auto server = std::make_unique<TMySQLServer>();
  server->SetDriverType(Kind);
  server->SetHost(ts.host);
  server->SetPort(ts.port);
  server->SetUserName(ts.user);
  server->SetPassword("");
  server->SetDatabaseName("rowset_bench");
  return server;
}

void Empty() { test::RootSql("TRUNCATE TABLE rowset_bench.edit_rows;"); }

std::string Name(long i) { return "row number " + std::to_string(i); }
double Amount(long i) { return static_cast<double>(i) / 7.0; }
std::string Stamp(long i) {
  char text[32];
  std::snprintf(text, sizeof text, "2020-01-01 %02ld:%02ld:%02ld", (i / 3600) % 24, (i / 60) % 60,
                i % 60);
  return text;
}
std::string AmountText(long i) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", Amount(i));
  return text;
}

double ReferenceInserts(TMySQLServer& server, long rows) {
  TMySQLBase* driver = server.GetDriver();
  Clock::time_point start = Clock::now();
  for (long i = 0; i < rows; ++i) {
    MySQLResultHandle r = driver->OpenQuery(
        server.Connection(), "insert into `edit_rows` set `id`='" + std::to_string(i) + "',`name`='" +
                                 Name(i) + "',`amount`='" + AmountText(i) + "',`stamp`='" + Stamp(i) +
                                 "'");
    driver->CloseQuery(r);
  }
  return Seconds(start);
}

double ReferenceUpdates(TMySQLServer& server, long rows) {
  TMySQLBase* driver = server.GetDriver();
  Clock::time_point start = Clock::now();
  for (long i = 0; i < rows; ++i) {
    MySQLResultHandle r = driver->OpenQuery(
        server.Connection(), "update `edit_rows` set `name`='edited " + std::to_string(i) +
                                 "' where (`id`='" + std::to_string(i) + "')");
    driver->CloseQuery(r);
  }
  return Seconds(start);
}

void Append(TMySQLTable& table, long rows) {
  for (long i = 0; i < rows; ++i) {
    table.Append();
    table.FieldByName("id")->SetAsInteger(static_cast<int>(i));
    table.FieldByName("name")->SetAsString(Name(i));
    table.FieldByName("amount")->SetAsFloat(Amount(i));
    table.FieldByName("stamp")->SetAsDateTime(EncodeDate(2020, 1, 1) + static_cast<double>(i % 86400) / 86400.0);
    table.Post();
  }
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 10000;
  bool direct = argc > 2 && std::string(argv[2]) == "direct";
  test::RootSql(
      "CREATE DATABASE IF NOT EXISTS rowset_bench; USE rowset_bench; "
      "DROP TABLE IF EXISTS edit_rows; CREATE TABLE edit_rows (id INT NOT NULL PRIMARY KEY, "
      "name VARCHAR(40), amount DOUBLE, stamp DATETIME) ENGINE=InnoDB;");
  auto reference = NewServer(dtLibrary);
  reference->Connect();
  auto server = NewServer(direct ? dtDirect : dtLibrary);

  Empty();
  double ref_insert = ReferenceInserts(*reference, rows);
  double ref_update = ReferenceUpdates(*reference, rows);

  Empty();
  TMySQLTable table;
  table.SetServer(server.get());
  table.SetTableName("edit_rows");
  table.SQL()->SetText("select * from edit_rows");
  table.SetOptions(table.Options() - TMySQLDatasetOptions{doRetrieveFieldValues, doRetrieveIndexDefs});
  table.Open();
  Clock::time_point start = Clock::now();
  Append(table, rows);
  double insert = Seconds(start);

  table.First();
  start = Clock::now();
  while (!table.Eof()) {
    table.Edit();
    table.FieldByName("name")->SetAsString("edited " + std::to_string(table.FieldByName("id")->AsInteger()));
    table.Post();
    table.Next();
  }
  double update = Seconds(start);
  table.Close();

  Empty();
  table.SetCachedUpdates(true);
  table.Open();
  start = Clock::now();
  // Held back like the appends, so the applied list runs in one transaction.
  table.ExecSQL("start transaction", false, true, "", "");
  Append(table, rows);
  table.ExecSQL("commit", false, true, "", "");
  table.ApplyUpdates();
  double cached = Seconds(start);
  table.Close();

  std::printf("rows %ld (%s)\n", rows, direct ? "built-in client" : "library");
  std::printf("append+post:   %.3f s, reference %.3f s, ratio %.2f (target <= 1.3)\n", insert,
              ref_insert, insert / ref_insert);
  std::printf("edit+post:     %.3f s, reference %.3f s, ratio %.2f (target <= 1.3)\n", update,
              ref_update, update / ref_update);
  std::printf("cached append: %.3f s, ratio to the statements one by one %.2f\n", cached,
              cached / ref_insert);
  return 0;
}
