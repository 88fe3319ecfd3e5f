// "rowset demo" (see Commands.h).
#include "tools/rowset/Commands.h"

namespace rowset::cli {

int RunDemo(TMySQLServer& Server, FILE* Out) {
  std::fprintf(Out, "demo: not yet\n");
  return 0;
}

}  // namespace rowset::cli
