// Identifiers of creation scripts (see components/MySQLScriptNames.h).
#include "components/MySQLScriptNames.h"

#include <string_view>

#include "host/Immortal.h"

namespace rowset {

namespace {

bool IsPlainIdentifierChar(char C) {
  return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_';
}

std::string BackQuoted(std::string_view S) {
  std::string out = "`";
  for (char c : S) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

}  // namespace

std::string ScriptIdentifier(TMySQLBase* Driver, const std::string& Name, bool Dotted) {
  if (Name.empty()) return Name;
  if (Driver != nullptr && Driver->ServerVer() > 0) {
    if (Driver->ServerVer() < 32306) return Name;
    if (Dotted) return Driver->FormatIdentifier(Name);
  }
  if (Dotted && Name.find('`') == std::string::npos && Name.find('.') != std::string::npos) {
    std::string out;
    size_t at = 0;
    while (at <= Name.size()) {
      size_t dot = Name.find('.', at);
      if (dot == std::string::npos) dot = Name.size();
      if (dot > at) {
        if (!out.empty()) out += '.';
        out += ScriptIdentifier(Driver, Name.substr(at, dot - at), false);
      }
      at = dot + 1;
    }
    return out;
  }
  // A name already in back-quotes stays as it is.
  if (Name.size() >= 2 && Name.front() == '`' && Name.back() == '`') return Name;
  // The reserved words do not depend on a connection; without a driver an
  // unloaded one that is never destroyed knows them.
  const TMySQLBase& words = Driver != nullptr ? *Driver : Immortal<TMySQLBase>();
  bool plain = !words.IsReservedWord(Name);
  bool digits_only = true;
  for (char c : Name) {
    if (!IsPlainIdentifierChar(c)) plain = false;
    if (c < '0' || c > '9') digits_only = false;
  }
  return plain && !digits_only ? Name : BackQuoted(Name);
}

}  // namespace rowset
