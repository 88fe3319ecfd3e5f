// rowset-demo: the library's main program. Connects to a MySQL-protocol
// server and shows what it says.
#include <cstdio>

int main(int argc, char** argv) {
  std::printf("rowset demo: no transport built yet\n");
  return 0;
}
