// The kit's sun: rise and set times against published tables, polar days
// and nights, the sub-solar point, and the daylight program's text.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "kit/kit.h"

namespace {

int Seconds(int hhmmss) { return hhmmss / 10000 * 3600 + hhmmss / 100 % 100 * 60 + hhmmss % 100; }

// Difference of two times of day in seconds, across midnight.
int ClockGap(int a, int b) {
  int d = std::abs(Seconds(a) - Seconds(b));
  return d > 43200 ? 86400 - d : d;
}

struct TableDay {
  const char *place;
  int date;
  double lat, lon_west;
  int rise, set;  // UTC, from published tables of local times
};

// Published sunrise and sunset (to the minute) at an equinox and both
// solstices of 2024, turned to UTC.  Longitudes are west-positive.
const TableDay kTable[] = {
    {"London, June solstice (04:43 / 21:21 BST)", 2024173, 51.5074, 0.1278, 34300, 202100},
    {"London, December solstice (08:04 / 15:53 GMT)", 2024356, 51.5074, 0.1278, 80400, 155300},
    {"London, March equinox (06:02 / 18:14 GMT)", 2024080, 51.5074, 0.1278, 60200, 181400},
    {"New York, June solstice (05:25 / 20:31 EDT)", 2024173, 40.7128, 74.0060, 92500, 3100},
    {"New York, December solstice (07:17 / 16:32 EST)", 2024356, 40.7128, 74.0060, 121700, 213200},
    {"Sydney, June solstice (07:00 / 16:54 AEST)", 2024173, -33.8688, -151.2093, 210000, 65400},
    {"Sydney, December solstice (05:41 / 20:05 AEDT)", 2024356, -33.8688, -151.2093, 184100, 90500},
    {"Tokyo, June solstice (04:25 / 19:00 JST)", 2024173, 35.6762, -139.6503, 192500, 100000},
    {"Chicago, New Year's Day (07:18 / 16:30 CST)", 2024001, 41.8781, 87.6298, 131800, 223000},
};

TEST(SunriseSunsetTest, MatchesPublishedTablesWithinTwoMinutes) {
  for (const TableDay &t : kTable) {
    SCOPED_TRACE(t.place);
    kit::SunDay day;
    ASSERT_TRUE(kit::SunriseSunset(t.date, t.lat, t.lon_west, day));
    EXPECT_FALSE(day.polar_day);
    EXPECT_FALSE(day.polar_night);
    EXPECT_LE(ClockGap(day.rise, t.rise), 120) << day.rise;
    EXPECT_LE(ClockGap(day.set, t.set), 120) << day.set;
  }
}

TEST(SunriseSunsetTest, LongitudeIsWestPositive) {
  // The same latitude 90 degrees further west rises six hours later in UTC.
  kit::SunDay east, west;
  ASSERT_TRUE(kit::SunriseSunset(2024080, 0.0, 0.0, east));
  ASSERT_TRUE(kit::SunriseSunset(2024080, 0.0, 90.0, west));
  int gap = (Seconds(west.rise) - Seconds(east.rise) + 86400) % 86400;
  EXPECT_NEAR(gap, 6 * 3600, 60);
}

TEST(SunriseSunsetTest, PolarDayAndNight) {
  kit::SunDay june, december, pole_june, south_june;
  ASSERT_TRUE(kit::SunriseSunset(2024173, 78.22, -15.65, june));
  EXPECT_TRUE(june.polar_day);
  EXPECT_FALSE(june.polar_night);
  ASSERT_TRUE(kit::SunriseSunset(2024356, 78.22, -15.65, december));
  EXPECT_TRUE(december.polar_night);
  EXPECT_FALSE(december.polar_day);
  ASSERT_TRUE(kit::SunriseSunset(2024173, 90.0, 0.0, pole_june));
  EXPECT_TRUE(pole_june.polar_day);
  ASSERT_TRUE(kit::SunriseSunset(2024173, -78.0, 0.0, south_june));
  EXPECT_TRUE(south_june.polar_night);
  // Just south of the polar circle the sun still rises and sets in June.
  kit::SunDay below;
  ASSERT_TRUE(kit::SunriseSunset(2024173, 64.0, 0.0, below));
  EXPECT_FALSE(below.polar_day);
  EXPECT_FALSE(below.polar_night);
}

TEST(SunriseSunsetTest, RefusesInvalidDatesAndPlaces) {
  kit::SunDay day;
  day.rise = 4242;
  EXPECT_FALSE(kit::SunriseSunset(2023366, 40, 90, day));  // 2023 has 365 days
  EXPECT_FALSE(kit::SunriseSunset(2024000, 40, 90, day));
  EXPECT_FALSE(kit::SunriseSunset(2100366, 40, 90, day));  // 2100 is not a leap year
  EXPECT_FALSE(kit::SunriseSunset(-2024001, 40, 90, day));
  EXPECT_FALSE(kit::SunriseSunset(2024001, 90.5, 90, day));
  EXPECT_FALSE(kit::SunriseSunset(2024001, 40, 181, day));
  EXPECT_FALSE(kit::SunriseSunset(2024001, std::nan(""), 90, day));
  EXPECT_EQ(day.rise, 4242);  // untouched
  EXPECT_TRUE(kit::SunriseSunset(2024366, 40, 90, day));   // a leap year's last day
  EXPECT_TRUE(kit::SunriseSunset(2000366, 40, 90, day));
}

TEST(SubsolarPointTest, FollowsDeclinationAndEquationOfTime) {
  double lat = 0, lon = 0;
  // March equinox 2024: 03:06 UTC, the sun over the equator.
  ASSERT_TRUE(kit::SubsolarPoint(2024080, 30600, lat, lon));
  EXPECT_NEAR(lat, 0.0, 0.05);
  // June solstice 2024: 20:51 UTC, the sun over the tropic.
  ASSERT_TRUE(kit::SubsolarPoint(2024172, 205100, lat, lon));
  EXPECT_NEAR(lat, 23.44, 0.05);
  // 3 November: the sun runs about 16.4 minutes fast, so at 12:00 UTC it
  // is over 4.1 degrees WEST of Greenwich.
  ASSERT_TRUE(kit::SubsolarPoint(2024308, 120000, lat, lon));
  EXPECT_NEAR(lon, 4.1, 0.1);
  EXPECT_NEAR(lat, -15.3, 0.2);
  // Six hours later it is a quarter of the way round further west.
  double lat6 = 0, lon6 = 0;
  ASSERT_TRUE(kit::SubsolarPoint(2024308, 180000, lat6, lon6));
  EXPECT_NEAR(lon6 - lon, 90.0, 0.05);
  // Near midnight the longitude wraps into (-180, 180].
  ASSERT_TRUE(kit::SubsolarPoint(2024308, 235959, lat, lon));
  EXPECT_GT(lon, -180.0);
  EXPECT_LE(lon, 180.0);
  EXPECT_LT(lon, -170.0);
}

TEST(SubsolarPointTest, RefusesInvalidMoments) {
  double lat = 7, lon = 7;
  EXPECT_FALSE(kit::SubsolarPoint(2024367, 120000, lat, lon));
  EXPECT_FALSE(kit::SubsolarPoint(2024001, 240000, lat, lon));
  EXPECT_FALSE(kit::SubsolarPoint(2024001, 126000, lat, lon));
  EXPECT_FALSE(kit::SubsolarPoint(2024001, -1, lat, lon));
  EXPECT_EQ(lat, 7);
  EXPECT_EQ(lon, 7);
}

TEST(SolDayTextTest, TwoLinesWithUtcTimes) {
  kit::SunDay day;
  ASSERT_TRUE(kit::SunriseSunset(2024001, 40.0, 90.0, day));
  char expected[128];
  std::snprintf(expected, sizeof expected, "SOLDAY 2024001 40.00N 90.00W\nSunrise/Sunset %02d:%02d:%02d %02d:%02d:%02d\n",
                day.rise / 10000, day.rise / 100 % 100, day.rise % 100, day.set / 10000, day.set / 100 % 100,
                day.set % 100);
  EXPECT_EQ(kit::SolDayText(2024001, 40.0, 90.0), expected);
  EXPECT_EQ(kit::SolDayText(2024001, 40.0, 90.0).substr(29, 15), "Sunrise/Sunset ");
  // Southern and eastern places.
  std::string sydney = kit::SolDayText(2024356, -33.87, -151.21);
  EXPECT_EQ(sydney.substr(0, sydney.find('\n')), "SOLDAY 2024356 33.87S 151.21E");
  EXPECT_EQ(sydney.substr(0, sydney.find('\n')).find('/'), std::string::npos);
}

TEST(SolDayTextTest, PolarDayAndNightWindows) {
  EXPECT_EQ(kit::SolDayText(2024173, 78.0, -15.0), "SOLDAY 2024173 78.00N 15.00E\nSunrise/Sunset 12:00:00 10:00:00\n");
  EXPECT_EQ(kit::SolDayText(2024356, 78.0, -15.0), "SOLDAY 2024356 78.00N 15.00E\nSunrise/Sunset 12:00:00 12:00:00\n");
}

TEST(SolDayTextTest, RefusalHasNoTimeLine) {
  std::string bad_date = kit::SolDayText(2023366, 40.0, 90.0);
  EXPECT_EQ(bad_date, "SOLDAY 2023366 40.00N 90.00W not a valid date\n");
  std::string bad_place = kit::SolDayText(2024001, 95.0, 90.0);
  EXPECT_EQ(bad_place.find('/'), std::string::npos);
  EXPECT_EQ(bad_place.back(), '\n');
  EXPECT_EQ(bad_place.find('\n'), bad_place.size() - 1);
}

}  // namespace
