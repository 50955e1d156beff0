// Helpers shared by the server's command files.  Internal to server/.

#ifndef VARNEK_SERVER_INTERNAL_H
#define VARNEK_SERVER_INTERNAL_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/server.h"

namespace server_internal {

// Copies a value into a string field (CopyField).  A value that does not
// fit prints "<who>: <keyword> value "<value>" is longer than <capacity>
// characters.", one holding a control character "<who>: <keyword> value
// "<value>" contains a control character." (the value shown with its control
// characters escaped); both return false with the field unchanged.
template <std::size_t N>
[[nodiscard]] bool SetValue(char (&field)[N], std::string_view value, const char *who, const char *keyword) {
  bool control = HasControlCharacter(value);
  if (!control && CopyField(field, value)) return true;
  std::string shown = Visible(value);
  if (control)
    std::printf("%s: %s value \"%s\" contains a control character.\n", who, keyword, shown.c_str());
  else
    std::printf("%s: %s value \"%s\" is longer than %zu characters.\n", who, keyword, shown.c_str(), N - 1);
  return false;
}

// A directory with "/" appended unless it already ends in one.
std::string WithSlash(std::string_view dir);

// A file name argument split at its last "/": `dir` up to and including
// it, `name` after it; no "/" leaves `dir` empty.
void SplitPath(std::string_view path, std::string &dir, std::string &name);

// What is wrong with a TEXT file name argument: it must be an absolute path
// or a name without directory, and must name a file (an empty name, or one
// ending in "/", would be stored as an empty file name, which the
// availability file cannot carry).
enum class FileNameProblem { kNone, kRelativeWithDirectory, kNoFileName };
FileNameProblem CheckFileName(std::string_view path);

// Refuses record number 0 (the argument fetches accept 0 to 200).  Prints
// "<who>: Invalid record number 0; records are numbered 1 to 200." and
// returns true for 0.
[[nodiscard]] bool RefuseRecordZero(int recNum, const char *who);

// Brings records up to date from their data files for INVOKE (see
// readServerDataFile).  The data file named by a record is read the first
// time and read again only when a record names another file, so one object
// serves every record that one command record matches.  Warnings are
// printed for each record.
class ServerDataFile {
 public:
  ServerDataFile();
  ~ServerDataFile();
  ServerDataFile(const ServerDataFile &) = delete;
  ServerDataFile &operator=(const ServerDataFile &) = delete;
  void Update(ServerRec *rec);

 private:
  struct Facts;
  std::unique_ptr<Facts> facts_;
};

// The availability file VKServerFile of the working directory, open for
// the life of the object and closed on every path.
//
// kRead opens it for reading only (the listings; a file the user may only
// read is still listed).  kUpdate opens it for reading and writing and
// first checks its shape (checkServerFileShape): records are found by
// offset, so a truncated or shifted file would be written over its line
// feeds.
//
// kUpdateHeld is kUpdate with the exclusive lock taken at the open and
// held for the object's life (ServerFileWriteLock, `lock()`), the shape
// checked under it: a command's whole scan and its updates in one lock.
//
// When it cannot be used, `fp` is null and `status` says why, with the one
// message of that failure printed: kServerNoFile after
// "Cannot open server file."; kServerNotStored after "Cannot change
// VKServerFile: it is damaged (<why>); run VKS INSTALL to make a new one."
class AvailabilityFile {
 public:
  enum Mode { kRead, kUpdate, kUpdateHeld };
  explicit AvailabilityFile(Mode mode);
  ~AvailabilityFile();
  AvailabilityFile(const AvailabilityFile &) = delete;
  AvailabilityFile &operator=(const AvailabilityFile &) = delete;
  std::FILE *fp() const { return fp_; }
  int status() const { return status_; }
  // The lock of kUpdateHeld (while fp() is not null).
  const ServerFileWriteLock &lock() const { return *lock_; }

 private:
  std::FILE *fp_ = nullptr;
  std::optional<ServerFileWriteLock> lock_;
  int status_ = kServerOk;
};

// Whether a slot is in use: Active or Suspend.
inline bool InUse(const ServerRec &rec) { return rec.Status == Active || rec.Status == Suspend; }

}  // namespace server_internal

#endif  // VARNEK_SERVER_INTERNAL_H
