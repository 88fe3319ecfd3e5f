// Identifiers in generated creation scripts (tables, their databases, columns
// and indexes). A script may be built before the connection exists (the
// connection component collects its datasets' scripts before it connects),
// so the quoting must not depend on one: a name that is not a plain
// identifier (a reserved word, any character outside letters, digits and
// "_", digits only) is back-quoted, back-quotes inside it doubled. Only a
// server known to be older than 3.23.6, which takes no back-quotes, gets
// names as they are.
#ifndef ROWSET_COMPONENTS_MYSQLSCRIPTNAMES_H_
#define ROWSET_COMPONENTS_MYSQLSCRIPTNAMES_H_

#include <string>

#include "drivers/MySQLDrivers.h"

namespace rowset {

// Name as a script identifier. Dotted: a qualified name whose parts are
// quoted one by one (as the connection's FormatIdentifier does); otherwise
// the whole name is one identifier (a column or index name). Driver may be
// nullptr; a connected one quotes dotted names itself.
std::string ScriptIdentifier(TMySQLBase* Driver, const std::string& Name, bool Dotted);

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLSCRIPTNAMES_H_
