// The server command set of `vks`: the availability file "VKServerFile",
// the record commands and the update from arrived data files.
//
// The availability file is a text table of 200 fixed-width lines, one
// availability record per line; remote clients fetch a copy of it (their
// "COMPARE2") and read it with the same record reader, so this header is
// the one definition of the format on both sides.  The column table is in
// docs/availability_file.md.
//
// Calling sequence for readers and writers of the file (server commands and
// the client's comparison alike):
//   FILE *fp = OpenServerFile(name);          // prints and returns null on failure
//   ReadServerFile(n, &rec, fp);              // any number of reads and writes,
//   WriteServerFile(n, &rec, fp);             // each under its own whole-file lock
//   fclose(fp);
// Each read holds a shared lock and each write an exclusive lock on the whole
// file for that one record; nothing locks across a read-modify-write.
//
// The driver calls each command handler without arguments (SetCreateServerRec
// with its mode); handlers fetch their own arguments from the host runtime
// and print their results on standard output.

#ifndef VARNEK_SERVER_SERVER_H
#define VARNEK_SERVER_SERVER_H

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
// with status 1 for kServerNotStored, with status 0 for the others.
inline constexpr int kServerOk = 0;
inline constexpr int kServerError = -1;       // usage, data or type error (printed)
inline constexpr int kServerNoFile = 1;       // the availability file cannot be opened
inline constexpr int kServerNotStored = 2;    // a change could not be stored (reported)

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

// VKS INSTALL: writes `VKServerFile` as 200 empty slots with its
// set-group-ID bit on, under a temporary name renamed into place (a failed
// INSTALL leaves the old file, or none), and prints
// "Varnek II Server Installed Successfully.".  When the file cannot be
// created or written it prints "Fail to init Varnek II server file, will
// exit." and returns kServerNotStored: the run ends with status 1.
[[nodiscard]] int initServerFile();

// The work of VKS INSTALL on any file name: 0, or the errno value of the
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

// Reads record `recPointer` (1..200) and writes it back changed, both under
// one exclusive lock, so that no other writer's change can fall between the
// read and the write.  `change` gets the record as read (a blank AREA record
// for an empty slot) and returns whether it is to be written.  Results as
// WriteServerFile (0 also when nothing was to be written); -1 after the
// reader's message for a stored type outside 1..4 (nothing written).
[[nodiscard]] int rewriteServerRecord(int recPointer, std::FILE *fp, const std::function<bool(ServerRec &)> &change);

// ---------------------------------------------------------------------------
// Record commands (VKS CREATE, SET, DELETE, SUSPEND, RELEASE, LIST).
// Handlers return 0 on success, -1 on a usage or data error, 1 when the
// availability file cannot be opened; the driver ignores the result.

[[nodiscard]] int SetCreateServerRec(int mode);  // 0 SET, 1 CREATE
[[nodiscard]] int DELETEServer();
[[nodiscard]] int SUSPENDServer();
[[nodiscard]] int RELEASEServer();
[[nodiscard]] int LISTServer();

// Writes `rec` as record `recNum` (1..200) of VKServerFile.  0; 1 after
// "Cannot open server file."; -1 when the writer refused the record;
// kServerNotStored when the write failed.
[[nodiscard]] int setServerRec(int recNum, const ServerRec &rec);

// Sets the Status of record `recNum` (1..200) of VKServerFile, whatever it
// was.  0; 1 after "Cannot open server file."; -1 when the record cannot be
// read or written back (printed by the reader or writer); kServerNotStored
// when the write failed.
[[nodiscard]] int changeServerRecStatus(int recNum, StatusTypes status);

// The table listing of records bRecNum..eRecNum (eRecNum clamped to 200) for
// the types in `dataTypeMask`.  0; -1 after "listServerRecs: Invalid
// arguments." when eRecNum < bRecNum; 1 after "Cannot open server file.".
[[nodiscard]] int listServerRecs(int bRecNum, int eRecNum, int dataTypeMask);

// The detail listing of record `recNum`; prints nothing for a record that is
// Inactive, of a type outside 1..4 or not in the mask.  0, or 1 after
// "Cannot open server file.".
[[nodiscard]] int listServerRecDetail(int recNum, int dataTypeMask);

// The letter of a status in the table listing ("?" outside the word table)
// and its name in the detail listing (the number outside the table).
std::string statusLetter(std::int32_t status);
std::string statusName(std::int32_t status);

// ---------------------------------------------------------------------------
// Update from arrived data files (VKS INVOKE).

// VKS INVOKE file... [TYPE=] [MACH=] [FPATH=] [SCAN=] [EOF=] [MULTI=].
// 0 after "DONE: INVOKE.", -1 on any error, kServerNotStored when a record
// could not be written back.
[[nodiscard]] int INVOKEServer();

// Applies one command record to VKServerFile: every Active record that
// matches it (only the first when `multiinvoke` is 0) takes the command's
// values, the data file's header values and its modification time, and is
// written back.  0 (also when nothing matched); 1 after
// "Cannot open server file."; -1 when the writer refused a record;
// kServerNotStored when a write failed.
[[nodiscard]] int invokeServerRec(ServerRec rcmd, int multiinvoke);

// 0 when the file record `raf` matches the command record `rcmd` (same type
// and machine name; for AREA, MD and GRID the command's number equals the
// record's current number or lies in its range; for TEXT the same file name
// and path), -1 otherwise; a type outside 1..4 prints
// "fitInServerAFRec: Invalid data type." and does not match.
[[nodiscard]] int fitInServerAFRec(const ServerRec &raf, const ServerRec &rcmd);

// Copies every value of `rcmd` that is given (non-zero, non-empty) into
// `*rec`.  0, or -1 after "updateServerRec: Undefined data type" for a type
// outside 1..4 (the common fields are merged by then).
[[nodiscard]] int updateServerRec(ServerRec *rec, const ServerRec &rcmd);

// Brings record `rec` up to date from its data file: the header values by
// type and the file's modification time (UTC), with the warnings of INVOKE.
// The data file's full name is the record's filePath followed by the
// standard name of rec->...currentNum (AREA, MD, GRID) or by fileName (TEXT).
void readServerDataFile(ServerRec *rec);

#endif  // VARNEK_SERVER_SERVER_H
