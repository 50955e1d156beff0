// The data files' format, owned here: the numbers of the words of an AREA
// image's directory, of an MD point-data file's information, of a display
// frame's directory and of a remote image-directory entry, and the rules
// that turn the dates those words hold into CCYYDDD dates.  The server's
// INVOKE, the client's cycle and frame commands, and the stand-in host kit
// (which writes the files and reads them back) all name a word or a date
// rule from here, so that a reader never counts words of its own.  Layouts
// in docs/data_files.md.
//
// Three conventions for dates live side by side, each named for its user:
//
//   the server's   a date word of a data file as VKS INVOKE stores it
//                  (AreaDate, MdDate, GridDate): YYDDD up to 96999 is
//                  20YY, 97000 on is 19YY;
//   the cycle's    a date as the client's cycle stamps an image
//                  (CycleDate): a CCYYDDD date is kept, YYDDD is read as
//                  the server reads an AREA date word;
//   the log's      the operations log keeps the year and the day of the
//                  year counted from 0 (Logfile/Logfile.h), as the C
//                  library breaks a time down; every CCYYDDD date counts
//                  the day from 1 (DateOfYearDay turns the one into the
//                  other).
//
// The host's own date functions read a YYDDD date by the host's rule
// instead (tv::ExpandDate in host/host.h: YY above 69 is 19YY).
//
// Header-only, standard library alone: the kit includes it without linking
// the host runtime's date functions.

#ifndef VARNEK_HOST_DATA_FILES_H
#define VARNEK_HOST_DATA_FILES_H

#include <cstdint>

namespace datafile {

// ---------------------------------------------------------------------------
// AREA directory (readd_): 64 words, numbered from 0.
inline constexpr int kAreaDirectoryWords = 64;
inline constexpr int kAreaWordValid = 0;        // 0 in a usable file
inline constexpr int kAreaWordFormat = 1;       // 4 in a file of this machine's byte order (5 also read)
inline constexpr int kAreaWordSatellite = 2;    // sensor source number
inline constexpr int kAreaWordDate = 3;         // image date, YYDDD (a century digit 1 for 2000 on: 118123)
inline constexpr int kAreaWordTime = 4;         // image time, HHMMSS
inline constexpr int kAreaWordLines = 8;        // lines
inline constexpr int kAreaWordElements = 9;     // elements per line
inline constexpr int kAreaWordBytes = 10;       // bytes per element
inline constexpr int kAreaWordResolution = 11;  // resolution
inline constexpr int kAreaWordCreationDate = 16;  // YYDDD, 0 when not given
inline constexpr int kAreaWordMemo = 24;        // words 24..31: 32 characters
inline constexpr int kAreaWordDataOffset = 33;  // byte offset of the pixels
inline constexpr int kAreaWordStartDate = 45;   // actual start date, YYDDD, 0 when not given

// MD file information (mdinfo_): 64 words.
inline constexpr int kMdInfoWords = 64;
inline constexpr int kMdWordSchema = 0;   // 4 characters
inline constexpr int kMdWordFormat = 1;   // at most 1000 in a file of this machine's byte order
inline constexpr int kMdWordRows = 3;
inline constexpr int kMdWordColumns = 4;
inline constexpr int kMdWordDate = 39;    // YYDDD

// A display frame's directory (getfrm_, putfrm_): an image's AREA
// directory with the date and time of the image shown in these words.
inline constexpr int kFrameWordDate = 1;  // CCYYDDD, 0 for a frame never displayed
inline constexpr int kFrameWordTime = 2;  // HHMMSS

// A remote image-directory entry (tvadrd_): 65 words, word 0 the image's
// position, then its AREA directory one word on (its date word already
// turned into CCYYDDD), and the count of comment cards last.
inline constexpr int kEntryWords = 65;
inline constexpr int kEntryWordPosition = 0;
inline constexpr int kEntryWordCards = 64;
constexpr int EntryWord(int area_word) { return area_word + 1; }

// ---------------------------------------------------------------------------
// The server's convention: a date word of an arrived data file as the
// availability file's CCYYDDD date.

// An AREA directory's date word: up to 96999 is 20YY (5001 is 2005001),
// anything above is 19YY, a century digit 1 included (97001 is 1997001,
// 118123 is 2018123).
constexpr std::int64_t AreaDate(std::int64_t word) { return word <= 96999 ? word + 2000000 : word + 1900000; }

// The date word of a CCYYDDD date of 1900 on, as the kit writes it
// (2024001 is 124001); AreaDate reads it back for the years 1997..2096.
constexpr std::int64_t AreaDateWord(std::int64_t ccyyddd) { return ccyyddd - 1900000; }

// A CCYYDDD date as a YYDDD word of two-digit year, as the kit writes an MD
// file's date word and a GRID label's date (2024001 is 24001); MdDate and
// GridDate read it back for the years 1997..2096.
constexpr std::int64_t YyDddWord(std::int64_t ccyyddd) { return ccyyddd / 1000 % 100 * 1000 + ccyyddd % 1000; }

// An MD file's date word: 1 to 96999 is 20YY, 97000 to 99999 is 19YY; any
// other value (0, negative, CCYYDDD) is kept.
constexpr std::int64_t MdDate(std::int64_t word) {
  return word >= 1 && word <= 96999 ? word + 2000000 : word >= 97000 && word <= 99999 ? word + 1900000 : word;
}

// A GRID label's date: as MdDate, except that 0 and negative values count
// as 20YY too (up to 96999).
constexpr std::int64_t GridDate(std::int64_t value) {
  return value <= 96999 ? value + 2000000 : value <= 99999 ? value + 1900000 : value;
}

// ---------------------------------------------------------------------------
// The cycle's convention: a compared image's date as the client stamps it.
// CCYYDDD (above 999999) is kept; below that, the server's AREA rule.
constexpr int CycleDate(int date) {
  if (date > 999999) return date;
  return date < 97000 ? date + 2000000 : date + 1900000;
}

// ---------------------------------------------------------------------------
// Years and days of the year.

// The CCYYDDD date of a year and a day of the year counted from 0, as the
// C library breaks a time down (tm_year + 1900, tm_yday).
constexpr std::int64_t DateOfYearDay(std::int64_t year, int day_from_0) { return year * 1000 + day_from_0 + 1; }

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar
// (negative before it), after H. Hinnant's algorithm.  `day` may lie past
// the month's end or be 0 or negative: the count runs on, as the C
// library's normalisation of dates does.  `month` is 1..12.
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, std::int64_t day) {
  const std::int64_t y = year - (month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + (day - 1);
}

}  // namespace datafile

#endif  // VARNEK_HOST_DATA_FILES_H
