#include "host/SysUtils.h"
#include "host/Immortal.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace rowset {

// ---------------------------------------------------------------------------
// Locale

namespace {

// The locale is published as an immutable snapshot. Every change makes a
// new snapshot and bumps the generation; each thread keeps the snapshot it
// last saw and takes the lock again only when the generation has moved, so
// the conversions that read the locale on every call copy nothing.
struct LocaleTag {};
struct LocalePtrTag {};
struct LocaleGenTag {};
std::mutex& LocaleMutex() { return Immortal<std::mutex, LocaleTag>(); }
std::shared_ptr<const TFormatSettings>& LocaleStore() {
  return Immortal<std::shared_ptr<const TFormatSettings>, LocalePtrTag>();
}
std::atomic<uint64_t>& LocaleGeneration() { return Immortal<std::atomic<uint64_t>, LocaleGenTag>(); }

struct LocaleCache {
  uint64_t generation = 0;
  std::shared_ptr<const TFormatSettings> settings;
};

// The calling thread's view of the process-wide locale. The caller holds
// the returned pointer for the whole of its work, so a change of the locale
// or a nested call on the same thread never frees the snapshot in use.
// ThreadSettings gives the thread's own pointer without a copy, for work
// that makes no nested call that could replace it (a single read, or a
// format compiled against it and held by the format cache).
const std::shared_ptr<const TFormatSettings>& ThreadSettings() {
  thread_local LocaleCache cache;
  if (!cache.settings || cache.generation != LocaleGeneration().load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(LocaleMutex());
    if (!LocaleStore()) LocaleStore() = std::make_shared<const TFormatSettings>();
    cache.settings = LocaleStore();
    cache.generation = LocaleGeneration().load(std::memory_order_relaxed);
  }
  return cache.settings;
}

std::shared_ptr<const TFormatSettings> CurrentSettings() { return ThreadSettings(); }

const char* const kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonthNames[12] = {"January", "February", "March",     "April",
                                         "May",     "June",     "July",      "August",
                                         "September", "October", "November", "December"};
const char* const kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TFormatSettings GetFormatSettings() { return *CurrentSettings(); }

char CurrentDecimalSeparator() { return ThreadSettings()->DecimalSeparator; }

void SetFormatSettings(const TFormatSettings& Settings) {
  auto fresh = std::make_shared<const TFormatSettings>(Settings);
  std::shared_ptr<const TFormatSettings> old;
  {
    std::lock_guard<std::mutex> lock(LocaleMutex());
    old = std::move(LocaleStore());
    LocaleStore() = std::move(fresh);
    LocaleGeneration().fetch_add(1, std::memory_order_release);
  }
  // The old snapshot is freed outside the lock, if no thread still holds it.
}

TDateOrder GetDateOrder(const std::string& ShortDateFormat) {
  for (char c : ShortDateFormat) {
    switch (Upper(c)) {
      case 'D':
        return doDMY;
      case 'E':
      case 'Y':
        return doYMD;
      case 'M':
        return doMDY;
      default:
        break;
    }
  }
  return doMDY;
}

// ---------------------------------------------------------------------------
// Calendar

bool IsLeapYear(int Year) { return std::chrono::year(Year).is_leap(); }

int DaysInAMonth(int Year, int Month) {
  if (Month < 1 || Month > 12) return 0;
  using namespace std::chrono;
  return static_cast<int>(
      unsigned((year(Year) / month(static_cast<unsigned>(Month)) / last).day()));
}

namespace {

// Day number on the time-stamp scale (0001-01-01 is 1) of 1970-01-01, the
// origin of the calendar library's day count.
constexpr int32_t kUnixDayNumber = 719163;

// Day number on the time-stamp scale of a valid date.
int32_t DayNumber(int Year, int Month, int Day) {
  using namespace std::chrono;
  const sys_days d = year(Year) / month(static_cast<unsigned>(Month)) / day(static_cast<unsigned>(Day));
  return static_cast<int32_t>(d.time_since_epoch().count()) + kUnixDayNumber;
}

// Inverse of DayNumber for day numbers 1 .. 3652059 (9999-12-31).
void FromDayNumber(int32_t N, int& Year, int& Month, int& Day) {
  if (N < 1 || N > 3652059) {  // DayNumber(9999, 12, 31)
    Year = Month = Day = 0;
    return;
  }
  using namespace std::chrono;
  const year_month_day ymd{sys_days(days(N - kUnixDayNumber))};
  Year = static_cast<int>(ymd.year());
  Month = static_cast<int>(unsigned(ymd.month()));
  Day = static_cast<int>(unsigned(ymd.day()));
}

}  // namespace

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInAMonth(Year, Month))
    return false;
  Date = static_cast<TDateTime>(DayNumber(Year, Month, Day) - DateDelta);
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Time) {
  if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000)
    return false;
  Time = (Hour * 3600000.0 + Min * 60000.0 + Sec * 1000.0 + MSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime r;
  if (!TryEncodeDate(Year, Month, Day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime r;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  return ComposeDateTime(EncodeDate(Year, Month, Day), EncodeTime(Hour, Min, Sec, MSec));
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  return Date >= 0 ? Date + Time : Date - Time;
}

namespace {

bool TryToTimeStamp(TDateTime DateTime, TTimeStamp& Ts) {
  if (!std::isfinite(DateTime)) return false;
  double whole = std::trunc(DateTime);
  if (whole + DateDelta < std::numeric_limits<int32_t>::min() + 1.0 ||
      whole + DateDelta > std::numeric_limits<int32_t>::max() - 1.0)
    return false;
  int32_t date = static_cast<int32_t>(whole) + DateDelta;
  double ms = std::round(std::fabs(DateTime - whole) * MSecsPerDay);
  int32_t time = static_cast<int32_t>(ms);
  if (time >= MSecsPerDay) {  // rounding reached the next day
    time = 0;
    date += 1;
  }
  Ts.Time = time;
  Ts.Date = date;
  return true;
}

}  // namespace

TTimeStamp DateTimeToTimeStamp(TDateTime DateTime) {
  TTimeStamp ts;
  if (!TryToTimeStamp(DateTime, ts)) throw EConvertError("Invalid date-time value");
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& TimeStamp) {
  double days = static_cast<double>(TimeStamp.Date) - DateDelta;
  double frac = static_cast<double>(TimeStamp.Time) / MSecsPerDay;
  return days < 0 ? days - frac : days + frac;
}

double TimeStampToMSecs(const TTimeStamp& TimeStamp) {
  if (TimeStamp.Time < 0 || TimeStamp.Time >= MSecsPerDay || TimeStamp.Date <= 0)
    throw EConvertError("Invalid time stamp (" + std::to_string(TimeStamp.Time) + ", " +
                        std::to_string(TimeStamp.Date) + ")");
  return static_cast<double>(TimeStamp.Date) * MSecsPerDay + TimeStamp.Time;
}

TTimeStamp MSecsToTimeStamp(double MSecs) {
  if (!std::isfinite(MSecs) || MSecs < 0 || MSecs / MSecsPerDay > std::numeric_limits<int32_t>::max())
    throw EConvertError("Invalid time stamp value");
  double days = std::floor(MSecs / MSecsPerDay);
  TTimeStamp ts;
  ts.Date = static_cast<int32_t>(days);
  ts.Time = static_cast<int32_t>(MSecs - days * MSecsPerDay);
  return ts;
}

void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day) {
  TTimeStamp ts;
  if (!TryToTimeStamp(Date, ts)) {
    Year = Month = Day = 0;
    return;
  }
  FromDayNumber(ts.Date, Year, Month, Day);
}

void DecodeTime(TDateTime Time, int& Hour, int& Min, int& Sec, int& MSec) {
  TTimeStamp ts;
  if (!TryToTimeStamp(Time, ts)) {
    Hour = Min = Sec = MSec = 0;
    return;
  }
  int32_t t = ts.Time;
  Hour = t / 3600000;
  t %= 3600000;
  Min = t / 60000;
  t %= 60000;
  Sec = t / 1000;
  MSec = t % 1000;
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec) {
  DecodeDate(Value, Year, Month, Day);
  DecodeTime(Value, Hour, Min, Sec, MSec);
}

int DayOfWeek(TDateTime Date) {
  TTimeStamp ts;
  if (!TryToTimeStamp(Date, ts)) return 0;
  // Day 1 (0001-01-01) was a Monday.
  int r = ((ts.Date % 7) + 7) % 7;  // 1 = Monday
  return r + 1;                     // 1 = Sunday ... 7 = Saturday
}

TDateTime Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec < 60 ? tm.tm_sec : 59, ms);
}

TDateTime Date() { return std::trunc(Now()); }
TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

// ---------------------------------------------------------------------------
// Date and time parsing

namespace {

struct Scanner {
  const std::string& s;
  size_t pos = 0;

  void Blanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }
  bool AtEnd() const { return pos >= s.size(); }
  // Up to four digits, as the date and time fields need; digits count in
  // Length.
  bool Number(int& N, int& Length) {
    Blanks();
    size_t start = pos;
    N = 0;
    while (pos < s.size() && IsDigit(s[pos]) && N < 1000) {
      N = N * 10 + (s[pos] - '0');
      ++pos;
    }
    Length = static_cast<int>(pos - start);
    return Length > 0;
  }
  bool Char(char c) {
    Blanks();
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  bool Text(const std::string& word) {
    if (word.empty() || pos + word.size() > s.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (Lower(s[pos + i]) != Lower(word[i])) return false;
    pos += word.size();
    return true;
  }
};

int CurrentYear() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_year + 1900;
}

}  // namespace

int ExpandTwoDigitYear(int Year, int CurrentYear, int Window) {
  if (Window <= 0) return CurrentYear / 100 * 100 + Year;
  const int pivot = CurrentYear - Window;
  const int y = pivot / 100 * 100 + Year;
  return y < pivot ? y + 100 : y;
}

namespace {

bool ScanDate(Scanner& sc, TDateTime& Date, const TFormatSettings& FS) {
  size_t saved = sc.pos;
  int n1, n2, n3, l1, l2, l3;
  TDateOrder order = GetDateOrder(FS.ShortDateFormat);
  int y, m, d;
  if (!(sc.Number(n1, l1) && sc.Char(FS.DateSeparator) && sc.Number(n2, l2))) {
    sc.pos = saved;
    return false;
  }
  if (sc.Char(FS.DateSeparator)) {
    if (!sc.Number(n3, l3)) {
      sc.pos = saved;
      return false;
    }
    switch (order) {
      case doMDY:
        y = n3, m = n1, d = n2;
        break;
      case doDMY:
        y = n3, m = n2, d = n1;
        break;
      default:
        y = n1, m = n2, d = n3;
        l3 = l1;
        break;
    }
    if (l3 <= 2) y = ExpandTwoDigitYear(y, CurrentYear(), FS.TwoDigitYearCenturyWindow);
  } else {
    y = CurrentYear();
    if (order == doDMY)
      d = n1, m = n2;
    else
      m = n1, d = n2;
  }
  sc.Char(FS.DateSeparator);
  sc.Blanks();
  if (!TryEncodeDate(y, m, d, Date)) {
    sc.pos = saved;
    return false;
  }
  return true;
}

bool ScanTime(Scanner& sc, TDateTime& Time, const TFormatSettings& FS) {
  size_t saved = sc.pos;
  int hour, min = 0, sec = 0, msec = 0, len;
  sc.Blanks();
  // A leading AM/PM marker is accepted as well as a trailing one.
  int ampm = -1;
  auto scan_ampm = [&]() {
    if (sc.Text(FS.TimeAMString) || sc.Text("AM")) return 0;
    if (sc.Text(FS.TimePMString) || sc.Text("PM")) return 1;
    return -1;
  };
  ampm = scan_ampm();
  if (!sc.Number(hour, len)) {
    sc.pos = saved;
    return false;
  }
  if (sc.Char(FS.TimeSeparator)) {
    if (!sc.Number(min, len)) {
      sc.pos = saved;
      return false;
    }
    if (sc.Char(FS.TimeSeparator)) {
      if (!sc.Number(sec, len)) {
        sc.pos = saved;
        return false;
      }
      if (sc.Char(FS.DecimalSeparator)) {
        if (!sc.Number(msec, len)) {
          sc.pos = saved;
          return false;
        }
      }
    }
  }
  sc.Blanks();
  if (ampm < 0) ampm = scan_ampm();
  if (ampm >= 0) {
    if (hour == 0 || hour > 12) {
      sc.pos = saved;
      return false;
    }
    if (ampm == 0 && hour == 12) hour = 0;
    if (ampm == 1 && hour < 12) hour += 12;
  }
  sc.Blanks();
  if (!TryEncodeTime(hour, min, sec, msec, Time)) {
    sc.pos = saved;
    return false;
  }
  return true;
}

}  // namespace

bool TryStrToDate(const std::string& S, TDateTime& Value, const TFormatSettings& FS) {
  Scanner sc{S};
  TDateTime d;
  if (!ScanDate(sc, d, FS) || !sc.AtEnd()) return false;
  Value = d;
  return true;
}

bool TryStrToTime(const std::string& S, TDateTime& Value, const TFormatSettings& FS) {
  Scanner sc{S};
  TDateTime t;
  if (!ScanTime(sc, t, FS) || !sc.AtEnd()) return false;
  Value = t;
  return true;
}

bool TryStrToDateTime(const std::string& S, TDateTime& Value, const TFormatSettings& FS) {
  Scanner sc{S};
  TDateTime d = 0, t = 0;
  if (ScanDate(sc, d, FS)) {
    if (!sc.AtEnd() && !ScanTime(sc, t, FS)) return false;
  } else {
    sc.pos = 0;
    if (!ScanTime(sc, t, FS)) return false;
  }
  if (!sc.AtEnd()) return false;
  Value = ComposeDateTime(d, t);
  return true;
}

TDateTime StrToDate(const std::string& S, const TFormatSettings& FS) {
  TDateTime r;
  if (!TryStrToDate(S, r, FS)) throw EConvertError("'" + S + "' is not a valid date");
  return r;
}

TDateTime StrToTime(const std::string& S, const TFormatSettings& FS) {
  TDateTime r;
  if (!TryStrToTime(S, r, FS)) throw EConvertError("'" + S + "' is not a valid time");
  return r;
}

TDateTime StrToDateTime(const std::string& S, const TFormatSettings& FS) {
  TDateTime r;
  if (!TryStrToDateTime(S, r, FS)) throw EConvertError("'" + S + "' is not a valid date and time");
  return r;
}

TDateTime StrToDate(const std::string& S) { return StrToDate(S, *CurrentSettings()); }
TDateTime StrToTime(const std::string& S) { return StrToTime(S, *CurrentSettings()); }
TDateTime StrToDateTime(const std::string& S) { return StrToDateTime(S, *CurrentSettings()); }

// ---------------------------------------------------------------------------
// Date and time formatting

namespace {

// Appends V (non-negative here) in decimal, at least Width digits.
template <typename Out>
void AppendNum(Out& out, int v, int width) {
  char buf[24];
  char* end = buf + sizeof buf;
  char* p = end;
  if (v >= 0) {
    unsigned u = static_cast<unsigned>(v);
    do {
      *--p = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
  } else {
    p = buf + 8;
    end = std::to_chars(p, buf + sizeof buf, v).ptr;
  }
  const int len = static_cast<int>(end - p);
  if (len < width) out.append(static_cast<size_t>(width - len), '0');
  out.append(p, static_cast<size_t>(end - p));
}

// Whether F holds Word at Pos, in any letter case (Word is lower case).
bool HasTextAt(const std::string& f, size_t pos, const char* word, size_t len) {
  if (pos + len > f.size()) return false;
  for (size_t k = 0; k < len; ++k)
    if (Lower(f[pos + k]) != word[k]) return false;
  return true;
}

// The value's parts, decoded once for the format and the locale formats it
// refers to.
struct DateTimeParts {
  int year, month, day, hour, min, sec, msec;
};

// A format turned into steps once, so that formatting many values reads the
// format (and the locale formats it refers to) a single time.
enum class Step : uint8_t {
  kText,          // text
  kYear2,
  kYear4,
  kMonth,         // width
  kMonthShort,
  kMonthLong,
  kDay,           // width
  kDayShort,
  kDayLong,
  kHour,          // width, twelve-hour clock when flag
  kMinute,        // width
  kSecond,        // width
  kMSec,          // width
  kAmPm,          // text before noon, text2 after
  kIfTime,        // the next `width` steps only when the value has a time
};

struct FormatStep {
  explicit FormatStep(Step s) : step(s) {}
  Step step;
  bool flag = false;
  int width = 0;
  std::string text, text2;
};

using FormatProgram = std::vector<FormatStep>;

void AddText(FormatProgram& prog, std::string_view text) {
  if (text.empty()) return;
  if (!prog.empty() && prog.back().step == Step::kText) {
    prog.back().text.append(text);
    return;
  }
  FormatStep s(Step::kText);
  s.text.assign(text);
  prog.push_back(std::move(s));
}

void AddStep(FormatProgram& prog, Step step, int width = 0, bool flag = false) {
  FormatStep s(step);
  s.width = width;
  s.flag = flag;
  prog.push_back(std::move(s));
}

void Compile(FormatProgram& prog, const std::string& f, const TFormatSettings& FS, int depth) {
  if (depth > 2) return;  // formats that refer to themselves
  // Any AM/PM marker switches the hours to the 12-hour clock.
  bool use_12h = false;
  for (size_t p = 0; p < f.size() && !use_12h; ++p)
    use_12h = Lower(f[p]) == 'a' && (HasTextAt(f, p, "am/pm", 5) || HasTextAt(f, p, "a/p", 3) ||
                                     HasTextAt(f, p, "ampm", 4));
  bool last_was_hour = false;
  size_t i = 0, n = f.size();
  auto count = [&](char c) {
    size_t j = i;
    while (j < n && Lower(f[j]) == c) ++j;
    return static_cast<int>(j - i);
  };
  auto am_pm = [&](std::string_view am, std::string_view pm) {
    FormatStep s(Step::kAmPm);
    s.text.assign(am);
    s.text2.assign(pm);
    prog.push_back(std::move(s));
  };
  while (i < n) {
    char c = f[i];
    char lc = Lower(c);
    if (c == '\'' || c == '"') {
      size_t j = f.find(c, i + 1);
      if (j == std::string::npos) j = n;
      AddText(prog, std::string_view(f).substr(i + 1, j - i - 1));
      i = j < n ? j + 1 : n;
      continue;
    }
    switch (lc) {
      case 'c': {
        Compile(prog, FS.ShortDateFormat, FS, depth + 1);
        size_t at = prog.size();
        AddStep(prog, Step::kIfTime);
        // A step of its own, so that the blank is not merged into the text
        // before the condition.
        FormatStep blank(Step::kText);
        blank.text = " ";
        prog.push_back(std::move(blank));
        Compile(prog, FS.LongTimeFormat, FS, depth + 1);
        prog[at].width = static_cast<int>(prog.size() - at - 1);
        // Nothing after the condition may merge into its last step.
        AddStep(prog, Step::kText);
        i += 1;
        last_was_hour = false;
        continue;
      }
      case 'y': {
        int k = count('y');
        AddStep(prog, k <= 2 ? Step::kYear2 : Step::kYear4);
        i += k;
        last_was_hour = false;
        continue;
      }
      case 'm': {
        int k = count('m');
        if (last_was_hour && k <= 2)
          AddStep(prog, Step::kMinute, k == 1 ? 1 : 2);
        else if (k <= 2)
          AddStep(prog, Step::kMonth, k);
        else
          AddStep(prog, k == 3 ? Step::kMonthShort : Step::kMonthLong);
        i += k;
        last_was_hour = false;
        continue;
      }
      case 'd': {
        int k = count('d');
        if (k <= 2)
          AddStep(prog, Step::kDay, k);
        else if (k == 3)
          AddStep(prog, Step::kDayShort);
        else if (k == 4)
          AddStep(prog, Step::kDayLong);
        else if (k == 5)
          Compile(prog, FS.ShortDateFormat, FS, depth + 1);
        else
          Compile(prog, FS.LongDateFormat, FS, depth + 1);
        i += k;
        last_was_hour = false;
        continue;
      }
      case 'h': {
        int k = count('h');
        AddStep(prog, Step::kHour, k == 1 ? 1 : 2, use_12h);
        i += k;
        last_was_hour = true;
        continue;
      }
      case 'n':
      case 's':
      case 'z': {
        int k = count(lc);
        if (lc == 'z')
          AddStep(prog, Step::kMSec, k == 1 ? 1 : 3);
        else
          AddStep(prog, lc == 'n' ? Step::kMinute : Step::kSecond, k == 1 ? 1 : 2);
        i += k;
        last_was_hour = false;
        continue;
      }
      case 't': {
        int k = count('t');
        Compile(prog, k == 1 ? FS.ShortTimeFormat : FS.LongTimeFormat, FS, depth + 1);
        i += k;
        last_was_hour = false;
        continue;
      }
      case 'a': {
        if (HasTextAt(f, i, "am/pm", 5)) {
          c == 'a' ? am_pm("am", "pm") : am_pm("AM", "PM");
          i += 5;
        } else if (HasTextAt(f, i, "a/p", 3)) {
          c == 'a' ? am_pm("a", "p") : am_pm("A", "P");
          i += 3;
        } else if (HasTextAt(f, i, "ampm", 4)) {
          am_pm(FS.TimeAMString, FS.TimePMString);
          i += 4;
        } else {
          AddText(prog, std::string_view(&c, 1));
          i += 1;
        }
        continue;
      }
      case '/':
        AddText(prog, std::string_view(&FS.DateSeparator, 1));
        i += 1;
        continue;
      case ':':
        AddText(prog, std::string_view(&FS.TimeSeparator, 1));
        i += 1;
        continue;
      default:
        AddText(prog, std::string_view(&c, 1));
        i += 1;
        continue;
    }
  }
}

// Collects a formatted text in a buffer on the stack, so that each step
// costs a copy of a few bytes; the whole goes to the string at the end.
class TextOut {
 public:
  explicit TextOut(std::string& Text) : text_(Text) {}
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;
  void append(const char* p, size_t n) {
    if (n > sizeof buf_ - len_) {
      Flush();
      if (n > sizeof buf_) {
        text_.append(p, n);
        return;
      }
    }
    // The pieces are a few bytes: copied inline rather than by a call.
    for (size_t k = 0; k < n; ++k) buf_[len_ + k] = p[k];
    len_ += n;
  }
  void append(size_t n, char c) {
    for (size_t k = 0; k < n; ++k) append(&c, 1);
  }
  TextOut& operator+=(const std::string& t) {
    append(t.data(), t.size());
    return *this;
  }
  TextOut& operator+=(const char* t) {
    append(t, std::strlen(t));
    return *this;
  }
  void Flush() {
    text_.append(buf_, len_);
    len_ = 0;
  }
  // V (0 to 9999) in decimal, at least Width (up to 4) digits, written in
  // place: the parts of dates and times.
  void Num4(int v, int width) {
    if (sizeof buf_ - len_ < 4) Flush();
    char* p = buf_ + len_;
    const int len = std::max(v >= 1000 ? 4 : v >= 100 ? 3 : v >= 10 ? 2 : 1, width);
    switch (len) {
      case 4:
        *p++ = static_cast<char>('0' + v / 1000);
        [[fallthrough]];
      case 3:
        *p++ = static_cast<char>('0' + v / 100 % 10);
        [[fallthrough]];
      case 2:
        *p++ = static_cast<char>('0' + v / 10 % 10);
        [[fallthrough]];
      default:
        *p = static_cast<char>('0' + v % 10);
    }
    len_ += static_cast<size_t>(len);
  }

 private:
  std::string& text_;
  char buf_[96];
  size_t len_ = 0;
};

// V in decimal, at least Width digits: in place for the common sizes.
inline void AppendPart(TextOut& out, int v, int width) {
  if (v >= 0 && v < 10000 && width <= 4)
    out.Num4(v, width);
  else
    AppendNum(out, v, width);
}

// The program's text for the value, through a writer with Text(std::string),
// Text(const char*) and Num(value, width).
template <typename Writer>
void Run(Writer& out, const FormatProgram& prog, TDateTime dt, const DateTimeParts& parts) {
  const bool has_time = parts.hour || parts.min || parts.sec || parts.msec;
  for (size_t i = 0; i < prog.size(); ++i) {
    const FormatStep& s = prog[i];
    switch (s.step) {
      case Step::kText:
        out.Text(s.text);
        break;
      case Step::kYear2:
        out.Num(parts.year % 100, 2);
        break;
      case Step::kYear4:
        out.Num(parts.year, 4);
        break;
      case Step::kMonth:
        out.Num(parts.month, s.width);
        break;
      case Step::kMonthShort:
      case Step::kMonthLong:
        if (parts.month >= 1)
          out.Text(s.step == Step::kMonthShort ? kShortMonthNames[parts.month - 1]
                                               : kLongMonthNames[parts.month - 1]);
        break;
      case Step::kDay:
        out.Num(parts.day, s.width);
        break;
      case Step::kDayShort:
      case Step::kDayLong: {
        int dow = DayOfWeek(dt);
        if (dow >= 1) out.Text(s.step == Step::kDayShort ? kShortDayNames[dow - 1] : kLongDayNames[dow - 1]);
        break;
      }
      case Step::kHour: {
        int h = parts.hour;
        if (s.flag) {
          h = parts.hour % 12;
          if (h == 0) h = 12;
        }
        out.Num(h, s.width);
        break;
      }
      case Step::kMinute:
      case Step::kSecond: {
        int v = s.step == Step::kMinute ? parts.min : parts.sec;
        out.Num(v, s.width);
        break;
      }
      case Step::kMSec:
        out.Num(parts.msec, s.width);
        break;
      case Step::kAmPm:
        out.Text(parts.hour < 12 ? s.text : s.text2);
        break;
      case Step::kIfTime:
        if (!has_time) i += static_cast<size_t>(s.width);
        break;
    }
  }
}

// V (0 to 9999) in decimal, at least Width (up to 4) digits, at P; returns
// the end.
inline char* PutNum4(char* p, int v, int width) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  const int len = std::max(v >= 1000 ? 4 : v >= 100 ? 3 : v >= 10 ? 2 : 1, width);
  char* end = p + len;
  char* q = end;
  if (len >= 3) {
    q -= 2;
    std::memcpy(q, kPairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (q - p == 2) {
    std::memcpy(p, kPairs + 2 * v, 2);
  } else {
    *p = static_cast<char>('0' + v);
  }
  return end;
}

inline char* PutText(char* p, const std::string& t) {
  if (t.size() == 1) {  // most text between the parts: a separator
    *p = t[0];
    return p + 1;
  }
  std::memcpy(p, t.data(), t.size());
  return p + t.size();
}

inline char* PutText(char* p, const char* t) {
  const size_t n = std::strlen(t);
  std::memcpy(p, t, n);
  return p + n;
}

// Run's writer into a TextOut: any value, any length.
struct TextOutWriter {
  TextOut& out;
  void Text(const std::string& t) { out += t; }
  void Text(const char* t) { out += t; }
  void Num(int v, int width) { AppendPart(out, v, width); }
};

// Run's writer into a buffer of at least LongestText(prog) bytes, for parts
// in range: no bounds to check and every number of at most four digits.
struct BufferWriter {
  char* p;
  void Text(const std::string& t) { p = PutText(p, t); }
  void Text(const char* t) { p = PutText(p, t); }
  void Num(int v, int width) { p = PutNum4(p, v, width); }
};

// The longest text a program can give for parts in range (PartsInRange).
size_t LongestText(const FormatProgram& prog) {
  size_t n = 0;
  for (const FormatStep& s : prog) {
    switch (s.step) {
      case Step::kText:
        n += s.text.size();
        break;
      case Step::kAmPm:
        n += std::max(s.text.size(), s.text2.size());
        break;
      case Step::kMonthShort:
      case Step::kMonthLong:
      case Step::kDayShort:
      case Step::kDayLong:
        n += 9;  // "September", "Wednesday"
        break;
      case Step::kIfTime:
        break;
      default:
        n += 4;
        break;
    }
  }
  return n;
}

// A compiled format and the longest text it gives for parts in range.
struct CompiledProgram {
  FormatProgram program;
  size_t longest = 0;
};

// Parts of a valid date and time: each fits four digits, a month names one.
bool PartsInRange(const DateTimeParts& p) {
  return p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
         p.day <= 31 && p.hour >= 0 && p.hour < 24 && p.min >= 0 && p.min < 60 && p.sec >= 0 &&
         p.sec < 60 && p.msec >= 0 && p.msec < 1000;
}

std::string FormatWith(const CompiledProgram& compiled, TDateTime DateTime, const DateTimeParts& parts) {
  if (PartsInRange(parts) && compiled.longest <= 128) {
    char buf[128];
    BufferWriter writer{buf};
    Run(writer, compiled.program, DateTime, parts);
    return std::string(buf, writer.p);
  }
  std::string text;
  TextOut out(text);
  TextOutWriter writer{out};
  Run(writer, compiled.program, DateTime, parts);
  out.Flush();
  return text;
}

DateTimeParts Decode(TDateTime DateTime) {
  DateTimeParts parts;
  DecodeDate(DateTime, parts.year, parts.month, parts.day);
  DecodeTime(DateTime, parts.hour, parts.min, parts.sec, parts.msec);
  return parts;
}

void CompileAll(CompiledProgram& compiled, const std::string& Format, const TFormatSettings& FS) {
  Compile(compiled.program, Format.empty() ? std::string("c") : Format, FS, 0);
  compiled.longest = LongestText(compiled.program);
}

// The calling thread's last few formats, compiled against the locale
// snapshot they were compiled for (held, so its address is never reused
// while the entry lives).
const CompiledProgram& CompiledFormat(const std::string& Format,
                                      const std::shared_ptr<const TFormatSettings>& FS) {
  struct Entry {
    std::shared_ptr<const TFormatSettings> settings;
    std::string format;
    CompiledProgram compiled;
  };
  thread_local Entry cache[4];
  thread_local unsigned next = 0;
  for (Entry& e : cache)
    if (e.settings == FS && e.format == Format) return e.compiled;
  Entry& e = cache[next++ % 4];
  CompiledProgram compiled;
  CompileAll(compiled, Format, *FS);
  e.compiled = std::move(compiled);
  e.format = Format;
  e.settings = FS;
  return e.compiled;
}

}  // namespace

std::string FormatDateTime(const std::string& Format, TDateTime DateTime, const TFormatSettings& FS) {
  CompiledProgram compiled;
  CompileAll(compiled, Format, FS);
  return FormatWith(compiled, DateTime, Decode(DateTime));
}

std::string FormatDateTime(const std::string& Format, TDateTime DateTime) {
  std::shared_ptr<const TFormatSettings> fs = CurrentSettings();
  return FormatWith(CompiledFormat(Format, fs), DateTime, Decode(DateTime));
}

std::string FormatDateTimeParts(const std::string& Format, int Year, int Month, int Day, int Hour,
                                int Min, int Sec, int MSec) {
  TDateTime date = 0;
  if (!TryEncodeDate(Year, Month, Day, date) || Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 ||
      Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000) {
    return FormatDateTime(Format, EncodeDateTime(Year, Month, Day, Hour, Min, Sec, MSec));
  }
  // Day names need only the date. The compiled format holds the settings
  // it was compiled against.
  return FormatWith(CompiledFormat(Format, ThreadSettings()), date, DateTimeParts{Year, Month, Day, Hour, Min, Sec, MSec});
}

std::string DateToStr(TDateTime Date) { return FormatDateTime("ddddd", Date); }
std::string TimeToStr(TDateTime Time) { return FormatDateTime("tt", Time); }
std::string DateTimeToStr(TDateTime DateTime) { return FormatDateTime("c", DateTime); }

// ---------------------------------------------------------------------------
// Numbers

namespace {

// The general format with Precision significant digits, or with the fewest
// digits that read back to the same double when Precision is 0.
std::string GeneralFloat(double Value, char DecimalSeparator, int Precision) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value > 0 ? "INF" : "-INF";
  if (Value == 0) return "0";
  // d.ddd...e±x
  char sci[64];
  char* sci_end = Precision > 0
      ? std::to_chars(sci, sci + sizeof sci, Value, std::chars_format::scientific, Precision - 1).ptr
      : std::to_chars(sci, sci + sizeof sci, Value, std::chars_format::scientific).ptr;
  const char* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<size_t>(sci_end - sci)));
  int exp10 = 0;
  std::from_chars(e[1] == '+' ? e + 2 : e + 1, sci_end, exp10);
  bool neg = sci[0] == '-';
  char digits[24];
  size_t nd = 0;
  for (const char* p = neg ? sci + 1 : sci; p < e; ++p)
    if (IsDigit(*p)) digits[nd++] = *p;
  while (nd > 1 && digits[nd - 1] == '0') --nd;
  // Longest result: sign, "0", separator, 4 zeros and 17 digits, or an
  // exponent form; well within the buffer.
  char buf[48];
  char* o = buf;
  if (neg) *o++ = '-';
  if (exp10 >= 15 || exp10 < -4) {
    *o++ = digits[0];
    if (nd > 1) {
      *o++ = DecimalSeparator;
      std::memcpy(o, digits + 1, nd - 1);
      o += nd - 1;
    }
    *o++ = 'E';
    o = std::to_chars(o, buf + sizeof buf, exp10).ptr;
  } else if (exp10 < 0) {
    *o++ = '0';
    *o++ = DecimalSeparator;
    for (int z = 0; z < -exp10 - 1; ++z) *o++ = '0';
    std::memcpy(o, digits, nd);
    o += nd;
  } else {
    size_t int_len = static_cast<size_t>(exp10) + 1;
    if (nd <= int_len) {
      std::memcpy(o, digits, nd);
      o += nd;
      for (size_t z = nd; z < int_len; ++z) *o++ = '0';
    } else {
      std::memcpy(o, digits, int_len);
      o += int_len;
      *o++ = DecimalSeparator;
      std::memcpy(o, digits + int_len, nd - int_len);
      o += nd - int_len;
    }
  }
  return std::string(buf, o);
}

}  // namespace

std::string FloatToStr(double Value, char DecimalSeparator) { return GeneralFloat(Value, DecimalSeparator, 15); }

bool IsFloatToStrText(std::string_view Text) {
  const size_t n = Text.size();
  size_t i = Text.empty() || Text[0] != '-' ? 0 : 1;
  const bool negative = i == 1;
  const size_t int_start = i;
  while (i < n && IsDigit(Text[i])) ++i;
  const size_t int_len = i - int_start;
  if (int_len == 0 || (int_len > 1 && Text[int_start] == '0')) return false;
  size_t frac_start = n, frac_len = 0;
  if (i < n) {
    if (Text[i] != '.') return false;
    frac_start = ++i;
    while (i < n && IsDigit(Text[i])) ++i;
    frac_len = i - frac_start;
    if (frac_len == 0 || i != n || Text[n - 1] == '0') return false;
  }
  int exp10 = 0;
  size_t significant = 0;
  if (Text[int_start] != '0') {
    exp10 = static_cast<int>(int_len) - 1;
    if (frac_len > 0) {
      significant = int_len + frac_len;
    } else {
      size_t end = int_start + int_len;
      while (Text[end - 1] == '0') --end;
      significant = end - int_start;
    }
  } else if (frac_len == 0) {
    return !negative;  // "0"; "-0" gives "0"
  } else {
    size_t zeros = 0;
    while (Text[frac_start + zeros] == '0') ++zeros;
    exp10 = -static_cast<int>(zeros) - 1;
    significant = frac_len - zeros;
  }
  // Fifteen significant digits always read back unchanged from the nearest
  // double; the exponent range is the one FloatToStr writes without "E".
  return significant <= 15 && exp10 >= -4 && exp10 < 15;
}

std::string FloatToStrExact(double Value, char DecimalSeparator) {
  return GeneralFloat(Value, DecimalSeparator, 0);
}

std::string FloatToStr(double Value, const TFormatSettings& FS) {
  return FloatToStr(Value, FS.DecimalSeparator);
}

std::string FloatToStr(double Value) { return FloatToStr(Value, CurrentDecimalSeparator()); }

bool TryStrToFloat(const std::string& S, double& Value, char DecimalSeparator) {
  size_t i = 0, n = S.size();
  while (i < n && S[i] == ' ') ++i;
  size_t end = n;
  while (end > i && S[end - 1] == ' ') --end;
  std::string norm;
  if (i < end && (S[i] == '+' || S[i] == '-')) {
    if (S[i] == '-') norm += '-';
    ++i;
  }
  bool digits = false, point = false;
  for (; i < end; ++i) {
    char c = S[i];
    if (IsDigit(c)) {
      digits = true;
      norm += c;
    } else if (c == DecimalSeparator && !point) {
      point = true;
      norm += '.';
    } else {
      break;
    }
  }
  if (!digits) return false;
  if (i < end && (S[i] == 'e' || S[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < end && (S[i] == '+' || S[i] == '-')) norm += S[i++];
    bool exp_digits = false;
    for (; i < end && IsDigit(S[i]); ++i) {
      norm += S[i];
      exp_digits = true;
    }
    if (!exp_digits) return false;
  }
  if (i != end) return false;
  double v = 0;
  auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size()) {
    // Underflow gives zero rather than an error; overflow is an error.
    // Tell them apart by the magnitude: the first significant digit's
    // position plus the exponent.
    if (res.ec != std::errc::result_out_of_range) return false;
    size_t epos = norm.find('e');
    std::string mant = norm.substr(0, epos);
    long long exp = 0;
    if (epos != std::string::npos) {
      std::string es = norm.substr(epos + 1);
      if (!es.empty() && es[0] == '+') es.erase(0, 1);
      if (std::from_chars(es.data(), es.data() + es.size(), exp).ec != std::errc()) exp = es[0] == '-' ? -100000 : 100000;
    }
    size_t dot = mant.find('.');
    if (dot == std::string::npos) dot = mant.size();
    size_t first = mant.find_first_of("123456789");
    long long mag = first == std::string::npos ? -100000
                    : (first < dot ? static_cast<long long>(dot - first) : -static_cast<long long>(first - dot) + 1);
    if (mag + exp > 0) return false;
    Value = 0;
    return true;
  }
  if (!std::isfinite(v)) return false;
  Value = v;
  return true;
}

double StrToFloat(const std::string& S, char DecimalSeparator) {
  double v;
  if (!TryStrToFloat(S, v, DecimalSeparator))
    throw EConvertError("'" + S + "' is not a valid floating point value");
  return v;
}

double StrToFloat(const std::string& S, const TFormatSettings& FS) {
  return StrToFloat(S, FS.DecimalSeparator);
}

double StrToFloat(const std::string& S) { return StrToFloat(S, CurrentDecimalSeparator()); }

double StrToFloatDef(const std::string& S, double Default) {
  double v;
  return TryStrToFloat(S, v, CurrentDecimalSeparator()) ? v : Default;
}

std::string IntToStr(int64_t Value) { return std::to_string(Value); }

bool TryStrToInt64(const std::string& S, int64_t& Value) {
  size_t i = 0, n = S.size();
  while (i < n && S[i] == ' ') ++i;
  size_t end = n;
  while (end > i && S[end - 1] == ' ') --end;
  bool neg = false;
  if (i < end && (S[i] == '+' || S[i] == '-')) neg = S[i++] == '-';
  int base = 10;
  if (i < end && S[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < end && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= end) return false;
  uint64_t v = 0;
  auto res = std::from_chars(S.data() + i, S.data() + end, v, base);
  if (res.ec != std::errc() || res.ptr != S.data() + end) return false;
  if (base == 16 && !neg) {
    // Hexadecimal texts may spell the two's complement of a negative value.
    Value = static_cast<int64_t>(v);
    return true;
  }
  if (neg) {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
    Value = static_cast<int64_t>(0 - v);
  } else {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    Value = static_cast<int64_t>(v);
  }
  return true;
}

bool TryStrToInt(const std::string& S, int32_t& Value) {
  int64_t v;
  if (!TryStrToInt64(S, v)) return false;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    // Eight hex digits may spell a negative 32-bit value.
    std::string t = Trim(S);
    bool hex = !t.empty() && (t[0] == '$' || (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')));
    if (hex && v >= 0 && v <= 0xFFFFFFFFLL) {
      Value = static_cast<int32_t>(static_cast<uint32_t>(v));
      return true;
    }
    return false;
  }
  Value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const std::string& S) {
  int32_t v;
  if (!TryStrToInt(S, v)) throw EConvertError("'" + S + "' is not a valid integer value");
  return v;
}

int64_t StrToInt64(const std::string& S) {
  int64_t v;
  if (!TryStrToInt64(S, v)) throw EConvertError("'" + S + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(const std::string& S, int32_t Default) {
  int32_t v;
  return TryStrToInt(S, v) ? v : Default;
}

std::string BoolToStr(bool B, bool UseBoolStrs) {
  if (UseBoolStrs) return B ? "True" : "False";
  return B ? "-1" : "0";
}

bool TryStrToBool(const std::string& S, bool& Value) {
  if (SameText(S, "True")) {
    Value = true;
    return true;
  }
  if (SameText(S, "False")) {
    Value = false;
    return true;
  }
  double d;
  if (TryStrToFloat(S, d, CurrentDecimalSeparator())) {
    Value = d != 0;
    return true;
  }
  return false;
}

bool StrToBool(const std::string& S) {
  bool b;
  if (!TryStrToBool(S, b)) throw EConvertError("'" + S + "' is not a valid boolean value");
  return b;
}

// ---------------------------------------------------------------------------
// Strings

std::string UpperCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = Upper(c);
  return r;
}

std::string LowerCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = Lower(c);
  return r;
}

int CompareStr(const std::string& S1, const std::string& S2) {
  int c = S1.compare(S2);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareText(std::string_view S1, std::string_view S2) {
  size_t n = std::min(S1.size(), S2.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(Lower(S1[i]));
    unsigned char b = static_cast<unsigned char>(Lower(S2[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (S1.size() == S2.size()) return 0;
  return S1.size() < S2.size() ? -1 : 1;
}

bool SameText(std::string_view S1, std::string_view S2) {
  return S1.size() == S2.size() && CompareText(S1, S2) == 0;
}

std::string TrimLeft(const std::string& S) {
  size_t i = 0;
  while (i < S.size() && static_cast<unsigned char>(S[i]) <= ' ') ++i;
  return S.substr(i);
}

std::string TrimRight(const std::string& S) {
  size_t n = S.size();
  while (n > 0 && static_cast<unsigned char>(S[n - 1]) <= ' ') --n;
  return S.substr(0, n);
}

std::string Trim(const std::string& S) { return TrimLeft(TrimRight(S)); }

}  // namespace rowset
