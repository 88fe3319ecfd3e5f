// Edits a table through a dataset and shows each statement it sends:
// raises the qty of the first row, deletes the second, appends a new one.
//   edit_table HOST PORT USER PASSWORD DATABASE
// The table is fruit (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), qty
// INT).
#include <rowset/rowset.h>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char **argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: edit_table HOST PORT USER PASSWORD DATABASE\n");
    return 2;
  }
  try {
    rowset::TMySQLServer server;
    server.SetHost(argv[1]);
    server.SetPort(static_cast<uint16_t>(std::stoi(argv[2])));
    server.SetUserName(argv[3]);
    server.SetPassword(argv[4]);
    server.SetDatabaseName(argv[5]);
    server.Connect();

    rowset::TMySQLTable table;  // one table; it writes UPDATE/INSERT/DELETE itself
    table.SetServer(&server);
    table.SetTableName("fruit");
    table.OnExecSQL = [](rowset::TMySQLDatasetBase*, std::string& sql, bool&) {
      std::printf("SQL: %s\n", sql.c_str());  // may also change it, or stop it
    };
    table.Open();

    table.First();
    table.Edit();
    table.FieldByName("qty")->SetAsInteger(table.FieldByName("qty")->AsInteger() + 1);
    table.Post();

    table.Next();
    table.Delete();

    table.Append();
    table.FieldByName("name")->SetAsString("kiwi");
    table.FieldByName("qty")->SetAsInteger(7);
    table.Post();  // the new id is read back from the server
    std::printf("new id: %s\n", table.FieldByName("id")->AsString().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "edit_table: %s\n", e.what());
    return 1;
  }
  return 0;
}
