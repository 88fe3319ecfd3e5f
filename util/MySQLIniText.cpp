#include "util/MySQLIniText.h"

#include <vector>

namespace rowset {
namespace {

struct IniSection {
  std::string header;              // the whole header line, "[name]"
  std::vector<std::string> lines;  // key=value lines (and any other text)
};

// Splits the text into lines and groups them into sections, dropping
// comments, empty lines and lines before the first header. NUL bytes are
// ordinary characters here, so values keep every byte.
std::vector<IniSection> Parse(std::string_view text) {
  std::vector<IniSection> sections;
  size_t p = 0;
  const size_t n = text.size();
  while (p < n) {
    size_t b = p;
    while (p < n && text[p] != '\r' && text[p] != '\n') ++p;
    std::string_view line = text.substr(b, p - b);
    if (p < n && text[p] == '\r') ++p;
    if (p < n && text[p] == '\n') ++p;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      sections.push_back(IniSection{std::string(line), {}});
    } else if (!sections.empty()) {
      sections.back().lines.emplace_back(line);
    }
  }
  return sections;
}

std::string Build(const std::vector<IniSection>& sections) {
  std::string out;
  for (const IniSection& s : sections) {
    out += s.header;
    out += "\r\n";
    for (const std::string& line : s.lines) {
      out += line;
      out += "\r\n";
    }
  }
  return out;
}

// Index of the first section whose header is "[" + name + "]"; -1 if none.
long FindSection(const std::vector<IniSection>& sections, std::string_view name) {
  std::string header = "[" + std::string(name) + "]";
  for (size_t i = 0; i < sections.size(); ++i)
    if (SameText(sections[i].header, header)) return static_cast<long>(i);
  return -1;
}

// Index of the first line whose name (text before the first "=") is key.
long FindKey(const std::vector<std::string>& lines, std::string_view key) {
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t eq = lines[i].find('=');
    if (eq != std::string::npos && SameText(std::string_view(lines[i]).substr(0, eq), key))
      return static_cast<long>(i);
  }
  return -1;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

void CheckWritable(std::string_view section, std::string_view key,
                   std::string_view value) {
  if (HasLineBreak(section))
    throw EIniError("INI section name must not contain a line break");
  if (HasLineBreak(key) || key.find('=') != std::string_view::npos)
    throw EIniError("INI key \"" + std::string(key) +
                    "\" must not contain \"=\" or a line break");
  if (!key.empty() && (key[0] == ';' || key[0] == '['))
    throw EIniError("INI key \"" + std::string(key) +
                    "\" must not start with \";\" or \"[\"");
  if (HasLineBreak(value))
    throw EIniError("INI value of key \"" + std::string(key) +
                    "\" must not contain a line break");
}

}  // namespace

std::string ReadIniString(std::string_view Text, std::string_view Section,
                          std::string_view Key, std::string_view Default) {
  std::vector<IniSection> sections = Parse(Text);
  long s = FindSection(sections, Section);
  if (s < 0) return std::string(Default);
  const auto& lines = sections[s].lines;
  long k = FindKey(lines, Key);
  if (k < 0) return std::string(Default);
  return lines[k].substr(lines[k].find('=') + 1);
}

std::string ReadIniSection(std::string_view Text, std::string_view Section,
                           std::string_view Default) {
  std::vector<IniSection> sections = Parse(Text);
  long s = FindSection(sections, Section);
  if (s < 0) return std::string(Default);
  std::string out;
  for (const std::string& line : sections[s].lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::string WriteIniString(std::string_view Text, std::string_view Section,
                           std::string_view Key, std::string_view Value) {
  CheckWritable(Section, Key, Value);
  std::vector<IniSection> sections = Parse(Text);
  long s = FindSection(sections, Section);
  if (s < 0) {
    sections.push_back(IniSection{"[" + std::string(Section) + "]", {}});
    s = static_cast<long>(sections.size()) - 1;
  }
  auto& lines = sections[s].lines;
  long k = FindKey(lines, Key);
  std::string line = std::string(Key) + "=" + std::string(Value);
  if (Value.empty()) {
    // Every line of the key goes: with a repeated key, removing only the
    // first would let the next one be read as the value.
    while (k >= 0) {
      lines.erase(lines.begin() + k);
      k = FindKey(lines, Key);
    }
  } else if (k >= 0) {
    lines[k] = std::move(line);
  } else {
    lines.push_back(std::move(line));
  }
  return Build(sections);
}

std::string EraseIniSection(std::string_view Text, std::string_view Section) {
  std::vector<IniSection> sections = Parse(Text);
  long s = FindSection(sections, Section);
  if (s < 0) return std::string(Text);
  sections.erase(sections.begin() + s);
  return Build(sections);
}

int32_t ReadIniInteger(std::string_view Text, std::string_view Section,
                       std::string_view Key, int32_t Default) {
  return StrToIntDef(ReadIniString(Text, Section, Key, IntToStr(Default)), Default);
}

std::string WriteIniInteger(std::string_view Text, std::string_view Section,
                            std::string_view Key, int32_t Value) {
  return WriteIniString(Text, Section, Key, std::to_string(Value));
}

bool ReadIniBoolean(std::string_view Text, std::string_view Section,
                    std::string_view Key, bool Default) {
  return SameText(ReadIniString(Text, Section, Key, Default ? "True" : "False"), "True");
}

std::string WriteIniBoolean(std::string_view Text, std::string_view Section,
                            std::string_view Key, bool Value) {
  return WriteIniString(Text, Section, Key, Value ? "True" : "False");
}

double ReadIniFloat(std::string_view Text, std::string_view Section,
                    std::string_view Key, double Default) {
  const std::string value = ReadIniString(Text, Section, Key, FloatToStrExact(Default, '.'));
  double result = 0;
  if (TryStrToFloat(value, result, '.')) return result;
  return StrToFloat(value);  // the locale's separator, or EConvertError
}

std::string WriteIniFloat(std::string_view Text, std::string_view Section,
                          std::string_view Key, double Value) {
  return WriteIniString(Text, Section, Key, FloatToStrExact(Value, '.'));
}

TDateTime ReadIniDateTime(std::string_view Text, std::string_view Section,
                          std::string_view Key, TDateTime Default) {
  return ReadIniFloat(Text, Section, Key, Default);
}

std::string WriteIniDateTime(std::string_view Text, std::string_view Section,
                             std::string_view Key, TDateTime Value) {
  return WriteIniFloat(Text, Section, Key, Value);
}

}  // namespace rowset
