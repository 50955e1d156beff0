// The client's operations log: a circular log of 10,000 fixed-size entries
// in the record file "VKLogFile" (an RA file with an 8-byte block holding
// the ring's position and fill level).  Every host command the client runs,
// every item it loads and every start or stop of its background job becomes
// one entry with a UTC time stamp.
//
//   logwriter   Create_Logfile, Update_Logfile, Get_Date, logwriter_: append
//               an entry (creating the log on first use).
//   logaccess   Logfile_* (the record-file access of the log) and the read
//               side: Open_Logfile, listings in time order, searches, the
//               copy to a text file, and the query tool's usage text.
//
// Layout (docs/record_files.md): header of 12 bytes, BLOCK_TYPE at offset 12,
// entry n (1..10,000) at offset 20 + 240 * n; slot 0 is never used.  Entries
// fill records 1, 2, ... 10,000; entry 10,001 overwrites record 1.  Once the
// ring has wrapped, the oldest entry is at Current_Record + 1.
//
// Writers serialise through the exclusive whole-file lock, held from the
// block read to the entry write, so concurrent writers never lose an entry.
// Readers take no lock.

#ifndef VARNEK_LOGFILE_LOGFILE_H
#define VARNEK_LOGFILE_LOGFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

#include "RA/RA.h"

inline constexpr int kLogBlockSize = 8;
inline constexpr int kLogRecordSize = 240;
inline constexpr int kLogRecords = 10000;
inline constexpr int kLogFileNameMax = 45;  // ".srv" and the terminator fit in 50
inline constexpr const char *kClientLogFile = "VKLogFile";
inline constexpr const char *kClientProgramName = "VARNEK-II Client";
inline constexpr const char *kLogStatusInfo = "I";

struct DATE_TYPE {
  std::int32_t Year;         // calendar year, UTC
  std::int32_t Julian_Date;  // day of the year counted from 0 (1 January is 0)
  std::int32_t Hour;         // 0..23 UTC
  std::int32_t Minute;       // 0..59
  std::int32_t Second;       // 0..60
};

struct RECORD_TYPE {
  DATE_TYPE Date;
  char ProgramName[20];  // NUL-terminated
  char Function[35];     // NUL-terminated
  char Status[2];        // one letter and its terminator
  char Comment[160];     // NUL-terminated
  char padding[3];       // not significant
};
static_assert(sizeof(DATE_TYPE) == 20);
static_assert(sizeof(RECORD_TYPE) == kLogRecordSize);
static_assert(offsetof(RECORD_TYPE, Date) == 0);
static_assert(offsetof(RECORD_TYPE, Date.Julian_Date) == 4);
static_assert(offsetof(RECORD_TYPE, Date.Hour) == 8);
static_assert(offsetof(RECORD_TYPE, Date.Minute) == 12);
static_assert(offsetof(RECORD_TYPE, Date.Second) == 16);
static_assert(offsetof(RECORD_TYPE, ProgramName) == 20);
static_assert(offsetof(RECORD_TYPE, Function) == 40);
static_assert(offsetof(RECORD_TYPE, Status) == 75);
static_assert(offsetof(RECORD_TYPE, Comment) == 77);
static_assert(offsetof(RECORD_TYPE, padding) == 237);
static_assert(std::is_trivially_copyable_v<RECORD_TYPE> && std::is_standard_layout_v<RECORD_TYPE>);

struct BLOCK_TYPE {
  std::int32_t Current_Record;    // number of the most recent entry, 1..10,000
  std::int32_t Log_Record_Count;  // number of entries held, 1..10,000
};
static_assert(sizeof(BLOCK_TYPE) == kLogBlockSize);
static_assert(offsetof(BLOCK_TYPE, Log_Record_Count) == 4);
static_assert(std::is_trivially_copyable_v<BLOCK_TYPE> && std::is_standard_layout_v<BLOCK_TYPE>);

// In-memory handle: the file, and working copies of the block and of one
// entry.
struct LOGFILE_TYPE {
  RA File;
  BLOCK_TYPE Block;
  RECORD_TYPE Record;
};

// ---------------------------------------------------------------------------
// Access layer (logaccess).  Results 0 success, 1 failure.

[[nodiscard]] int Logfile_Init(const char *FileName, int SizeofBlk, int SizeofRec, int NRecords);
// Opens the log; 1 when it cannot be opened or is not a log (its block or
// record size differs from the log's).
[[nodiscard]] int Logfile_Open(LOGFILE_TYPE *Logfile, const char *FileName, const char *LockFile);
// Reads entry `Rec`; the strings of an entry read are always terminated.
[[nodiscard]] int Logfile_Read(LOGFILE_TYPE *Logfile, int Rec, RECORD_TYPE *Data);
[[nodiscard]] int Logfile_Write(LOGFILE_TYPE *Logfile, int Rec, const RECORD_TYPE *Record);
[[nodiscard]] int Logfile_ReadBlk(LOGFILE_TYPE *Logfile, BLOCK_TYPE *Data);
[[nodiscard]] int Logfile_WriteBlk(LOGFILE_TYPE *Logfile, const BLOCK_TYPE *Data);
// 0, or -1 when the close fails.
[[nodiscard]] int Logfile_Close(LOGFILE_TYPE *Logfile);

// ---------------------------------------------------------------------------
// Writer (logwriter).

// Creates a new log holding the block 1/1 and leaves it open in `Logfile`.
// The log appears under its name complete with its block, so no other
// writer can see it half made.  1 when it cannot be created or the name is
// already taken (another writer created it first).
[[nodiscard]] int Create_Logfile(LOGFILE_TYPE *Logfile, const char *Filename, const char *LockFile);

// Advances the ring by one entry: reads the block into the handle, steps
// Current_Record (10,000 wraps to 1) and Log_Record_Count (stops at
// 10,000), writes the block back.  1 when the block cannot be read or
// written, or holds values outside 0..10,000.
[[nodiscard]] int Update_Logfile(LOGFILE_TYPE *Logfile);

// The current UTC time (day of the year from 0).
void Get_Date(DATE_TYPE *New_Date);

// What became of an entry that AppendLogEntry was asked to store.
struct LogWriteNote {
  int error = 0;             // errno value of the failure when it was not stored
  std::string damage;        // why the log was set aside ("" when it was not)
  std::string set_aside_as;  // the name the damaged log now has
};

// logwriter_ with an account of what happened.  0 when the entry was stored,
// 1 when it was not (`note.error` says why).  A log whose header or block
// cannot be a log's is never written into: it is renamed aside to
// "<log>.damaged.<CCYYDDD>.<HHMMSS>" (never deleted), a fresh log is started
// and the entry stored there; `note.damage` and `note.set_aside_as` tell.
// A comment holding a control character is refused.  Prints nothing.
[[nodiscard]] int AppendLogEntry(const char *Filename, const char *ProgramName, const char *Function,
                                 const char *Status, const char *Comment, LogWriteNote &note);

// Appends one entry to the log `Filename`, creating it on first use.  0 when
// the entry was stored; 1 when it was not: the log cannot be opened or
// created, a field does not fit (ProgramName 19, Function 34, Status 1,
// Comment 159 characters; Filename 45), or a write fails.  Prints nothing.
// (AppendLogEntry without the account; a damaged log is set aside as
// there.)
[[nodiscard]] int logwriter_(const char *Filename, const char *ProgramName, const char *Function,
                             const char *Status, const char *Comment);

// ---------------------------------------------------------------------------
// Read side (logaccess).  Listing functions take the handle by value and
// read entries into their copy; they scan in time order: when the ring has
// wrapped, records Current_Record + 1 .. Log_Record_Count, then
// 1 .. Current_Record.  An entry that cannot be read is skipped.

// Opens the log for reading and reads its block into the handle.  1 when
// the name is longer than 45 characters, the log cannot be opened, is not a
// log (block or record size), or its block cannot be read or holds no entry
// (the file is then closed again); else 0.
[[nodiscard]] int Open_Logfile(LOGFILE_TYPE *Logfile, const char *Filename);

// Open_Logfile that also says why a log cannot be read ("No such file or
// directory", "it is too short to hold a log", "its block names entry 0 of
// 0" ...).  The log is opened for reading only.
[[nodiscard]] int Open_Logfile_Explained(LOGFILE_TYPE *Logfile, const char *Filename, std::string &why);

// Prints the query tool's usage text and sets *ReturnCode to 1.
void Print_Usage_Message(int *ReturnCode);

// 0 for an empty string or 1 to 5 decimal digits; 1 otherwise, after
// printing "\nNumber too large\n" when the string is longer than 5.
[[nodiscard]] int Is_A_Number(const char *Input_Total_Records);

// One entry as a screen line / as a text-file line.
void Display_Logfile_Record(LOGFILE_TYPE &Logfile);
void Write_Textfile_Record(LOGFILE_TYPE &Logfile, const char *Textfile, std::FILE *Textfile_ptr);

// Listings and searches: a newline, the matching entries as screen lines in
// time order, then "\nDone.\n".  Each returns 0.
[[nodiscard]] int Display_Whole_Logfile(LOGFILE_TYPE &Logfile);
[[nodiscard]] int Search_Text_in_Logfile(LOGFILE_TYPE &Logfile, const char *User_Text);
[[nodiscard]] int Search_Date_in_Logfile(LOGFILE_TYPE &Logfile, int Date);
[[nodiscard]] int Search_Status_in_Logfile(LOGFILE_TYPE &Logfile, const char *Status);
[[nodiscard]] int Display_Last_Records(LOGFILE_TYPE &Logfile, int Total_Records);

// Copies every entry in time order to the text file `Textfile` (created or
// truncated), with the messages "\nCreating a text file - %s\n", "\nDone."
// and "\n\nTotal records copied: %d\n\n".  1 after printing
// "Cannot create text file %s\n" when the file cannot be created; nothing is
// written then.
[[nodiscard]] int Copy_Logfile_to_Textfile(LOGFILE_TYPE &Logfile, const char *Textfile);

// The same copy into a file the program generates for itself (PRINTLOG):
// written whole under a temporary name and renamed, so a link of that name
// is replaced, never written through, and the old file stays whole until
// the new one is.  Same messages and results.
[[nodiscard]] int Copy_Logfile_to_New_Textfile(LOGFILE_TYPE &Logfile, const char *Textfile);

#endif  // VARNEK_LOGFILE_LOGFILE_H
