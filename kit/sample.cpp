// Sample data files: AREA images of an Earth disk with drifting cloud bands,
// visible (lit by the sun) or infrared, MD point data,
// GRID files and text products, each written whole.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "posix/posix.h"

namespace kit {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kEarthRadius = 6371.0;   // km, a sphere
constexpr double kOrbitRadius = 42164.0;  // km from the Earth's centre: geostationary
constexpr int kFirstYear = 1997;
constexpr int kLastYear = 2096;

bool SampleDateOk(int ccyyddd) {
  return ValidDate(ccyyddd) && ccyyddd / 1000 >= kFirstYear && ccyyddd / 1000 <= kLastYear;
}

std::string DateError(const std::string &path, int ccyyddd) {
  return path + ": date " + std::to_string(ccyyddd) + " is not a valid date of the years 1997 to 2096";
}

// The angle in radians one pixel spans seen from the satellite.
double PixelAngle(int resolution) { return resolution / (kOrbitRadius - kEarthRadius); }

bool AreaShapeOk(double sub_lon_west, int lines, int elements, int resolution) {
  return std::isfinite(sub_lon_west) && sub_lon_west >= -180 && sub_lon_west <= 180 && lines >= 1 &&
         lines <= kAreaMaxSide && elements >= 1 && elements <= kAreaMaxSide && resolution >= 1 && resolution <= 1000;
}

// A deterministic hash of a few integers, for texture and readings.
std::uint32_t Mix(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  std::uint64_t z = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xBF58476D1CE4E5B9ull ^ c;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>((z ^ (z >> 31)) & 0xffffffffu);
}

// Hours from 1997-01-01 00:00 UTC to a moment of a valid date and time.
double HoursSince1997(int ccyyddd, int hhmmss) {
  long long days = ccyyddd % 1000 - 1;
  for (int y = kFirstYear; y < ccyyddd / 1000; ++y) days += y % 4 == 0 && (y % 100 != 0 || y % 400 == 0) ? 366 : 365;
  for (int y = ccyyddd / 1000; y < kFirstYear; ++y) days -= y % 4 == 0 && (y % 100 != 0 || y % 400 == 0) ? 366 : 365;
  return static_cast<double>(days) * 24.0 + hhmmss / 10000 + hhmmss / 100 % 100 / 60.0 + hhmmss % 100 / 3600.0;
}

// 0..1 from the low 24 bits of a hash.
double Unit(std::uint32_t h) { return static_cast<double>(h & 0xffffffu) / 16777216.0; }

// A cloud band: a stripe of cloud along the latitudes that meanders in
// whole waves round the globe (so it joins itself), thicker and thinner in
// cells along its length, and drifts with time.  Each band lives
// kBandLifeHours, growing and fading smoothly; its shape comes from the
// band's number and the period it lives in, so the bands of a moment come
// from the moment alone.
constexpr int kCloudBands = 6;
constexpr double kBandLifeHours = 48.0;

struct CloudBand {
  double weight = 0;      // 0..1: thickness times the growth and fading of its life
  double latitude = 0;    // degrees: the middle of its meander
  double amplitude = 0;   // degrees of latitude the meander swings
  double waves = 0;       // whole waves round the globe
  double phase = 0;       // radians
  double width = 0;       // degrees of latitude to the fall of its thickness to 1/e
  double shift = 0;       // degrees of longitude east it drifted since it formed
  double cells = 0;       // whole thicker cells round the globe
  double cell_phase = 0;  // radians
};

using CloudBands = std::array<CloudBand, kCloudBands>;

CloudBands BandsAt(double hours) {
  CloudBands bands;
  for (int k = 0; k < kCloudBands; ++k) {
    const double shifted = hours + k * kBandLifeHours / kCloudBands;
    const double period = std::floor(shifted / kBandLifeHours);
    const double age = shifted - period * kBandLifeHours;  // hours since it formed
    const auto seed = static_cast<std::uint64_t>(static_cast<std::int64_t>(period) + (std::int64_t{1} << 32));
    auto r = [&](int i) { return Unit(Mix(static_cast<std::uint64_t>(k), seed, static_cast<std::uint64_t>(i))); };
    CloudBand &b = bands[static_cast<std::size_t>(k)];
    const double growth = std::sin(kPi * age / kBandLifeHours);
    b.weight = growth * growth * (0.75 + 0.25 * r(0));
    b.latitude = -62.0 + 124.0 * r(1);
    b.amplitude = 3.0 + 10.0 * r(2);
    b.waves = 2.0 + std::floor(4.0 * r(3));
    b.phase = 2.0 * kPi * r(4);
    b.width = 3.0 + 5.0 * r(5);
    // Eastward in the middle latitudes, westward in the tropics; degrees
    // an hour, quick enough that images half an hour apart show it.
    const double speed = (std::fabs(b.latitude) < 20.0 ? -1.0 : 1.0) * (3.0 + 3.0 * r(6));
    b.shift = speed * age;
    b.cells = 5.0 + std::floor(6.0 * r(7));
    b.cell_phase = 2.0 * kPi * r(8);
  }
  return bands;
}

double CoverOf(const CloudBands &bands, double lat, double lon_east) {
  double clear = 1.0;
  for (const CloudBand &b : bands) {
    if (b.weight < 1e-3) continue;
    const double x = (lon_east - b.shift) * kDeg;
    const double middle = b.latitude + b.amplitude * (std::sin(b.waves * x + b.phase) +
                                                      0.35 * std::sin(2.0 * b.waves * x + b.cell_phase));
    const double swell = std::sin(b.cells * x + b.cell_phase + 0.15 * lat);
    const double d = (lat - middle) / (b.width * (0.8 + 0.3 * swell));
    if (d * d > 16.0) continue;
    const double along = 0.65 + 0.35 * swell;
    clear *= 1.0 - b.weight * std::exp(-d * d) * along;
  }
  return 1.0 - clear;
}

// A faint, smooth texture of the ground, 0..1: values at the corners of
// 4-degree cells blended between them.
double GroundTexture(double lat, double lon_east) {
  constexpr double kCell = 4.0;
  constexpr std::int64_t kCellsRound = 90;  // 360 / kCell: the texture joins itself
  const double u = (lat + 90.0) / kCell, v = std::fmod(std::fmod(lon_east, 360.0) + 360.0, 360.0) / kCell;
  const double iu = std::floor(u), iv = std::floor(v);
  const double fu = u - iu, fv = v - iv;
  auto corner = [](std::int64_t a, std::int64_t b) {
    return Unit(Mix(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b % kCellsRound), 77));
  };
  const auto a = static_cast<std::int64_t>(iu), b = static_cast<std::int64_t>(iv);
  const double su = fu * fu * (3 - 2 * fu), sv = fv * fv * (3 - 2 * fv);
  const double top = corner(a, b) + (corner(a, b + 1) - corner(a, b)) * sv;
  const double bottom = corner(a + 1, b) + (corner(a + 1, b + 1) - corner(a + 1, b)) * sv;
  return top + (bottom - top) * su;
}

// The brightness of a disk point.  Visible: the light the ground and the
// clouds reflect, from the sun's height (the night side dark, the ground at
// the sub-solar point bright); infrared: cold bright and warm dark, the sun
// not seen.
unsigned char DiskShade(double lat, double lon_west, double sun_lat, double sun_lon_west, const CloudBands &bands,
                        AreaBand band) {
  const double cover = CoverOf(bands, lat, -lon_west);
  const double ground = GroundTexture(lat, -lon_west);
  double v = 0;
  if (band == AreaBand::kInfrared) {
    const double s = std::sin(lat * kDeg);
    const double surface = 45.0 + 95.0 * s * s + 8.0 * (ground - 0.5);
    v = surface + (230.0 - surface) * cover;
  } else {
    const double cos_zenith =
        std::sin(lat * kDeg) * std::sin(sun_lat * kDeg) +
        std::cos(lat * kDeg) * std::cos(sun_lat * kDeg) * std::cos((lon_west - sun_lon_west) * kDeg);
    const double light = std::clamp((cos_zenith + 0.06) / 1.06, 0.0, 1.0);  // twilight past the terminator
    const double reflects = (0.8 + 0.03 * ground) * (1.0 - cover) + 1.3 * cover;
    v = 10.0 + 5.0 * cover + 245.0 * std::pow(light, 0.7) * reflects;
  }
  return static_cast<unsigned char>(std::lround(std::clamp(v, 1.0, 255.0)));
}

void PutWord(std::string &out, std::int32_t v) { out.append(reinterpret_cast<const char *>(&v), 4); }

// Reads exactly `size` bytes at `offset`; false on an error or an early end.
bool ReadExactly(int fd, off_t offset, unsigned char *buffer, std::size_t size) {
  return posix::ReadAt(fd, offset, buffer, size) == static_cast<ssize_t>(size);
}

}  // namespace

bool AreaPixelOf(double lat, double lon_west, double sub_lon_west, int lines, int elements, int resolution,
                 int &line, int &element) {
  if (!AreaShapeOk(sub_lon_west, lines, elements, resolution) || !std::isfinite(lat) || !std::isfinite(lon_west) ||
      lat < -90 || lat > 90)
    return false;
  const double east = (sub_lon_west - lon_west) * kDeg;  // east of the sub-satellite point
  const double px = kEarthRadius * std::cos(lat * kDeg) * std::cos(east);
  const double py = kEarthRadius * std::cos(lat * kDeg) * std::sin(east);
  const double pz = kEarthRadius * std::sin(lat * kDeg);
  if (px * kOrbitRadius <= kEarthRadius * kEarthRadius) return false;  // on the far side
  const double dx = px - kOrbitRadius;
  const double ax = std::atan2(py, -dx);
  const double ay = std::atan2(pz, std::hypot(dx, py));
  const double angle = PixelAngle(resolution);
  const long long e = std::llround(ax / angle + (elements - 1) / 2.0);
  const long long l = std::llround((lines - 1) / 2.0 - ay / angle);
  if (e < 0 || e >= elements || l < 0 || l >= lines) return false;
  line = static_cast<int>(l);
  element = static_cast<int>(e);
  return true;
}

namespace {

// The date and time of a sample file; false with `error` naming the file.
bool SampleMomentOk(const std::string &path, int ccyyddd, int hhmmss, std::string &error) {
  if (!SampleDateOk(ccyyddd)) {
    error = DateError(path, ccyyddd);
    return false;
  }
  if (!ValidTime(hhmmss)) {
    error = path + ": time " + std::to_string(hhmmss) + " is not a valid HHMMSS time";
    return false;
  }
  return true;
}

}  // namespace

bool WriteAreaFile(const std::string &path, int ccyyddd, int hhmmss, double sub_lon_west, int lines, int elements,
                   int resolution, std::string &error, AreaBand band) {
  if (!SampleMomentOk(path, ccyyddd, hhmmss, error)) return false;
  if (!AreaShapeOk(sub_lon_west, lines, elements, resolution)) {
    error = path + ": lines, elements, resolution or longitude out of range";
    return false;
  }
  double sun_lat = 0, sun_lon = 0;
  if (!SubsolarPoint(ccyyddd, hhmmss, sun_lat, sun_lon)) {
    error = path + ": no sun position";
    return false;
  }
  const CloudBands bands = BandsAt(HoursSince1997(ccyyddd, hhmmss));

  std::int32_t dir[datafile::kAreaDirectoryWords] = {};
  dir[datafile::kAreaWordFormat] = 4;
  dir[datafile::kAreaWordSatellite] = kKitSatellite;
  dir[datafile::kAreaWordDate] = static_cast<std::int32_t>(datafile::AreaDateWord(ccyyddd));
  dir[datafile::kAreaWordTime] = hhmmss;
  dir[datafile::kAreaWordLines] = lines;
  dir[datafile::kAreaWordElements] = elements;
  dir[datafile::kAreaWordBytes] = 1;
  dir[datafile::kAreaWordResolution] = resolution;
  dir[datafile::kAreaWordDataOffset] = kAreaDataOffset;
  char memo[40];
  std::snprintf(memo, sizeof memo, "KIT EARTH DISK %06.2f%c%s", std::fabs(sub_lon_west), sub_lon_west < 0 ? 'E' : 'W',
                band == AreaBand::kInfrared ? " IR" : "");
  std::string memo_text(memo);
  memo_text.resize(32, ' ');
  std::memcpy(&dir[datafile::kAreaWordMemo], memo_text.data(), 32);

  std::string file(reinterpret_cast<const char *>(dir), sizeof dir);
  file.reserve(file.size() + static_cast<std::size_t>(lines) * static_cast<std::size_t>(elements));
  const double angle = PixelAngle(resolution);
  const double reach = kOrbitRadius * kOrbitRadius - kEarthRadius * kEarthRadius;
  for (int l = 0; l < lines; ++l) {
    const double ay = ((lines - 1) / 2.0 - l) * angle;
    for (int e = 0; e < elements; ++e) {
      const double ax = (e - (elements - 1) / 2.0) * angle;
      // The ray from the satellite, and where it first meets the Earth.
      const double dx = -std::cos(ax) * std::cos(ay), dy = std::sin(ax) * std::cos(ay), dz = std::sin(ay);
      const double along = -kOrbitRadius * dx;
      const double disc = along * along - reach;
      if (disc < 0) {
        file += '\0';  // space
        continue;
      }
      const double t = along - std::sqrt(disc);
      const double x = kOrbitRadius + t * dx, y = t * dy, z = t * dz;
      const double lat = std::asin(std::fmax(-1.0, std::fmin(1.0, z / kEarthRadius))) / kDeg;
      const double lon_west = sub_lon_west - std::atan2(y, x) / kDeg;
      file += static_cast<char>(DiskShade(lat, lon_west, sun_lat, sun_lon, bands, band));
    }
  }
  return WriteWholeFile(path, file.data(), file.size(), error);
}

double CloudCover(int ccyyddd, int hhmmss, double lat, double lon_west) {
  if (!SampleDateOk(ccyyddd) || !ValidTime(hhmmss) || !std::isfinite(lat) || !std::isfinite(lon_west) || lat < -90 ||
      lat > 90)
    return 0.0;
  return CoverOf(BandsAt(HoursSince1997(ccyyddd, hhmmss)), lat, -lon_west);
}

bool ReadAreaFile(const std::string &path, AreaImage &out, std::string &error) {
  posix::File file;
  if (int error_number = posix::OpenRegular(path.c_str(), O_RDONLY, file); error_number != 0) {
    error = path + (error_number == posix::kNotRegularFile ? ": not a regular file"
                                                           : ": cannot open: " + posix::ErrorText(error_number));
    return false;
  }
  const int fd = file.fd();
  struct stat st;
  if (fstat(fd, &st) != 0) {
    error = path + ": cannot open: " + posix::ErrorText(errno);
    return false;
  }
  const long long size = st.st_size;
  std::int32_t dir[datafile::kAreaDirectoryWords];
  if (size < static_cast<long long>(sizeof dir) ||
      !ReadExactly(fd, 0, reinterpret_cast<unsigned char *>(dir), sizeof dir)) {
    error = path + ": shorter than an AREA directory (256 bytes)";
    return false;
  }
  if (dir[datafile::kAreaWordValid] != 0 || dir[datafile::kAreaWordFormat] != 4) {
    error = path + ": not an AREA file of this machine's byte order (word 0 " + std::to_string(dir[0]) +
            ", format word " + std::to_string(dir[datafile::kAreaWordFormat]) + ")";
    return false;
  }
  const std::int32_t date_word = dir[datafile::kAreaWordDate];
  const long long date = datafile::AreaDate(date_word);
  if (date_word < 0 || date > 9999366 || !ValidDate(static_cast<int>(date))) {
    error = path + ": date word " + std::to_string(date_word) + " is not a date";
    return false;
  }
  if (!ValidTime(dir[datafile::kAreaWordTime])) {
    error = path + ": time word " + std::to_string(dir[datafile::kAreaWordTime]) + " is not a time";
    return false;
  }
  const std::int32_t lines = dir[datafile::kAreaWordLines], elements = dir[datafile::kAreaWordElements];
  if (lines < 1 || lines > kAreaMaxSide || elements < 1 || elements > kAreaMaxSide) {
    error = path + ": size " + std::to_string(lines) + " lines by " + std::to_string(elements) +
            " elements out of range";
    return false;
  }
  if (dir[datafile::kAreaWordBytes] != 1) {
    error = path + ": " + std::to_string(dir[datafile::kAreaWordBytes]) + " bytes per element (only 1 is read)";
    return false;
  }
  const std::int32_t offset = dir[datafile::kAreaWordDataOffset];
  const long long pixel_count = static_cast<long long>(lines) * elements;
  if (offset < kAreaDataOffset || offset > size || size - offset < pixel_count) {
    error = path + ": data offset " + std::to_string(offset) + " and " + std::to_string(pixel_count) +
            " pixels do not fit a file of " + std::to_string(size) + " bytes";
    return false;
  }
  std::vector<unsigned char> pixels(static_cast<std::size_t>(pixel_count));
  if (!ReadExactly(fd, offset, pixels.data(), pixels.size())) {
    error = path + ": cannot read the pixels";
    return false;
  }
  AreaImage image;
  image.satellite = dir[datafile::kAreaWordSatellite];
  image.date = static_cast<int>(date);
  image.time = dir[datafile::kAreaWordTime];
  image.lines = lines;
  image.elements = elements;
  image.resolution = dir[datafile::kAreaWordResolution];
  image.memo.assign(reinterpret_cast<const char *>(&dir[datafile::kAreaWordMemo]), 32);
  while (!image.memo.empty() && (image.memo.back() == ' ' || image.memo.back() == '\0')) image.memo.pop_back();
  image.pixels.swap(pixels);
  out = std::move(image);
  return true;
}

bool WriteMdFile(const std::string &path, int ccyyddd, int rows, int columns, std::string &error) {
  if (!SampleDateOk(ccyyddd)) {
    error = DateError(path, ccyyddd);
    return false;
  }
  if (rows < 1 || rows > kMdMaxRows || columns < 1 || columns > kMdMaxColumns ||
      static_cast<long long>(rows) * columns > kMdMaxValues) {
    error = path + ": " + std::to_string(rows) + " rows by " + std::to_string(columns) + " columns out of range";
    return false;
  }
  std::int32_t header[datafile::kMdInfoWords] = {};
  std::memcpy(&header[datafile::kMdWordSchema], "SYN ", 4);
  header[datafile::kMdWordFormat] = 1;
  header[datafile::kMdWordRows] = rows;
  header[datafile::kMdWordColumns] = columns;
  header[datafile::kMdWordDate] = static_cast<std::int32_t>(datafile::YyDddWord(ccyyddd));
  std::string file(reinterpret_cast<const char *>(header), sizeof header);
  file.reserve(file.size() + 4 * static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  for (int r = 0; r < rows; ++r) {
    PutWord(file, 10000 + r);  // station number
    for (int c = 1; c < columns; ++c)
      PutWord(file, static_cast<std::int32_t>(Mix(static_cast<std::uint64_t>(r), static_cast<std::uint64_t>(c),
                                                  static_cast<std::uint64_t>(ccyyddd)) %
                                              10001) -
                        5000);
  }
  return WriteWholeFile(path, file.data(), file.size(), error);
}

bool WriteGridFile(const std::string &path, const std::string &source, int run_hour, int forecast_hour, int ccyyddd,
                   std::string &error) {
  bool source_ok = !source.empty() && source.size() <= 8;
  for (char c : source)
    if (c < 33 || c > 126 || (c >= '0' && c <= '9')) source_ok = false;
  if (!source_ok) {
    error = path + ": source '" + source + "' is not 1 to 8 characters without digits or blanks";
    return false;
  }
  if (run_hour < 0 || run_hour > 23 || forecast_hour < 0 || forecast_hour > 999) {
    error = path + ": run hour " + std::to_string(run_hour) + " or forecast hour " + std::to_string(forecast_hour) +
            " out of range";
    return false;
  }
  if (!SampleDateOk(ccyyddd)) {
    error = DateError(path, ccyyddd);
    return false;
  }
  constexpr int kColumns = 12, kRows = 6;
  char line[128];
  std::snprintf(line, sizeof line, "%s %02dZ %03dHR %05d\nNX %d NY %d\n", source.c_str(), run_hour, forecast_hour,
                static_cast<int>(datafile::YyDddWord(ccyyddd)), kColumns, kRows);
  std::string file = line;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      // A smooth field (a temperature in tenths of a kelvin) that moves with
      // the forecast hour.
      double v = 2880.0 + 150.0 * std::sin((c + forecast_hour / 6.0) * 0.5) * std::cos(r * 0.4) - 20.0 * r;
      std::snprintf(line, sizeof line, "%s%5ld", c == 0 ? "" : " ", std::lround(v));
      file += line;
    }
    file += '\n';
  }
  return WriteWholeFile(path, file.data(), file.size(), error);
}

bool WriteTextProduct(const std::string &path, const std::string &title, int ccyyddd, int hhmmss,
                      std::string &error) {
  bool title_ok = !title.empty() && title.size() <= 80;
  for (char c : title)
    if (c < 32 || c > 126) title_ok = false;
  if (!title_ok) {
    error = path + ": title is not 1 to 80 printable characters";
    return false;
  }
  if (!SampleMomentOk(path, ccyyddd, hhmmss, error)) return false;
  char issue[96];
  std::snprintf(issue, sizeof issue, "ISSUED %d %02d:%02d:%02d UTC\n", ccyyddd, hhmmss / 10000, hhmmss / 100 % 100,
                hhmmss % 100);
  std::string file = title + "\n" + issue + "\n" +
                     "THIS IS A SAMPLE PRODUCT OF THE STAND-IN HOST KIT.\n"
                     "IT CARRIES NO WEATHER INFORMATION.\n"
                     "END OF PRODUCT\n";
  return WriteWholeFile(path, file.data(), file.size(), error);
}

}  // namespace kit
