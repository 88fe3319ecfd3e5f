#include "util/MySQLValueText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "util/MySQLIniText.h"

namespace rowset {
namespace {

TFormatSettings Locale(const std::string& short_date, char date_sep, char time_sep = ':',
                       char decimal = '.') {
  TFormatSettings fs = GetFormatSettings();
  fs.ShortDateFormat = short_date;
  fs.DateSeparator = date_sep;
  fs.TimeSeparator = time_sep;
  fs.DecimalSeparator = decimal;
  return fs;
}

const TDateTime k20040315 = EncodeDate(2004, 3, 15);

TEST(MySQLStrToDateTest, SameDateUnderEveryLocaleOrder) {
  for (const TFormatSettings& fs :
       {Locale("dd.mm.yyyy", '.'), Locale("m/d/yyyy", '/'), Locale("yyyy-mm-dd", '-'),
        Locale("EEEE/MM/dd", '/'), Locale("no letters", '/')}) {
    TFormatSettingsScope scope(fs);
    SCOPED_TRACE(fs.ShortDateFormat);
    EXPECT_EQ(MySQLStrToDate("2004-03-15"), k20040315);
    EXPECT_EQ(MySQLStrToDate("2004.3.5"), EncodeDate(2004, 3, 5));
    EXPECT_EQ(MySQLStrToDate("2004/03/05 junk"), EncodeDate(2004, 3, 5));
    EXPECT_EQ(MySQLStrToDate("--2004--03--05"), EncodeDate(2004, 3, 5));
    EXPECT_EQ(MySQLStrToDate("2004-02-30"), 0);
    EXPECT_EQ(MySQLStrToDate("0000-00-00"), 0);
    EXPECT_EQ(MySQLStrToDate(""), 0);
    EXPECT_EQ(MySQLStrToDate("2004-03"), 0);  // day "00"
    EXPECT_EQ(MySQLStrToDate("2004-x3-15"), 0);
  }
}

TEST(MySQLStrToDateTest, DayMonthSwapWouldBeVisible) {
  // 2004-03-05 must never come back as 3 May, whatever the order.
  for (const char* fmt : {"d/m/y", "m/d/y", "y/m/d"}) {
    TFormatSettingsScope scope(Locale(fmt, '/'));
    EXPECT_EQ(MySQLStrToDate("2004-03-05"), EncodeDate(2004, 3, 5)) << fmt;
    EXPECT_EQ(MySQLStrToDate("2004-13-05"), 0) << fmt;
  }
}

TEST(MySQLStrToTimeTest, WordsAndLocaleSeparator) {
  for (char sep : {':', '.'}) {
    TFormatSettingsScope scope(Locale("d.m.yyyy", '.', sep));
    EXPECT_DOUBLE_EQ(MySQLStrToTime("13:45:10"), EncodeTime(13, 45, 10, 0));
    EXPECT_DOUBLE_EQ(MySQLStrToTime("13:45:10.123456"), EncodeTime(13, 45, 10, 0));
    EXPECT_DOUBLE_EQ(MySQLStrToTime("7"), EncodeTime(7, 0, 0, 0));
    EXPECT_EQ(MySQLStrToTime("25:00:00"), 0);
    EXPECT_EQ(MySQLStrToTime("12:60:00"), 0);
    EXPECT_EQ(MySQLStrToTime(""), 0);
  }
}

TEST(MySQLStrToDateTimeTest, DateAndTimeWords) {
  TFormatSettingsScope scope(Locale("dd/mm/yyyy", '/'));
  EXPECT_DOUBLE_EQ(MySQLStrToDateTime("2004-03-15 13:45:10"),
                   k20040315 + EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(MySQLStrToDateTime("2004-03-15"), k20040315);
  EXPECT_EQ(MySQLStrToDateTime("0000-00-00 00:00:00"), 0);
  // Texts beyond 255 bytes are cut, never read past.
  std::string long_text = "2004-03-15 13:45:10" + std::string(1000, ' ') + "x";
  EXPECT_DOUBLE_EQ(MySQLStrToDateTime(long_text), k20040315 + EncodeTime(13, 45, 10, 0));
}

// Before 1899-12-30 the date-time value is negative; day and time must
// decode as they were written, on both paths.
TEST(MySQLStrToDateTimeTest, DatesBeforeTheOriginKeepTheirDayAndTime) {
  TFormatSettingsScope scope(Locale("dd/mm/yyyy", '/'));
  struct Case {
    const char* words;
    const char* digits;
    int y, mo, d, h, mi, s;
  } cases[] = {{"1800-01-01 12:00:00", "18000101120000", 1800, 1, 1, 12, 0, 0},
               {"1899-12-29 23:59:59", "18991229235959", 1899, 12, 29, 23, 59, 59},
               {"0001-01-01 06:30:00", "00010101063000", 1, 1, 1, 6, 30, 0},
               {"1899-12-30 18:00:00", "18991230180000", 1899, 12, 30, 18, 0, 0},
               {"2004-03-15 13:45:10", "20040315134510", 2004, 3, 15, 13, 45, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    for (TDateTime v : {MySQLStrToDateTime(c.words), MySQLTimeStampToDateTime(c.digits)}) {
      int y, mo, d, h, mi, s, ms;
      DecodeDateTime(v, y, mo, d, h, mi, s, ms);
      EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}),
                (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s}));
      EXPECT_EQ(v, EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, 0));
      EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", v), c.words);
    }
  }
}

TEST(MySQLTimeStampToDateTimeTest, PositionalDigits) {
  TFormatSettingsScope scope(Locale("d.m.yyyy", '.'));
  EXPECT_DOUBLE_EQ(MySQLTimeStampToDateTime("20040315134510"),
                   k20040315 + EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(MySQLTimeStampToDateTime("00000000000000"), 0);
  EXPECT_EQ(MySQLTimeStampToDate("20040315"), k20040315);
  EXPECT_EQ(MySQLTimeStampToTime("20040315"), 0);
  EXPECT_DOUBLE_EQ(MySQLTimeStampToTime("2004031513"), EncodeTime(13, 0, 0, 0));
  EXPECT_EQ(MySQLTimeStampToDate("2004"), 0);
  EXPECT_EQ(MySQLTimeStampToDate(""), 0);
  EXPECT_EQ(MySQLTimeStampToDateTime("20041315000000"), 0);
}

int32_t Day(int y, int m, int d) { return DateTimeToTimeStamp(EncodeDate(y, m, d)).Date; }

TEST(TimeStampRecordTest, DateWordsRepairZerosOnly) {
  TTimeStamp ts{1234, 5678};
  MySQLDateStrToTimeStamp("2004-03-15", ts);
  EXPECT_EQ(ts.Date, Day(2004, 3, 15));
  EXPECT_EQ(ts.Time, 1234);  // not written
  MySQLDateStrToTimeStamp("0000-00-00", ts);
  EXPECT_EQ(ts.Date, 1);  // 0001-01-01
  EXPECT_EQ(ts.Time, 1234);
  MySQLDateStrToTimeStamp("2004-04-31", ts);
  EXPECT_EQ(ts.Date, 0);
  EXPECT_EQ(ts.Time, 0);
  EXPECT_EQ(MySQLDateStrToTimeStamp("").Date, 1);
  EXPECT_EQ(MySQLDateStrToTimeStamp("2004-xx-15").Date, Day(2004, 1, 15));
  EXPECT_EQ(MySQLDateStrToTimeStamp("1850-06-01").Date, Day(1850, 6, 1));
  EXPECT_EQ(MySQLDateStrToTimeStamp("99999-01-01").Date, 0);
}

TEST(TimeStampRecordTest, TimeWordsAreNotRepaired) {
  TTimeStamp ts{1234, 5678};
  MySQLTimeStrToTimeStamp("13:45:10", ts);
  EXPECT_EQ(ts.Time, (13 * 3600 + 45 * 60 + 10) * 1000);
  EXPECT_EQ(ts.Date, 5678);  // not written
  MySQLTimeStrToTimeStamp("25:00:00", ts);
  EXPECT_EQ(ts.Time, 0);
  EXPECT_EQ(ts.Date, 0);
  EXPECT_EQ(MySQLTimeStrToTimeStamp("").Time, 0);
  EXPECT_EQ(MySQLTimeStrToTimeStamp("23:59:59.999").Time, 86399000);
}

TEST(TimeStampRecordTest, DateTimeWords) {
  TTimeStamp ts = MySQLDateTimeStrToTimeStamp("2004-03-15 13:45:10");
  EXPECT_EQ(ts.Date, Day(2004, 3, 15));
  EXPECT_EQ(ts.Time, (13 * 3600 + 45 * 60 + 10) * 1000);
  ts = MySQLDateTimeStrToTimeStamp("2004-03-15");
  EXPECT_EQ(ts.Date, Day(2004, 3, 15));
  EXPECT_EQ(ts.Time, 0);
  ts = MySQLDateTimeStrToTimeStamp("2004-03-15 24:00:00");
  EXPECT_EQ(ts.Date, 0);
  EXPECT_EQ(ts.Time, 0);
}

TEST(TimeStampRecordTest, CompactTimeStampRangeRepair) {
  TTimeStamp ts = MySQLTimeStampStrToTimeStamp("20040315256199");
  EXPECT_EQ(ts.Date, Day(2004, 3, 15));
  EXPECT_EQ(ts.Time, 0);
  ts = MySQLTimeStampStrToTimeStamp("00000000000000");
  EXPECT_EQ(ts.Date, 1);
  EXPECT_EQ(ts.Time, 0);
  ts = MySQLTimeStampStrToTimeStamp("20040315134510");
  EXPECT_EQ(ts.Date, Day(2004, 3, 15));
  EXPECT_EQ(ts.Time, (13 * 3600 + 45 * 60 + 10) * 1000);
  ts = MySQLTimeStampStrToTimeStamp("20040315235960");  // seconds only
  EXPECT_EQ(ts.Time, (23 * 3600 + 59 * 60) * 1000);
  ts = MySQLTimeStampStrToTimeStamp("2004");  // short: the rest repaired
  EXPECT_EQ(ts.Date, Day(2004, 1, 1));
  EXPECT_EQ(ts.Time, 0);
  ts = MySQLTimeStampStrToTimeStamp("");
  EXPECT_EQ(ts.Date, 1);
  ts = MySQLTimeStampStrToTimeStamp("xxxx0229");  // year 1 is not a leap year
  EXPECT_EQ(ts.Date, 0);
  EXPECT_EQ(MySQLTimeStampStrToTimeStamp("xxxx0228").Date, Day(1, 2, 28));
  TTimeStamp bad{777, 888};
  MySQLTimeStampStrToTimeStamp("20041301101010", bad);  // month 13
  EXPECT_EQ(bad.Date, 0);
  EXPECT_EQ(bad.Time, 0);
  MySQLTimeStampStrToTimeStamp("20040431101010", bad);  // 31 April
  EXPECT_EQ(bad.Date, 0);
  EXPECT_EQ(bad.Time, 0);
  // Signs in the digits: negative parts are repaired like too large ones.
  ts = MySQLTimeStampStrToTimeStamp("-999031510-1-1");
  EXPECT_EQ(ts.Date, Day(1, 3, 15));
  EXPECT_EQ(ts.Time, 10 * 3600 * 1000);
}

TEST(FloatDateTest, FloatTextsUnderTheLocale) {
  TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', ','));
  EXPECT_DOUBLE_EQ(StrFloatToDateTime("38061,5"), 38061.5);
  EXPECT_DOUBLE_EQ(StrFloatToDate("38061,75"), 38061);
  EXPECT_DOUBLE_EQ(StrFloatToDate("-1,75"), -1);
  EXPECT_DOUBLE_EQ(StrFloatToTime("38061,75"), 0.75);
  EXPECT_DOUBLE_EQ(StrFloatToTime("-1,25"), -0.25);
  EXPECT_DOUBLE_EQ(FloatToTime(-2.5), -0.5);
  EXPECT_THROW(StrFloatToDateTime("38061.5x"), EConvertError);
  EXPECT_THROW(StrFloatToDate(""), EConvertError);
}

TEST(StrToDateTimeFmtTest, FixedLayoutWhateverTheLocale) {
  for (const TFormatSettings& fs :
       {Locale("m/d/yyyy", '/'), Locale("dd.mm.yyyy", '.', '.'), Locale("yyyy-mm-dd", '-')}) {
    TFormatSettingsScope scope(fs);
    SCOPED_TRACE(fs.ShortDateFormat);
    EXPECT_DOUBLE_EQ(StrToDateTimeFmt("2004-03-05 13:45:10"),
                     EncodeDate(2004, 3, 5) + EncodeTime(13, 45, 10, 0));
    EXPECT_EQ(StrToDateTimeFmt("2004-03-15"), k20040315);
    EXPECT_THROW(StrToDateTimeFmt("2004-02-30 00:00:00"), EConvertError);
    EXPECT_THROW(StrToDateTimeFmt("garbage"), EConvertError);
    EXPECT_THROW(StrToDateTimeFmt(""), EConvertError);
  }
}

TEST(MySQLFloatTest, DotWhateverTheLocale) {
  TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', ','));
  EXPECT_EQ(MySQLFloatToStr(1.5), "1.5");
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(FloatToStr(1.5), "1,5");
  EXPECT_EQ(MySQLFloatToStr(-0.25), "-0.25");
  EXPECT_EQ(MySQLFloatToStr(1e20), "1E20");
  EXPECT_EQ(MySQLFloatToStr(123456789.125), "123456789.125");
  EXPECT_EQ(MySQLFloatToStr(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(MySQLFloatToStr(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(MySQLFloatToStr(2.0 / 3 * 1e-10), "6.666666666666667E-11");
  EXPECT_EQ(MySQLFloatToStr(1e15), "1E15");
  EXPECT_DOUBLE_EQ(MySQLStrToFloat("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(MySQLStrToFloat(" -2.5e3 "), -2500);
  EXPECT_THROW(MySQLStrToFloat("1,5"), EConvertError);
  EXPECT_THROW(MySQLStrToFloat("abc"), EConvertError);
  EXPECT_THROW(MySQLStrToFloat(""), EConvertError);
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ',');  // also after raising
}

// Every double written as text reads back to exactly the same double.
TEST(MySQLFloatTest, TextReadsBackExactly) {
  std::vector<double> values = {0.0, 1.0, -1.0, 0.1 + 0.2, 1.0 / 3, 3.14159265358979, 1e-7,
                                6.02214076e23, 2.5e-300, 4.9e-324, 1.7976931348623157e308,
                                -2.2250738585072014e-308, 123456789012345.67, 9007199254740993.0};
  uint64_t bits = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 20000; ++i) {  // spread over the whole range of doubles
    bits ^= bits << 13, bits ^= bits >> 7, bits ^= bits << 17;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
  }
  int wrong = 0;
  for (double v : values) {
    const std::string text = MySQLFloatToStr(v);
    if (MySQLStrToFloat(text) != v || text.size() > 24) {
      if (++wrong < 5) ADD_FAILURE() << text;
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Several threads format and parse at once: the ones using MySQL's "." and
// the ones using the comma locale never see each other's separator.
TEST(MySQLFloatTest, ThreadsKeepTheirOwnSeparator) {
  TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', ','));
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t, &faults] {
      for (int i = 0; i < 3000; ++i) {
        double v = i + 0.5;
        std::string expect_dot = std::to_string(i) + ".5";
        std::string expect_comma = std::to_string(i) + ",5";
        if (t % 2 == 0) {
          if (MySQLFloatToStr(v) != expect_dot) ++faults;
          if (MySQLStrToFloat(expect_dot) != v) ++faults;
        } else {
          if (FloatToStr(v) != expect_comma) ++faults;
          if (StrToFloat(expect_comma) != v) ++faults;
          std::string ini = WriteIniFloat("", "s", "k", v);
          if (ini != "[s]\r\nk=" + expect_dot + "\r\n") ++faults;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ',');
}

TEST(ValidityTest, CharacterChecksOnly) {
  EXPECT_FALSE(IsValidInt(""));
  EXPECT_TRUE(IsValidInt("123"));
  EXPECT_TRUE(IsValidInt("-123"));
  EXPECT_TRUE(IsValidInt("1-2"));
  EXPECT_TRUE(IsValidInt("12+"));
  EXPECT_TRUE(IsValidInt("+-+"));
  EXPECT_FALSE(IsValidInt("1.5"));
  EXPECT_FALSE(IsValidInt(" 1"));
  EXPECT_FALSE(IsValidInt(std::string("1\0", 2)));
  EXPECT_FALSE(IsValidFloat(""));
  EXPECT_TRUE(IsValidFloat("1.5"));
  EXPECT_TRUE(IsValidFloat("-.5-"));
  EXPECT_TRUE(IsValidFloat("1.2.3"));
  EXPECT_FALSE(IsValidFloat("1e5"));
  EXPECT_FALSE(IsValidFloat("1E5"));
  EXPECT_FALSE(IsValidFloat("1,5"));
}

TEST(IniFloatTest, RoundTripsUnderEveryLocale) {
  for (char sep : {'.', ','}) {
    TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', sep));
    std::string t;
    for (double v : {0.0, 1.5, -2.25, 1e-9, 12345678.875, 0.1 + 0.2}) {
      t = WriteIniFloat(t, "f", "v", v);
      EXPECT_EQ(ReadIniFloat(t, "f", "v", 99), v);
    }
    EXPECT_EQ(WriteIniFloat("", "f", "v", 1.5), "[f]\r\nv=1.5\r\n");
    EXPECT_EQ(ReadIniFloat(t, "f", "missing", 2.5), 2.5);
    EXPECT_EQ(ReadIniFloat(t, "f", "missing", 1.0 / 3), 1.0 / 3);
    EXPECT_THROW(ReadIniFloat("[f]\r\nv=abc\r\n", "f", "v", 1), EConvertError);
    EXPECT_THROW(ReadIniFloat("[f]\r\nv=1;5\r\n", "f", "v", 1), EConvertError);
    TDateTime when = EncodeDate(2004, 3, 15) + EncodeTime(13, 45, 10, 0);
    t = WriteIniDateTime(t, "f", "when", when);
    EXPECT_EQ(ReadIniDateTime(t, "f", "when", 0), when);
    EXPECT_EQ(ReadIniDateTime(t, "f", "none", when), when);
  }
  // Written under a comma locale, read under a point locale and back.
  std::string t;
  {
    TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', ','));
    t = WriteIniFloat("", "f", "v", 2.75);
  }
  {
    TFormatSettingsScope scope(Locale("m/d/yyyy", '/', ':', '.'));
    EXPECT_EQ(ReadIniFloat(t, "f", "v", 0), 2.75);
  }
  // A text with the locale's comma (as older writers left it) still reads.
  TFormatSettingsScope scope(Locale("d.m.yyyy", '.', ':', ','));
  EXPECT_EQ(ReadIniFloat("[f]\r\nv=1,25\r\n", "f", "v", 0), 1.25);
}

}  // namespace
}  // namespace rowset
