// "rowset demo" (see Commands.h): a short tour of the library on the
// session's server. Makes the database rowset_demo (dropped first when it
// exists) with two tables created from their datasets' field definitions,
// fills them through TMySQLTable datasets, browses orders as
// the detail of customers, edits a record showing the UPDATE it generates,
// holds a few changes back as cached updates that are then applied in one
// transaction, and looks up each order's customer.
#include <functional>
#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "tools/rowset/Commands.h"
#include "tools/rowset/FieldText.h"

namespace rowset::cli {

namespace {

void Heading(FILE* Out, const char* Text) { std::fprintf(Out, "\n== %s\n", Text); }

void Show(FILE* Out, const TMySQLDatasetBase& Dataset) {
  Printer(Format::kTable, Out).Result(Runner::TableOf(Dataset));
}

// Prints each statement a dataset generates, just before it is sent.
TMySQLEvent ShowStatements(FILE* Out) {
  return [Out](TMySQLDatasetBase*, std::string& Sql, bool&) {
    std::fprintf(Out, "  SQL> %s\n", Sql.c_str());
  };
}

std::unique_ptr<TMySQLTable> OpenTable(TMySQLServer& Server, const std::string& Name) {
  auto table = std::make_unique<TMySQLTable>();
  table->SetServer(&Server);
  table->SetTableName(Name);
  table->Open();
  return table;
}

// Each table is made from its dataset's field and index definitions when it
// is first opened (doAutoCreate); the script it runs is shown first.
void MakeTable(TMySQLServer& Server, FILE* Out, const std::string& Name,
               const std::function<void(TFieldDefs&)>& Fields) {
  TMySQLTable table;
  table.SetServer(&Server);
  table.SetTableName(Name);
  table.SetOptions(table.Options() + TMySQLDatasetOptions{doAutoCreate});
  Fields(*table.FieldDefs());
  table.IndexDefs()->Add("", "id", {ixPrimary});
  std::string script = table.CreateTable(false);
  std::fprintf(Out, "%s (created by doAutoCreate at open):\n", Name.c_str());
  // The script has a line per name and per type; shown one statement a line.
  std::string shown = "  ";
  bool blank = false;
  for (char c : script) {
    if (c == ';') {
      shown += ";\n  ";
      blank = false;
    } else if (c == ' ' || c == '\r' || c == '\n' || c == '\t') {
      blank = shown.back() != ' ' && shown.back() != '(';
    } else {
      if (blank && c != ',' && c != ')') shown += ' ';
      shown += c;
      blank = false;
    }
  }
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\n')) shown.pop_back();
  std::fprintf(Out, "%s\n", shown.c_str());
  table.Open();
  table.Close();
}

void MakeTables(TMySQLServer& Server, FILE* Out) {
  MakeTable(Server, Out, "customers", [](TFieldDefs& f) {
    f.Add("id", ftAutoInc);
    f.Add("name", ftString, 40, true);
    f.Add("city", ftString, 40);
  });
  MakeTable(Server, Out, "orders", [](TFieldDefs& f) {
    f.Add("id", ftAutoInc);
    f.Add("customer_id", ftInteger, 0, true);
    f.Add("item", ftString, 40, true);
    f.Add("qty", ftInteger, 0, true);
    f.Add("ordered", ftDate);
  });
}

// The customer's name of each order, found with Lookup on the customers
// table by the order's customer_id.
void LookupNames(TMySQLServer& Server, FILE* Out) {
  auto customers = OpenTable(Server, "customers");
  auto orders = OpenTable(Server, "orders");
  for (orders->First(); !orders->Eof(); orders->Next()) {
    Variant name = customers->Lookup("id", orders->FieldByName("customer_id")->AsVariant(), "name");
    std::fprintf(Out, "order %-3s %-22s -> %s\n", orders->FieldByName("id")->AsString().c_str(),
                 orders->FieldByName("item")->AsString().c_str(),
                 name.IsNull() ? "(no customer)" : name.AsString().c_str());
  }
}

void Fill(TMySQLServer& Server, FILE* Out) {
  struct Customer {
    const char* name;
    const char* city;
  };
  const Customer customers[] = {{"Ada's Bakery", "Leeds"}, {"Bolt & Nut", "Turin"}, {"Café Ñandú", nullptr}};
  auto table = OpenTable(Server, "customers");
  for (const Customer& c : customers) {
    table->Append();
    table->FieldByName("name")->SetAsString(c.name);
    if (c.city) table->FieldByName("city")->SetAsString(c.city);
    table->Post();  // the new id comes back from the server
  }
  std::fprintf(Out, "3 customers appended through a TMySQLTable; the last got id %s\n",
               table->FieldByName("id")->AsString().c_str());

  struct Order {
    int customer;
    const char* item;
    int qty;
    const char* ordered;
  };
  const Order orders[] = {{1, "flour; 25 kg", 4, "2026-03-02"}, {1, "yeast", 12, "2026-03-09"},
                          {2, "M6 bolts", 500, "2026-04-17"}, {2, "washers", 500, nullptr},
                          {3, "cocoa", 2, "2026-05-30"}};
  auto detail = OpenTable(Server, "orders");
  for (const Order& o : orders) {
    detail->Append();
    detail->FieldByName("customer_id")->SetAsInteger(o.customer);
    detail->FieldByName("item")->SetAsString(o.item);
    detail->FieldByName("qty")->SetAsInteger(o.qty);
    if (o.ordered) SetFieldText(detail->FieldByName("ordered"), o.ordered);
    detail->Post();
  }
  std::fprintf(Out, "5 orders appended the same way\n");
}

void Browse(TMySQLServer& Server, FILE* Out) {
  TMySQLQuery master;
  master.SetServer(&Server);
  master.SQL()->SetText("select id, name, city from customers order by id");
  TDataSource source;
  source.SetDataSet(&master);
  TMySQLQuery detail;
  detail.SetServer(&Server);
  detail.SQL()->SetText("select id, item, qty, ordered from orders order by id");
  detail.SetDataSource(&source);
  detail.SetMasterFields("customer_id=id");
  master.Open();
  detail.Open();
  // The detail re-reads its rows each time the master moves.
  for (master.First(); !master.Eof(); master.Next()) {
    std::fprintf(Out, "customer %s: %s (%s)\n", master.FieldByName("id")->AsString().c_str(),
                 master.FieldByName("name")->AsString().c_str(),
                 master.FieldByName("city")->IsNull() ? "no city"
                                                      : master.FieldByName("city")->AsString().c_str());
    Show(Out, detail);
  }
  detail.Close();
  master.Close();
}

void EditOne(TMySQLServer& Server, FILE* Out) {
  auto orders = OpenTable(Server, "orders");
  orders->OnExecSQL = ShowStatements(Out);
  orders->First();
  orders->Next();
  std::fprintf(Out, "order %s: qty %s -> 24\n", orders->FieldByName("id")->AsString().c_str(),
               orders->FieldByName("qty")->AsString().c_str());
  orders->Edit();
  orders->FieldByName("qty")->SetAsInteger(24);
  orders->Post();
}

void CachedUpdates(TMySQLServer& Server, FILE* Out) {
  // A TMySQLDataset publishes the held-back statements (SQLCached).
  auto orders = std::make_unique<TMySQLDataset>();
  orders->SetServer(&Server);
  orders->SQL()->SetText("select * from orders order by id");
  orders->Open();
  orders->SetCachedUpdates(true);
  orders->Last();
  orders->Edit();
  orders->FieldByName("qty")->SetAsInteger(3);
  orders->Post();
  orders->Prior();
  orders->Delete();
  orders->Append();
  orders->FieldByName("customer_id")->SetAsInteger(3);
  orders->FieldByName("item")->SetAsString("vanilla \"bourbon\"");
  orders->FieldByName("qty")->SetAsInteger(1);
  orders->Post();
  std::fprintf(Out, "held back, nothing sent yet (%d statements):\n", orders->SQLCached()->Count());
  for (int i = 0; i < orders->SQLCached()->Count(); ++i)
    std::fprintf(Out, "  %s\n", orders->SQLCached()->Get(i).c_str());
  orders->OnExecSQL = ShowStatements(Out);
  std::fprintf(Out, "  SQL> start transaction\n");
  Server.ExecSQL("start transaction");
  try {
    orders->ApplyUpdates();
    std::fprintf(Out, "  SQL> commit\n");
    Server.ExecSQL("commit");
  } catch (...) {
    Server.ExecSQL("rollback");
    throw;
  }
  std::fprintf(Out, "applied in one transaction\n");
  orders->OnExecSQL = nullptr;
  orders->SetCachedUpdates(false);  // re-reads the rows from the server
  Show(Out, *orders);
}

}  // namespace

int RunDemo(TMySQLServer& Server, FILE* Out) {
  std::fprintf(Out, "client: %s\nserver: %s\n", Server.ClientVersion().c_str(),
               Server.ServerVersion().c_str());
  Heading(Out, "A database and two tables made from their field definitions");
  Server.ExecSQL("drop database if exists rowset_demo");
  Server.ExecSQL("create database rowset_demo");
  Server.SetDatabaseName("rowset_demo");
  MakeTables(Server, Out);
  TStringList tables;
  Server.GetTableNames("rowset_demo", &tables);
  std::fprintf(Out, "tables in rowset_demo: %s\n", tables.CommaText().c_str());

  Heading(Out, "Filled through datasets (TMySQLTable: Append, Post)");
  Fill(Server, Out);

  Heading(Out, "Master/detail: each customer's orders");
  Browse(Server, Out);

  Heading(Out, "An edit and the statement it generates (OnExecSQL)");
  EditOne(Server, Out);

  Heading(Out, "Cached updates, applied in a transaction");
  CachedUpdates(Server, Out);

  Heading(Out, "Lookup: each order's customer");
  LookupNames(Server, Out);
  std::fprintf(Out, "\ndone: the database rowset_demo stays for you to look at.\n");
  return 0;
}

}  // namespace rowset::cli
