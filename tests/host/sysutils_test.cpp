#include "host/SysUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace rowset {
namespace {

TFormatSettings Locale(const std::string& short_date, char date_sep, char decimal = '.') {
  TFormatSettings fs;
  fs.ShortDateFormat = short_date;
  fs.DateSeparator = date_sep;
  fs.DecimalSeparator = decimal;
  return fs;
}

int CurrentYearForTest() {
  int y, m, d;
  DecodeDate(Date(), y, m, d);
  return y;
}

TEST(DateTest, EncodeDecodeBoundaries) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2004, 3, 15), 38061.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);

  int y, m, d;
  for (TDateTime v : {-693593.0, 0.0, 59.0, 60.0, 61.0, 38061.0, 2958465.0, 36585.0, 36584.0}) {
    DecodeDate(v, y, m, d);
    EXPECT_EQ(EncodeDate(y, m, d), v) << v;
  }
  DecodeDate(0, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991230);
  DecodeDate(EncodeDate(2000, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
  DecodeDate(EncodeDate(2000, 12, 31), y, m, d);  // last day of a 400-year cycle
  EXPECT_EQ(y * 10000 + m * 100 + d, 20001231);
  DecodeDate(EncodeDate(2004, 12, 31), y, m, d);  // last day of a leap year
  EXPECT_EQ(y * 10000 + m * 100 + d, 20041231);
  DecodeDate(2958466.0, y, m, d);  // beyond 9999-12-31
  EXPECT_EQ(y + m + d, 0);

  // Impossible dates and times raise.
  EXPECT_THROW(EncodeDate(2004, 2, 30), EConvertError);
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeDate(2004, 4, 31), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2004, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2004, 1, 0), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(2100));

  int h, n, s, ms;
  DecodeTime(EncodeTime(13, 45, 10, 500), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 134510500);
  // A negative date-time keeps its time as the fraction's magnitude.
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(DayOfWeek(EncodeDate(2004, 3, 15)), 2);  // a Monday
}

// Every day from 0001-01-01 to 9999-12-31 follows the one before it, and
// encodes back to its own number; the anchors of the scale hold.
TEST(DateTest, EveryDayOfTheCalendarInTurn) {
  int py = 1, pm = 1, pd = 0;
  int wrong = 0;
  for (int32_t n = 1; n <= 3652059; ++n) {
    int y, m, d;
    DecodeDate(TimeStampToDateTime(TTimeStamp{0, n}), y, m, d);
    int ey = py, em = pm, ed = pd + 1;
    if (ed > DaysInAMonth(ey, em)) ed = 1, ++em;
    if (em > 12) em = 1, ++ey;
    if (y != ey || m != em || d != ed || DateTimeToTimeStamp(EncodeDate(y, m, d)).Date != n) {
      if (++wrong < 5) ADD_FAILURE() << n << ": " << y << "-" << m << "-" << d;
    }
    py = y, pm = m, pd = d;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(py, 9999);
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
  EXPECT_EQ(DateTimeToTimeStamp(0).Date, DateDelta);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_EQ(DaysInAMonth(1900, 2), 28);
  EXPECT_EQ(DaysInAMonth(2000, 2), 29);
  EXPECT_EQ(DaysInAMonth(2001, 13), 0);
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 8)), 3);  // a Tuesday
}

TEST(DateTest, TimeStamps) {
  TTimeStamp ts = DateTimeToTimeStamp(0);
  EXPECT_EQ(ts.Date, DateDelta);
  EXPECT_EQ(ts.Time, 0);
  ts = DateTimeToTimeStamp(EncodeDate(1, 1, 1));
  EXPECT_EQ(ts.Date, 1);
  ts = DateTimeToTimeStamp(EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(ts.Time, 49510000);
  EXPECT_EQ(TimeStampToDateTime(ts), EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 10, 0));
  // Rounding up to midnight moves to the next day instead of a time of 24h.
  ts = DateTimeToTimeStamp(1.0 - 1e-12);
  EXPECT_EQ(ts.Time, 0);
  EXPECT_EQ(ts.Date, DateDelta + 1);
  EXPECT_EQ(TimeStampToDateTime({0, 0}), -693594.0);
  EXPECT_THROW(DateTimeToTimeStamp(1e300), EConvertError);
  EXPECT_THROW(TimeStampToMSecs({-1, 5}), EConvertError);
  EXPECT_THROW(TimeStampToMSecs({0, 0}), EConvertError);
  TTimeStamp back = MSecsToTimeStamp(TimeStampToMSecs({1234, 700000}));
  EXPECT_EQ(back.Date, 700000);
  EXPECT_EQ(back.Time, 1234);
}

TEST(DateTest, ParsingFollowsLocaleOrderAndSeparator) {
  const TDateTime march15 = EncodeDate(2004, 3, 15);
  EXPECT_EQ(StrToDate("3/15/2004", Locale("M/d/yyyy", '/')), march15);
  EXPECT_EQ(StrToDate("15.03.2004", Locale("dd.MM.yyyy", '.')), march15);
  EXPECT_EQ(StrToDate("2004-03-15", Locale("yyyy-MM-dd", '-')), march15);
  EXPECT_EQ(StrToDate("2004-03-15", Locale("ee-MM-dd", '-')), march15);  // E: year first
  EXPECT_EQ(StrToDate("3/15/2004", Locale("", '/')), march15);         // no letter: m/d/y
  // The wrong separator or order fails with the host's conversion error.
  EXPECT_THROW(StrToDate("2004-03-15", Locale("M/d/yyyy", '/')), EConvertError);
  EXPECT_THROW(StrToDate("15/03/2004", Locale("M/d/yyyy", '/')), EConvertError);
  EXPECT_THROW(StrToDate("2004-02-30", Locale("yyyy-MM-dd", '-')), EConvertError);
  EXPECT_THROW(StrToDate("0000-00-00", Locale("yyyy-MM-dd", '-')), EConvertError);
  EXPECT_THROW(StrToDate("", Locale("yyyy-MM-dd", '-')), EConvertError);
  EXPECT_THROW(StrToDate("2004-03-15x", Locale("yyyy-MM-dd", '-')), EConvertError);
  EXPECT_EQ(StrToDate("2004.3.5", Locale("yyyy.M.d", '.')), EncodeDate(2004, 3, 5));

  TFormatSettings fs = Locale("yyyy-MM-dd", '-');
  EXPECT_EQ(StrToTime("13:45:10", fs), EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(StrToTime("1:05 PM", fs), EncodeTime(13, 5, 0, 0));
  EXPECT_EQ(StrToTime("13:45:10.250", fs), EncodeTime(13, 45, 10, 250));
  EXPECT_THROW(StrToTime("25:00:00", fs), EConvertError);
  EXPECT_THROW(StrToTime("12:61", fs), EConvertError);
  EXPECT_EQ(StrToDateTime("2004-03-15 13:45:10", fs), march15 + EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(StrToDateTime("2004-03-15", fs), march15);
  EXPECT_EQ(StrToDateTime("13:45", fs), EncodeTime(13, 45, 0, 0));
  EXPECT_THROW(StrToDateTime("2004-03-15 99:00", fs), EConvertError);

  // Two-digit years: the century that puts the year at or after the pivot
  // (this year minus the window).
  int y, m, d;
  DecodeDate(StrToDate("05-03-15", fs), y, m, d);
  EXPECT_EQ(y % 100, 5);
  const int pivot = CurrentYearForTest() - fs.TwoDigitYearCenturyWindow;
  EXPECT_GE(y, pivot);
  EXPECT_LT(y, pivot + 100);

  // The process-wide locale is used by the plain forms.
  TFormatSettingsScope scope(Locale("dd.MM.yyyy", '.'));
  EXPECT_EQ(StrToDate("15.03.2004"), march15);
}

TEST(DateTest, TwoDigitYearsOnBothSidesOfThePivot) {
  // Window 50 in 2026: the pivot is 1976.
  EXPECT_EQ(ExpandTwoDigitYear(80, 2026, 50), 1980);
  EXPECT_EQ(ExpandTwoDigitYear(76, 2026, 50), 1976);
  EXPECT_EQ(ExpandTwoDigitYear(75, 2026, 50), 2075);
  EXPECT_EQ(ExpandTwoDigitYear(26, 2026, 50), 2026);
  EXPECT_EQ(ExpandTwoDigitYear(0, 2026, 50), 2000);
  EXPECT_EQ(ExpandTwoDigitYear(99, 2026, 50), 1999);
  EXPECT_EQ(ExpandTwoDigitYear(99, 2026, 10), 2099);
  EXPECT_EQ(ExpandTwoDigitYear(16, 2026, 10), 2016);
  EXPECT_EQ(ExpandTwoDigitYear(15, 2026, 10), 2115);
  // Window 0: the current century.
  EXPECT_EQ(ExpandTwoDigitYear(80, 2026, 0), 2080);
  EXPECT_EQ(ExpandTwoDigitYear(5, 2026, 0), 2005);

  // The parser uses this year's pivot: the pivot year itself and the year
  // before it land 99 years apart.
  TFormatSettings fs = Locale("m/d/yy", '/');
  const int pivot = CurrentYearForTest() - fs.TwoDigitYearCenturyWindow;
  auto two = [](int y) { return std::to_string(y % 100 / 10) + std::to_string(y % 10); };
  int y, m, d;
  DecodeDate(StrToDate("1/1/" + two(pivot), fs), y, m, d);
  EXPECT_EQ(y, pivot);
  DecodeDate(StrToDate("1/1/" + two(pivot - 1), fs), y, m, d);
  EXPECT_EQ(y, pivot + 99);
  DecodeDate(StrToDate("1/1/" + two(pivot + 30), fs), y, m, d);
  EXPECT_EQ(y, pivot + 30);
}

TEST(DateTest, Formatting) {
  TFormatSettings fs = Locale("dd.MM.yyyy", '.');
  TDateTime v = EncodeDate(2004, 3, 5) + EncodeTime(7, 8, 9, 45);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", v, fs), "2004-03-05 07:08:09");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:mm:ss.zzz", v, fs), "2004.03.05 07:08:09.045");
  EXPECT_EQ(FormatDateTime("d mmm yy 'at' h:nn am/pm", v, fs), "5 Mar 04 at 7:08 am");
  EXPECT_EQ(FormatDateTime("dddd", v, fs), "Friday");
  EXPECT_EQ(FormatDateTime("c", v, fs), "05.03.2004 7:08:09 AM");
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2004, 3, 5), fs), "05.03.2004");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", 0, fs), "1899-12-30");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", EncodeDate(1, 1, 1), fs), "0001-01-01");
}

// Every kind of format step, through the locale's formats and through a
// locale given with the call; the two roads agree.
TEST(DateTest, FormatStepsThroughTheLocaleAndGiven) {
  TFormatSettings fs = Locale("dd.MM.yyyy", '.');
  fs.LongDateFormat = "dddd, d. mmmm yyyy";
  fs.ShortTimeFormat = "hh:nn";
  fs.LongTimeFormat = "hh:nn:ss";
  fs.TimeAMString = "vorm.";
  fs.TimePMString = "nachm.";
  TFormatSettingsScope scope(fs);
  const TDateTime v = EncodeDate(2004, 3, 5) + EncodeTime(19, 8, 9, 45);
  const TDateTime midnight = EncodeDate(2004, 3, 5);
  const struct {
    const char* format;
    TDateTime value;
    const char* text;
  } cases[] = {
      {"c", v, "05.03.2004 19:08:09"},
      {"c", midnight, "05.03.2004"},
      {"c", midnight + EncodeTime(0, 0, 0, 5), "05.03.2004 00:00:00"},
      {"'c:' c|", midnight, "c: 05.03.2004|"},
      {"'c:' c|", v, "c: 05.03.2004 19:08:09|"},
      {"yy yyyy mm dd hh nn ss zzz", EncodeDateTime(7, 1, 2, 0, 0, 0, 7),
       "07 0007 01 02 00 00 00 007"},
      {"yyyy-mm-dd hh:nn:ss.zzz", EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999),
       "9999-12-31 23:59:59.999"},
      {"ddddd", v, "05.03.2004"},
      {"dddddd", v, "Friday, 5. March 2004"},
      {"ddd d/m/yy", v, "Fri 5.3.04"},
      {"mmm mmmm", v, "Mar March"},
      {"h:m:s", v, "19:8:9"},
      {"hh:mm", v, "19:08"},
      {"h am/pm A/P ampm", v, "7 pm P nachm."},
      {"h AM/PM a/p", midnight, "12 AM a"},
      {"t|tt", v, "19:08|19:08:09"},
      {"z zzz", v, "45 045"},
      {"\"yyyy\" yyyy", v, "yyyy 2004"},
      {"", v, "05.03.2004 19:08:09"},
      {"x", v, "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(FormatDateTime(c.format, c.value), c.text);
    EXPECT_EQ(FormatDateTime(c.format, c.value, fs), c.text);
  }
  EXPECT_EQ(DateTimeToStr(v), "05.03.2004 19:08:09");
  EXPECT_EQ(DateToStr(v), "05.03.2004");
  EXPECT_EQ(TimeToStr(v), "19:08:09");
  // A locale format that names itself ends after a few levels.
  fs.ShortDateFormat = "c";
  EXPECT_EQ(FormatDateTime("c", midnight, fs), FormatDateTime("c", midnight, fs));
}

// Formatting from the parts gives what formatting the encoded value gives,
// for every step kind, across the calendar and the clock.
TEST(DateTest, FormattingFromPartsAgreesWithTheValue) {
  TFormatSettings fs = Locale("dd.MM.yyyy", '.');
  fs.LongDateFormat = "dddd, d. mmmm yyyy";
  TFormatSettingsScope scope(fs);
  const char* const formats[] = {"c", "ddddd", "dddddd", "ddd d/m/yy", "mmm mmmm", "h:m:s",
                                 "h am/pm A/P ampm", "t|tt", "z zzz", "yyyy-mm-dd hh:nn:ss"};
  const int dates[][3] = {{1, 1, 1},     {1, 12, 31},  {1899, 12, 29}, {1899, 12, 30},
                          {1900, 2, 28}, {2000, 2, 29}, {2020, 1, 1},   {9999, 12, 31}};
  const int times[][4] = {{0, 0, 0, 0}, {0, 0, 1, 0}, {11, 59, 59, 999}, {12, 0, 0, 0}, {23, 59, 59, 0}};
  for (const auto& d : dates) {
    for (const auto& t : times) {
      const TDateTime v = EncodeDateTime(d[0], d[1], d[2], t[0], t[1], t[2], t[3]);
      for (const char* f : formats) {
        SCOPED_TRACE(std::string(f) + " " + std::to_string(d[0]) + "-" + std::to_string(d[1]) + "-" +
                     std::to_string(d[2]) + " " + std::to_string(t[0]) + ":" + std::to_string(t[1]) +
                     ":" + std::to_string(t[2]) + "." + std::to_string(t[3]));
        EXPECT_EQ(FormatDateTimeParts(f, d[0], d[1], d[2], t[0], t[1], t[2], t[3]), FormatDateTime(f, v));
      }
    }
  }
  EXPECT_THROW(FormatDateTimeParts("c", 2021, 2, 29, 0, 0, 0, 0), EConvertError);
  EXPECT_THROW(FormatDateTimeParts("c", 2021, 2, 28, 24, 0, 0, 0), EConvertError);
}

// A format used before is read again when the locale changes, and the
// earlier locale's form is right again after switching back.
TEST(DateTest, FormatsFollowLocaleChanges) {
  const TDateTime v = EncodeDate(2004, 3, 5) + EncodeTime(7, 8, 9, 0);
  TFormatSettingsScope scope(Locale("dd.MM.yyyy", '.'));
  EXPECT_EQ(DateTimeToStr(v), "05.03.2004 7:08:09 AM");
  SetFormatSettings(Locale("yyyy-mm-dd", '-'));
  EXPECT_EQ(DateTimeToStr(v), "2004-03-05 7:08:09 AM");
  for (int i = 0; i < 6; ++i) {
    TFormatSettings fs = Locale(i % 2 ? "d/m/yyyy" : "m/d/yyyy", i < 3 ? '/' : '-');
    SetFormatSettings(fs);
    EXPECT_EQ(DateToStr(v), FormatDateTime("ddddd", v, fs));
  }
  SetFormatSettings(Locale("dd.MM.yyyy", '.'));
  EXPECT_EQ(DateTimeToStr(v), "05.03.2004 7:08:09 AM");
}

// Texts that FloatToStr gives back unchanged are recognised; a text taken
// for one always reads back as itself.
TEST(NumberTest, TextsThatFloatToStrGivesBack) {
  for (const char* t : {"0", "1", "-1", "0.1", "-12.5", "100", "123456789012345", "0.0001",
                        "0.000123456789012", "0.123456789012345", "99999999999999.9", "3.25",
                        "100000000000000"})
    EXPECT_TRUE(IsFloatToStrText(t)) << t;
  for (const char* t : {"", "-", "-0", "00", "01", "1.", ".5", "1.0", "1.50", "+1", " 1", "1e5",
                        "1E5", "0.00001", "1234567890123456", "1000000000000000",
                        "0.1234567890123456", "12345678.90123456", "1,5", "0x10", "1.2.3"})
    EXPECT_FALSE(IsFloatToStrText(t)) << t;
  // Decimals of up to 16 digits at every exponent FloatToStr writes plainly.
  uint64_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const int digits = 1 + static_cast<int>((seed >> 33) % 16);
    const int point = static_cast<int>((seed >> 40) % 24) - 5;
    std::string d;
    for (int k = 0; k < digits; ++k) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      d += static_cast<char>('0' + (seed >> 59) % 10);
    }
    std::string t = point <= 0 ? "0." + std::string(static_cast<size_t>(-point), '0') + d
                    : point >= digits ? d + std::string(static_cast<size_t>(point - digits), '0')
                                      : d.substr(0, static_cast<size_t>(point)) + "." +
                                            d.substr(static_cast<size_t>(point));
    if (i % 3 == 0) t = "-" + t;
    if (IsFloatToStrText(t)) {
      EXPECT_EQ(FloatToStr(StrToFloat(t, '.'), '.'), t);
    }
  }
}

TEST(NumberTest, FloatTextHasFifteenDigitsAndTheGivenSeparator) {
  EXPECT_EQ(FloatToStr(1.5, '.'), "1.5");
  EXPECT_EQ(FloatToStr(1.5, ','), "1,5");
  EXPECT_EQ(FloatToStr(-0.1, '.'), "-0.1");
  EXPECT_EQ(FloatToStr(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FloatToStr(1.0 / 3, '.'), "0.333333333333333");
  EXPECT_EQ(FloatToStr(100, '.'), "100");
  EXPECT_EQ(FloatToStr(123456789012345.0, '.'), "123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0, '.'), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(1e20, '.'), "1E20");
  EXPECT_EQ(FloatToStr(0.0001, '.'), "0.0001");
  EXPECT_EQ(FloatToStr(0.00001, '.'), "1E-5");
  EXPECT_EQ(FloatToStr(1.5e-7, ','), "1,5E-7");
  EXPECT_EQ(FloatToStr(0, '.'), "0");
  EXPECT_EQ(FloatToStr(1.0 / 0.0, '.'), "INF");

  EXPECT_EQ(StrToFloat(" 1,5 ", ','), 1.5);
  EXPECT_EQ(StrToFloat("-2.5e3", '.'), -2500);
  EXPECT_EQ(StrToFloat("+.5", '.'), 0.5);
  EXPECT_THROW(StrToFloat("1.5", ','), EConvertError);
  EXPECT_THROW(StrToFloat("", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("1e", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("1e999", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("abc", '.'), EConvertError);
  EXPECT_EQ(StrToFloat("1e-999", '.'), 0.0);
  for (double v : {1.5, -1234.5678, 1e-300, 6.02214076e23, 0.1})
    EXPECT_DOUBLE_EQ(StrToFloat(FloatToStr(v, ','), ','), v);
}

// One thread keeps replacing the locale while others format and parse
// dates: every result is wholly in one of the two locales, never a mix and
// never read from a freed snapshot (run under -DROWSET_TSAN=ON and
// -DROWSET_SANITIZE=ON as well).
TEST(DateTest, LocaleChangesWhileOtherThreadsFormat) {
  const TFormatSettings german = Locale("dd.MM.yyyy", '.', ',');
  const TFormatSettings american = Locale("M/d/yyyy", '/', '.');
  TFormatSettingsScope scope(german);
  const TDateTime when = EncodeDateTime(2004, 3, 15, 13, 45, 10, 0);
  const std::string a = FormatDateTime("ddddd hh:nn:ss", when, german);
  const std::string b = FormatDateTime("ddddd hh:nn:ss", when, american);
  ASSERT_NE(a, b);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread changer([&] {
    for (int i = 0; i < 20000 && !stop; ++i) SetFormatSettings(i % 2 ? german : american);
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      int rounds = 0;
      while (!stop || rounds < 100) {
        ++rounds;
        const std::string s = FormatDateTime("ddddd hh:nn:ss", when);
        if (s != a && s != b) ++bad;
        TDateTime back;
        const TFormatSettings fs = GetFormatSettings();
        if (!TryStrToDate(FormatDateTime("ddddd", when, fs), back, fs) || back != EncodeDate(2004, 3, 15))
          ++bad;
        const std::string f = FloatToStr(2.5);
        if (f != "2,5" && f != "2.5") ++bad;
      }
    });
  }
  changer.join();
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(NumberTest, CommaLocaleFromSeveralThreadsAtOnce) {
  TFormatSettingsScope scope(Locale("dd.MM.yyyy", '.', ','));
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        double v = i + 0.5;
        // Half the threads use the locale, half a dot of their own.
        if (t % 2 == 0) {
          std::string s = FloatToStr(v);
          if (s.find(',') == std::string::npos || StrToFloat(s) != v) ++bad;
        } else {
          std::string s = FloatToStr(v, '.');
          if (s.find('.') == std::string::npos || StrToFloat(s, '.') != v) ++bad;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ',');
}

TEST(NumberTest, LocaleChangesReachThreadsThatAlreadyReadIt) {
  // A worker reads the locale, the main thread changes it (and a scope
  // restores it), and the worker's next conversions see each change.
  std::atomic<int> step{0};
  std::vector<std::string> seen;
  std::thread worker([&] {
    for (int want = 0; want < 3; ++want) {
      while (step.load() != want * 2) std::this_thread::yield();
      seen.push_back(FloatToStr(2.5) + " " + DateToStr(EncodeDate(2004, 3, 5)));
      step.store(want * 2 + 1);
    }
  });
  auto wait_for = [&](int s) {
    while (step.load() != s) std::this_thread::yield();
  };
  wait_for(1);
  {
    TFormatSettingsScope scope(Locale("dd.MM.yyyy", '.', ','));
    step.store(2);
    wait_for(3);
  }
  step.store(4);
  wait_for(5);
  worker.join();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], "2.5 3/5/2004");
  EXPECT_EQ(seen[1], "2,5 05.03.2004");
  EXPECT_EQ(seen[2], "2.5 3/5/2004");
}

TEST(NumberTest, Integers) {
  EXPECT_EQ(StrToInt(" -42 "), -42);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_THROW(StrToInt("1.5"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
  EXPECT_THROW(StrToInt("12a"), EConvertError);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", 7), 7);
  EXPECT_TRUE(StrToBool("TRUE"));
  EXPECT_FALSE(StrToBool("false"));
  EXPECT_TRUE(StrToBool("1"));
  EXPECT_THROW(StrToBool("yes"), EConvertError);
}

TEST(StringTest, Helpers) {
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_TRUE(SameText("Client", "cLIENT"));
  EXPECT_LT(CompareText("a", "B"), 0);
  EXPECT_GT(CompareStr("a", "B"), 0);
  // Only ASCII letters fold; other bytes compare as they are.
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));
  EXPECT_EQ(CompareText(std::string("a\0b", 3), std::string("A\0B", 3)), 0);
  EXPECT_LT(CompareText("ab", "ABC"), 0);
}

}  // namespace
}  // namespace rowset
