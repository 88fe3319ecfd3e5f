// Field assignment from server-form texts (see FieldText.h).
#include "tools/rowset/FieldText.h"

#include <cstdio>

#include "host/Exceptions.h"
#include "host/FieldTypes.h"
#include "host/SysUtils.h"

namespace rowset::cli {

namespace {

[[noreturn]] void Bad(const std::string& Text, const char* What) {
  throw EConvertError("'" + Text + "' is not a valid " + What + " (" +
                      (std::string(What) == "date" ? "YYYY-MM-DD" :
                       std::string(What) == "time" ? "HH:MM:SS" : "YYYY-MM-DD HH:MM:SS") + ")");
}

bool ReadDate(const std::string& T, size_t& Used, TDateTime& Out) {
  int y, m, d, n = 0;
  if (std::sscanf(T.c_str(), "%4d-%2d-%2d%n", &y, &m, &d, &n) != 3) return false;
  Used = static_cast<size_t>(n);
  return TryEncodeDate(y, m, d, Out);
}

bool ReadTime(const std::string& T, size_t From, TDateTime& Out) {
  int h, mi, s = 0, n = 0;
  const char* p = T.c_str() + From;
  int got = std::sscanf(p, "%2d:%2d:%2d%n", &h, &mi, &s, &n);
  if (got != 3) {
    n = 0;
    if (std::sscanf(p, "%2d:%2d%n", &h, &mi, &n) != 2) return false;
    s = 0;
  }
  return From + static_cast<size_t>(n) == T.size() && TryEncodeTime(h, mi, s, 0, Out);
}

}  // namespace

void SetFieldText(TField* Field, const std::string& Text) {
  TDateTime date = 0, time = 0;
  size_t used = 0;
  switch (Field->DataType()) {
    case ftDate:
      if (!ReadDate(Text, used, date) || used != Text.size()) Bad(Text, "date");
      Field->SetAsDateTime(date);
      return;
    case ftTime:
      if (!ReadTime(Text, 0, time)) Bad(Text, "time");
      Field->SetAsDateTime(time);
      return;
    case ftDateTime:
    case ftTimeStamp:
      if (!ReadDate(Text, used, date)) Bad(Text, "date and time");
      if (used < Text.size()) {
        if ((Text[used] != ' ' && Text[used] != 'T') || !ReadTime(Text, used + 1, time))
          Bad(Text, "date and time");
      }
      Field->SetAsDateTime(ComposeDateTime(date, time));
      return;
    default:
      Field->SetAsString(Text);
  }
}

}  // namespace rowset::cli
