// The sun: position from the mean elements of its orbit (low precision,
// good to about a minute of time), sunrise and sunset, the sub-solar point,
// and the daylight program's text.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/data_files.h"
#include "kit/kit.h"

namespace kit {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kRiseAltitude = -0.833;  // degrees: refraction and the sun's radius
constexpr double kMinutesPerDay = 1440.0;

// Julian day of 00:00 UTC of a valid CCYYDDD date.
double JulianDayAtMidnight(int ccyyddd) {
  return 2440587.5 + static_cast<double>(datafile::DaysFromCivil(ccyyddd / 1000, 1, 1) + ccyyddd % 1000 - 1);
}

double Wrap360(double degrees) {
  double r = std::fmod(degrees, 360.0);
  return r < 0 ? r + 360.0 : r;
}

struct SolarState {
  double declination;   // degrees
  double equation_min;  // equation of time, minutes (apparent minus mean solar time)
};

// The sun's declination and the equation of time at Julian day `jd`.
SolarState SolarAt(double jd) {
  const double t = (jd - 2451545.0) / 36525.0;  // Julian centuries from J2000
  const double l0 = Wrap360(280.46646 + t * (36000.76983 + t * 0.0003032));
  const double m = 357.52911 + t * (35999.05029 - 0.0001537 * t);
  const double e = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
  const double mr = m * kDeg;
  const double centre = std::sin(mr) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                        std::sin(2 * mr) * (0.019993 - 0.000101 * t) + std::sin(3 * mr) * 0.000289;
  const double omega = (125.04 - 1934.136 * t) * kDeg;
  const double apparent = (l0 + centre - 0.00569 - 0.00478 * std::sin(omega)) * kDeg;
  const double mean_obliquity = 23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
  const double obliquity = (mean_obliquity + 0.00256 * std::cos(omega)) * kDeg;
  const double y = std::tan(obliquity / 2) * std::tan(obliquity / 2);
  const double l0r = l0 * kDeg;
  const double eq = y * std::sin(2 * l0r) - 2 * e * std::sin(mr) + 4 * e * y * std::sin(mr) * std::cos(2 * l0r) -
                    0.5 * y * y * std::sin(4 * l0r) - 1.25 * e * e * std::sin(2 * mr);
  return {std::asin(std::sin(obliquity) * std::sin(apparent)) / kDeg, 4.0 * eq / kDeg};
}

// Cosine of the hour angle at which the sun's centre stands at the rise
// altitude; beyond -1 the sun never sets, beyond 1 it never rises.
double CosRiseHourAngle(double lat, double declination) {
  const double phi = lat * kDeg, delta = declination * kDeg;
  const double below = std::cos(phi) * std::cos(delta);
  const double above = std::sin(kRiseAltitude * kDeg) - std::sin(phi) * std::sin(delta);
  if (std::fabs(below) < 1e-12) return above < 0 ? -2.0 : 2.0;  // at a pole
  return above / below;
}

// Minutes after 00:00 UTC of the sun's rise (sign -1) or set (sign +1) near
// the solar noon `noon` (minutes), refined by evaluating the sun at the
// moment found.
double RiseOrSet(double jd0, double lat, double lon_west, double noon, int sign) {
  double t = noon;
  for (int i = 0; i < 4; ++i) {
    SolarState s = SolarAt(jd0 + t / kMinutesPerDay);
    double c = CosRiseHourAngle(lat, s.declination);
    c = c < -1 ? -1 : (c > 1 ? 1 : c);
    double hour_angle = std::acos(c) / kDeg;  // degrees
    t = 720.0 + 4.0 * lon_west + sign * 4.0 * hour_angle - s.equation_min;
  }
  return t;
}

// Minutes after midnight as HHMMSS, rounded to the second, of the day.
int ClockOf(double minutes) {
  long long seconds = std::llround(minutes * 60.0) % 86400;
  if (seconds < 0) seconds += 86400;
  return static_cast<int>(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60);
}

bool PlaceOk(double lat, double lon_west) {
  return std::isfinite(lat) && std::isfinite(lon_west) && lat >= -90 && lat <= 90 && lon_west >= -180 &&
         lon_west <= 180;
}

}  // namespace

bool SunriseSunset(int ccyyddd, double lat, double lon_west, SunDay &out) {
  if (!ValidDate(ccyyddd) || !PlaceOk(lat, lon_west)) return false;
  const double jd0 = JulianDayAtMidnight(ccyyddd);
  // Solar noon of the place on this UTC day.
  double noon = 720.0 + 4.0 * lon_west;
  for (int i = 0; i < 2; ++i) noon = 720.0 + 4.0 * lon_west - SolarAt(jd0 + noon / kMinutesPerDay).equation_min;
  SunDay day;
  double c = CosRiseHourAngle(lat, SolarAt(jd0 + noon / kMinutesPerDay).declination);
  if (c < -1) {
    day.polar_day = true;
  } else if (c > 1) {
    day.polar_night = true;
  } else {
    day.rise = ClockOf(RiseOrSet(jd0, lat, lon_west, noon, -1));
    day.set = ClockOf(RiseOrSet(jd0, lat, lon_west, noon, +1));
  }
  out = day;
  return true;
}

bool SubsolarPoint(int ccyyddd, int hhmmss, double &lat, double &lon_west) {
  if (!ValidDate(ccyyddd) || !ValidTime(hhmmss)) return false;
  const double minutes = hhmmss / 10000 * 60.0 + hhmmss / 100 % 100 + hhmmss % 100 / 60.0;
  SolarState s = SolarAt(JulianDayAtMidnight(ccyyddd) + minutes / kMinutesPerDay);
  // The sun is overhead where the apparent solar time is noon.
  double west = Wrap360((minutes + s.equation_min - 720.0) / 4.0);
  if (west > 180.0) west -= 360.0;
  lat = s.declination;
  lon_west = west;
  return true;
}

std::string SolDayText(int ccyyddd, double lat, double lon_west) {
  char header[128];
  std::snprintf(header, sizeof header, "SOLDAY %d %.2f%c %.2f%c", ccyyddd, std::fabs(lat), lat < 0 ? 'S' : 'N',
                std::fabs(lon_west), lon_west < 0 ? 'E' : 'W');
  std::string text = header;
  SunDay day;
  if (!ValidDate(ccyyddd)) return text + " not a valid date\n";
  if (!PlaceOk(lat, lon_west)) return text + " not a valid place\n";
  if (!SunriseSunset(ccyyddd, lat, lon_west, day)) return text + " no sun times\n";
  int rise = day.rise, set = day.set;
  if (day.polar_day) {
    rise = 120000;
    set = 100000;
  } else if (day.polar_night) {
    rise = 120000;
    set = 120000;
  }
  char line[64];
  std::snprintf(line, sizeof line, "\nSunrise/Sunset %02d:%02d:%02d %02d:%02d:%02d\n", rise / 10000, rise / 100 % 100,
                rise % 100, set / 10000, set / 100 % 100, set % 100);
  return text + line;
}

}  // namespace kit
