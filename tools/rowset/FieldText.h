// Field assignment from the texts a user types, in the server's own forms:
// dates as YYYY-MM-DD, times as HH:MM:SS, date-times as "YYYY-MM-DD
// HH:MM:SS" (a field's SetAsString would read the locale's short form).
#ifndef ROWSET_TOOLS_ROWSET_FIELDTEXT_H_
#define ROWSET_TOOLS_ROWSET_FIELDTEXT_H_

#include <string>

#include "host/DBFields.h"

namespace rowset::cli {

// Sets Field from Text; raises EConvertError (an Exception) for a text the
// field's type cannot take.
void SetFieldText(TField* Field, const std::string& Text);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_FIELDTEXT_H_
