// Conversions between the texts a MySQL server sends or accepts (dates,
// times, date-times, TIMESTAMP digit strings, floating-point numbers) and the
// host's native date-time, time-stamp and number values.
//
// The date and time conversions are tolerant: a text that cannot be
// converted gives 0 (1899-12-30 00:00:00), or a time stamp of two zeros,
// never an error. The plain number conversions raise EConvertError.
//
// Date and time texts are split into words at any of the characters
// "-", "/", "\", ".", ":" and " " (WordInStr: runs of separators count as
// one) and only their first 255 bytes are looked at. Word-based date texts
// are read in the locale's date order by joining year, month and day in that
// order with the locale's date separator and handing the result to the
// locale's date parser, so "2004-03-15" reads the same under every locale.
#ifndef ROWSET_UTIL_MYSQLVALUETEXT_H_
#define ROWSET_UTIL_MYSQLVALUETEXT_H_

#include <string>
#include <string_view>

#include "host/SysUtils.h"

namespace rowset {

// --- Texts to date-time values (0 on failure) ---

// Year, month and day from words 1 to 3 ("0000", "00", "00" when missing),
// taken as they stand (no zero-filling or range checks), parsed by the
// locale's date parser: "2004.3.5" is 5 March 2004, "2004-02-30" gives 0.
TDateTime MySQLStrToDate(std::string_view S);
// Hours, minutes and seconds from words 1 to 3 ("00" when missing), parsed
// by the locale's time parser; further words (fractions) are ignored.
TDateTime MySQLStrToTime(std::string_view S);
// MySQLStrToDate of the first blank-separated word combined with
// MySQLStrToTime of the second (midnight when there is none) by the
// host's sign rule (ComposeDateTime), so dates before 1899-12-30 keep
// their day and time.
TDateTime MySQLStrToDateTime(std::string_view S);

// The 14-digit TIMESTAMP form YYYYMMDDHHMMSS read by position: the date from
// characters 1-8, the time from 9-14 (a part the text does not reach counts
// as zeros). Shorter TIMESTAMP forms with two-digit years are read by the same
// positions, without detection.
TDateTime MySQLTimeStampToDate(std::string_view S);
TDateTime MySQLTimeStampToTime(std::string_view S);
TDateTime MySQLTimeStampToDateTime(std::string_view S);

// --- Texts to time stamps ---

// Year, month, day from words 1 to 3 as integers (0 when missing or not a
// number), each 0 made 1, so "0000-00-00" is 0001-01-01. Writes Result.Date
// only; an impossible date (2004-04-31) sets both fields to 0.
void MySQLDateStrToTimeStamp(std::string_view S, TTimeStamp& Result);
// Hours, minutes, seconds from words 1 to 3 as integers, not repaired. Writes
// Result.Time only; an impossible time (25 hours) sets both fields to 0.
void MySQLTimeStrToTimeStamp(std::string_view S, TTimeStamp& Result);
// The date from the first blank-separated word, then the time from the
// second, as the two functions above (a failing time clears the date too).
void MySQLDateTimeStrToTimeStamp(std::string_view S, TTimeStamp& Result);
// The 14-digit TIMESTAMP form by position, with range repair: a year outside
// 1..9999 becomes 1, a month or day of 0 becomes 1, hours above 23 and
// minutes or seconds above 59 (or below 0) become 0. When the date still
// cannot be encoded (month 13, 31 April) both fields are 0.
void MySQLTimeStampStrToTimeStamp(std::string_view S, TTimeStamp& Result);

// The same, returning a record whose unwritten field is 0.
TTimeStamp MySQLDateStrToTimeStamp(std::string_view S);
TTimeStamp MySQLTimeStrToTimeStamp(std::string_view S);
TTimeStamp MySQLDateTimeStrToTimeStamp(std::string_view S);
TTimeStamp MySQLTimeStampStrToTimeStamp(std::string_view S);

// --- Locale float texts as date-time values (raise EConvertError) ---

// The locale float parse of S, unchanged.
TDateTime StrFloatToDateTime(const std::string& S);
// Its integer part (truncated toward zero).
TDateTime StrFloatToDate(const std::string& S);
// Its fraction, FloatToTime.
TDateTime StrFloatToTime(const std::string& S);
// X - trunc(X): the fraction, with the sign of X.
double FloatToTime(double X);

// "yyyy-mm-dd hh:nn:ss" read by position (characters 1-4 year, 6-7 month,
// 9-10 day, 12-19 the time, which may be absent) as month/day/year whatever
// the locale's date order and separators. Raises EConvertError when the
// parts do not make a valid date and time.
TDateTime StrToDateTimeFmt(std::string_view S);

// --- Numbers in MySQL's notation ("." as decimal separator) ---

// The host float parse with "." as decimal separator, whatever the locale
// says; raises EConvertError for a text that is not a number.
double MySQLStrToFloat(const std::string& S);
// The host's general float layout with ".", but with the fewest digits
// that read back to exactly X (up to 17) instead of 15, so that a value
// written to the server comes back unchanged: 0.1+0.2 is
// "0.30000000000000004", 1.5 is "1.5", 1e20 is "1E20".
std::string MySQLFloatToStr(double X);

// Character checks only: true when S is not empty and every character is a
// digit, "+" or "-" (IsValidFloat: or "."). The order is not checked, so
// "1-2" is valid; an exponent letter is not.
bool IsValidInt(std::string_view S);
bool IsValidFloat(std::string_view S);

}  // namespace rowset

#endif  // ROWSET_UTIL_MYSQLVALUETEXT_H_
