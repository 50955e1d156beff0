// The kit's pictures: PNG files decoded back with zlib, captions clipped at
// every edge, and magnification.

#include <dirent.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "tests/support/support.h"

namespace {

using testing_support::TempDir;

std::uint32_t BigEndian(const std::string &s, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  int bit_depth = -1, colour_type = -1, interlace = -1;
  int idat_chunks = 0;
  std::vector<std::string> chunk_types;
  std::vector<unsigned char> pixels;
};

// Decodes an 8-bit grayscale PNG of filter type 0 lines; every CRC is
// checked.  Fails the test on anything else.
DecodedPng Decode(const std::string &file) {
  DecodedPng png;
  EXPECT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  std::string idat;
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    std::uint32_t length = BigEndian(file, at);
    if (at + 12 + length > file.size()) {
      ADD_FAILURE() << "chunk runs past the end";
      return png;
    }
    std::string type = file.substr(at + 4, 4);
    std::string data = file.substr(at + 8, length);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(file.data() + at + 4), length + 4);
    EXPECT_EQ(BigEndian(file, at + 8 + length), static_cast<std::uint32_t>(crc)) << "CRC of " << type;
    png.chunk_types.push_back(type);
    if (type == "IHDR") {
      EXPECT_EQ(length, 13u);
      png.width = BigEndian(data, 0);
      png.height = BigEndian(data, 4);
      png.bit_depth = static_cast<unsigned char>(data[8]);
      png.colour_type = static_cast<unsigned char>(data[9]);
      png.interlace = static_cast<unsigned char>(data[12]);
    } else if (type == "IDAT") {
      idat += data;
      ++png.idat_chunks;
    }
    at += 12 + length;
  }
  EXPECT_EQ(at, file.size()) << "bytes after the last chunk";
  std::vector<unsigned char> raw(static_cast<std::size_t>(png.height) * (png.width + 1));
  uLongf raw_size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef *>(idat.data()), idat.size()), Z_OK);
  EXPECT_EQ(raw_size, raw.size());
  for (std::uint32_t y = 0; y < png.height; ++y) {
    const unsigned char *line = raw.data() + y * (png.width + 1);
    EXPECT_EQ(line[0], 0) << "filter type of line " << y;
    png.pixels.insert(png.pixels.end(), line + 1, line + 1 + png.width);
  }
  return png;
}

// The names in a directory, "." and ".." left out.
std::vector<std::string> Entries(const std::string &path) {
  std::vector<std::string> names;
  DIR *d = opendir(path.c_str());
  if (!d) return names;
  while (dirent *e = readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
  closedir(d);
  return names;
}

std::vector<unsigned char> Gradient(int w, int h) {
  std::vector<unsigned char> p(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[static_cast<std::size_t>(y * w + x)] = static_cast<unsigned char>((x * 7 + y * 13) & 0xff);
  return p;
}

TEST(WriteGrayPngTest, DecodesToTheSamePixels) {
  TempDir dir;
  const std::vector<unsigned char> pixels = Gradient(37, 11);  // odd sizes
  std::string error;
  ASSERT_TRUE(kit::WriteGrayPng(dir / "a.png", 37, 11, pixels, error)) << error;
  DecodedPng png = Decode(testing_support::ReadFile(dir / "a.png"));
  EXPECT_EQ(png.width, 37u);
  EXPECT_EQ(png.height, 11u);
  EXPECT_EQ(png.bit_depth, 8);
  EXPECT_EQ(png.colour_type, 0);
  EXPECT_EQ(png.interlace, 0);
  EXPECT_EQ(png.pixels, pixels);
  EXPECT_EQ(png.chunk_types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(WriteGrayPngTest, LargeIncompressiblePictureSpansSeveralIdatChunks) {
  TempDir dir;
  const int w = 400, h = 400;
  std::vector<unsigned char> pixels(w * h);
  std::uint32_t state = 12345;
  for (auto &p : pixels) {
    state = state * 1103515245u + 12345u;
    p = static_cast<unsigned char>(state >> 24);
  }
  std::string error;
  ASSERT_TRUE(kit::WriteGrayPng(dir / "noise.png", w, h, pixels, error)) << error;
  DecodedPng png = Decode(testing_support::ReadFile(dir / "noise.png"));
  EXPECT_GT(png.idat_chunks, 1);
  EXPECT_EQ(png.chunk_types.front(), "IHDR");
  EXPECT_EQ(png.chunk_types.back(), "IEND");
  EXPECT_EQ(png.pixels, pixels);
}

TEST(WriteGrayPngTest, ReplacesAnOldFileAndLeavesNoTemporary) {
  TempDir dir;
  testing_support::WriteFile(dir / "p.png", "old");
  std::string error;
  ASSERT_TRUE(kit::WriteGrayPng(dir / "p.png", 2, 1, {0, 255}, error)) << error;
  EXPECT_EQ(Decode(testing_support::ReadFile(dir / "p.png")).pixels, (std::vector<unsigned char>{0, 255}));
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"p.png"});
}

TEST(WriteGrayPngTest, RefusesBadSizesAndUnwritablePlaces) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(kit::WriteGrayPng(dir / "z.png", 0, 1, {}, error));
  EXPECT_FALSE(kit::WriteGrayPng(dir / "z.png", 1, -1, {}, error));
  EXPECT_FALSE(kit::WriteGrayPng(dir / "z.png", 65536, 1, std::vector<unsigned char>(65536), error));
  EXPECT_FALSE(kit::WriteGrayPng(dir / "z.png", 2, 2, {1, 2, 3}, error));  // too few pixels
  EXPECT_NE(error.find("3 pixels"), std::string::npos) << error;
  EXPECT_FALSE(kit::WriteGrayPng(dir / "z.png", 2, 1, {1, 2, 3}, error));  // too many
  EXPECT_FALSE(testing_support::Exists(dir / "z.png"));
  error.clear();
  EXPECT_FALSE(kit::WriteGrayPng(dir / "no/such/dir.png", 1, 1, {9}, error));
  EXPECT_NE(error.find("no/such/dir.png"), std::string::npos) << error;
}

// A caption drawn on a small picture must equal the same caption drawn on a
// picture with a wide margin, cut back to the small one's window.
void ExpectClippedLikeOnALargeCanvas(int w, int h, int x, int y, const std::string &text) {
  SCOPED_TRACE("at " + std::to_string(x) + "," + std::to_string(y));
  const int margin = 40;
  std::vector<unsigned char> small(static_cast<std::size_t>(w * h) + 64, 7);  // 64 guard bytes after
  kit::DrawCaption(small, w, h, x, y, text, 200);
  for (std::size_t i = static_cast<std::size_t>(w * h); i < small.size(); ++i) ASSERT_EQ(small[i], 7) << "guard " << i;
  const int bw = w + 2 * margin, bh = h + 2 * margin;
  std::vector<unsigned char> big(static_cast<std::size_t>(bw * bh), 7);
  kit::DrawCaption(big, bw, bh, x + margin, y + margin, text, 200);
  int drawn = 0;
  for (int yy = 0; yy < h; ++yy)
    for (int xx = 0; xx < w; ++xx) {
      unsigned char s = small[static_cast<std::size_t>(yy * w + xx)];
      ASSERT_EQ(s, big[static_cast<std::size_t>((yy + margin) * bw + xx + margin)]) << xx << "," << yy;
      drawn += s == 200;
    }
  EXPECT_GT(drawn, 0);
}

TEST(DrawCaptionTest, ClipsAtEveryEdge) {
  const std::string text = "Wx@#8";
  ExpectClippedLikeOnALargeCanvas(20, 12, -3, 2, text);   // left
  ExpectClippedLikeOnALargeCanvas(20, 12, 14, 2, text);   // right
  ExpectClippedLikeOnALargeCanvas(20, 12, 1, -4, text);   // top
  ExpectClippedLikeOnALargeCanvas(20, 12, 1, 8, text);    // bottom
  ExpectClippedLikeOnALargeCanvas(20, 12, -2, -3, text);  // top left corner
  ExpectClippedLikeOnALargeCanvas(20, 12, 17, 9, text);   // bottom right corner
  ExpectClippedLikeOnALargeCanvas(3, 3, -1, -1, text);    // smaller than one glyph
}

TEST(DrawCaptionTest, FarAwayOrBadPicturesAreLeftAlone) {
  std::vector<unsigned char> p(100, 1);
  const std::vector<unsigned char> before = p;
  kit::DrawCaption(p, 10, 10, INT_MAX, 0, "ABC", 9);
  kit::DrawCaption(p, 10, 10, INT_MIN, INT_MIN, "ABC", 9);
  kit::DrawCaption(p, 10, 10, 0, INT_MAX, "ABC", 9);
  kit::DrawCaption(p, 10, 10, 0, 10, "ABC", 9);
  kit::DrawCaption(p, 10, 11, 0, 0, "ABC", 9);  // buffer smaller than the picture
  kit::DrawCaption(p, 0, 10, 0, 0, "ABC", 9);
  kit::DrawCaption(p, -10, -10, 0, 0, "ABC", 9);
  EXPECT_EQ(p, before);
}

TEST(DrawCaptionTest, GlyphShapesAndSpacing) {
  const int w = 12, h = 8;
  std::vector<unsigned char> p(w * h, 0);
  kit::DrawCaption(p, w, h, 0, 0, "-|", 1);
  auto at = [&](int x, int y) { return p[static_cast<std::size_t>(y * w + x)]; };
  for (int x = 0; x < 5; ++x) EXPECT_EQ(at(x, 3), 1) << x;  // the dash's middle row
  EXPECT_EQ(at(2, 2), 0);
  for (int y = 0; y < 7; ++y) EXPECT_EQ(at(kit::kCaptionCellWidth + 2, y), 1) << y;  // the bar, one cell on
  for (int y = 0; y < h; ++y) EXPECT_EQ(at(5, y), 0) << "gap column";
  for (int x = 0; x < w; ++x) EXPECT_EQ(at(x, 7), 0) << "gap line";
  // A byte outside 32..126 draws as "?".
  std::vector<unsigned char> q(w * h, 0), r(w * h, 0);
  kit::DrawCaption(q, w, h, 0, 0, "\x01", 1);
  kit::DrawCaption(r, w, h, 0, 0, "?", 1);
  EXPECT_EQ(q, r);
  // Every printable character draws something.
  for (int c = 33; c <= 126; ++c) {
    std::vector<unsigned char> g(w * h, 0);
    kit::DrawCaption(g, w, h, 0, 0, std::string(1, static_cast<char>(c)), 1);
    EXPECT_NE(g, std::vector<unsigned char>(w * h, 0)) << "character " << c;
  }
}

TEST(MagnifyTest, PositiveNegativeAndMixedFactors) {
  // 3 lines of 4 elements: value = 10 * line + element.
  const std::vector<unsigned char> in = {0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23};
  std::vector<unsigned char> out;
  int w = 0, h = 0;
  ASSERT_TRUE(kit::Magnify(in, 4, 3, 2, 1, out, w, h));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(out, (std::vector<unsigned char>{0, 1, 2, 3, 0, 1, 2, 3, 10, 11, 12, 13, 10, 11, 12, 13, 20, 21, 22, 23,
                                             20, 21, 22, 23}));
  ASSERT_TRUE(kit::Magnify(in, 4, 3, -2, -3, out, w, h));  // lines 0, 2; elements 0, 3
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(out, (std::vector<unsigned char>{0, 3, 20, 23}));
  ASSERT_TRUE(kit::Magnify(in, 4, 3, -3, 2, out, w, h));  // line 0 only, elements doubled
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(out, (std::vector<unsigned char>{0, 0, 1, 1, 2, 2, 3, 3}));
  ASSERT_TRUE(kit::Magnify(in, 4, 3, 3, -2, out, w, h));  // lines tripled, elements 0, 2
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 9);
  EXPECT_EQ(out, (std::vector<unsigned char>{0, 2, 0, 2, 0, 2, 10, 12, 10, 12, 10, 12, 20, 22, 20, 22, 20, 22}));
  ASSERT_TRUE(kit::Magnify(in, 4, 3, -10, -10, out, w, h));  // a factor past the size keeps the first
  EXPECT_EQ(out, (std::vector<unsigned char>{0}));
}

TEST(MagnifyTest, ZeroOneAndMinusOneKeepThePicture) {
  const std::vector<unsigned char> in = {1, 2, 3, 4, 5, 6};
  for (int m : {0, 1, -1}) {
    std::vector<unsigned char> out;
    int w = 0, h = 0;
    ASSERT_TRUE(kit::Magnify(in, 3, 2, m, m, out, w, h)) << m;
    EXPECT_EQ(out, in);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
  }
}

TEST(MagnifyTest, RefusesOversizedResultsAndBadInput) {
  std::vector<unsigned char> out = {42};
  int w = 5, h = 5;
  const std::vector<unsigned char> in(100 * 100, 0);
  const std::vector<unsigned char> line(100, 0);
  EXPECT_TRUE(kit::Magnify(line, 100, 1, 8192, 81, out, w, h));  // 8100 x 8192 fits
  EXPECT_EQ(w, 8100);
  EXPECT_EQ(h, 8192);
  out = {42};
  w = h = 5;
  EXPECT_FALSE(kit::Magnify(line, 100, 1, 8193, 1, out, w, h));
  EXPECT_FALSE(kit::Magnify(line, 100, 1, 1, 82, out, w, h));
  EXPECT_FALSE(kit::Magnify(in, 100, 100, 1, INT_MAX, out, w, h));
  EXPECT_FALSE(kit::Magnify(in, 100, 99, 1, 1, out, w, h));  // wrong pixel count
  EXPECT_FALSE(kit::Magnify({}, 0, 0, 1, 1, out, w, h));
  EXPECT_EQ(out, (std::vector<unsigned char>{42}));
  EXPECT_EQ(w, 5);
  EXPECT_TRUE(kit::Magnify(in, 100, 100, INT_MIN, INT_MIN, out, w, h));  // keeps the first only
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
}

TEST(MagnifyCentredTest, KeepsTheMiddleOfEachMagnifiedSidePastItsMost) {
  // Pixel value x + 10 * y tells where each kept pixel came from.
  std::vector<unsigned char> in(7 * 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) in[static_cast<std::size_t>(y * 7 + x)] = static_cast<unsigned char>(x + 10 * y);
  struct Case {
    int line_mag, elem_mag, most_w, most_h;
    int w, h, left, top;  // the portion of the whole magnified picture kept
  } cases[] = {
      {1, 1, 7, 5, 7, 5, 0, 0},      // as large as the display: whole
      {1, 1, 99, 99, 7, 5, 0, 0},    // smaller: whole
      {1, 1, 4, 2, 4, 2, 1, 1},      // an odd difference drops the extra element at the end
      {2, 3, 10, 6, 10, 6, 5, 2},    // 21 x 10 magnified
      {-2, -3, 99, 99, 3, 3, 0, 0},  // 3 x 3 kept of every other line, every third element
      {4, 2, 640, 8, 14, 8, 0, 6},   // taller than the display only
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.line_mag) + " " + std::to_string(c.elem_mag) + " in " + std::to_string(c.most_w) +
                 "x" + std::to_string(c.most_h));
    std::vector<unsigned char> whole;
    int whole_w = 0, whole_h = 0;
    ASSERT_TRUE(kit::Magnify(in, 7, 5, c.line_mag, c.elem_mag, whole, whole_w, whole_h));
    std::vector<unsigned char> out = in;
    int w = 0, h = 0;
    ASSERT_TRUE(kit::MagnifyCentred(out, 7, 5, c.line_mag, c.elem_mag, c.most_w, c.most_h, out, w, h));  // in place
    ASSERT_EQ(w, c.w);
    ASSERT_EQ(h, c.h);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        EXPECT_EQ(out[static_cast<std::size_t>(y * w + x)],
                  whole[static_cast<std::size_t>((y + c.top) * whole_w + x + c.left)]) << x << "," << y;
  }
  // Past the largest magnified side: only the portion shown is made.
  std::vector<unsigned char> out;
  int w = 0, h = 0;
  ASSERT_TRUE(kit::MagnifyCentred(in, 7, 5, 2000, 2000, 640, 480, out, w, h));  // 10000 x 14000 magnified
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);
  // Lines 4760..5239 and elements 6680..7319: all of source line 2, element 3.
  EXPECT_EQ(out, std::vector<unsigned char>(640 * 480, 3 + 10 * 2));
  out = {1};
  w = h = 9;
  EXPECT_FALSE(kit::MagnifyCentred(in, 7, 4, 1, 1, 3, 3, out, w, h));  // the wrong number of pixels
  EXPECT_FALSE(kit::MagnifyCentred(in, 7, 5, 1, 1, 0, 3, out, w, h));
  EXPECT_FALSE(kit::MagnifyCentred({}, 0, 0, 1, 1, 3, 3, out, w, h));
  EXPECT_EQ(out, std::vector<unsigned char>{1});
  EXPECT_EQ(w, 9);
}

}  // namespace
