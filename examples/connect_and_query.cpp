// Connects to a MariaDB or MySQL server and prints the rows of a query.
//   connect_and_query HOST PORT USER PASSWORD [SQL]
#include <cstdio>
#include <exception>
#include <string>

#include <rowset/rowset.h>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: connect_and_query HOST PORT USER PASSWORD [SQL]\n");
    return 2;
  }
  try {
    rowset::TMySQLServer server;  // the connection; built-in client by default
    server.SetHost(argv[1]);
    server.SetPort(static_cast<uint16_t>(std::stoi(argv[2])));
    server.SetUserName(argv[3]);
    server.SetPassword(argv[4]);
    server.Connect();

    rowset::TMySQLQuery query;  // a dataset holding the rows of one query
    query.SetServer(&server);
    query.SQL()->SetText(argc > 5 ? argv[5] : "select version(), current_user()");
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) {
      for (int i = 0; i < query.FieldCount(); ++i) {
        rowset::TField* field = query.Fields()[i];
        std::printf("%s%s", i ? " | " : "", field->IsNull() ? "NULL" : field->AsString().c_str());
      }
      std::printf("\n");
    }
  } catch (const std::exception& e) {  // EMySQLError: "[number] server text ..."
    std::fprintf(stderr, "connect_and_query: %s\n", e.what());
    return 1;
  }
  return 0;
}
