// Date utilities, checked against the C library's own calendar.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "host/host.h"
#include "tests/support/support.h"

namespace {

using testing_support::ScopedEnv;

TEST(Dates, EveryDayFrom1970To2100AgreesWithTheCLibrary) {
  for (std::int64_t day = 0;; ++day) {
    std::time_t t = static_cast<std::time_t>(day * 86400 + 3723);  // 01:02:03
    std::tm parts;
    ASSERT_NE(gmtime_r(&t, &parts), nullptr);
    int year = parts.tm_year + 1900;
    if (year > 2100) break;
    int cyd = year * 1000 + parts.tm_yday + 1;
    ASSERT_EQ(Tvcydok(cyd), cyd <= 2100001 ? 0 : -1) << cyd;

    int date = 0, time = 0;
    ASSERT_EQ(Tvsectodaytime(t, &date, &time), 0);
    ASSERT_EQ(date, cyd);
    ASSERT_EQ(time, 10203);
    if (cyd > 2100001) continue;

    std::int64_t seconds = 0;
    ASSERT_EQ(Tvdaytimetosec(cyd, 10203, &seconds), 0) << cyd;
    ASSERT_EQ(seconds, static_cast<std::int64_t>(t)) << cyd;

    int d = 0, m = 0, y = 0;
    ASSERT_EQ(Tvcydtodmy(cyd, &d, &m, &y), 0);
    ASSERT_EQ(d, parts.tm_mday);
    ASSERT_EQ(m, parts.tm_mon + 1);
    ASSERT_EQ(y, year);

    int next = 0;
    ASSERT_EQ(Tvincday(cyd, 1, &next), 0);
    std::time_t tomorrow = t + 86400;
    std::tm next_parts;
    gmtime_r(&tomorrow, &next_parts);
    ASSERT_EQ(next, (next_parts.tm_year + 1900) * 1000 + next_parts.tm_yday + 1);
  }
}

TEST(Dates, ValidityCodes) {
  EXPECT_EQ(Tvcydok(2024366), 0);
  EXPECT_EQ(Tvcydok(2023366), -2);
  EXPECT_EQ(Tvcydok(2023000), -2);
  EXPECT_EQ(Tvcydok(2023367), -2);
  EXPECT_EQ(Tvcydok(1969365), -1);
  EXPECT_EQ(Tvcydok(2100002), -1);
  EXPECT_EQ(Tvcydok(1899365), -3);
  EXPECT_EQ(Tvcydok(9999366), -3);
  EXPECT_EQ(Tvcydok(0), -3);
}

TEST(Dates, TwoDigitYearsAndDayMonth) {
  int d = 0, m = 0, y = 0;
  ASSERT_EQ(Tvcydtodmy(24060, &d, &m, &y), 0);
  EXPECT_EQ((std::tuple{d, m, y}), (std::tuple{29, 2, 2024}));
  ASSERT_EQ(Tvcydtodmy(2023060, &d, &m, &y), 0);
  EXPECT_EQ((std::tuple{d, m, y}), (std::tuple{1, 3, 2023}));
  ASSERT_EQ(Tvcydtodmy(99001, &d, &m, &y), 0);
  EXPECT_EQ((std::tuple{d, m, y}), (std::tuple{1, 1, 1999}));
  ASSERT_EQ(Tvcydtodmy(5001, &d, &m, &y), 0);
  EXPECT_EQ(y, 2005);
  d = -7;
  EXPECT_EQ(Tvcydtodmy(0, &d, &m, &y), -1);
  EXPECT_EQ(Tvcydtodmy(2023366, &d, &m, &y), -1);
  EXPECT_EQ(d, -7);  // outputs are written only on success
}

TEST(Dates, SecondsAndStepping) {
  std::int64_t s = -1;
  ASSERT_EQ(Tvdaytimetosec(1970001, 0, &s), 0);
  EXPECT_EQ(s, 0);
  ASSERT_EQ(Tvdaytimetosec(2024001, 0, &s), 0);
  EXPECT_EQ(s, 19723LL * 86400);
  ASSERT_EQ(Tvdaytimetosec(24001, 1000000, &s), 0);  // a million adds a day
  EXPECT_EQ(s, 19724LL * 86400);
  ASSERT_EQ(Tvdaytimetosec(2024001, 250000, &s), 0);  // hours are not limited
  EXPECT_EQ(s, 19723LL * 86400 + 25 * 3600);
  EXPECT_EQ(Tvdaytimetosec(2024001, 126000, &s), -4);
  EXPECT_EQ(Tvdaytimetosec(2024001, 120060, &s), -4);
  EXPECT_EQ(Tvdaytimetosec(2024001, -1, &s), -4);
  EXPECT_EQ(Tvdaytimetosec(2023366, 0, &s), -3);
  ASSERT_EQ(Tvdaytimetosec(2099365, 235959, &s), 0);  // past 2038 in 64 bits
  int date = 0, time = 0;
  ASSERT_EQ(Tvsectodaytime(s, &date, &time), 0);
  EXPECT_EQ(date, 2099365);
  EXPECT_EQ(time, 235959);

  int next = 0;
  ASSERT_EQ(Tvincday(2023365, 1, &next), 0);
  EXPECT_EQ(next, 2024001);
  ASSERT_EQ(Tvincday(2024001, -1, &next), 0);
  EXPECT_EQ(next, 2023365);
  ASSERT_EQ(Tvincday(2024060, 1, &next), 0);
  EXPECT_EQ(next, 2024061);
  ASSERT_EQ(Tvincday(24060, 365, &next), 0);
  EXPECT_EQ(next, 2025059);
  EXPECT_EQ(Tvincday(1969365, 1, &next), -1);
  EXPECT_EQ(Tvincday(0, 1, &next), -1);
}

// The current day and time are the pinned clock broken down in UTC, in a
// zone hours away from UTC on either side and across a day, month and year
// boundary of the local calendar.
TEST(Dates, CurrentDayAndTimeAreUtc) {
  const struct {
    const char *zone;
    const char *now;
    int day, time;
  } cases[] = {
      // 2024-02-29 20:30:15 UTC, 2024-03-01 02:15:15 in the zone.
      {"<+0545>-5:45", "1709238615", 2024060, 203015},
      // 2024-01-01 02:03:04 UTC, 2023-12-31 21:03:04 in the zone.
      {"EST5", "1704074584", 2024001, 20304},
  };
  for (const auto &c : cases) {
    {
      ScopedEnv zone("TZ", c.zone);
      ScopedEnv now("VARNEK_TEST_NOW", c.now);
      tzset();
      std::time_t t = std::atoll(c.now);
      std::tm local, utc;
      ASSERT_NE(localtime_r(&t, &local), nullptr);
      ASSERT_NE(gmtime_r(&t, &utc), nullptr);
      ASSERT_NE(local.tm_yday, utc.tm_yday) << c.zone << " is not in effect";

      int day = 0, time = 0;
      ASSERT_EQ(Tvgetdaytime(&day, &time), 0) << c.zone;
      EXPECT_EQ(day, c.day) << c.zone;
      EXPECT_EQ(time, c.time) << c.zone;
    }
    tzset();
  }
}

TEST(Dates, ClockAtZeroIsRefused) {
  ScopedEnv now("VARNEK_TEST_NOW", "0");
  int day = 7, time = 8;
  EXPECT_EQ(Tvgetdaytime(&day, &time), -1);
  EXPECT_EQ(day, 7);
  EXPECT_EQ(time, 8);
}

}  // namespace
