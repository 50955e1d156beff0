// Read side of the operations log: listings in time order, searches, the
// copy to a text file and the query tool's usage text.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Logfile/Logfile.h"
#include "posix/posix.h"

namespace {

// Calls `show` with every readable entry of records first..last in order.
template <typename Show>
void ScanRecords(LOGFILE_TYPE &log, int first, int last, Show show) {
  for (int rec = first; rec <= last; ++rec)
    if (Logfile_Read(&log, rec, &log.Record) == 0) show(log);
}

// Every entry of the log in time order.
template <typename Show>
void ScanInTimeOrder(LOGFILE_TYPE &log, Show show) {
  const int p = log.Block.Current_Record;
  const int k = log.Block.Log_Record_Count;
  if (k > p) ScanRecords(log, p + 1, k, show);
  ScanRecords(log, 1, p, show);
}

template <typename Match>
int DisplayMatching(LOGFILE_TYPE &log, Match match) {
  std::printf("\n");
  ScanInTimeOrder(log, [&](LOGFILE_TYPE &l) {
    if (match(l.Record)) Display_Logfile_Record(l);
  });
  std::printf("\nDone.\n");
  return 0;
}

}  // namespace

int Open_Logfile(LOGFILE_TYPE *Logfile, const char *Filename) {
  std::string why;
  return Open_Logfile_Explained(Logfile, Filename, why);
}

int Open_Logfile_Explained(LOGFILE_TYPE *Logfile, const char *Filename, std::string &why) {
  if (!Filename || std::strlen(Filename) > static_cast<std::size_t>(kLogFileNameMax)) {
    why = "the name is longer than 45 characters";
    return 1;
  }
  std::string lock_file = std::string(Filename) + ".srv";
  // Read only: a log the user may read but not write is still listed.
  if (RAOpenForRead(&Logfile->File, Filename, lock_file.c_str()) != 0) {
    why = errno == EINVAL ? "it is too short to hold a log" : posix::ErrorText(errno);
    return 1;
  }
  char text[96] = "";
  const RA &ra = Logfile->File;
  const BLOCK_TYPE &b = Logfile->Block;
  if (ra.BlockSize != kLogBlockSize || ra.RecSize != kLogRecordSize) {
    std::snprintf(text, sizeof text, "block size %d and record size %d are not a log's", ra.BlockSize, ra.RecSize);
  } else if (Logfile_ReadBlk(Logfile, &Logfile->Block) != 0) {
    std::snprintf(text, sizeof text, "it is too short to hold a log");
  } else if (b.Current_Record < 1 || b.Current_Record > kLogRecords || b.Log_Record_Count < 1 ||
             b.Log_Record_Count > kLogRecords) {
    std::snprintf(text, sizeof text, "its block names entry %d of %d", b.Current_Record, b.Log_Record_Count);
  } else {
    return 0;
  }
  why = text;
  (void)Logfile_Close(Logfile);
  return 1;
}

void Print_Usage_Message(int *ReturnCode) {
  std::printf("\nUsage:  query_logfile input-file");
  std::printf("\n        query_logfile input-file -date 0..999");
  std::printf("\n        query_logfile input-file -status \"...\"");
  std::printf("\n        query_logfile input-file -text \"...\"");
  std::printf("\n        query_logfile input-file -last 0..99999");
  std::printf("\n        query_logfile input-file -print output-file\n");
  if (ReturnCode) *ReturnCode = 1;
}

int Is_A_Number(const char *Input_Total_Records) {
  if (!Input_Total_Records) return 1;
  std::size_t length = std::strlen(Input_Total_Records);
  if (length > 5) {
    std::printf("\nNumber too large\n");
    return 1;
  }
  for (std::size_t i = 0; i < length; ++i)
    if (Input_Total_Records[i] < '0' || Input_Total_Records[i] > '9') return 1;
  return 0;
}

void Display_Logfile_Record(LOGFILE_TYPE &Logfile) {
  const RECORD_TYPE &r = Logfile.Record;
  std::printf("%4.4d.%3.3d %2.2d:%2.2d:%2.2dZ %12s  %12s  %s  %s\n", r.Date.Year, r.Date.Julian_Date,
              r.Date.Hour, r.Date.Minute, r.Date.Second, r.ProgramName, r.Function, r.Status, r.Comment);
}

void Write_Textfile_Record(LOGFILE_TYPE &Logfile, const char *, std::FILE *Textfile_ptr) {
  const RECORD_TYPE &r = Logfile.Record;
  std::fprintf(Textfile_ptr, "%4.4d.%3.3d %2.2d:%2.2d:%2.2dZ %s  %s  %s  %s\n", r.Date.Year,
               r.Date.Julian_Date, r.Date.Hour, r.Date.Minute, r.Date.Second, r.ProgramName, r.Function,
               r.Status, r.Comment);
}

int Display_Whole_Logfile(LOGFILE_TYPE &Logfile) {
  return DisplayMatching(Logfile, [](const RECORD_TYPE &) { return true; });
}

int Search_Text_in_Logfile(LOGFILE_TYPE &Logfile, const char *User_Text) {
  const char *text = User_Text ? User_Text : "";
  return DisplayMatching(Logfile, [text](const RECORD_TYPE &r) { return std::strstr(r.Comment, text) != nullptr; });
}

int Search_Date_in_Logfile(LOGFILE_TYPE &Logfile, int Date) {
  return DisplayMatching(Logfile, [Date](const RECORD_TYPE &r) { return r.Date.Julian_Date == Date; });
}

int Search_Status_in_Logfile(LOGFILE_TYPE &Logfile, const char *Status) {
  const char *status = Status ? Status : "";
  return DisplayMatching(Logfile, [status](const RECORD_TYPE &r) { return std::strcmp(r.Status, status) == 0; });
}

int Display_Last_Records(LOGFILE_TYPE &Logfile, int Total_Records) {
  const int p = Logfile.Block.Current_Record;
  const int k = Logfile.Block.Log_Record_Count;
  const int n = Total_Records;
  auto show = [](LOGFILE_TYPE &l) { Display_Logfile_Record(l); };
  std::printf("\n");
  if (n > 0) {
    if (k <= p) {
      ScanRecords(Logfile, p - n + 1 > 1 ? p - n + 1 : 1, p, show);
    } else if (n <= p) {
      ScanRecords(Logfile, p - n + 1, p, show);
    } else {
      int from = k - (n - p) + 1;
      ScanRecords(Logfile, from > p + 1 ? from : p + 1, k, show);
      ScanRecords(Logfile, 1, p, show);
    }
  }
  std::printf("\nDone.\n");
  return 0;
}

namespace {

// Writes the entries in time order to `out`; the number written.
int WriteEntries(LOGFILE_TYPE &Logfile, const char *Textfile, std::FILE *out) {
  int count = 0;
  ScanInTimeOrder(Logfile, [&](LOGFILE_TYPE &l) {
    Write_Textfile_Record(l, Textfile, out);
    ++count;
  });
  return count;
}

void PrintCopied(const char *Textfile, int count) {
  std::printf("\nCreating a text file - %s\n", Textfile);
  std::printf("\nDone.");
  std::printf("\n\nTotal records copied: %d\n\n", count);
}

}  // namespace

int Copy_Logfile_to_New_Textfile(LOGFILE_TYPE &Logfile, const char *Textfile) {
  int count = 0;
  int rc = !Textfile || !*Textfile ? ENOENT
                                   : posix::ReplaceFile(
                                         Textfile, 0666,
                                         [&](int fd) {
                                           std::FILE *out = posix::WriteStreamOn(fd);
                                           if (!out) return false;
                                           count = WriteEntries(Logfile, Textfile, out);
                                           return std::fclose(out) == 0;
                                         },
                                         nullptr, posix::Links::kReplace);
  if (rc != 0) {
    std::printf("Cannot create text file %s\n", Textfile ? Textfile : "");
    return 1;
  }
  PrintCopied(Textfile, count);
  return 0;
}

int Copy_Logfile_to_Textfile(LOGFILE_TYPE &Logfile, const char *Textfile) {
  posix::File file;
  std::FILE *out = nullptr;
  if (Textfile && posix::CreateTruncate(Textfile, file) == 0 && (out = fdopen(file.fd(), "w"))) (void)file.Release();
  if (!out) {
    std::printf("Cannot create text file %s\n", Textfile ? Textfile : "");
    return 1;
  }
  PrintCopied(Textfile, WriteEntries(Logfile, Textfile, out));
  return std::fclose(out) == 0 ? 0 : 1;
}
