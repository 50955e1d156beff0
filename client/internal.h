// Helpers shared by the client's cycle files.  Internal to client/ (tests
// excepted).

#ifndef VARNEK_CLIENT_INTERNAL_H
#define VARNEK_CLIENT_INTERNAL_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Notify/Notify.h"
#include "client/client.h"
#include "client/health.h"
#include "client/text.h"
#include "posix/posix.h"

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

// The active records of one data type in a comparison, filed by dataset
// (group and descriptor) once, so that a server item is offered straight to
// the records of its dataset rather than to every record in turn.
//
// An AREA check also changes a record of another dataset: its completeness
// flag follows every image offered (reset when the image is not its last
// item or is due, set again when the scan-line count reaches PER=).  Only a
// record whose flag is True and whose PER= is at most the image's count is
// left as it was, so Offered names every other record too.
//
// Call Build after the table is loaded, Offered for each server item (the
// numbers come in ascending order, as the table lists them), and Refile after
// checking a record, which a merge may have replaced by the file's record.
namespace client_internal {

class DatasetIndex {
 public:
  // Files the active records of `type` of `table`.
  void Build(ClientTable &table, int type);

  // The records an item of group/descriptor is offered to, ascending: those
  // of its dataset and, for AREA (`scan_line` the image's count), those whose
  // completeness flag the image may change.
  const std::vector<int> &Offered(std::string_view group, std::string_view descriptor, int scan_line);

  // Every active record of the type, ascending.
  const std::vector<int> &All() const { return numbers_; }

  // Files record n again as the table now holds it.
  void Refile(int n);

 private:
  struct Filed {
    int dataset = -1;  // index in members_
    std::int32_t percent = 0;   // AREA: PER=
    std::int32_t complete = 0;  // AREA: the completeness flag
  };
  int Dataset(std::string_view group, std::string_view descriptor);

  ClientTable *table_ = nullptr;
  bool area_ = false;
  std::vector<int> numbers_;
  std::vector<Filed> filed_;                      // by record number
  std::unordered_map<std::string, int> datasets_;  // "group\0descriptor" -> index
  std::vector<std::vector<int>> members_;          // by dataset, ascending
  std::vector<int> unsettled_;                     // AREA: flag not True, ascending
  std::vector<std::pair<std::int32_t, int>> by_percent_;  // AREA: (PER=, number), highest first
  std::vector<int> offered_;
};

}  // namespace client_internal

namespace client_internal {

// Test seam: called just before a changed record is merged back (after the
// cycle read it, before it writes it), so a test can change the record the
// way a concurrent command would.  Null in the programs.
extern void (*g_before_merge)(int record);

// Reads a version-1 availability text: two header integers, then one image
// a line; calls `image` with each line that matches its pattern and whose
// texts are plain words that fit their fields (the others are skipped, with
// a message at verbose level above 1).
void ReadV1Images(std::string_view text, const std::function<void(const CompareRec &)> &image);

// Whether an item's time stamp lies more than 24 hours after this
// machine's clock (tv::Now): such an item is not believed, and not taken.
[[nodiscard]] bool IsFutureStamp(std::int64_t stamp);

// Reads a marker file's text: `count` whole decimal numbers (digits only:
// no sign, no blank before) separated by single blanks, and an optional
// final line feed; nothing else.  false for any other text.
[[nodiscard]] bool ParseMarker(std::string_view text, std::int64_t *values, int count);

// The process number a marker's text names (one number, or a number and a
// start time), or 0 when it names none.
std::int64_t PidOf(std::string_view text);

// Who holds a marker file's lock.
enum class MarkerOwner {
  kNone,         // nobody: the file is stale, whatever it says
  kNamedHolder,  // the process the file names (values[0]) holds it
  kOtherHolder,  // a process holds it that the file does not name (or
                 // that cannot be seen from here): not ours to judge
};

// Result of Marker::Open for a name that is a link or not a regular file.
inline constexpr int kMarkerNotAFile = -1;

// A marker file of a running client process (VKCPid, VKBackGround): its
// process holds an exclusive whole-file lock on it for as long as it runs.
// Calling sequence for the process that runs: Create (or Open an existing
// one, then TakeOver and Rewrite it in place), keep the object for the
// whole run, Remove at the end.  For a process that only looks: Open, then
// Owner.  The lock lives on the one descriptor held here: the file is
// never opened a second time by the process that holds it.
class Marker {
 public:
  // Opens the existing file `name` (never through a link).  0;
  // kMarkerNotAFile for a link or anything but a regular file; or errno
  // (ENOENT when there is none).
  [[nodiscard]] int Open(const char *name);

  // Creates `name` locked and holding `content`.  0, EEXIST when it
  // exists, or errno.
  [[nodiscard]] int Create(const char *name, const std::string &content);

  // Takes the lock of the opened file (waiting for it when `wait`).  true
  // when it is held and the file still has its name.
  [[nodiscard]] bool TakeOver(bool wait);

  // Replaces the content of the held file in place.
  [[nodiscard]] bool Rewrite(const std::string &content);

  // Who holds the opened file's lock; `values` get the file's `count`
  // numbers when it is kNamedHolder.
  [[nodiscard]] MarkerOwner Owner(std::int64_t *values, int count) const;

  // Whether the file still has its name and names process `pid`.
  [[nodiscard]] bool StillNames(std::int64_t pid) const;

  // Removes the held file's name (when this process holds the lock and the
  // name is still this file's) and releases the lock.
  void Remove();

 private:
  std::string name_;
  posix::File file_;
  bool held_ = false;
};

// The background loop's wait between passes (VKNotify): the interval, or
// an announcement of a dataset the loop watches.  The brokers are listened
// to by the helper `vknotify listen`.  Calling sequence: Load once; before
// each wait, Watch the datasets of the active records; Wait.
class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;

  // Reads VKNotify.  false when there is none, or it is refused (said on
  // the error stream): the loop then only sleeps.
  [[nodiscard]] bool Load();

  // The datasets (group, descriptor) to be woken for: the helper is
  // started for them, or started anew when they changed (or when it ended,
  // a few seconds after).
  void Watch(const std::vector<std::pair<std::string, std::string>> &datasets);

  // Waits `milliseconds`, or less when the helper says an announcement of
  // a watched dataset came: true then.  Without a helper, the interval.
  [[nodiscard]] bool Wait(int milliseconds);

  // Each broker's state, for the health file.
  std::vector<health::BrokerHealth> Health() const;

 private:
  void Stop();
  bool Take();
  notify::ClientConfig config_;
  std::vector<health::BrokerHealth> brokers_;
  std::vector<std::string> watched_;
  posix::ChildOutput helper_;
  std::string pending_;  // a line the helper has not ended yet
  std::chrono::steady_clock::time_point next_start_{};
};

// The next position of a ring BegWS..EndWS (or any first..last ring) after
// `at`: at + 1, or `first` past `last`.
inline std::int32_t NextInRing(std::int32_t at, std::int32_t first, std::int32_t last) {
  return at + 1 > last ? first : at + 1;
}

}  // namespace client_internal

#endif  // VARNEK_CLIENT_INTERNAL_H
