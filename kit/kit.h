// The stand-in host kit's parts: what the kit's command programs compute
// and write so that the system runs end to end on a plain Linux box.
//
//   Sun            sunrise and sunset (UTC) for a day and a place, the
//                  sub-solar point of a moment, and the daylight program's
//                  two-line text.
//   Picture        8-bit grayscale PNG files, a small built-in font for
//                  captions, and the host's line/element magnification
//                  (whole, or the centred part a display of a given size
//                  shows).
//   Sample data    AREA image files (an Earth disk lit by the real sun, with
//                  cloud bands that drift), MD point-data files, GRID files
//                  and text products.
//   Loop state     the frame loop's state file and its viewer page.
//
// Dates are CCYYDDD (year * 1000 + day of year from 1), times HHMMSS, both
// UTC.  Longitudes are WEST-POSITIVE, the host's convention: 90.0 is 90
// degrees west, -151.2 is 151.2 degrees east.  Latitudes are north-positive.
//
// Every file is written whole: to a temporary name beside the path, synced,
// then renamed into place, so a reader sees the old file or the new one and
// never a part.  Functions return true on success; on failure `error` gets a
// one-line message and no file is left at the path or beside it.  The layouts
// of the files are in docs/kit_files.md.

#ifndef VARNEK_KIT_KIT_H
#define VARNEK_KIT_KIT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/data_files.h"

namespace kit {

// ---------------------------------------------------------------------------
// Dates, times and whole-file writing.

// True for a CCYYDDD date of years 1 to 9999 whose day exists in that year
// (1..365, 366 in leap years of the Gregorian calendar); false otherwise.
[[nodiscard]] bool ValidDate(int ccyyddd);

// True for an HHMMSS time from 000000 to 235959 with minutes and seconds
// below 60; false otherwise.
[[nodiscard]] bool ValidTime(int hhmmss);

// Writes `size` bytes to `path` through posix::ReplaceFile: a temporary
// name in the same directory, synced before the rename; the file's mode is
// 0644 whatever the umask or the file it replaces, and a symbolic link at
// `path` is replaced, never written through.  True when the file is in
// place; false, with `error` ("<path>: cannot create: <reason>", ...) set
// and the temporary removed, when the temporary cannot be created, written,
// synced, closed or renamed (an old file at `path` is then left as it was).
[[nodiscard]] bool WriteWholeFile(const std::string &path, const void *bytes, std::size_t size,
                                  std::string &error);

// ---------------------------------------------------------------------------
// Sun.  A low-precision solar position (mean elements of the sun's orbit,
// equation of time and declination), accurate to about a minute in the rise
// and set times away from the polar circles.

struct SunDay {
  bool polar_day = false;    // the sun stays above the horizon all day
  bool polar_night = false;  // the sun stays below the horizon all day
  int rise = 0;              // UTC HHMMSS of sunrise (0 on a polar day or night)
  int set = 0;               // UTC HHMMSS of sunset (0 on a polar day or night)
};

// Sunrise and sunset on day `ccyyddd` at latitude `lat` (-90..90) and
// longitude `lon_west` (-180..180, west-positive): the moments the sun's
// centre is 0.833 degrees below the horizon (refraction and the sun's
// radius).  A rise or set that falls on the neighbouring UTC day is given as
// its time of day.  True with `out` filled: a polar day or night sets its
// flag and leaves rise and set 0.  False, `out` untouched, for a date that is
// not valid or a latitude or longitude out of range (or not a number).
[[nodiscard]] bool SunriseSunset(int ccyyddd, double lat, double lon_west, SunDay &out);

// The point where the sun is overhead at `hhmmss` UTC on `ccyyddd`: `lat`
// its latitude (the sun's declination) and `lon_west` its longitude in
// (-180, 180], west-positive.  True with both set; false, both untouched,
// for a date or time that is not valid.
[[nodiscard]] bool SubsolarPoint(int ccyyddd, int hhmmss, double &lat, double &lon_west);

// What the daylight program solday.k prints, every line ending in "\n":
//   SOLDAY 2024001 40.00N 90.00W
//   Sunrise/Sunset 13:21:51 22:45:11
// The first line holds no "/"; the second gives the UTC rise and set times.
// A polar day prints "Sunrise/Sunset 12:00:00 10:00:00" (the reader widens
// the window by an hour on each side and takes equal ends as always light);
// a polar night prints "Sunrise/Sunset 12:00:00 12:00:00" (the narrowest
// window the reader's format can say: two hours around noon UTC).  For a
// date or place SunriseSunset refuses, only the first line is printed, with
// the reason after it, so that a reader finds no times.
std::string SolDayText(int ccyyddd, double lat, double lon_west);

// ---------------------------------------------------------------------------
// Picture.  Pixels are bytes, one per element, line after line from the top:
// pixel (x, y) is pixels[y * width + x].

// The largest width or height Magnify gives.
inline constexpr int kMaxMagnifiedSide = 8192;

// Writes the `width` x `height` picture as an 8-bit grayscale PNG file at
// `path` (whole, through a temporary name).  True when written.  False with
// `error` set when width or height is below 1 or above 65535, when `pixels`
// does not hold exactly width * height bytes, when compression fails, or
// when the file cannot be written.
[[nodiscard]] bool WriteGrayPng(const std::string &path, int width, int height,
                                const std::vector<unsigned char> &pixels, std::string &error);

// Width and height in pixels of one character cell of DrawCaption's font:
// 5 x 7 glyphs with one blank column and one blank line after them.
inline constexpr int kCaptionCellWidth = 6;
inline constexpr int kCaptionCellHeight = 8;

// Draws `text` in `shade` with the built-in 5 x 7 font, the top left of the
// first cell at (x, y), each character kCaptionCellWidth to the right of the
// one before; only glyph pixels are written, the background stays.  Bytes
// outside 32..126 are drawn as "?".  Whatever falls outside the picture is
// clipped; nothing is drawn when width or height is below 1 or `pixels` is
// smaller than width * height.  Nothing outside the first width * height
// bytes of `pixels` is ever written.
void DrawCaption(std::vector<unsigned char> &pixels, int width, int height, int x, int y,
                 const std::string &text, unsigned char shade);

// Magnifies the `w` x `h` picture `in` by `line_mag` (lines) and `elem_mag`
// (elements), the host's convention: a factor n above 1 repeats each line
// (element) n times; -n below -1 keeps every n-th, starting with the first
// (lines 0, n, 2n, ...: ceil(h / n) of them); 0, 1 and -1 keep them as they
// are.  True with `out`, `out_w`, `out_h` set.  False, outputs untouched,
// when w or h is below 1, `in` does not hold exactly w * h bytes, or the
// result would be wider or taller than kMaxMagnifiedSide.
[[nodiscard]] bool Magnify(const std::vector<unsigned char> &in, int w, int h, int line_mag, int elem_mag,
                           std::vector<unsigned char> &out, int &out_w, int &out_h);

// Magnify, keeping of the magnified picture only its centred part of at
// most `most_w` x `most_h`, as a display of that size shows it: a side
// longer than its most keeps the middle (the first (side - most) / 2 lines
// or elements go), a side within it stays whole.  Only the portion kept is
// made, so the magnified picture itself may be larger than
// kMaxMagnifiedSide.  True with `out`, `out_w`, `out_h` set.  False,
// outputs untouched, when w, h, most_w or most_h is below 1 or `in` does
// not hold exactly w * h bytes.
[[nodiscard]] bool MagnifyCentred(const std::vector<unsigned char> &in, int w, int h, int line_mag, int elem_mag,
                                  int most_w, int most_h, std::vector<unsigned char> &out, int &out_w, int &out_h);

// ---------------------------------------------------------------------------
// Sample data: the files VKS INVOKE reads.  The generators take dates of
// the years 1997 to 2096, the span in which the files' YYDDD date words read
// back as the date written.

// The AREA directory words the kit writes (host/data_files.h; 32-bit
// integers in this machine's byte order unless said): the format 4, the
// satellite kKitSatellite, the date (datafile::AreaDateWord: 124001 for
// 2024001), the time, lines, elements, bytes per element 1, the resolution
// in km per pixel at the sub-satellite point, the memo (32 characters,
// blank-filled) and the data offset kAreaDataOffset.  All other words are
// 0.
inline constexpr int kAreaDataOffset = 256;
inline constexpr int kAreaMaxSide = 8192;  // most lines or elements of a kit AREA file
inline constexpr int kKitSatellite = 99;

struct AreaImage {
  int satellite = 0;
  int date = 0;        // CCYYDDD
  int time = 0;        // HHMMSS
  int lines = 0;
  int elements = 0;
  int resolution = 0;  // km
  std::string memo;    // the 32 memo characters, trailing blanks removed
  std::vector<unsigned char> pixels;  // lines * elements
};

// What an AREA image of the kit shows.
enum class AreaBand {
  kVisible,   // reflected sunlight: the day side lit by the sun's height, the night side dark
  kInfrared,  // emitted heat, day and night alike: cold (high cloud, the poles) bright, warm dark
};

// Writes an AREA image file: the directory, then lines * elements one-byte
// pixels of the Earth disk seen from a geostationary satellite above
// longitude `sub_lon_west` at the image's moment, with black space.  A few
// smooth cloud bands lie over the disk; they come from the image's moment
// alone and drift east with time, so that images taken one after the other
// differ and a loop of them moves.  A visible image is lit by the sun (its
// brightness from the sun's height, a dark night side); an infrared one
// does not see the sun (cold clouds and the poles bright, the warm tropics
// dark) and says "IR" after the longitude in its memo.  `resolution` is the
// pixel size in km at the sub-satellite point.  True when written.  False
// with `error` set for a date outside 1997..2096 or not valid, a time not
// valid, lines or elements outside 1..kAreaMaxSide, a resolution outside
// 1..1000, a longitude outside -180..180, or a file that cannot be written.
[[nodiscard]] bool WriteAreaFile(const std::string &path, int ccyyddd, int hhmmss, double sub_lon_west,
                                 int lines, int elements, int resolution, std::string &error,
                                 AreaBand band = AreaBand::kVisible);

// The cloud cover, 0 (clear) to 1 (thick cloud), that the kit's images of
// the moment `ccyyddd` `hhmmss` show at `lat`, `lon_west`; 0 for a moment
// or place that is not valid.
[[nodiscard]] double CloudCover(int ccyyddd, int hhmmss, double lat, double lon_west);

// Where the point at `lat`, `lon_west` falls in an AREA picture of the kit:
// `line` and `element` of its pixel (0-based).  True when the point is on the
// visible side of the Earth and inside the picture; false otherwise, or for
// arguments WriteAreaFile would refuse.
[[nodiscard]] bool AreaPixelOf(double lat, double lon_west, double sub_lon_west, int lines, int elements,
                               int resolution, int &line, int &element);

// Reads an AREA file of this machine's byte order written as the kit writes
// them.  True with `out` filled.  False with `error` set, `out` untouched,
// when the file cannot be opened or read, is shorter than its directory,
// has word 0 not 0 or a format word not 4 (the other byte order included),
// a date or time not valid, lines or elements outside 1..kAreaMaxSide,
// bytes per element not 1, a data offset below 256, or fewer bytes than the
// offset plus lines * elements.  Bytes after the pixels are ignored.
[[nodiscard]] bool ReadAreaFile(const std::string &path, AreaImage &out, std::string &error);

// The MD point-data file words the kit writes (host/data_files.h): the
// schema "SYN " (4 characters), the format 1, rows, columns and the date
// (datafile::YyDddWord, of the years 1997..2096); 32-bit integers in this
// machine's byte order.
inline constexpr int kMdMaxRows = 100000;
inline constexpr int kMdMaxColumns = 1000;
inline constexpr long long kMdMaxValues = 1000000;  // most rows * columns

// Writes an MD file of schema "SYN ": the 64-word header, then rows *
// columns values row after row (column 0 a station number, the others
// deterministic readings).  True when written.  False with `error` set for a
// date outside 1997..2096 or not valid, rows outside 1..kMdMaxRows, columns
// outside 1..kMdMaxColumns, more than kMdMaxValues values, or a file that cannot be written.
[[nodiscard]] bool WriteMdFile(const std::string &path, int ccyyddd, int rows, int columns, std::string &error);

// Writes a GRID file: the label "<source> <HH>Z <FFF>HR <YYDDD>" (as
// "GFS 12Z 084HR 24001"), a newline, then a small field of numbers.  True
// when written.  False with `error` set for a source that is empty, longer
// than 8 characters, or holds a digit, a blank or a character outside
// 33..126; a run hour outside 0..23; a forecast hour outside 0..999; a date
// outside 1997..2096 or not valid; or a file that cannot be written.
[[nodiscard]] bool WriteGridFile(const std::string &path, const std::string &source, int run_hour,
                                 int forecast_hour, int ccyyddd, std::string &error);

// Writes a text product: the title, an issue line with the date and time,
// and a few lines of text.  True when written.  False with `error` set for a
// title that is empty, longer than 80 characters or holds a character
// outside 32..126; a date outside 1997..2096 or not valid; a time not valid;
// or a file that cannot be written.
[[nodiscard]] bool WriteTextProduct(const std::string &path, const std::string &title, int ccyyddd, int hhmmss,
                                    std::string &error);

// ---------------------------------------------------------------------------
// The loop's state file.  The loop commands and RASVUE keep in the frames
// directory ($HOME/tavrin/frames) one small file, loop-state.js, that says
// what the loop viewer loop.html shows: the loop (running or not, the
// dwell, its frames in loop order) and, for each frame drawn, the dataset,
// image date and time and size of its picture.  It is a script that hands
// its lines to the page, because a page opened from disk may load a script
// but may not read a file; the page adds it anew every second.  The kit
// reads it back to keep the other frames' labels when it draws one, and
// vkhealth reads it to find a record's latest picture.  Layout:
// docs/kit_files.md, "The loop's state file".

inline constexpr const char *kLoopStateFile = "loop-state.js";
inline constexpr const char *kLoopPageFile = "loop.html";
inline constexpr const char *kLoopStateHeader = "VARNEK-LOOP 1";
inline constexpr int kMostFrame = 9999;                         // the largest frame number
inline constexpr std::size_t kMostLoopStateBytes = 1u << 20;    // the most a reader takes
inline constexpr int kLeastDwellMs = 50, kMostDwellMs = 60000;  // a dwell read back is kept within these

// What the loop viewer knows of one drawn frame.
struct FrameLabel {
  int frame = 0;             // 1..kMostFrame
  std::string dataset;       // GROUP/DESCRIPTOR the picture shows
  int date = 0;              // CCYYDDD of the image
  int time = 0;              // HHMMSS of the image
  int width = 0;             // the picture's size in pixels (1..65535)
  int height = 0;
  long long drawn = 0;       // the serial of the write that recorded the picture (its version, from 1)
};

struct LoopState {
  long long serial = 0;            // the writes of the file so far; 0 for a state never written
  bool running = false;            // the loop runs (SCRNSET L ON)
  int dwell_ms = 500;              // the time each frame is shown
  std::vector<int> loop;           // the loop's frames in loop order; empty when no loop was set
  std::vector<FrameLabel> frames;  // the drawn frames, by frame number, one each
};

// The file's text for `state` (every line ending in "\n").  A dataset name
// is written with each character outside letters, digits and "_-./"
// replaced by "?" ("-" for an empty name), so that no line can end the
// script's string early.
std::string LoopStateText(const LoopState &state);

// Reads a state file's text.  True with `state` filled; false with `why`
// (and `state` untouched) for a text whose first quoted line is not
// kLoopStateHeader, or with a known line (serial, loop, frame) whose
// numbers are not of their form or range, or a quoted line left open.
// Lines of other words are skipped; a frame given twice keeps its last
// line.
[[nodiscard]] bool ParseLoopState(std::string_view text, LoopState &state, std::string &why);

// Reads the state file `path`.  0 with `state` filled; ENOENT when there
// is none (`state` untouched); EFBIG past kMostLoopStateBytes; EINVAL with
// `why` for a file ParseLoopState refuses; another errno value when it
// cannot be read.
[[nodiscard]] int ReadLoopState(const std::string &path, LoopState &state, std::string &why);

// Records that `label.frame` now shows `label`'s picture, drawn by the
// write to come (its `drawn` becomes the state's serial + 1).
void SetFrameLabel(LoopState &state, FrameLabel label);

// The label of `frame`, or null when it was never drawn.
const FrameLabel *FindFrameLabel(const LoopState &state, int frame);

// Writes `state` to `path` whole (temporary name + rename, never through
// a symbolic link planted at `path`), its serial one up.  True when
// written; false with `error` (the file then holds what it held, and the
// serial stays).
[[nodiscard]] bool WriteLoopState(const std::string &path, LoopState &state, std::string &error);

// The loop viewer: the text of loop.html, one self-contained page (no
// network, no external script, style or font) that follows the state file
// beside it.
const std::string &LoopPageText();

}  // namespace kit

#endif  // VARNEK_KIT_KIT_H
