// The interactive client (see Commands.h).
#include "tools/rowset/Commands.h"

namespace rowset::cli {

int RunInteractive(TMySQLServer& Server, const Options& Opts, Runner& Run, Printer& Out) {
  return 0;
}

}  // namespace rowset::cli
