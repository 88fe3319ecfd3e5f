#include "util/MySQLValueText.h"

#include <cmath>

#include "util/MySQLStrUtils.h"

namespace rowset {
namespace {

const char kPartSeparators[] = "-/\\. :";

// Date and time texts are short strings: only their first 255 bytes count.
std::string_view Short(std::string_view s) { return s.substr(0, 255); }

std::string WordOr(uint8_t n, std::string_view s, const char* missing) {
  std::string w = WordInStr(n, s, kPartSeparators);
  return w.empty() ? std::string(missing) : w;
}

// Characters [pos, pos + len) of s, 1-based, cut at the end of s; missing
// when s does not reach pos.
std::string CharsOr(std::string_view s, size_t pos, size_t len, const char* missing) {
  if (s.size() < pos) return std::string(missing);
  return std::string(s.substr(pos - 1, len));
}

int WordInt(uint8_t n, std::string_view s) {
  return StrToIntDef(WordInStr(n, s, kPartSeparators), 0);
}

int CharsInt(std::string_view s, size_t pos, size_t len) {
  return StrToIntDef(CharsOr(s, pos, len, ""), 0);
}

// Year, month and day texts joined in the locale's date order with its date
// separator, parsed by the locale's date parser; 0 when that fails.
TDateTime ParseDateParts(const std::string& y, const std::string& m, const std::string& d) {
  TFormatSettings fs = GetFormatSettings();
  const std::string sep(1, fs.DateSeparator);
  std::string text;
  switch (GetDateOrder(fs.ShortDateFormat)) {
    case doDMY: text = d + sep + m + sep + y; break;
    case doYMD: text = y + sep + m + sep + d; break;
    case doMDY: text = m + sep + d + sep + y; break;
  }
  TDateTime value;
  return TryStrToDate(text, value, fs) ? value : 0.0;
}

TDateTime ParseTimeParts(const std::string& h, const std::string& n, const std::string& s) {
  TFormatSettings fs = GetFormatSettings();
  const std::string sep(1, fs.TimeSeparator);
  TDateTime value;
  return TryStrToTime(h + sep + n + sep + s, value, fs) ? value : 0.0;
}

// Stores the day number of a valid date, or clears both fields.
void StoreDate(int year, int month, int day, TTimeStamp& ts) {
  TDateTime d;
  if (!TryEncodeDate(year, month, day, d)) {
    ts.Date = 0;
    ts.Time = 0;
    return;
  }
  ts.Date = static_cast<int32_t>(d) + DateDelta;
}

// Stores the milliseconds of a valid time, or clears both fields.
void StoreTime(int hour, int min, int sec, TTimeStamp& ts) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, 0, t)) {
    ts.Date = 0;
    ts.Time = 0;
    return;
  }
  ts.Time = ((hour * 60 + min) * 60 + sec) * 1000;
}

}  // namespace

TDateTime MySQLStrToDate(std::string_view S) {
  S = Short(S);
  return ParseDateParts(WordOr(1, S, "0000"), WordOr(2, S, "00"), WordOr(3, S, "00"));
}

TDateTime MySQLStrToTime(std::string_view S) {
  S = Short(S);
  return ParseTimeParts(WordOr(1, S, "00"), WordOr(2, S, "00"), WordOr(3, S, "00"));
}

TDateTime MySQLStrToDateTime(std::string_view S) {
  S = Short(S);
  return ComposeDateTime(MySQLStrToDate(WordInStr(1, S, " ")), MySQLStrToTime(WordInStr(2, S, " ")));
}

TDateTime MySQLTimeStampToDate(std::string_view S) {
  S = Short(S);
  return ParseDateParts(CharsOr(S, 1, 4, "0000"), CharsOr(S, 5, 2, "00"), CharsOr(S, 7, 2, "00"));
}

TDateTime MySQLTimeStampToTime(std::string_view S) {
  S = Short(S);
  return ParseTimeParts(CharsOr(S, 9, 2, "00"), CharsOr(S, 11, 2, "00"), CharsOr(S, 13, 2, "00"));
}

TDateTime MySQLTimeStampToDateTime(std::string_view S) {
  return ComposeDateTime(MySQLTimeStampToDate(S), MySQLTimeStampToTime(S));
}

void MySQLDateStrToTimeStamp(std::string_view S, TTimeStamp& Result) {
  S = Short(S);
  int year = WordInt(1, S), month = WordInt(2, S), day = WordInt(3, S);
  StoreDate(year == 0 ? 1 : year, month == 0 ? 1 : month, day == 0 ? 1 : day, Result);
}

void MySQLTimeStrToTimeStamp(std::string_view S, TTimeStamp& Result) {
  S = Short(S);
  StoreTime(WordInt(1, S), WordInt(2, S), WordInt(3, S), Result);
}

void MySQLDateTimeStrToTimeStamp(std::string_view S, TTimeStamp& Result) {
  S = Short(S);
  MySQLDateStrToTimeStamp(WordInStr(1, S, " "), Result);
  MySQLTimeStrToTimeStamp(WordInStr(2, S, " "), Result);
}

void MySQLTimeStampStrToTimeStamp(std::string_view S, TTimeStamp& Result) {
  S = Short(S);
  int year = CharsInt(S, 1, 4), month = CharsInt(S, 5, 2), day = CharsInt(S, 7, 2);
  int hour = CharsInt(S, 9, 2), min = CharsInt(S, 11, 2), sec = CharsInt(S, 13, 2);
  if (year < 1 || year > 9999) year = 1;
  if (month == 0) month = 1;
  if (day == 0) day = 1;
  if (hour < 0 || hour > 23) hour = 0;
  if (min < 0 || min > 59) min = 0;
  if (sec < 0 || sec > 59) sec = 0;
  StoreDate(year, month, day, Result);
  if (Result.Date != 0) StoreTime(hour, min, sec, Result);
}

TTimeStamp MySQLDateStrToTimeStamp(std::string_view S) {
  TTimeStamp ts{0, 0};
  MySQLDateStrToTimeStamp(S, ts);
  return ts;
}

TTimeStamp MySQLTimeStrToTimeStamp(std::string_view S) {
  TTimeStamp ts{0, 0};
  MySQLTimeStrToTimeStamp(S, ts);
  return ts;
}

TTimeStamp MySQLDateTimeStrToTimeStamp(std::string_view S) {
  TTimeStamp ts{0, 0};
  MySQLDateTimeStrToTimeStamp(S, ts);
  return ts;
}

TTimeStamp MySQLTimeStampStrToTimeStamp(std::string_view S) {
  TTimeStamp ts{0, 0};
  MySQLTimeStampStrToTimeStamp(S, ts);
  return ts;
}

TDateTime StrFloatToDateTime(const std::string& S) { return StrToFloat(S); }

TDateTime StrFloatToDate(const std::string& S) { return std::trunc(StrToFloat(S)); }

TDateTime StrFloatToTime(const std::string& S) { return FloatToTime(StrToFloat(S)); }

double FloatToTime(double X) { return X - std::trunc(X); }

TDateTime StrToDateTimeFmt(std::string_view S) {
  S = Short(S);
  std::string text = CharsOr(S, 6, 2, "") + "/" + CharsOr(S, 9, 2, "") + "/" +
                     CharsOr(S, 1, 4, "");
  std::string time = CharsOr(S, 12, 8, "");
  if (!time.empty()) text += " " + time;
  // The text is month/day/year with ":" between the time parts; read it so,
  // not in the locale's order, which would swap day and month elsewhere.
  TFormatSettings fs = GetFormatSettings();
  fs.ShortDateFormat = "m/d/yyyy";
  fs.DateSeparator = '/';
  fs.TimeSeparator = ':';
  return StrToDateTime(text, fs);
}

double MySQLStrToFloat(const std::string& S) { return StrToFloat(S, '.'); }

std::string MySQLFloatToStr(double X) { return FloatToStrExact(X, '.'); }

bool IsValidInt(std::string_view S) {
  if (S.empty()) return false;
  for (char c : S)
    if (!(c >= '0' && c <= '9') && c != '+' && c != '-') return false;
  return true;
}

bool IsValidFloat(std::string_view S) {
  if (S.empty()) return false;
  for (char c : S)
    if (!(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  return true;
}

}  // namespace rowset
