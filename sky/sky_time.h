// Time scales for the sky: UTC as the user writes it (ISO 8601), TT for
// precession, nutation, the Earth's orbit and proper motion, UT1 for the
// Earth's rotation.
//
//   TAI = UTC + (TAI-UTC)      leap-second table, below
//   TT  = TAI + 32.184 s
//   UT1 = UTC + (UT1-UTC)      UT1-UTC is the user's input (IERS Bulletin A;
//                              |UT1-UTC| < 0.9 s). Left at 0 the sky turns
//                              up to 0.9 s of rotation = 13.5 arcsec at the
//                              equator away from the truth.
//
// The leap-second table runs from 1961-01-01 (with the 1961-1971 drift rates
// of the rubber-second era) through the leap second at the end of
// 2016-12-31 (TAI-UTC = 37 s from 2017-01-01). Dates after the table's last
// entry use its last offset (37 s): no leap second has been announced since,
// and when one is, the table grows. Dates before 1961-01-01 (when UTC did not
// exist) use the table's first offset without drift; the Earth's rotation is
// then whatever UT1-UTC says.
//
// Julian dates are carried in two parts, as the IAU's software does, so that
// a date keeps microsecond resolution: `day` is the Julian date of 0h of the
// calendar day (it ends in .5) and `fraction` the part of the day after it,
// which may fall outside [0, 1) (TT runs about 69 s ahead of UTC). All dates
// are proleptic Gregorian.
#pragma once

#include <string>
#include <string_view>

namespace sky {

// A UTC date and time as written. second is in [0, 60), or [60, 61) inside a
// leap second of the table (23:59:60 of its day).
struct UtcInstant {
  int year = 2000;  // 1..9999
  int month = 1;    // 1..12
  int day = 1;      // 1..days of the month
  int hour = 12;    // 0..23
  int minute = 0;   // 0..59
  double second = 0;
};

struct JulianDate {
  double day = 2451545.0;  // JD of 0h of a calendar day (x.5)
  double fraction = 0;     // days after `day`
  double Total() const { return day + fraction; }
};

// Julian date of the J2000.0 epoch (2000-01-01 12:00 TT).
inline constexpr double kJ2000 = 2451545.0;
inline constexpr double kDaysPerJulianYear = 365.25;
inline constexpr double kDaysPerJulianCentury = 36525.0;

// Parses ISO 8601 UTC: `YYYY-MM-DD`, optionally followed by `T` (or one
// space) and `hh:mm`, `hh:mm:ss` or `hh:mm:ss.fff...` (any number of
// fraction digits, '.' or ','), optionally followed by `Z` (or `z`, or a
// zero offset `+00:00`/`+0000`/`+00`). A date alone means 00:00:00.
// No zone means UTC. Other offsets are rejected (the time must be UTC), as
// are out-of-range fields (month 13, 31 April, 29 February of a common year,
// 24:00) and a second 60 anywhere but at 23:59:60 of a leap-second day of the
// table. Returns false with `error` saying what is wrong and at which
// character (1-based), leaving `out` untouched.
bool ParseUtc(std::string_view text, UtcInstant& out, std::string& error);

// The instant as ISO 8601 with 'Z' (seconds with as many decimals as needed,
// up to microseconds), e.g. "2024-03-20T21:30:00Z". Round-trips through ParseUtc.
std::string FormatUtc(const UtcInstant& t);

// Julian date of 0h of a proleptic Gregorian calendar day.
double JulianDayNumberAt0h(int year, int month, int day);

// Days in a month of the proleptic Gregorian calendar.
int DaysInMonth(int year, int month);

// TAI-UTC in seconds at the instant (table above).
double TaiMinusUtc(const UtcInstant& t);

// The instant's Julian dates on the three scales.
JulianDate UtcToTai(const UtcInstant& t);
JulianDate UtcToTt(const UtcInstant& t);
JulianDate UtcToUt1(const UtcInstant& t, double ut1MinusUtcSeconds);

// TT Julian centuries and years since J2000.0.
inline double JulianCenturiesSinceJ2000(const JulianDate& jd) {
  return ((jd.day - kJ2000) + jd.fraction) / kDaysPerJulianCentury;
}
inline double JulianYear(const JulianDate& jd) {
  return 2000.0 + ((jd.day - kJ2000) + jd.fraction) / kDaysPerJulianYear;
}

}  // namespace sky
