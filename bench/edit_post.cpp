// Cost of posting records through a dataset, against sending the same
// statements one by one through the client library.
//
// Table rowset_bench.edit_rows (int key, varchar(40), double, datetime),
// emptied before each step. Measured through a TMySQLTable over the table:
// (1) Append and Post of every row; (2) an Edit and Post of one column of
// every row; (3) the appends with cached updates, applied by ApplyUpdates in
// one transaction. References, sent by OpenQuery on the library driver:
// (1) the same INSERT statements one by one; (2) the same UPDATE
// statements; (3) the INSERT statements inside one transaction. Rounds
// interleave each step with its reference; prints the medians of the wall
// and client CPU (getrusage) ratios.
//
// Usage: bench_edit_post [rows [direct [rounds]]] (10,000 rows, 5 rounds):
// with "direct" the dataset works through the built-in client (the
// reference stays libmariadb). The server is the one named by
// ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "components/MySQLDataset.h"
#include "host/SysUtils.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
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

void ReferenceInserts(TMySQLServer& server, long rows) {
  TMySQLBase* driver = server.GetDriver();
  for (long i = 0; i < rows; ++i) {
    MySQLResultHandle r = driver->OpenQuery(
        server.Connection(), "insert into `edit_rows` set `id`='" + std::to_string(i) + "',`name`='" +
                                 Name(i) + "',`amount`='" + AmountText(i) + "',`stamp`='" + Stamp(i) +
                                 "'");
    driver->CloseQuery(r);
  }
}

void ReferenceUpdates(TMySQLServer& server, long rows) {
  TMySQLBase* driver = server.GetDriver();
  for (long i = 0; i < rows; ++i) {
    MySQLResultHandle r = driver->OpenQuery(
        server.Connection(), "update `edit_rows` set `name`='edited " + std::to_string(i) +
                                 "' where (`id`='" + std::to_string(i) + "')");
    driver->CloseQuery(r);
  }
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

void ReferenceInsertsInTransaction(TMySQLServer& server, long rows) {
  TMySQLBase* driver = server.GetDriver();
  MySQLResultHandle r = driver->OpenQuery(server.Connection(), "start transaction");
  driver->CloseQuery(r);
  ReferenceInserts(server, rows);
  r = driver->OpenQuery(server.Connection(), "commit");
  driver->CloseQuery(r);
}

struct Ratios {
  std::vector<double> wall, cpu;
  void Add(const bench::Cost& Measured, const bench::Cost& Reference) {
    wall.push_back(Measured.wall / Reference.wall);
    cpu.push_back(Measured.cpu / Reference.cpu);
  }
};

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 10000;
  bool direct = argc > 2 && std::string(argv[2]) == "direct";
  int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  test::RootSql(
      "CREATE DATABASE IF NOT EXISTS rowset_bench; USE rowset_bench; "
      "DROP TABLE IF EXISTS edit_rows; CREATE TABLE edit_rows (id INT NOT NULL PRIMARY KEY, "
      "name VARCHAR(40), amount DOUBLE, stamp DATETIME) ENGINE=InnoDB;");
  auto reference = NewServer(dtLibrary);
  reference->Connect();
  auto server = NewServer(direct ? dtDirect : dtLibrary);

  Ratios insert, update, cached;
  for (int round = 0; round < rounds; ++round) {
    Empty();
    bench::Cost ref_insert = bench::Measure([&] { ReferenceInserts(*reference, rows); });
    bench::Cost ref_update = bench::Measure([&] { ReferenceUpdates(*reference, rows); });
    Empty();
    bench::Cost ref_tx = bench::Measure([&] { ReferenceInsertsInTransaction(*reference, rows); });

    Empty();
    TMySQLTable table;
    table.SetServer(server.get());
    table.SetTableName("edit_rows");
    table.SQL()->SetText("select * from edit_rows");
    table.SetOptions(table.Options() - TMySQLDatasetOptions{doRetrieveFieldValues, doRetrieveIndexDefs});
    table.Open();
    bench::Cost append = bench::Measure([&] { Append(table, rows); });

    table.First();
    bench::Cost edit = bench::Measure([&] {
      while (!table.Eof()) {
        table.Edit();
        table.FieldByName("name")->SetAsString("edited " +
                                               std::to_string(table.FieldByName("id")->AsInteger()));
        table.Post();
        table.Next();
      }
    });
    table.Close();

    Empty();
    table.SetCachedUpdates(true);
    table.Open();
    bench::Cost applied = bench::Measure([&] {
      // Held back like the appends, so the applied list runs in one transaction.
      table.ExecSQL("start transaction", false, true, "", "");
      Append(table, rows);
      table.ExecSQL("commit", false, true, "", "");
      table.ApplyUpdates();
    });
    table.Close();

    insert.Add(append, ref_insert);
    update.Add(edit, ref_update);
    cached.Add(applied, ref_tx);
    std::printf("round %d: append+post %.3f s cpu %.3f s (reference %.3f s cpu %.3f s); "
                "edit+post %.3f s cpu %.3f s (reference %.3f s cpu %.3f s); cached %.3f s cpu "
                "%.3f s (reference in one transaction %.3f s cpu %.3f s)\n",
                round + 1, append.wall, append.cpu, ref_insert.wall, ref_insert.cpu, edit.wall,
                edit.cpu, ref_update.wall, ref_update.cpu, applied.wall, applied.cpu, ref_tx.wall,
                ref_tx.cpu);
    std::fflush(stdout);
  }

  std::printf("rows %ld (%s), medians of %d rounds\n", rows,
              direct ? "built-in client" : "library", rounds);
  std::printf("append+post ÷ INSERT loop:             wall %.2f (target <= 1.05), cpu %.2f "
              "(target <= 1.5)\n",
              bench::Median(insert.wall), bench::Median(insert.cpu));
  std::printf("edit+post ÷ UPDATE loop:               wall %.2f, cpu %.2f\n",
              bench::Median(update.wall), bench::Median(update.cpu));
  std::printf("cached appends ÷ INSERTs in one transaction: wall %.2f, cpu %.2f (target <= "
              "1.1)\n",
              bench::Median(cached.wall), bench::Median(cached.cpu));
  return 0;
}
