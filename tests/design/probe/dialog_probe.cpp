// Shows a dialog on the terminal it runs in and writes what it got back to
// the file named by its second argument, for the terminal tests.
//   dialog_probe login|remote|confirm|links OUTFILE
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "design/MySQLLinks.h"
#include "design/MySQLLoginDlg.h"
#include "design/MySQLPropEdit.h"

namespace {

using namespace rowset;

std::string Login(const std::string& mode) {
  std::string host = "db.example", port = "3306", user = "alice", password = "secret";
  bool ok = mode == "remote" ? RemoteLoginDialog(user, password)
                             : MySQLLoginDialog(host, port, user, password);
  std::ostringstream out;
  out << "result=" << (ok ? "OK" : "CANCEL") << "\nhost=" << host << "\nport=" << port
      << "\nuser=" << user << "\npassword=" << password << "\n";
  return out.str();
}

// The Connected editor's warning on a server that would drop its database.
std::string Confirm() {
  Register();
  TMySQLServer server;
  server.SetDatabaseName("shop");
  server.SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  DesignRegistry().GetPropertyEditor({&server}, "Connected")->SetValue("True");
  return std::string("connected=") + (server.GetConnected() ? "1" : "0") + "\n";
}

std::string Links() {
  TMySQLQuery master, detail;
  for (const char* f : {"id", "cust_id", "name"}) detail.FieldDefs()->Add(f, ftString, 10);
  for (const char* f : {"id", "name"}) master.FieldDefs()->Add(f, ftString, 10);
  TDataSource source;
  source.SetDataSet(&master);
  detail.SetMasterSource(&source);
  detail.SetMasterFields("old=id");
  const bool ok = EditMasterFields(&detail);
  std::string text = detail.MasterFields();
  detail.SetMasterSource(nullptr);
  return std::string("result=") + (ok ? "OK" : "CANCEL") + "\nmasterfields=" + text + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string mode = argv[1];
  std::string result = mode == "confirm" ? Confirm() : mode == "links" ? Links() : Login(mode);
  // The terminal must be as it was: line input with echo.
  termios t{};
  const bool restored = tcgetattr(STDIN_FILENO, &t) == 0 && (t.c_lflag & ECHO) &&
                        (t.c_lflag & ICANON) && (t.c_lflag & ISIG);
  {
    std::ofstream out(std::string(argv[2]) + ".tmp");
    out << result << "restored=" << restored << "\n";
  }
  std::rename((std::string(argv[2]) + ".tmp").c_str(), argv[2]);
  std::cout << "PROBE DONE" << std::endl;
  // Stay on screen until the test has read it.
  std::string line;
  std::getline(std::cin, line);
  return 0;
}
