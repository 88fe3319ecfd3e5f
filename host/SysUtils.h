// Dates, times, time stamps, the process-wide locale, number texts and a few
// string helpers of the host framework.
//
// A date-time value (TDateTime) is a double: its integer part counts days
// from 1899-12-30, its fraction is the time of day (for negative values the
// fraction's magnitude is the time). A time stamp holds milliseconds since
// midnight and a day number in which 0001-01-01 is day 1.
//
// The locale is process-wide; the application and tests may change it
// (SetFormatSettings) and every text conversion without an explicit
// TFormatSettings reads it. Number formatting and parsing with a given
// decimal separator never touch the process-wide locale, so it is safe from
// any thread.
#ifndef ROWSET_HOST_SYSUTILS_H_
#define ROWSET_HOST_SYSUTILS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/Exceptions.h"

namespace rowset {

using TDateTime = double;

struct TTimeStamp {
  int32_t Time;  // milliseconds since midnight
  int32_t Date;  // one plus the number of days since 0001-01-01
};

constexpr int32_t HoursPerDay = 24;
constexpr int32_t MinsPerDay = HoursPerDay * 60;
constexpr int32_t SecsPerDay = MinsPerDay * 60;
constexpr int32_t MSecsPerDay = SecsPerDay * 1000;
// Day number (time-stamp scale) of 1899-12-30, the date-time origin.
constexpr int32_t DateDelta = 693594;

struct TFormatSettings {
  // Letters d, m, y in the order the locale writes dates; the date order of
  // parsing is the first of D, E, M, Y found here (either case).
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "mmmm d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  // A two-digit year is read as the year from (current year - window) on
  // that ends in those digits: with 50 in 2026, "80" is 1980 and "75" is
  // 2075. 0 (or less): the current century.
  int TwoDigitYearCenturyWindow = 50;
};

// A copy of the process-wide locale, and its replacement. Either may be
// called from any thread; a conversion that reads the locale uses one
// snapshot for its whole work, so a change made meanwhile by another thread
// affects only later calls.
TFormatSettings GetFormatSettings();
void SetFormatSettings(const TFormatSettings& Settings);
// The decimal separator of the locale, without copying the settings.
char CurrentDecimalSeparator();

// Restores the process-wide locale at the end of a scope.
class TFormatSettingsScope {
 public:
  TFormatSettingsScope() : saved_(GetFormatSettings()) {}
  explicit TFormatSettingsScope(const TFormatSettings& Temporary) : saved_(GetFormatSettings()) {
    SetFormatSettings(Temporary);
  }
  ~TFormatSettingsScope() { SetFormatSettings(saved_); }
  TFormatSettingsScope(const TFormatSettingsScope&) = delete;
  TFormatSettingsScope& operator=(const TFormatSettingsScope&) = delete;

 private:
  TFormatSettings saved_;
};

enum TDateOrder { doMDY, doDMY, doYMD };
TDateOrder GetDateOrder(const std::string& ShortDateFormat);

// ---------------------------------------------------------------------------
// Calendar

bool IsLeapYear(int Year);
int DaysInAMonth(int Year, int Month);  // 0 for a month outside 1..12

// Encoding raises EConvertError for an impossible date or time (month 13,
// day 31 of April, February 29 of a common year, year 0 or above 9999,
// hour 24, minute 60 ...). The Try forms return false instead.
TDateTime EncodeDate(int Year, int Month, int Day);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Date);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Time);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);
// A date and a time of day as one value: before 1899-12-30 (a negative
// date) the time is subtracted, so the integer part stays the day.
TDateTime ComposeDateTime(TDateTime Date, TDateTime Time);
// The full year of a two-digit year under a century window (see
// TFormatSettings::TwoDigitYearCenturyWindow).
int ExpandTwoDigitYear(int Year, int CurrentYear, int Window);
// Decoding a value outside 0001-01-01 .. 9999-12-31 gives all zeros.
void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime Time, int& Hour, int& Min, int& Sec, int& MSec);
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec);
int DayOfWeek(TDateTime Date);  // 1 = Sunday

// Time stamps. DateTimeToTimeStamp raises EConvertError for a value that is
// not a finite number within the time-stamp range.
TTimeStamp DateTimeToTimeStamp(TDateTime DateTime);
TDateTime TimeStampToDateTime(const TTimeStamp& TimeStamp);
// Raises EConvertError for a time stamp with a negative time, a time of a
// day or more, or a date below 1.
double TimeStampToMSecs(const TTimeStamp& TimeStamp);
TTimeStamp MSecsToTimeStamp(double MSecs);

TDateTime Date();
TDateTime Time();
TDateTime Now();

// ---------------------------------------------------------------------------
// Date and time texts

// Parsing reads the parts in the locale's date order, separated by the
// locale's date separator (and time separator, decimal separator before
// milliseconds, optional AM/PM). Two-digit years use the century window; a
// date of two parts takes the current year. Impossible dates and times and
// anything left over raise EConvertError.
TDateTime StrToDate(const std::string& S);
TDateTime StrToTime(const std::string& S);
TDateTime StrToDateTime(const std::string& S);
TDateTime StrToDate(const std::string& S, const TFormatSettings& FS);
TDateTime StrToTime(const std::string& S, const TFormatSettings& FS);
TDateTime StrToDateTime(const std::string& S, const TFormatSettings& FS);
bool TryStrToDate(const std::string& S, TDateTime& Value, const TFormatSettings& FS);
bool TryStrToTime(const std::string& S, TDateTime& Value, const TFormatSettings& FS);
bool TryStrToDateTime(const std::string& S, TDateTime& Value, const TFormatSettings& FS);

// Format specifiers: c, d, dd, ddd, dddd, ddddd, dddddd, m, mm, mmm, mmmm,
// yy, yyyy, h, hh, n, nn, s, ss, z, zzz, t, tt, am/pm, a/p, ampm, "/" (date
// separator), ":" (time separator), quoted text in '...' or "...". After
// h or hh, m and mm mean minutes.
std::string FormatDateTime(const std::string& Format, TDateTime DateTime);
std::string FormatDateTime(const std::string& Format, TDateTime DateTime, const TFormatSettings& FS);
// FormatDateTime of the value with these parts (as DecodeDate and
// DecodeTime give them), without encoding and decoding it; parts that make
// no valid date and time raise EConvertError, as EncodeDateTime does.
std::string FormatDateTimeParts(const std::string& Format, int Year, int Month, int Day, int Hour,
                                int Min, int Sec, int MSec);
std::string DateToStr(TDateTime Date);
std::string TimeToStr(TDateTime Time);
// The date, followed by the time unless it is midnight.
std::string DateTimeToStr(TDateTime DateTime);

// ---------------------------------------------------------------------------
// Numbers

// General format with 15 significant digits: fixed notation unless the
// value needs more than 15 integer digits or is below 0.0001, then
// scientific ("1E20", "1.5E-7"); trailing zeros are dropped. Infinite and
// NaN values give "INF", "-INF" and "NAN".
std::string FloatToStr(double Value);  // locale separator
std::string FloatToStr(double Value, char DecimalSeparator);
std::string FloatToStr(double Value, const TFormatSettings& FS);
// Whether FloatToStr with the separator '.' gives Text back for the double
// nearest to it: a plain decimal ("-12.5", "0.001", "300") of at most 15
// significant digits, without leading zeros or trailing fraction zeros,
// from 0.0001 to below 1E15 in size, or "0".
bool IsFloatToStrText(std::string_view Text);
// The same layout with the fewest significant digits (up to 17) that read
// back to exactly the same double: "0.30000000000000004", "1.5", "1E20".
std::string FloatToStrExact(double Value, char DecimalSeparator);
// Blanks around the number, a sign, digits with one decimal separator and
// an exponent are accepted; anything else raises EConvertError.
double StrToFloat(const std::string& S);
double StrToFloat(const std::string& S, char DecimalSeparator);
double StrToFloat(const std::string& S, const TFormatSettings& FS);
bool TryStrToFloat(const std::string& S, double& Value, char DecimalSeparator);
double StrToFloatDef(const std::string& S, double Default);

std::string IntToStr(int64_t Value);
// Decimal with optional blanks and sign, or hexadecimal after "$" or "0x";
// raises EConvertError for anything else and for values out of range.
int32_t StrToInt(const std::string& S);
int64_t StrToInt64(const std::string& S);
int32_t StrToIntDef(const std::string& S, int32_t Default);
bool TryStrToInt(const std::string& S, int32_t& Value);
bool TryStrToInt64(const std::string& S, int64_t& Value);

// "True"/"False" (or "-1"/"0" when UseBoolStrs is false).
std::string BoolToStr(bool B, bool UseBoolStrs = true);
// "True"/"False" in any letter case, or a number (non-zero is true).
bool StrToBool(const std::string& S);
bool TryStrToBool(const std::string& S, bool& Value);

// ---------------------------------------------------------------------------
// Strings (byte-wise; only ASCII letters change case)

std::string UpperCase(const std::string& S);
std::string LowerCase(const std::string& S);
int CompareStr(const std::string& S1, const std::string& S2);
// The one ASCII letter-case-insensitive comparison of the library (bytes
// above 127 compare as they are).
int CompareText(std::string_view S1, std::string_view S2);
bool SameText(std::string_view S1, std::string_view S2);
// Trim removes leading and trailing characters with codes 0 to 32.
std::string Trim(const std::string& S);
std::string TrimLeft(const std::string& S);
std::string TrimRight(const std::string& S);

}  // namespace rowset

#endif  // ROWSET_HOST_SYSUTILS_H_
