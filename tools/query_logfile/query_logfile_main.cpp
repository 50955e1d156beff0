// query_logfile: lists, searches or copies an operations log.
//
//   query_logfile input-file                      the whole log
//   query_logfile input-file -date 0..999         entries of a day of the year (from 0)
//   query_logfile input-file -status "..."        entries with this status
//   query_logfile input-file -text "..."          entries whose comment holds the text
//   query_logfile input-file -last 0..99999       the latest entries
//   query_logfile input-file -print output-file   a copy as a text file
//
// Bad usage prints the usage text and ends with its return code 1; a log
// that cannot be opened ends with status 1 as well.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "Logfile/Logfile.h"
#include "posix/posix.h"

namespace {

// A count of 0..`max`, written as at most 5 digits.
bool ReadCount(const char *text, int max, int &value) {
  if (Is_A_Number(text) != 0) return false;
  std::string_view s(text);
  value = 0;
  if (!s.empty() && std::from_chars(s.data(), s.data() + s.size(), value).ec != std::errc()) return false;
  return value <= max;
}

}  // namespace

int main(int argc, char **argv) {
  // Before anything is opened: the log must never take the number of a
  // closed standard descriptor.
  if (posix::EnsureStandardDescriptors() != 0) return 1;
  int status = 0;
  if (argc != 2 && argc != 4) {
    Print_Usage_Message(&status);
    return status;
  }
  const char *option = argc == 4 ? argv[2] : "";
  const char *value = argc == 4 ? argv[3] : "";
  int number = 0;
  bool good = argc == 2 || std::strcmp(option, "-status") == 0 || std::strcmp(option, "-text") == 0 ||
              std::strcmp(option, "-print") == 0 ||
              (std::strcmp(option, "-date") == 0 && ReadCount(value, 999, number)) ||
              (std::strcmp(option, "-last") == 0 && ReadCount(value, 99999, number));
  if (!good) {
    Print_Usage_Message(&status);
    return status;
  }

  LOGFILE_TYPE log;
  std::string why;
  if (Open_Logfile_Explained(&log, argv[1], why) != 0) {
    std::printf("Unable to open log file %s: %s\n", argv[1], why.c_str());
    return 1;
  }
  if (argc == 2) status = Display_Whole_Logfile(log);
  else if (std::strcmp(option, "-date") == 0) status = Search_Date_in_Logfile(log, number);
  else if (std::strcmp(option, "-status") == 0) status = Search_Status_in_Logfile(log, value);
  else if (std::strcmp(option, "-text") == 0) status = Search_Text_in_Logfile(log, value);
  else if (std::strcmp(option, "-last") == 0) status = Display_Last_Records(log, number);
  else status = Copy_Logfile_to_Textfile(log, value);
  (void)Logfile_Close(&log);
  return status;
}
