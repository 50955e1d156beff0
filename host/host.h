// Host runtime services: what the two programs use of the TAVRIN host
// runtime library.
//
//   Session and arguments   Tvinit joins (or creates) the host session and
//                           builds the argument store; the fetchers
//                           Tvcmdstr, Tvcmdint, Tvcmdnum, Tvcmdkey and
//                           Tvcmddll read it by keyword and position.
//   Commands and printing   Tvskeyin runs a host command program and waits
//                           for it; Tveprintf, Tvdprintf and Tvprintf write
//                           whole lines to the error, debug and standard
//                           streams; Tvsleep waits some milliseconds.
//   Dates and times         CCYYDDD dates and HHMMSS times, all UTC.
//   Data files              Tvpathname finds a data file by name (TVPATH);
//                           readd_ and mdinfo_ read the headers of AREA and
//                           MD files in this machine's byte order.
//   Display                 TvGetMaxImageFrameNumber reads the session's
//                           image frame count.
//
// Calling sequence: main calls Tvinit once, before any fetcher.  A program
// started outside a session gets a session of its own; the process that
// created it waits for the program and removes the session afterwards, so
// to its caller the program behaves as if it had been started inside one.
//
// Result codes of the fetchers are documented at Tvcmdstr; the layout of
// the session's shared area is in docs/session.md and below (SessionArea).

#ifndef VARNEK_HOST_HOST_H
#define VARNEK_HOST_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "host/data_files.h"

// ---------------------------------------------------------------------------
// Result codes shared by the fetchers.
//
// A result of 0 or more is success: thousands digit 1 = the value came from
// the command line, 0 = the default; hundreds digit = the value type.  A
// result from -1 to -9999 is a diagnosed error
// -(source*1000 + type*100 + form*10 + kind); the diagnostic has already been
// printed on the error stream.  Below -9999: internal failure, no diagnostic.
inline constexpr int kTvFromCommandLine = 1000;
inline constexpr int kTvTypeString = 0;
inline constexpr int kTvTypeInteger = 1;
inline constexpr int kTvTypeDecimal = 2;
inline constexpr int kTvTypeDate = 3;
inline constexpr int kTvTypeTime = 4;
inline constexpr int kTvTypeLatLon = 5;
inline constexpr int kTvTypeKeyword = 9;

inline constexpr int kTvKindInvalidForm = 1;  // text is not of the type's form
inline constexpr int kTvKindFraction = 2;     // an integer with a fraction
inline constexpr int kTvKindLimits = 3;       // exceeds the system limits
inline constexpr int kTvKindTooSmall = 4;     // below the caller's minimum
inline constexpr int kTvKindTooBig = 5;       // above the caller's maximum
inline constexpr int kTvKindEmpty = 9;        // nothing to convert

inline constexpr int kTvOutOfMemory = -11111;  // the store ran out of memory
inline constexpr int kTvBadCall = -22222;      // missing output, bad position

// Results of Tvinit.
inline constexpr int kTvInitOk = 0;
inline constexpr int kTvInitCreateFailed = -1;    // session area not created
inline constexpr int kTvInitAttachFailed = -2;    // new session area not attached
inline constexpr int kTvInitStartFailed = -3;     // session could not be started
inline constexpr int kTvInitJoinFailed = -4;      // TVENV_POSUC names no usable session
inline constexpr int kTvInitNegCreateFailed = -5; // second area not created
inline constexpr int kTvInitNegJoinFailed = -6;   // TVENV_NEGUC names no usable area
inline constexpr int kTvInitGlobalsFailed = -7;   // global keywords refused
inline constexpr int kTvInitParseFailed = -8;     // command line does not parse

// Results of Tvskeyin besides the program's exit status 0..255.
inline constexpr int kTvKeyinFailed = -1;    // not started, killed, or status 127
inline constexpr int kTvKeyinNotFound = -2;  // no such program and no batch file

// ---------------------------------------------------------------------------
// Session and arguments.

// Joins the host session named by TVENV_POSUC / TVENV_NEGUC, or creates a
// default session (one image frame of 480 lines by 640 elements), forks, and
// in the creating process waits for the program, removes the session and
// exits with the program's status.  Then builds the argument store from argv
// (or, for a start by the host's command processor, from the one command
// string in argv[1]).  Returns 0 or one of the kTvInit* codes.  Prints only
// "Mismatched quotes: ..." on the error stream for an unbalanced quote.
[[nodiscard]] int Tvinit(int argc, char **argv);

// Fetches value `position` of `keyword` as a string.  A blank keyword (null,
// empty, or beginning with a blank) means the positional entry, whose value
// 0 is the program name and value 1 the command word.  `*value` receives a
// pointer into the store, or `def` when the value is absent or the
// placeholder (X typed).  Returns 1000 (found) or 0 (default);
// kTvBadCall for a null `value` or a negative position.  Never prints.
[[nodiscard]] int Tvcmdstr(const char *keyword, int position, const char *def,
                           const char **value);

// Fetches an integer.  Absent or placeholder: `def` is used and checked like
// a typed value.  The range is checked only when maximum >= minimum.
// Returns 1100 (found) or 100 (default), or a diagnosed error (printed) such
// as -1105 (too big); on an error `*value` holds what was converted: 0 when
// nothing could be, the rounded number for a fraction, the number itself for
// a range error.
[[nodiscard]] int Tvcmdint(const char *keyword, int position,
                           const char *description, int def, int minimum,
                           int maximum, int *value);

// Number of values given: for a keyword, the words after its "="; for the
// blank keyword, the positional words after the program name (the command
// word counts).  0 when the keyword is absent.
[[nodiscard]] int Tvcmdnum(const char *keyword);

// Checks the command line's keywords against `count` keyword patterns (plus
// the host's global keywords).  0 when every keyword typed matches exactly
// one keyword pattern and none is matched twice; -1 after printing the
// problems; kTvKeyPatternInvalid or kTvKeyPatternCollision (nothing printed) when
// the list itself is invalid.  The quote field is not a keyword here.
[[nodiscard]] int Tvcmdkey(int count, const char *const *list);
inline constexpr int kTvKeyPatternInvalid = -2;
inline constexpr int kTvKeyPatternCollision = -3;

// What the argument problems diagnosed so far in this run say about its
// exit status: 0 none; 1 a keyword value outside its range (a value
// refused); 2 a usage error: a value that is not of its type (not a
// number), a positional argument outside its range, or a keyword that is
// not allowed or given twice.  The programs end with at least this status.
[[nodiscard]] int TvArgumentStatus();

// For a caller that refuses a value it fetched (a word not in its list):
// raises TvArgumentStatus to at least 1.
void TvNoteRefusedValue();

// Fetches a latitude or longitude in degrees: a decimal number, or
// degrees:minutes[:seconds].  Range checked when maximum >= minimum.
// Returns 1500 / 500 or a diagnosed error.
[[nodiscard]] int Tvcmddll(const char *keyword, int position,
                           const char *description, double *value, double def,
                           double minimum, double maximum);

// ---------------------------------------------------------------------------
// Commands, printing, sleeping.

// Runs a host command line and waits for it.  The program file is the first
// word in lower case followed by ".k", found on PATH; it is started with
// argv[0] a single blank and argv[1] the whole command text.  A first word
// "/" becomes KILL; a command beginning with a single quote, or one whose
// program does not exist but whose batch file (word + ".TVB", on the host's
// file search path) does, runs through the host program RUN.  Returns the
// program's exit status 0..255, kTvKeyinFailed (-1) when it could not be
// started, was killed by a signal or ended with 127, kTvKeyinNotFound (-2)
// when there is nothing to run.  The session's stream settings are restored
// afterwards.  Hang-up, interrupt, quit and terminate signals received while
// waiting are passed on to the program.
[[nodiscard]] int Tvskeyin(const char *command);

// printf-style output to the error, debug and standard streams.  Text is
// collected per stream until a newline ends a line; each complete line goes
// out through the stream's line writer (error lines are prefixed with the
// program name and ": ", debug lines with the name and "* ").  Lines left
// unfinished are written when the program ends.
void Tveprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Tvdprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Tvprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Waits `milliseconds`; 0 or less returns at once; a signal ends the wait.
void Tvsleep(int milliseconds);

// ---------------------------------------------------------------------------
// Dates (CCYYDDD, or YYDDD where said) and times (HHMMSS), all UTC.  Every
// function returns 0 on success and a negative code otherwise; outputs are
// written only on success; nothing is printed.

// Current UTC date and time.  -1 when the clock gives 0, -2 when the time
// cannot be broken down.
[[nodiscard]] int Tvgetdaytime(int *day, int *time);

namespace tv {
// Absolute or relative path of `program` found on PATH ("" when none).  A
// name containing "/" is taken as it is when it is an executable file.
std::string FindOnPath(std::string_view program);

// Days from 1970-01-01 to a day of the calendar (host/data_files.h).
using datafile::DaysFromCivil;

// A YYDDD date (below 100,000) as CCYYDDD: YY above 69 is 19YY, otherwise
// 20YY.  Other values are returned as they are.
int ExpandDate(int date);

// The current time in seconds since 1970 UTC: the system clock, or the
// value of VARNEK_TEST_NOW when that is set to a number (tests pin the
// clock this way).
std::int64_t Now();
}  // namespace tv

// Validity of a CCYYDDD date: -3 outside 1900001..9999365; -2 for day 0,
// a day above 366, or day 366 in a year not divisible by 4; -1 for a valid
// date outside 1970001..2100001; 0 otherwise.
[[nodiscard]] int Tvcydok(int date);

// Day of month, month and four-digit year of a CCYYDDD (or YYDDD) date.
// -1 unless the expanded date is fully valid (Tvcydok 0).
[[nodiscard]] int Tvcydtodmy(int date, int *day, int *month, int *year);

// Seconds since 1970-01-01 00:00:00 UTC of a date and an HHMMSS time
// (hours are not limited; 1,000,000 or more adds whole days).  -3 unless
// the expanded date is fully valid; -4 for minutes or seconds of 60 or more
// or a negative time.
[[nodiscard]] int Tvdaytimetosec(int date, int time, std::int64_t *seconds);

// UTC date and time of a seconds count; -1 when it cannot be broken down
// (a year outside 1..9999).
[[nodiscard]] int Tvsectodaytime(std::int64_t seconds, int *date, int *time);

// The CCYYDDD date `days` days after `date` (negative steps back).  -1 when
// the expanded date is not valid, -2 when it cannot be turned into seconds,
// -3 when the result cannot be turned back.
[[nodiscard]] int Tvincday(int date, int days, int *newdate);

// ---------------------------------------------------------------------------
// Data files: the host's file lookup and the word readers of AREA (image)
// and MD (point-data) files.  Layouts and the lookup rules are in
// docs/data_files.md.
//
// File lookup, for a name without directory (a name with a "/" is used as
// it is):
//   1. the redirection entries of TVREDIRECT: "PATTERN=DIRECTORY" entries
//      separated by ";"; the first entry whose shell-style pattern matches
//      the name gives DIRECTORY/name, whether or not the file exists;
//   2. the first directory of TVPATH (a colon-separated list like PATH, an
//      empty entry or an unset or empty TVPATH meaning the current
//      directory) that holds a file of that name;
//   3. the name in the first TVPATH directory the user may write in.
// Data words are 4 bytes, numbered from 0; integer words are in the byte
// order of the machine that wrote the file, character words never change.

// The path the lookup gives for `name`, or null when nothing applies (no
// name, or no writable TVPATH directory).  The result points to a buffer
// that the next call reuses.
char *Tvpathname(const char *name);

// 1 when the lookup for the blank-filled name (`nameLength` characters)
// gives an existing file, 0 otherwise.
[[nodiscard]] int lwfile_(const char *name, int nameLength);

// Results of Tvread.
inline constexpr int kTvReadShort = -1;     // the file ended first; the rest is filled with 0x80
inline constexpr int kTvReadBadCall = -2;   // negative offset, count of 0 or less, or no name
inline constexpr int kTvReadNotFound = -3;  // the file cannot be found or opened
inline constexpr int kTvReadFailed = -4;    // a read error
inline constexpr int kTvReadSeekFailed = -5;
inline constexpr unsigned char kTvReadFill = 0x80;

// Reads `byteCount` bytes at `byteOffset` of the file the lookup gives for
// `name` into `buffer`.  0 when all were read, or one of the kTvRead codes.
// Opens and closes the file on every call.
[[nodiscard]] int Tvread(const char *name, long byteOffset, long byteCount, void *buffer);

// Reads `*wordCount` words from word `*firstWord` of the blank-filled name
// (`nameLength` characters) into `buffer`.  0, or -1 on any failure (a
// negative first word, a count of 0 or less, no name, a trimmed name of 0
// or more than 1023 characters, or a Tvread failure; for a file that ends
// early the missing words are 0x80808080).
[[nodiscard]] int lwi_(const char *name, int *firstWord, int *wordCount, void *buffer, int nameLength);

// Fills `directory` (64 words) from the AREA file of number *areaNumber
// (1..9999, "AREA" and 4 digits), in this machine's byte order.  0, or a
// negative value when the directory cannot be read (no file, fewer than 64
// words: missing words are 0x80808080).  Numbers outside 1..9999 give
// kTvBadAreaNumber; below 0 or above 9999 after the error print
// " Invalid AREA number=<n>".
[[nodiscard]] int readd_(int *areaNumber, int *directory);
inline constexpr int kTvBadAreaNumber = -2;

// Fills `info` (64 words) for the MD file of number *mdNumber (1..999999):
// words 0..56 from the file in this machine's byte order, 57..60 -99997,
// 61..62 the first 8 characters of the file's standard name, 63 the number.
// 0; -1 for a number outside 1..999999, no such file, or a file shorter than
// 57 words.
[[nodiscard]] int mdinfo_(int *mdNumber, int *info);

// The standard names: "AREA0007"; "MDXX0007", "MDX12345", "MD123456".
// Empty for a number outside the kind's range.
namespace tv {
std::string AreaFileName(int number);
std::string MdFileName(int number);
}  // namespace tv

// ---------------------------------------------------------------------------
// Display frames and remote image directories (docs/image_directory.md).

// The number of image frames of the host display (the session's frame
// count; 1 for a session a program created for itself).
[[nodiscard]] int TvGetMaxImageFrameNumber();

// Results of the frame calls.
inline constexpr int kTvNoDisplay = -99;  // no session (no display) is attached
inline constexpr int kTvFrameBad = -1;    // no such frame

// Reads the 64-word directory of image frame *frame into `fdir`: word 1 the
// date (CCYYDDD) and word 2 the time (HHMMSS) of the image shown, both 0 for
// a frame never displayed.  0; kTvNoDisplay; kTvFrameBad for a frame
// outside 1..frame count (`fdir` unchanged).  A negative frame fills all 64
// words with -1 and gives 0.
[[nodiscard]] int getfrm_(int *frame, int *fdir);

// Writes the directory of image frame *frame (the host's display command
// does, when it shows an image).  0, kTvNoDisplay or kTvFrameBad.
[[nodiscard]] int putfrm_(int *frame, const int *fdir);

// Results of the image-directory calls besides 0.
inline constexpr int kTvDirUnknown = -2;      // unknown group, descriptor or alias
inline constexpr int kTvDirFailed = -1;       // the directory program cannot run
inline constexpr int kTvDirReadFailed = -4;   // the entries cannot be read (a broken stream)
inline constexpr int kTvDirBadTime = -53;     // an invalid TIME selection clause
inline constexpr int kTvDirBadClause = -55;   // a malformed selection clause

// Starts a directory request for the remote dataset "group/descriptor" in
// `dataset` (`datasetLength` characters, blank-filled), with `*nselect`
// selection clauses of `selectsLength` characters each in `selects`.  0: the
// request was accepted (tvadrd_ hands out the entries).  A name that cannot
// be split prints "Dataset name should be of form group/descriptor"
// (always); kTvDirUnknown also prints "<name> is an invalid group/descriptor
// or alias name ".  The directory program's own messages are shown only
// when *errflag is 1; a program that ends with status k gives -k.
[[nodiscard]] int tvadir_(const char *dataset, int *nselect, const char *selects, int *errflag, int datasetLength,
                          int selectsLength);

// Reads the next entry of the request into `dir` (65 words: word 0 the
// image's position, words 1..64 its directory, word 4 the date turned into
// CCYYDDD, word 64 the number of comment cards delivered) and its comment
// cards into `cards` (80 bytes each; `cardsLength` bytes of room: the cards
// beyond it are dropped and word 64 says how many were delivered).  0 an
// entry; 1 no further entry (the request is finished); kTvDirReadFailed a
// broken stream or no request.
[[nodiscard]] int tvadrd_(int *dir, char *cards, int cardsLength);

// ---------------------------------------------------------------------------
// The session's shared area (System V shared memory named by TVENV_POSUC).
// Native byte order; every program of one machine shares it.  Layout:
//
//   offset size  field
//        0    8  magic "TVSESN01"
//        8    4  area_bytes      size of the whole area in bytes
//       12    4  frame_count     image frames of the display (>= 1)
//       16    4  frame_lines     lines of an image frame
//       20    4  frame_elements  elements of an image frame
//       24    4  keyword_check   1: Tvcmdkey checks keywords; 0: it accepts all
//       28    4  text_window     1: a host text window shows line mode 1
//       32   48  streams[3]      standard, error, debug: fd, line_mode,
//                                attr1, attr2 (4 x int32 each)
//       80   48  reserved        zero
//      128  256  frame directory of frame 1 (64 x int32), then frame 2, ...
//
// Line modes: 1 text window, 2 and 3 plain lines (trailing blanks removed),
// 4 fixed 80-byte records, 5 CR LF ended lines, anything else discards.

namespace tv {

inline constexpr char kSessionMagic[8] = {'T', 'V', 'S', 'E', 'S', 'N', '0', '1'};
inline constexpr int kFrameDirectoryWords = 64;
inline constexpr int kMaxFrames = 9999;

enum StreamIndex : int { kStandardStream = 0, kErrorStream = 1, kDebugStream = 2 };

struct StreamSetting {
  std::int32_t fd;         // descriptor the stream's lines go to
  std::int32_t line_mode;  // see above; 0 discards the stream
  std::int32_t attr1;      // first display attribute
  std::int32_t attr2;      // second display attribute (standard stream only)
};
static_assert(sizeof(StreamSetting) == 16);

struct SessionArea {
  char magic[8];
  std::int32_t area_bytes;
  std::int32_t frame_count;
  std::int32_t frame_lines;
  std::int32_t frame_elements;
  std::int32_t keyword_check;
  std::int32_t text_window;
  StreamSetting streams[3];
  std::int32_t reserved[12];
};
static_assert(sizeof(SessionArea) == 128);
static_assert(offsetof(SessionArea, magic) == 0);
static_assert(offsetof(SessionArea, area_bytes) == 8);
static_assert(offsetof(SessionArea, frame_count) == 12);
static_assert(offsetof(SessionArea, frame_lines) == 16);
static_assert(offsetof(SessionArea, frame_elements) == 20);
static_assert(offsetof(SessionArea, keyword_check) == 24);
static_assert(offsetof(SessionArea, text_window) == 28);
static_assert(offsetof(SessionArea, streams) == 32);
static_assert(offsetof(SessionArea, reserved) == 80);
static_assert(std::is_trivially_copyable_v<SessionArea>);
static_assert(std::is_standard_layout_v<SessionArea>);

// Bytes of a session area holding `frames` frame directories.
constexpr std::size_t SessionAreaBytes(int frames) {
  return sizeof(SessionArea) +
         static_cast<std::size_t>(frames) * kFrameDirectoryWords * 4;
}

// The session values of this process: the attached shared area, or a
// process-local default area when no session has been joined (unit tests).
SessionArea &Session();

// Frame directory of image frame `frame` (1..frame_count), or null.
std::int32_t *FrameDirectory(int frame);

// Whether a session (and so a display) is attached.
bool HasDisplay();

// Program name used in error and debug prefixes ("Unknown command" until
// Tvinit has run).
const char *ProgramName();

// Test seams: make a command line the current command without a session.
// The previous store is freed, so pointers obtained from it become invalid.
// SetCommandString returns kTvInitParseFailed after printing
// "Mismatched quotes: ..." for an unbalanced quote.
void SetCommandArgv(int argc, const char *const *argv);
[[nodiscard]] int SetCommandString(const char *program, const char *line);

// Flushes the unfinished lines of the three streams (run at exit).
void FlushStreams();

}  // namespace tv

#endif  // VARNEK_HOST_HOST_H
