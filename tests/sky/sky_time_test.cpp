// ISO 8601 UTC and the time scales, against ERFA's calendar and leap-second
// routines.
#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sky/sky_time.h"

namespace sky {
namespace {

double DaysSinceJ2000(const JulianDate& jd) { return (jd.day - 2451545.0) + jd.fraction; }

UtcInstant Parsed(const std::string& text) {
  UtcInstant t;
  std::string error;
  EXPECT_TRUE(ParseUtc(text, t, error)) << text << ": " << error;
  return t;
}

std::string ErrorOf(const std::string& text) {
  UtcInstant t{1234, 5, 6, 7, 8, 9};
  std::string error;
  EXPECT_FALSE(ParseUtc(text, t, error)) << text;
  EXPECT_EQ(t.year, 1234) << "the output is left alone on failure: " << text;
  return error;
}

TEST(ParseUtc, ReadsEveryAcceptedForm) {
  struct Case {
    const char* text;
    UtcInstant expected;
  };
  const Case cases[] = {
      {"2024-03-20T21:30:15Z", {2024, 3, 20, 21, 30, 15}},
      {"2024-03-20T21:30:15", {2024, 3, 20, 21, 30, 15}},
      {"2024-03-20t21:30:15z", {2024, 3, 20, 21, 30, 15}},
      {"2024-03-20 21:30:15", {2024, 3, 20, 21, 30, 15}},
      {"2024-03-20T21:30Z", {2024, 3, 20, 21, 30, 0}},
      {"2024-03-20", {2024, 3, 20, 0, 0, 0}},
      {"2024-03-20Z", {2024, 3, 20, 0, 0, 0}},
      {"2024-03-20T21:30:15.25Z", {2024, 3, 20, 21, 30, 15.25}},
      {"2024-03-20T21:30:15,5", {2024, 3, 20, 21, 30, 15.5}},
      {"2024-03-20T21:30:15.123456789+00:00", {2024, 3, 20, 21, 30, 15.123456789}},
      {"2024-03-20T21:30:15-0000", {2024, 3, 20, 21, 30, 15}},
      {"2024-02-29T00:00:00Z", {2024, 2, 29, 0, 0, 0}},
      {"2000-02-29T00:00:00Z", {2000, 2, 29, 0, 0, 0}},
      {"2016-12-31T23:59:60.999Z", {2016, 12, 31, 23, 59, 60.999}},
      {"1972-06-30T23:59:60Z", {1972, 6, 30, 23, 59, 60}},
      {"0001-01-01T00:00:00Z", {1, 1, 1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const UtcInstant t = Parsed(c.text);
    EXPECT_EQ(t.year, c.expected.year) << c.text;
    EXPECT_EQ(t.month, c.expected.month) << c.text;
    EXPECT_EQ(t.day, c.expected.day) << c.text;
    EXPECT_EQ(t.hour, c.expected.hour) << c.text;
    EXPECT_EQ(t.minute, c.expected.minute) << c.text;
    EXPECT_DOUBLE_EQ(t.second, c.expected.second) << c.text;
  }
}

TEST(ParseUtc, RejectsWithTheReasonAndPlace) {
  struct Case {
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"", "year: expected 4 digits at character 1"},
      {"24-03-20", "year: expected 4 digits at character 3, found '-'"},
      {"2024/03/20", "expected '-' after the year at character 5, found '/'"},
      {"2024-13-01", "month 13 out of range 1..12 (at character 6)"},
      {"2024-00-01", "month 0 out of range"},
      {"2024-04-31", "day 31 out of range 1..30"},
      {"2023-02-29", "day 29 out of range 1..28"},
      {"1900-02-29", "day 29 out of range 1..28"},
      {"2024-03-20T24:00:00Z", "hour 24 out of range 0..23 (at character 12)"},
      {"2024-03-20T21:60:00Z", "minute 60 out of range"},
      {"2024-03-20T21:30:61Z", "second 61 out of range"},
      {"2024-03-20T21:30:60Z", "second 60 (at character 18) only exists in a leap second"},
      {"2016-12-31T23:58:60Z", "only exists in a leap second"},
      {"2017-12-31T23:59:60Z", "only exists in a leap second"},
      {"2024-03-20T21:30:15.Z", "expected digits of the fraction of a second at character 21"},
      {"2024-03-20T21:30:15+01:00", "time zone offset '+01:00' at character 20: the time must be UTC"},
      {"2024-03-20T21:30:15-05", "the time must be UTC"},
      {"2024-03-20T2130", "expected ':' after the hour at character 14"},
      {"2024-03-20T21", "expected ':' after the hour at character 14, found the end"},
      {"2024-03-20T21:30:15Z ", "unexpected ' ' at character 21"},
      {"2024-03-20X", "expected 'T' and a time after the date at character 11, found 'X'"},
      {"2024-03-20T21:3", "minute: expected 2 digits at character 15, found the end"},
      {"0000-01-01", "year 0 out of range 1..9999"},
      {"2024-03-2a", "day: expected 2 digits at character 10, found 'a'"},
  };
  for (const Case& c : cases) {
    const std::string error = ErrorOf(c.text);
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " gave: " << error;
  }
}

TEST(FormatUtc, RoundTripsThroughTheParser) {
  for (const char* text : {"2024-03-20T21:30:15Z", "2016-12-31T23:59:60.5Z", "1969-07-20T20:17:40.000001Z",
                           "0001-01-01T00:00:00Z", "2024-03-20T21:30:15.25Z"}) {
    EXPECT_EQ(FormatUtc(Parsed(text)), text);
  }
  // Below a microsecond short of the minute, the seconds stay below 60.
  EXPECT_EQ(FormatUtc({2024, 1, 1, 0, 0, 59.9999999}), "2024-01-01T00:00:59.999999Z");
}

TEST(Calendar, JulianDayAndMonthLengthsMatchErfa) {
  for (int year : {1, 4, 100, 400, 1582, 1600, 1700, 1899, 1900, 1970, 2000, 2024, 2100, 2400, 9999})
    for (int month = 1; month <= 12; ++month) {
      double djm0, djm;
      for (int day : {1, DaysInMonth(year, month)}) {
        if (eraCal2jd(year, month, day, &djm0, &djm) != 0) continue;  // ERFA stops at -4799
        EXPECT_EQ(JulianDayNumberAt0h(year, month, day), djm0 + djm) << year << "-" << month << "-" << day;
      }
      // The day after the last of the month is the first of the next.
      const int nextYear = month == 12 ? year + 1 : year, nextMonth = month == 12 ? 1 : month + 1;
      EXPECT_EQ(JulianDayNumberAt0h(year, month, DaysInMonth(year, month)) + 1,
                JulianDayNumberAt0h(nextYear, nextMonth, 1));
    }
  EXPECT_EQ(JulianDayNumberAt0h(2000, 1, 1), 2451544.5);
}

// ERFA's TAI and TT of a UTC instant, as one Julian date each.
struct ErfaScales {
  double tai, tt, ut1;
};
ErfaScales Erfa(const UtcInstant& t, double dut1) {
  double utc1, utc2, tai1, tai2, tt1, tt2, ut11, ut12;
  EXPECT_GE(eraDtf2d("UTC", t.year, t.month, t.day, t.hour, t.minute, t.second, &utc1, &utc2), 0);
  EXPECT_GE(eraUtctai(utc1, utc2, &tai1, &tai2), 0);
  EXPECT_GE(eraTaitt(tai1, tai2, &tt1, &tt2), 0);
  EXPECT_GE(eraUtcut1(utc1, utc2, dut1, &ut11, &ut12), 0);
  return {(tai1 - 2451545.0) + tai2, (tt1 - 2451545.0) + tt2, (ut11 - 2451545.0) + ut12};
}

TEST(TimeScales, UtcToTaiTtAndUt1MatchErfaThroughEveryLeapSecond) {
  // Every month from 1961 to 2030 at three times of day, and the seconds
  // either side of each leap; 10 microseconds is the bar (ERFA's quasi-JD
  // rounding of a leap second's day is a few microseconds).
  const double tolerance = 1e-5 / 86400.0;
  for (int year = 1961; year <= 2030; ++year)
    for (int month = 1; month <= 12; ++month)
      for (const UtcInstant& t : {UtcInstant{year, month, 1, 0, 0, 0.0}, UtcInstant{year, month, 15, 12, 34, 56.789},
                                  UtcInstant{year, month, DaysInMonth(year, month), 23, 59, 59.5}}) {
        const ErfaScales e = Erfa(t, -0.25);
        EXPECT_NEAR(DaysSinceJ2000(UtcToTai(t)), e.tai, tolerance) << FormatUtc(t);
        EXPECT_NEAR(DaysSinceJ2000(UtcToTt(t)), e.tt, tolerance) << FormatUtc(t);
        // Before 1972 ERFA goes through TAI with the stretched UTC seconds
        // and may take the drift of the day before at 0h; here UT1 is UTC +
        // (UT1-UTC) as written: within 3 ms (0.05" of rotation).
        EXPECT_NEAR(DaysSinceJ2000(UtcToUt1(t, -0.25)), e.ut1, year < 1972 ? 3e-3 / 86400 : tolerance)
            << FormatUtc(t);
        double dat;
        const double fd = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
        ASSERT_GE(eraDat(t.year, t.month, t.day, fd, &dat), 0);
        EXPECT_NEAR(TaiMinusUtc(t), dat, 1e-9) << FormatUtc(t);
      }
}

TEST(TimeScales, LeapSecondIsOneSecondOfTai) {
  // 23:59:59 -> 23:59:60 -> 00:00:00 are one TAI second apart each.
  const UtcInstant before{2016, 12, 31, 23, 59, 59}, leap{2016, 12, 31, 23, 59, 60}, after{2017, 1, 1, 0, 0, 0};
  EXPECT_NEAR((DaysSinceJ2000(UtcToTai(leap)) - DaysSinceJ2000(UtcToTai(before))) * 86400, 1.0, 1e-6);
  EXPECT_NEAR((DaysSinceJ2000(UtcToTai(after)) - DaysSinceJ2000(UtcToTai(leap))) * 86400, 1.0, 1e-6);
  EXPECT_EQ(TaiMinusUtc(before), 36);
  EXPECT_EQ(TaiMinusUtc(after), 37);
}

TEST(TimeScales, DatesOutsideTheTableUseItsEnds) {
  // After the last leap second: 37 s for as long as no new one is announced.
  EXPECT_EQ(TaiMinusUtc({2017, 1, 1, 0, 0, 0}), 37);
  EXPECT_EQ(TaiMinusUtc({2150, 6, 1, 0, 0, 0}), 37);
  // Before UTC began: the first offset, without drift.
  EXPECT_EQ(TaiMinusUtc({1900, 6, 1, 0, 0, 0}), TaiMinusUtc({1960, 12, 1, 0, 0, 0}));
  EXPECT_NEAR(TaiMinusUtc({1950, 1, 1, 0, 0, 0}), 1.4228180, 1e-12);
  // TT - UTC is TAI - UTC + 32.184 s anywhere.
  for (const UtcInstant& t : {UtcInstant{1800, 1, 1, 0, 0, 0}, UtcInstant{2024, 6, 1, 6, 0, 0}})
    EXPECT_NEAR((DaysSinceJ2000(UtcToTt(t)) - DaysSinceJ2000(UtcToTai(t))) * 86400, 32.184, 1e-6);
}

TEST(TimeScales, JulianDatesKeepTheirSplit) {
  // The day part is 0h of the civil date; years and centuries from J2000 TT.
  const JulianDate tt = UtcToTt({2000, 1, 1, 11, 58, 55.816});
  EXPECT_EQ(tt.day, 2451544.5);
  EXPECT_NEAR(tt.fraction, 0.5, 1e-10);
  EXPECT_NEAR(JulianYear(tt), 2000.0, 1e-12);
  EXPECT_NEAR(JulianCenturiesSinceJ2000(UtcToTt({2100, 1, 1, 11, 58, 50.816})), 1.0, 1e-9);
}

}  // namespace
}  // namespace sky
