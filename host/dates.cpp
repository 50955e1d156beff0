// Date and time utilities: CCYYDDD dates, HHMMSS times, seconds since
// 1970-01-01 00:00:00 UTC.  Calendar arithmetic is done here on a 64-bit day
// count (proleptic Gregorian), so results do not depend on the C library's
// time zone or on the width of time_t.

#include <charconv>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "host/host.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

}  // namespace

// YYDDD (below 100,000): YY above 69 is 19YY, otherwise 20YY.
int tv::ExpandDate(int date) {
  if (date > 0 && date < 100000) {
    int yy = date / 1000;
    return (yy > 69 ? 1900 + yy : 2000 + yy) * 1000 + date % 1000;
  }
  return date;
}

namespace {

void CivilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

std::int64_t tv::Now() {
  if (const char *pinned = std::getenv("VARNEK_TEST_NOW")) {
    std::string_view text(pinned);
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size()) return value;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

int Tvgetdaytime(int *day, int *time) {
  auto now = static_cast<std::time_t>(tv::Now());
  if (now == 0) return -1;
  std::tm parts;
  if (!gmtime_r(&now, &parts)) return -2;
  if (day) *day = static_cast<int>(datafile::DateOfYearDay(parts.tm_year + 1900, parts.tm_yday));
  if (time) *time = parts.tm_hour * 10000 + parts.tm_min * 100 + parts.tm_sec;
  return 0;
}

int Tvcydok(int date) {
  if (date < 1900001 || date > 9999365) return -3;
  int year = date / 1000;
  int day = date % 1000;
  if (day == 0 || day > 366 || (day == 366 && year % 4 != 0)) return -2;
  if (date < 1970001 || date > 2100001) return -1;
  return 0;
}

int Tvcydtodmy(int date, int *day, int *month, int *year) {
  if (date <= 0) return -1;
  int full = tv::ExpandDate(date);
  if (Tvcydok(full) != 0) return -1;
  int y = full / 1000;
  // 1 January of the year plus (day of year - 1) days, normalised.
  std::int64_t days = tv::DaysFromCivil(y, 1, 1) + (full % 1000) - 1;
  std::int64_t yy;
  unsigned m, d;
  CivilFromDays(days, yy, m, d);
  if (day) *day = static_cast<int>(d);
  if (month) *month = static_cast<int>(m);
  if (year) *year = static_cast<int>(yy);
  return 0;
}

int Tvdaytimetosec(int date, int time, std::int64_t *seconds) {
  if (date <= 0) return -3;
  int full = tv::ExpandDate(date);
  if (Tvcydok(full) != 0) return -3;
  if (time < 0) return -4;
  int mm = (time % 10000) / 100;
  int ss = time % 100;
  if (mm >= 60 || ss >= 60) return -4;
  std::int64_t yyyy = full / 1000;
  std::int64_t ddd = full % 1000;
  if (ddd == 0) ddd = 1;
  std::int64_t leap_days = yyyy < 1973 ? 0 : (yyyy - 1973) / 4 + 1;
  std::int64_t days = ddd + yyyy * 365 + leap_days - 719051 + time / 1000000;
  std::int64_t hh = (time % 1000000) / 10000;
  if (seconds) *seconds = days * kSecondsPerDay + hh * 3600 + mm * 60 + ss;
  return 0;
}

int Tvsectodaytime(std::int64_t seconds, int *date, int *time) {
  // Years 1..9999 only: beyond that a CCYYDDD date does not exist.
  constexpr std::int64_t kFirst = -62135596800;   // 0001-01-01 00:00:00
  constexpr std::int64_t kLast = 253402300799;    // 9999-12-31 23:59:59
  if (seconds < kFirst || seconds > kLast) return -1;
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  std::int64_t day_of_year = days - tv::DaysFromCivil(y, 1, 1) + 1;
  if (date) *date = static_cast<int>(y * 1000 + day_of_year);
  if (time) *time = static_cast<int>((rest / 3600) * 10000 + (rest % 3600) / 60 * 100 + rest % 60);
  return 0;
}

int Tvincday(int date, int days, int *newdate) {
  if (date <= 0) return -1;
  int full = tv::ExpandDate(date);
  if (Tvcydok(full) < 0) return -1;
  std::int64_t seconds = 0;
  if (Tvdaytimetosec(full, 0, &seconds) != 0) return -2;
  seconds += static_cast<std::int64_t>(days) * kSecondsPerDay;
  int result = 0, ignored = 0;
  if (Tvsectodaytime(seconds, &result, &ignored) != 0) return -3;
  if (newdate) *newdate = result;
  return 0;
}
