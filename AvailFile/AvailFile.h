// The availability file: the text table of 200 fixed-width records in which
// a server publishes what it holds ("VKServerFile"), and the clients' copies
// of it ("COMPARE2").  This module is the one definition of the format: the
// server's commands write and read it, the client's comparison reads its
// copies with the same reader.
//
// Calling sequence for readers and writers:
//   FILE *fp = OpenServerFile(name);          // prints and returns null on failure
//   ReadServerFile(n, &rec, fp);              // any number of reads and writes,
//   WriteServerFile(n, &rec, fp);             // each under its own whole-file lock
//   fclose(fp);
// Each read holds a shared lock and each write an exclusive lock on the whole
// file for that one record; rewriteServerRecord holds one exclusive lock
// across a read and its write; a ServerFileWriteLock holds one across a
// whole run of them.  The column table is in
// docs/availability_file.md.

#ifndef VARNEK_AVAILFILE_AVAILFILE_H
#define VARNEK_AVAILFILE_AVAILFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "vocab/vocab.h"

// ---------------------------------------------------------------------------
// Availability file layout.
//
// 200 lines of 395 bytes: 394 characters and a line feed.  Record n (1..200)
// starts at byte (n - 1) * 395.  A line is three parts side by side, each
// right-justified (blank-filled on the left) to its width:
//
//   columns   width  part
//   1-150     150    common part: status, type, machine, path, file date, time
//   151-344   194    type part: the per-type fields
//   345-394    50    comment part: the comment right-justified to 40
//
// Inside the common and type parts each field is written right-justified in
// its column and followed by " | ".  An empty string is written as "*".  The
// line feed is written once, by VKS INSTALL, and never rewritten.  A line
// whose common part holds only '~' and line feeds is an empty slot.

inline constexpr const char *kServerFileName = "VKServerFile";
inline constexpr int kServerRecords = 200;
inline constexpr int kServerLineChars = 394;
inline constexpr int kServerLineBytes = 395;
inline constexpr int kServerCommonWidth = 150;
inline constexpr int kServerTypeWidth = 194;
inline constexpr int kServerCommentWidth = 50;
inline constexpr char kServerEmptySlotChar = '~';
static_assert(kServerCommonWidth + kServerTypeWidth + kServerCommentWidth == kServerLineChars);

// ---------------------------------------------------------------------------
// Availability record (in memory; the file holds it as text).  Integers are
// 32-bit; every character array holds a NUL-terminated string, so its
// capacity is one less than its size.  Columns wide enough for a value:
// see docs/availability_file.md.

struct AreaServerStruct {
  std::int32_t bRange;           // first AREA file number of the series
  std::int32_t eRange;           // last AREA file number of the series
  std::int32_t currentNum;       // number of the newest AREA file
  std::int32_t dataDate;         // image date of the newest file, YYYYDDD
  std::int32_t dataTime;         // image time of the newest file, HHMMSS
  char dataSource[10];           // source / satellite name
  std::int32_t imageResolution;  // image resolution
  std::int32_t scanLine;         // scan line
  std::int32_t flagEof;          // end-of-file flag of the newest image
  char Descriptor[32];           // remote-access dataset descriptor, no blanks
  char Group[32];                // remote-access group, no blanks
  char reserved[40];             // reserved / comments
};

struct MdServerStruct {
  std::int32_t bRange;      // as for AREA, for MDXX files
  std::int32_t eRange;
  std::int32_t currentNum;
  std::int32_t dataDate;    // YYYYDDD
  std::int32_t dataTime;    // HHMMSS
  char schema[5];           // schema name (4 characters)
  std::int32_t numRow;      // number of rows
  std::int32_t numColumn;   // number of columns
  char Descriptor[32];
  char Group[32];
  char reserved[40];
};

struct GridServerStruct {
  std::int32_t bRange;        // as for AREA, for GRID files
  std::int32_t eRange;
  std::int32_t currentNum;
  std::int32_t dataDate;      // grid date, YYYYDDD
  std::int32_t dataTime;      // model run time, HHMMSS
  char dataSource[10];        // data source / model name
  std::int32_t forecastHour;  // forecast hour times 10000 (HHMMSS form)
  char Descriptor[32];
  char Group[32];
  char reserved[40];
};

struct TextServerStruct {
  char fileName[20];  // file name without directory (the directory is filePath); no blanks
  char reserved[40];  // reserved / comments
};

union DataOnServer {
  AreaServerStruct Area;
  MdServerStruct Md;
  GridServerStruct Grid;
  TextServerStruct Text;
};

struct ServerRec {
  std::int32_t Status;    // StatusTypes: Inactive (free or deleted), Active, Suspend
  std::int32_t DataType;  // FileTypes: the member of ServerData in use, 1..4 when stored
  char machineName[32];   // machine the data lives on; empty allowed
  char filePath[80];      // directory of the data files, ending in "/" when set by a command
  std::int32_t fileMdate; // last modification date of the data file, YYYYDDD (UTC)
  std::int32_t fileMtime; // last modification time of the data file, HHMMSS (UTC)
  DataOnServer ServerData;
  char comments[40];      // free comment; no command sets it
};

static_assert(sizeof(AreaServerStruct) == 148);
static_assert(offsetof(AreaServerStruct, dataSource) == 20);
static_assert(offsetof(AreaServerStruct, imageResolution) == 32);
static_assert(offsetof(AreaServerStruct, Descriptor) == 44);
static_assert(offsetof(AreaServerStruct, Group) == 76);
static_assert(offsetof(AreaServerStruct, reserved) == 108);
static_assert(sizeof(MdServerStruct) == 140);
static_assert(offsetof(MdServerStruct, schema) == 20);
static_assert(offsetof(MdServerStruct, numRow) == 28);
static_assert(offsetof(MdServerStruct, Descriptor) == 36);
static_assert(sizeof(GridServerStruct) == 140);
static_assert(offsetof(GridServerStruct, dataSource) == 20);
static_assert(offsetof(GridServerStruct, forecastHour) == 32);
static_assert(offsetof(GridServerStruct, Descriptor) == 36);
static_assert(sizeof(TextServerStruct) == 60);
static_assert(sizeof(DataOnServer) == 148);
static_assert(sizeof(ServerRec) == 316);
static_assert(offsetof(ServerRec, machineName) == 8);
static_assert(offsetof(ServerRec, filePath) == 40);
static_assert(offsetof(ServerRec, fileMdate) == 120);
static_assert(offsetof(ServerRec, fileMtime) == 124);
static_assert(offsetof(ServerRec, ServerData) == 128);
static_assert(offsetof(ServerRec, comments) == 276);
static_assert(std::is_trivially_copyable_v<ServerRec>);
static_assert(std::is_standard_layout_v<ServerRec>);

// Type-mask bits of the listings: 1 << FileTypes value.
inline constexpr int kServerMaskAll = 65535;

// Result codes of the module's functions.  The driver ends the program
// with status 0 for kServerOk, 2 for kServerUsage, 1 for the others.
inline constexpr int kServerOk = 0;
inline constexpr int kServerError = -1;       // a value, data or type refused (printed)
inline constexpr int kServerNoFile = 1;       // the availability file cannot be opened
inline constexpr int kServerNotStored = 2;    // a change could not be stored (reported)
inline constexpr int kServerUsage = 3;        // usage: wrong positional arguments or
                                              // keywords, a bad record number (printed)

// ---------------------------------------------------------------------------
// Record format: pure conversions between a record and its 394 characters.

// Makes `*rec` the blank record of `dataType` (1..4, a precondition):
// Status Inactive, every integer 0, every string empty.  Returns 0.
[[nodiscard]] int initServerRec(ServerRec *rec, FileTypes dataType);

// Trims a value read from the file in place: leading and trailing blanks
// (the space character only) go; a value that is then exactly "*" becomes
// empty.  Every mode trims both ends.
void strTrim(char *s, int mode);

// "*" for an empty string, `s` otherwise.
const char *starWhenNull(const char *s);

// Checks that every value of `rec` can be written into its column and read
// back: integers no wider than their columns, strings terminated within
// their arrays, no '|' and no blank-only value in a bar-delimited column, no
// white space in a descriptor, group or TEXT file name.  Returns 0, or -1
// with `why` naming the first value that does not fit.  Prints nothing.
// The type must be 1..4 (else -1).
[[nodiscard]] int checkServerRec(const ServerRec &rec, std::string &why);

// Formats `rec` as the 394 characters of its line into `line` (no line
// feed, no terminator).  0, or -1 when the type is unknown or a value does
// not fit (checkServerRec); `line` is then unchanged.  Prints nothing.
[[nodiscard]] int formatServerLine(const ServerRec &rec, char (&line)[kServerLineChars],
                                   std::string &why);

// Whether an integer can be written into a column of `column` characters
// (its sign included), so that it reads back whole.
[[nodiscard]] bool numberFitsColumn(std::int32_t value, int column);

// "Blank" as the line reader means it: space, tab, line feed, vertical tab,
// form feed, carriage return.
[[nodiscard]] bool isLineBlank(char c);

// Results of parseServerLine.
inline constexpr int kServerLineParsed = 0;
inline constexpr int kServerLineEmptySlot = 1;   // the blank AREA record was made
inline constexpr int kServerLineUnknownType = -1;

// Parses the 394 characters of a line (`line` shorter than that counts as
// ending early) into `*rec`, which is first cleared.  Each part is read up
// to its first NUL byte.  A value is never stored past its field; parsing of
// a part stops at the first mismatch and later fields stay 0 or empty.
// Returns kServerLineParsed, kServerLineEmptySlot, or kServerLineUnknownType
// (the common fields are filled, the type part is not).  Prints nothing.
[[nodiscard]] int parseServerLine(std::string_view line, ServerRec *rec);

// ---------------------------------------------------------------------------
// The availability file.

// Writes an availability file of 200 empty slots with its set-group-ID bit
// on, under a temporary name renamed into place (a failure leaves the old
// file, or none): the work of VKS INSTALL.  0, or the errno value of the
// step that failed (nothing printed).
[[nodiscard]] int installServerFile(const char *fname);

// Opens an existing availability file (or a client's copy of one) for
// reading and updating in place; never creates it.  On failure prints
// "Fail to open Varnek II server file." and returns null.
[[nodiscard]] std::FILE *OpenServerFile(const char *fname);

// OpenServerFile without the message: the stream, or null with errno set.
[[nodiscard]] std::FILE *openServerFileQuietly(const char *fname);

// Opens an availability file, or a copy of one, for reading only (listings,
// the client's comparison).  The stream, or null with errno set; prints
// nothing.
[[nodiscard]] std::FILE *openServerFileForRead(const char *fname);

// Checks that an open availability file has the shape every write relies
// on: exactly 200 lines of 395 bytes, each ended by its line feed.  0, or -1
// with `why` naming the first fault ("it is 500 bytes long, not 79000",
// "line 2 does not end in a line feed").  Prints nothing.
[[nodiscard]] int checkServerFileShape(std::FILE *fp, std::string &why);

// Reads record `recPointer` (1..200) into `*rec` under a shared lock.
// 0 for a record or an empty slot (the blank AREA record); -1 for a stored
// type outside 1..4 after printing
// "ReadServerFile: Unknown data type %d reading rec %d\n", or for a record
// number outside 1..200 (printed).  Bytes missing at the end of the file
// read as the end of the line.  Prints the lock messages when locking fails
// (the read goes on).
[[nodiscard]] int ReadServerFile(int recPointer, ServerRec *rec, std::FILE *fp);

// Reads records first..last (1..200) into recs[0..last-first] under one
// shared lock, as one consistent snapshot; results[i] is what
// ReadServerFile would return for that record, with the same messages.
// 0, or -1 for a bad range (printed; the records are cleared).
[[nodiscard]] int readServerRecords(int first, int last, ServerRec *recs, int *results, std::FILE *fp);

// Writes `*rec` as record `recPointer` (1..200) under an exclusive lock:
// exactly the 394 characters of the line, never the line feed; the bytes
// have reached the file when the lock is released.  0; -1 with nothing
// written after printing "WriteServerFile: Unknown data type %d.\n", a
// message naming a value that does not fit, or a bad record number;
// kServerNotStored after reporting a write that failed, or a file whose
// line `recPointer` does not end in its line feed (checked under the lock,
// so the write can never land on a line feed or past the end of a file
// that was cut short).
[[nodiscard]] int WriteServerFile(int recPointer, const ServerRec *rec, std::FILE *fp);

// The exclusive whole-file lock a writer holds across reads and writes of
// several records (the messages are WriteServerFile's).  Released when the
// object goes; a lock that could not be taken was reported and the writes
// go on, as WriteServerFile's do.
class ServerFileWriteLock {
 public:
  explicit ServerFileWriteLock(std::FILE *fp);
  ~ServerFileWriteLock();
  ServerFileWriteLock(const ServerFileWriteLock &) = delete;
  ServerFileWriteLock &operator=(const ServerFileWriteLock &) = delete;

 private:
  int fd_;
};

// Reads record `recPointer` (1..200) and writes it back changed, both under
// one exclusive lock, so that no other writer's change can fall between the
// read and the write.  `change` gets the record as read (a blank AREA record
// for an empty slot) and returns whether it is to be written.  Results as
// WriteServerFile (0 also when nothing was to be written); -1 after the
// reader's message for a stored type outside 1..4 (nothing written).
[[nodiscard]] int rewriteServerRecord(int recPointer, std::FILE *fp, const std::function<bool(ServerRec &)> &change);

// For a writer that holds `lock` on `fp` over a whole run of reads and
// writes (one command's scan and its updates), so the run costs one lock
// and no other writer's change can fall inside it: the shape check and the
// reads of above without locks of their own, and the write of a record
// without checking its line feed again (the shape checked under the same
// lock stands: no cooperating writer can change it meanwhile).  When a line
// was written and `written` is given, it receives the line as written.
[[nodiscard]] int checkServerFileShape(const ServerFileWriteLock &lock, std::FILE *fp, std::string &why);
[[nodiscard]] int readServerRecords(const ServerFileWriteLock &lock, int first, int last, ServerRec *recs,
                                    int *results, std::FILE *fp);
[[nodiscard]] int WriteServerFile(const ServerFileWriteLock &lock, int recPointer, const ServerRec *rec,
                                  std::FILE *fp, char (*written)[kServerLineChars] = nullptr);

#endif  // VARNEK_AVAILFILE_AVAILFILE_H
