#include "sky/sky_time.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace sky {
namespace {

// TAI-UTC from the start of a UTC month: offset + (MJD - referenceMjd) x rate
// seconds (the rate is non-zero only before 1972, when UTC seconds were
// stretched to follow the Earth). From the IERS/USNO TAI-UTC history.
struct LeapEntry {
  int year, month;
  double offset;        // s
  double referenceMjd;  // d
  double rate;          // s / d
};
constexpr std::array<LeapEntry, 41> kLeapTable{{
    {1961, 1, 1.4228180, 37300, 0.001296},  {1961, 8, 1.3728180, 37300, 0.001296},
    {1962, 1, 1.8458580, 37665, 0.0011232}, {1963, 11, 1.9458580, 37665, 0.0011232},
    {1964, 1, 3.2401300, 38761, 0.001296},  {1964, 4, 3.3401300, 38761, 0.001296},
    {1964, 9, 3.4401300, 38761, 0.001296},  {1965, 1, 3.5401300, 38761, 0.001296},
    {1965, 3, 3.6401300, 38761, 0.001296},  {1965, 7, 3.7401300, 38761, 0.001296},
    {1965, 9, 3.8401300, 38761, 0.001296},  {1966, 1, 4.3131700, 39126, 0.002592},
    {1968, 2, 4.2131700, 39126, 0.002592},  {1972, 1, 10, 0, 0},
    {1972, 7, 11, 0, 0},                    {1973, 1, 12, 0, 0},
    {1974, 1, 13, 0, 0},                    {1975, 1, 14, 0, 0},
    {1976, 1, 15, 0, 0},                    {1977, 1, 16, 0, 0},
    {1978, 1, 17, 0, 0},                    {1979, 1, 18, 0, 0},
    {1980, 1, 19, 0, 0},                    {1981, 7, 20, 0, 0},
    {1982, 7, 21, 0, 0},                    {1983, 7, 22, 0, 0},
    {1985, 7, 23, 0, 0},                    {1988, 1, 24, 0, 0},
    {1990, 1, 25, 0, 0},                    {1991, 1, 26, 0, 0},
    {1992, 7, 27, 0, 0},                    {1993, 7, 28, 0, 0},
    {1994, 7, 29, 0, 0},                    {1996, 1, 30, 0, 0},
    {1997, 7, 31, 0, 0},                    {1999, 1, 32, 0, 0},
    {2006, 1, 33, 0, 0},                    {2009, 1, 34, 0, 0},
    {2012, 7, 35, 0, 0},                    {2015, 7, 36, 0, 0},
    {2017, 1, 37, 0, 0},
}};

constexpr double kMjdZero = 2400000.5;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kTtMinusTai = 32.184;

// The table entry in force on a calendar day (the first one before 1961).
const LeapEntry& EntryFor(int year, int month) {
  const int key = year * 12 + (month - 1);
  const LeapEntry* found = &kLeapTable[0];
  for (const LeapEntry& e : kLeapTable)
    if (e.year * 12 + (e.month - 1) <= key) found = &e;
  return *found;
}

// Whether a whole second is inserted at the end of this day: the next day
// starts a table entry whose offset is one second more, without drift.
bool EndsInLeapSecond(int year, int month, int day) {
  if (day != DaysInMonth(year, month)) return false;
  const int nextYear = month == 12 ? year + 1 : year;
  const int nextMonth = month == 12 ? 1 : month + 1;
  for (std::size_t i = 1; i < kLeapTable.size(); ++i) {
    const LeapEntry& e = kLeapTable[i];
    if (e.year == nextYear && e.month == nextMonth && e.rate == 0)
      return e.offset - kLeapTable[i - 1].offset == 1.0;
  }
  return false;
}

double SecondsOfDay(const UtcInstant& t) { return t.hour * 3600.0 + t.minute * 60.0 + t.second; }

// Parsing: a cursor over the text with positions for the messages.
struct Cursor {
  std::string_view text;
  std::size_t pos = 0;
  bool AtEnd() const { return pos == text.size(); }
  char Peek() const { return AtEnd() ? '\0' : text[pos]; }
  std::string Where() const { return "at character " + std::to_string(pos + 1); }
};

bool Digits(Cursor& c, int count, int& value, const char* what, std::string& error) {
  if (c.pos + count > c.text.size()) {
    error = std::string(what) + ": expected " + std::to_string(count) + " digits " + c.Where() + ", found the end";
    return false;
  }
  value = 0;
  for (int i = 0; i < count; ++i) {
    const char ch = c.text[c.pos + i];
    if (ch < '0' || ch > '9') {
      error = std::string(what) + ": expected " + std::to_string(count) + " digits at character " +
              std::to_string(c.pos + i + 1) + ", found '" + ch + "'";
      return false;
    }
    value = value * 10 + (ch - '0');
  }
  c.pos += count;
  return true;
}

bool Expect(Cursor& c, char ch, const char* after, std::string& error) {
  if (c.Peek() != ch) {
    error = std::string("expected '") + ch + "' after the " + after + " " + c.Where() +
            (c.AtEnd() ? ", found the end" : std::string(", found '") + c.Peek() + "'");
    return false;
  }
  ++c.pos;
  return true;
}

bool Range(int value, int lo, int hi, const char* what, std::size_t at, std::string& error) {
  if (value >= lo && value <= hi) return true;
  error = std::string(what) + " " + std::to_string(value) + " out of range " + std::to_string(lo) + ".." +
          std::to_string(hi) + " (at character " + std::to_string(at + 1) + ")";
  return false;
}

}  // namespace

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

double JulianDayNumberAt0h(int year, int month, int day) {
  // Days from 1 March of year 0 (proleptic Gregorian), then shifted to the
  // Julian day; exact in integers for every year the parser accepts.
  const long long y = month <= 2 ? year - 1 : year;
  const long long m = month <= 2 ? month + 9 : month - 3;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * m + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long daysFromCivilZero = era * 146097 + doe;  // 0000-03-01 is day 0
  // 0000-03-01 (proleptic Gregorian) is JD 1721119.5 at 0h.
  return 1721119.5 + static_cast<double>(daysFromCivilZero);
}

double TaiMinusUtc(const UtcInstant& t) {
  const LeapEntry& e = EntryFor(t.year, t.month);
  if (e.rate == 0 || t.year < kLeapTable[0].year) return e.offset;
  const double mjd = JulianDayNumberAt0h(t.year, t.month, t.day) - kMjdZero + SecondsOfDay(t) / kSecondsPerDay;
  return e.offset + (mjd - e.referenceMjd) * e.rate;
}

JulianDate UtcToTai(const UtcInstant& t) {
  return {JulianDayNumberAt0h(t.year, t.month, t.day), (SecondsOfDay(t) + TaiMinusUtc(t)) / kSecondsPerDay};
}

JulianDate UtcToTt(const UtcInstant& t) {
  return {JulianDayNumberAt0h(t.year, t.month, t.day),
          (SecondsOfDay(t) + TaiMinusUtc(t) + kTtMinusTai) / kSecondsPerDay};
}

JulianDate UtcToUt1(const UtcInstant& t, double ut1MinusUtcSeconds) {
  return {JulianDayNumberAt0h(t.year, t.month, t.day), (SecondsOfDay(t) + ut1MinusUtcSeconds) / kSecondsPerDay};
}

bool ParseUtc(std::string_view text, UtcInstant& out, std::string& error) {
  Cursor c{text};
  UtcInstant t;
  t.hour = 0;
  std::size_t at = c.pos;
  if (!Digits(c, 4, t.year, "year", error) || !Range(t.year, 1, 9999, "year", at, error)) return false;
  if (!Expect(c, '-', "year", error)) return false;
  at = c.pos;
  if (!Digits(c, 2, t.month, "month", error) || !Range(t.month, 1, 12, "month", at, error)) return false;
  if (!Expect(c, '-', "month", error)) return false;
  at = c.pos;
  if (!Digits(c, 2, t.day, "day", error) || !Range(t.day, 1, DaysInMonth(t.year, t.month), "day", at, error))
    return false;
  if (!c.AtEnd() && (c.Peek() == 'T' || c.Peek() == 't' || c.Peek() == ' ')) {
    ++c.pos;
    at = c.pos;
    if (!Digits(c, 2, t.hour, "hour", error) || !Range(t.hour, 0, 23, "hour", at, error)) return false;
    if (!Expect(c, ':', "hour", error)) return false;
    at = c.pos;
    if (!Digits(c, 2, t.minute, "minute", error) || !Range(t.minute, 0, 59, "minute", at, error)) return false;
    if (c.Peek() == ':') {
      ++c.pos;
      at = c.pos;
      int whole = 0;
      if (!Digits(c, 2, whole, "second", error)) return false;
      const bool leapSecond = t.hour == 23 && t.minute == 59 && EndsInLeapSecond(t.year, t.month, t.day);
      if (whole == 60 && !leapSecond) {
        error = "second 60 (at character " + std::to_string(at + 1) + ") only exists in a leap second: " +
                std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) +
                " 23:59 has none";
        return false;
      }
      if (!Range(whole, 0, 60, "second", at, error)) return false;
      double fraction = 0;
      if (c.Peek() == '.' || c.Peek() == ',') {
        ++c.pos;
        const std::size_t first = c.pos;
        while (!c.AtEnd() && c.Peek() >= '0' && c.Peek() <= '9') ++c.pos;
        if (c.pos == first) {
          error = "expected digits of the fraction of a second " + c.Where();
          return false;
        }
        // "0.<digits>" read by from_chars: correctly rounded, locale-free.
        const std::string digits = "0." + std::string(text.substr(first, c.pos - first));
        std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
      }
      t.second = whole + fraction;
    }
  } else if (!c.AtEnd() && c.Peek() != 'Z' && c.Peek() != 'z') {
    error = std::string("expected 'T' and a time after the date ") + c.Where() + ", found '" + c.Peek() + "'";
    return false;
  }
  // The zone: none, Z, or a zero offset.
  if (c.Peek() == 'Z' || c.Peek() == 'z') {
    ++c.pos;
  } else if (c.Peek() == '+' || c.Peek() == '-') {
    const std::size_t zoneAt = c.pos;
    const std::string_view zone = text.substr(c.pos);
    if (zone == "+00:00" || zone == "+0000" || zone == "+00" || zone == "-00:00" || zone == "-0000" ||
        zone == "-00") {
      c.pos = text.size();
    } else {
      error = "time zone offset '" + std::string(zone) + "' at character " + std::to_string(zoneAt + 1) +
              ": the time must be UTC (end it in 'Z' or give no zone)";
      return false;
    }
  }
  if (!c.AtEnd()) {
    error = std::string("unexpected '") + c.Peek() + "' " + c.Where() + " (expected YYYY-MM-DDThh:mm:ss[.fff][Z])";
    return false;
  }
  out = t;
  return true;
}

std::string FormatUtc(const UtcInstant& t) {
  // Seconds in microseconds, rounded, without carrying into the minute (a
  // parsed value is below 60 or 61 already to the last digit kept).
  const double wholeSecond = std::floor(t.second);
  const long long micro = std::min(std::llround(t.second * 1e6), std::llround(wholeSecond * 1e6) + 999999);
  const long long whole = micro / 1000000;
  long long frac = micro % 1000000;
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02lld", t.year, t.month, t.day, t.hour,
                        t.minute, whole);
  if (frac != 0) {
    int digits = 6;
    while (frac % 10 == 0) {
      frac /= 10;
      --digits;
    }
    n += std::snprintf(buffer + n, sizeof buffer - n, ".%0*lld", digits, frac);
  }
  std::snprintf(buffer + n, sizeof buffer - n, "Z");
  return buffer;
}

}  // namespace sky
