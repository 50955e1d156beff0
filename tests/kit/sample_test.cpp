// The kit's sample data files: header words, the sunlit disk, reading an
// AREA file back and refusing damaged ones; MD, GRID and text files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "tests/support/support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::int32_t Word(const std::string &file, int k) {
  std::int32_t w = 0;
  std::memcpy(&w, file.data() + 4 * k, 4);
  return w;
}

void SetWord(std::string &file, int k, std::int32_t w) { std::memcpy(file.data() + 4 * k, &w, 4); }

TEST(DatesTest, ValidDatesAndTimes) {
  EXPECT_TRUE(kit::ValidDate(2024366));
  EXPECT_TRUE(kit::ValidDate(2000366));
  EXPECT_FALSE(kit::ValidDate(1900366));
  EXPECT_FALSE(kit::ValidDate(2023366));
  EXPECT_FALSE(kit::ValidDate(2024000));
  EXPECT_TRUE(kit::ValidDate(24001));  // day 1 of the year 24
  EXPECT_TRUE(kit::ValidDate(1001));
  EXPECT_FALSE(kit::ValidDate(0));
  EXPECT_FALSE(kit::ValidDate(10000001));
  EXPECT_TRUE(kit::ValidTime(0));
  EXPECT_TRUE(kit::ValidTime(235959));
  EXPECT_FALSE(kit::ValidTime(240000));
  EXPECT_FALSE(kit::ValidTime(126000));
  EXPECT_FALSE(kit::ValidTime(120060));
  EXPECT_FALSE(kit::ValidTime(-1));
}

TEST(AreaFileTest, HeaderWords) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "AREA0001", 2024001, 123456, 75.0, 30, 40, 500, error)) << error;
  std::string f = ReadFile(dir / "AREA0001");
  ASSERT_EQ(f.size(), 256u + 30 * 40);
  EXPECT_EQ(Word(f, 0), 0);
  EXPECT_EQ(Word(f, 1), 4);
  EXPECT_EQ(Word(f, 2), kit::kKitSatellite);
  EXPECT_EQ(Word(f, 3), 124001);
  EXPECT_EQ(Word(f, 4), 123456);
  EXPECT_EQ(Word(f, 8), 30);
  EXPECT_EQ(Word(f, 9), 40);
  EXPECT_EQ(Word(f, 10), 1);
  EXPECT_EQ(Word(f, 11), 500);
  EXPECT_EQ(Word(f, 33), 256);
  EXPECT_EQ(f.substr(24 * 4, 32), "KIT EARTH DISK 075.00W          ");
  for (int k : {5, 6, 7, 12, 20, 23, 32, 34, 63}) EXPECT_EQ(Word(f, k), 0) << "word " << k;
}

TEST(AreaFileTest, DateWordReadsBackAsTheSystemReadsIt) {
  // The system adds 2000000 to a date word up to 96999 and 1900000 above.
  const struct {
    int date;
    std::int32_t word;
  } cases[] = {{1997001, 97001}, {1999123, 99123}, {1999365, 99365}, {2000001, 100001}, {2024001, 124001},
               {2096366, 196366}};
  TempDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.date);
    std::string error;
    ASSERT_TRUE(kit::WriteAreaFile(dir / "A", c.date, 0, 0.0, 2, 2, 100, error)) << error;
    const std::int32_t word = Word(ReadFile(dir / "A"), 3);
    EXPECT_EQ(word, c.word);
    EXPECT_EQ(word <= 96999 ? word + 2000000 : word + 1900000, c.date);
  }
}

TEST(AreaFileTest, DaySideIsBrighterThanNightSide) {
  TempDir dir;
  const int date = 2024080, time = 120000, n = 200, res = 60;
  double sun_lat = 0, sun_lon = 0;
  ASSERT_TRUE(kit::SubsolarPoint(date, time, sun_lat, sun_lon));
  const double sub_lon = sun_lon + 50.0;  // the satellite 50 degrees west of the sun
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "A", date, time, sub_lon, n, n, res, error)) << error;
  kit::AreaImage img;
  ASSERT_TRUE(kit::ReadAreaFile(dir / "A", img, error)) << error;
  auto pixel = [&](double lat, double lon) {
    int line = -1, element = -1;
    EXPECT_TRUE(kit::AreaPixelOf(lat, lon, sub_lon, n, n, res, line, element)) << lat << "," << lon;
    return img.pixels[static_cast<std::size_t>(line * n + element)];
  };
  // The sub-solar point lies right of the centre (east), its mirror image
  // across the disk centre is 100 degrees from the sun: night.
  int line = 0, element = 0;
  ASSERT_TRUE(kit::AreaPixelOf(sun_lat, sun_lon, sub_lon, n, n, res, line, element));
  EXPECT_GT(element, n / 2);
  const int day = pixel(sun_lat, sun_lon), night = pixel(-sun_lat, sub_lon + 50.0);
  EXPECT_GE(day, 200);
  EXPECT_LE(night, 30);
  EXPECT_GT(night, 0) << "the night side is dimmer than the day but not space";
  EXPECT_EQ(img.pixels[0], 0) << "space in the corner";
  EXPECT_EQ(img.pixels.back(), 0);
  // The disk centre (50 degrees from the sun) lies between.
  const int centre = pixel(0.0, sub_lon);
  EXPECT_GT(centre, night);
  EXPECT_LT(centre, day);
  // The far side of the Earth has no pixel.
  EXPECT_FALSE(kit::AreaPixelOf(0.0, sub_lon + 180.0, sub_lon, n, n, res, line, element));
}

TEST(AreaFileTest, DeterministicButConsecutiveImagesDiffer) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "a", 2024100, 120000, 75.0, 64, 64, 200, error)) << error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "b", 2024100, 120000, 75.0, 64, 64, 200, error)) << error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "c", 2024100, 121500, 75.0, 64, 64, 200, error)) << error;
  EXPECT_EQ(ReadFile(dir / "a"), ReadFile(dir / "b"));
  EXPECT_NE(ReadFile(dir / "a").substr(256), ReadFile(dir / "c").substr(256));
}

// A visible image is lit by the sun and an infrared one is not: with the
// satellite over the sub-solar point the visible disk's centre is bright,
// over the anti-solar point dark; with the terminator through the middle
// the visible day half outshines the night half, the infrared halves match.
TEST(AreaFileTest, VisibleImagesShowDayAndNightInfraredImagesDoNot) {
  TempDir dir;
  const int date = 2024173, time = 151500, n = 121, res = 100;
  double sun_lat = 0, sun_lon = 0;
  ASSERT_TRUE(kit::SubsolarPoint(date, time, sun_lat, sun_lon));
  auto image = [&](double sub_lon, kit::AreaBand band) {
    std::string error;
    kit::AreaImage img;
    EXPECT_TRUE(kit::WriteAreaFile(dir / "A", date, time, sub_lon, n, n, res, error, band)) << error;
    EXPECT_TRUE(kit::ReadAreaFile(dir / "A", img, error)) << error;
    return img;
  };
  auto at = [&](const kit::AreaImage &img, double lat, double lon, double sub_lon) {
    int line = -1, element = -1;
    EXPECT_TRUE(kit::AreaPixelOf(lat, lon, sub_lon, n, n, res, line, element));
    return static_cast<int>(img.pixels[static_cast<std::size_t>(line * n + element)]);
  };
  const double anti_lon = sun_lon > 0 ? sun_lon - 180 : sun_lon + 180;
  EXPECT_GE(at(image(sun_lon, kit::AreaBand::kVisible), sun_lat, sun_lon, sun_lon), 200);
  const int night = at(image(anti_lon, kit::AreaBand::kVisible), -sun_lat, anti_lon, anti_lon);
  EXPECT_LE(night, 30);
  EXPECT_GT(night, 0) << "the night side is dark, not space";

  // The sun 90 degrees east of the satellite: the east half is day.
  const double sub_lon = sun_lon + 90;
  auto halves = [&](const kit::AreaImage &img, double &west, double &east) {
    long long sum[2] = {0, 0}, count[2] = {0, 0};
    for (int line = 0; line < n; ++line)
      for (int element = 0; element < n; ++element) {
        const int v = img.pixels[static_cast<std::size_t>(line * n + element)];
        if (v == 0 || element == n / 2) continue;  // space, the middle column
        const int half = element > n / 2 ? 1 : 0;
        sum[half] += v, ++count[half];
      }
    west = static_cast<double>(sum[0]) / static_cast<double>(count[0]);
    east = static_cast<double>(sum[1]) / static_cast<double>(count[1]);
  };
  double west = 0, east = 0;
  halves(image(sub_lon, kit::AreaBand::kVisible), west, east);
  EXPECT_GT(east, 3 * west) << "visible: day " << east << ", night " << west;
  halves(image(sub_lon, kit::AreaBand::kInfrared), west, east);
  EXPECT_LT(std::abs(east - west), 0.25 * west) << "infrared: day " << east << ", night " << west;
  // An infrared image says so; a visible one keeps the memo it always had.
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "I", date, time, 75.0, 4, 4, res, error, kit::AreaBand::kInfrared)) << error;
  EXPECT_EQ(ReadFile(dir / "I").substr(24 * 4, 32), "KIT EARTH DISK 075.00W IR       ");
}

// The pictures have structure, not noise: neighbouring pixels are close
// while the disk as a whole varies; the clouds come from the moment alone
// and drift, so that images half an hour apart differ over much of the disk.
TEST(AreaFileTest, CloudBandsAreSmoothAndDriftWithTime) {
  TempDir dir;
  const int n = 200;
  auto image = [&](int time) {
    std::string error;
    kit::AreaImage img;
    EXPECT_TRUE(kit::WriteAreaFile(dir / "A", 2024173, time, 60.0, n, n, 60, error, kit::AreaBand::kInfrared))
        << error;
    EXPECT_TRUE(kit::ReadAreaFile(dir / "A", img, error)) << error;
    return img.pixels;
  };
  const std::vector<unsigned char> first = image(120000), later = image(123000);
  double step = 0, mean = 0, square = 0;
  long long steps = 0, disk = 0, moved = 0;
  for (int line = 0; line < n; ++line)
    for (int element = 0; element + 1 < n; ++element) {
      const std::size_t i = static_cast<std::size_t>(line * n + element);
      if (first[i] == 0 || first[i + 1] == 0) continue;
      step += std::abs(first[i] - first[i + 1]), ++steps;
      mean += first[i], square += first[i] * first[i], ++disk;
      if (std::abs(first[i] - later[i]) > 8) ++moved;
    }
  mean /= static_cast<double>(disk);
  const double spread = std::sqrt(square / static_cast<double>(disk) - mean * mean);
  EXPECT_LT(step / static_cast<double>(steps), 4.0) << "neighbours differ as noise does";
  EXPECT_GT(spread, 20.0) << "a disk without structure";
  EXPECT_GT(moved, disk / 20) << "the clouds did not move in half an hour";
  // The cover the kit tells is the one drawn: thick cloud is bright in the
  // infrared, clear ground below it.
  int cloudy = 0, clear = 0;
  for (double lat = -50; lat <= 50; lat += 2.5)
    for (double lon = 20; lon <= 100; lon += 2.5) {
      int line = 0, element = 0;
      ASSERT_TRUE(kit::AreaPixelOf(lat, lon, 60.0, n, n, 60, line, element));
      const int v = first[static_cast<std::size_t>(line * n + element)];
      const double cover = kit::CloudCover(2024173, 120000, lat, lon);
      if (cover > 0.7) {
        EXPECT_GE(v, 160) << lat << "," << lon << " cover " << cover;
        ++cloudy;
      } else if (cover < 0.1) {
        EXPECT_LT(v, 160) << lat << "," << lon << " cover " << cover;
        ++clear;
      }
    }
  EXPECT_GT(cloudy, 0);
  EXPECT_GT(clear, 0);
  EXPECT_EQ(kit::CloudCover(2023366, 0, 0.0, 0.0), 0.0) << "no day 366 in 2023";
}

TEST(AreaFileTest, ReadsBackWhatWasWritten) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "A", 1999123, 64500, -140.5, 50, 70, 250, error)) << error;
  kit::AreaImage img;
  ASSERT_TRUE(kit::ReadAreaFile(dir / "A", img, error)) << error;
  EXPECT_EQ(img.satellite, kit::kKitSatellite);
  EXPECT_EQ(img.date, 1999123);
  EXPECT_EQ(img.time, 64500);
  EXPECT_EQ(img.lines, 50);
  EXPECT_EQ(img.elements, 70);
  EXPECT_EQ(img.resolution, 250);
  EXPECT_EQ(img.memo, "KIT EARTH DISK 140.50E");
  const std::string raw = ReadFile(dir / "A");
  EXPECT_EQ(std::string(img.pixels.begin(), img.pixels.end()), raw.substr(256));
  // Bytes after the pixels are ignored.
  WriteFile(dir / "B", raw + "trailer");
  kit::AreaImage again;
  ASSERT_TRUE(kit::ReadAreaFile(dir / "B", again, error)) << error;
  EXPECT_EQ(again.pixels, img.pixels);
}

TEST(AreaFileTest, RefusesTruncatedOrDamagedFiles) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteAreaFile(dir / "A", 2024001, 120000, 75.0, 20, 30, 500, error)) << error;
  const std::string good = ReadFile(dir / "A");
  auto damaged = [&](int word, std::int32_t value) {
    std::string f = good;
    SetWord(f, word, value);
    return f;
  };
  const struct {
    const char *what;
    std::string content;
  } cases[] = {
      {"empty", ""},
      {"shorter than the directory", good.substr(0, 255)},
      {"one pixel short", good.substr(0, good.size() - 1)},
      {"directory only", good.substr(0, 256)},
      {"word 0 not 0", damaged(0, 7)},
      {"format word 5", damaged(1, 5)},
      {"other byte order", damaged(1, 0x04000000)},
      {"date word of day 366 of 2023", damaged(3, 123366)},
      {"negative date word", damaged(3, -1)},
      {"time 24:00:00", damaged(4, 240000)},
      {"time with 60 minutes", damaged(4, 126000)},
      {"no lines", damaged(8, 0)},
      {"negative elements", damaged(9, -30)},
      {"too many lines", damaged(8, kit::kAreaMaxSide + 1)},
      {"more lines than the file holds", damaged(8, 21)},
      {"two bytes per element", damaged(10, 2)},
      {"offset inside the directory", damaged(33, 255)},
      {"offset past the end", damaged(33, 0x7fffffff)},
      {"offset leaving too few pixels", damaged(33, 257)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "bad", c.content);
    kit::AreaImage img;
    img.lines = -5;
    error.clear();
    EXPECT_FALSE(kit::ReadAreaFile(dir / "bad", img, error));
    EXPECT_NE(error.find(dir / "bad"), std::string::npos) << error;
    EXPECT_EQ(img.lines, -5) << "output touched";
  }
  kit::AreaImage img;
  EXPECT_FALSE(kit::ReadAreaFile(dir / "missing", img, error));
  EXPECT_FALSE(kit::ReadAreaFile(dir.path(), img, error));  // a directory
}

TEST(AreaFileTest, WriterRefusesBadArguments) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 1996365, 0, 0, 10, 10, 100, error));  // before 1997
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2097001, 0, 0, 10, 10, 100, error));  // after 2096
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2023366, 0, 0, 10, 10, 100, error));
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2024001, 240000, 0, 10, 10, 100, error));
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2024001, 0, 0, 0, 10, 100, error));
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2024001, 0, 0, 10, kit::kAreaMaxSide + 1, 100, error));
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2024001, 0, 0, 10, 10, 0, error));
  EXPECT_FALSE(kit::WriteAreaFile(dir / "A", 2024001, 0, 180.5, 10, 10, 100, error));
  EXPECT_FALSE(testing_support::Exists(dir / "A"));
  EXPECT_FALSE(error.empty());
}

TEST(MdFileTest, HeaderWordsAndValues) {
  TempDir dir;
  const struct {
    int date;
    std::int32_t word;
  } dates[] = {{2024001, 24001}, {1999123, 99123}, {2000001, 1}, {1997365, 97365}};
  for (const auto &d : dates) {
    SCOPED_TRACE(d.date);
    std::string error;
    ASSERT_TRUE(kit::WriteMdFile(dir / "MDXX0001", d.date, 5, 3, error)) << error;
    const std::string f = ReadFile(dir / "MDXX0001");
    ASSERT_EQ(f.size(), 4u * (64 + 5 * 3));
    EXPECT_EQ(f.substr(0, 4), "SYN ");
    EXPECT_EQ(Word(f, 1), 1);
    EXPECT_EQ(Word(f, 3), 5);
    EXPECT_EQ(Word(f, 4), 3);
    EXPECT_EQ(Word(f, 39), d.word);
    for (int r = 0; r < 5; ++r) {
      EXPECT_EQ(Word(f, 64 + r * 3), 10000 + r) << "station of row " << r;
      for (int c = 1; c < 3; ++c) {
        EXPECT_GE(Word(f, 64 + r * 3 + c), -5000);
        EXPECT_LE(Word(f, 64 + r * 3 + c), 5000);
      }
    }
  }
}

TEST(MdFileTest, RefusesBadArguments) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2024001, 0, 3, error));
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2024001, 3, 0, error));
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2024001, kit::kMdMaxRows + 1, 1, error));
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2024001, 1, kit::kMdMaxColumns + 1, error));
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2024001, kit::kMdMaxRows, kit::kMdMaxColumns, error));
  EXPECT_FALSE(kit::WriteMdFile(dir / "M", 2100001, 3, 3, error));
  EXPECT_FALSE(testing_support::Exists(dir / "M"));
}

TEST(GridFileTest, LabelReadsBackLikeTheSystemReadsIt) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteGridFile(dir / "GRID0001", "GFS", 12, 84, 2024001, error)) << error;
  const std::string f = ReadFile(dir / "GRID0001");
  EXPECT_EQ(f.substr(0, f.find('\n')), "GFS 12Z 084HR 24001");
  char source[10] = {};
  int run = -1, forecast = -1, date = -1;
  ASSERT_EQ(std::sscanf(f.c_str(), "%9[^0123456789]%2d%*c %3d%*s %5d", source, &run, &forecast, &date), 4);
  EXPECT_STREQ(source, "GFS ");
  EXPECT_EQ(run, 12);
  EXPECT_EQ(forecast, 84);
  EXPECT_EQ(date, 24001);
  EXPECT_GT(f.size(), f.find('\n') + 20) << "numbers follow the label";

  ASSERT_TRUE(kit::WriteGridFile(dir / "GRID0002", "ECMWF", 0, 0, 2000001, error)) << error;
  const std::string g = ReadFile(dir / "GRID0002");
  EXPECT_EQ(g.substr(0, g.find('\n')), "ECMWF 00Z 000HR 00001");
}

TEST(GridFileTest, RefusesBadArguments) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "", 12, 84, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "GFS4", 12, 84, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "G FS", 12, 84, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "ABCDEFGHI", 12, 84, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "GFS", 24, 84, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "GFS", 12, 1000, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "GFS", 12, -1, 2024001, error));
  EXPECT_FALSE(kit::WriteGridFile(dir / "G", "GFS", 12, 84, 1996001, error));
  EXPECT_FALSE(testing_support::Exists(dir / "G"));
}

TEST(TextProductTest, TitleAndIssueLines) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(kit::WriteTextProduct(dir / "T", "ZONE FORECAST", 2024001, 93005, error)) << error;
  const std::string f = ReadFile(dir / "T");
  EXPECT_EQ(f.substr(0, f.find('\n', f.find('\n') + 1) + 1), "ZONE FORECAST\nISSUED 2024001 09:30:05 UTC\n");
  EXPECT_EQ(f.back(), '\n');
  EXPECT_FALSE(kit::WriteTextProduct(dir / "U", "", 2024001, 0, error));
  EXPECT_FALSE(kit::WriteTextProduct(dir / "U", "TWO\nLINES", 2024001, 0, error));
  EXPECT_FALSE(kit::WriteTextProduct(dir / "U", std::string(81, 'X'), 2024001, 0, error));
  EXPECT_FALSE(kit::WriteTextProduct(dir / "U", "OK", 2024001, 236000, error));
  EXPECT_FALSE(kit::WriteTextProduct(dir / "U", "OK", 2024000, 0, error));
  EXPECT_FALSE(testing_support::Exists(dir / "U"));
}

}  // namespace
