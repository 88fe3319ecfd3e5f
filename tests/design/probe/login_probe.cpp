// Shows a login form on the terminal it runs in and writes what it got back
// to the file named by its second argument, for the terminal tests.
//   login_probe login|remote OUTFILE
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "design/MySQLLoginDlg.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string mode = argv[1];
  std::string host = "db.example", port = "3306", user = "alice", password = "secret";
  bool ok;
  if (mode == "remote")
    ok = rowset::RemoteLoginDialog(user, password);
  else
    ok = rowset::MySQLLoginDialog(host, port, user, password);
  // The terminal must be as it was: line input with echo.
  termios t{};
  const bool restored = tcgetattr(STDIN_FILENO, &t) == 0 && (t.c_lflag & ECHO) &&
                        (t.c_lflag & ICANON) && (t.c_lflag & ISIG);
  {
    std::ofstream out(std::string(argv[2]) + ".tmp");
    out << "result=" << (ok ? "OK" : "CANCEL") << "\nhost=" << host << "\nport=" << port
        << "\nuser=" << user << "\npassword=" << password << "\nrestored=" << restored << "\n";
  }
  std::rename((std::string(argv[2]) + ".tmp").c_str(), argv[2]);
  std::cout << "PROBE DONE" << std::endl;
  // Stay on screen until the test has read it.
  std::string line;
  std::getline(std::cin, line);
  return 0;
}
