// Helpers shared by the client's cycle files.  Internal to client/ (tests
// excepted).

#ifndef VARNEK_CLIENT_INTERNAL_H
#define VARNEK_CLIENT_INTERNAL_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client.h"

// The client records of one comparison.  Load reads records 1..200 in one
// snapshot; the checks work on the copies held here; Merge writes back what
// a check changed, at once and as a merge: under the record's write lock the
// record is read again and only the changed fields are applied, so that a
// SET, DELETE or RESET made meanwhile by another process is never undone.
// The copy held here then becomes the record as written, so a record looked
// at later in the pass (a dominant record) sees the change.
class ClientTable {
 public:
  explicit ClientTable(DBase *file) : file_(file) {}

  // Reads the records.  false when the file cannot be read.
  [[nodiscard]] bool Load();

  // Record n (1..200; a record past the end of the file reads empty), or
  // null for another number.
  ClientRec *Record(int n) {
    return n >= 1 && n <= kClientRecords && !records_.empty() ? &records_[static_cast<std::size_t>(n)] : nullptr;
  }

  // The numbers of the records that are Active and of `type`, in order.
  const std::vector<int> &Active(int type) const { return active_[type >= 0 && type <= TEXT ? type : 0]; }

  // Writes back the fields `changed` of record n.  The merge is skipped (and
  // the copy replaced by the file's record) when the record in the file is
  // no longer the one examined: another data type, group or descriptor.
  // kClientOk, or kClientFailed after the write failure's report.
  [[nodiscard]] int Merge(int n, unsigned changed);

 private:
  DBase *file_;
  std::vector<ClientRec> records_;
  std::vector<int> active_[TEXT + 1];
};

namespace client_internal {

// Test seam: called just before a changed record is merged back (after the
// cycle read it, before it writes it), so a test can change the record the
// way a concurrent command would.  Null in the programs.
extern void (*g_before_merge)(int record);

// A text from a server that may go into a host command line: 1 to `room`
// letters, digits and "_-." only (no blank, quote, "=", ";" or control
// character can change the shape of a command).
[[nodiscard]] bool IsPlainWord(std::string_view text, std::size_t room);

// Reads a version-1 availability text: two header integers, then one image
// a line; calls `image` with each line that matches its pattern and whose
// texts are plain words that fit their fields (the others are skipped, with
// a message at verbose level above 1).
void ReadV1Images(std::string_view text, const std::function<void(const CompareRec &)> &image);

// A word for /bin/sh: quoted in single quotes, a quote inside written '\''.
std::string ShellQuote(std::string_view text);

// The next position of a ring BegWS..EndWS (or any first..last ring) after
// `at`: at + 1, or `first` past `last`.
inline std::int32_t NextInRing(std::int32_t at, std::int32_t first, std::int32_t last) {
  return at + 1 > last ? first : at + 1;
}

}  // namespace client_internal

#endif  // VARNEK_CLIENT_INTERNAL_H
