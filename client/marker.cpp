// The marker files of running client processes: the cycle lock VKCPid and
// the background marker VKBackGround.  Each holds the process number of
// its process (and, for the cycle, its start time), and that process holds
// an exclusive whole-file lock on it for as long as it runs.  A process
// number written in a file proves nothing once its writer is gone (numbers
// are reused); the lock does: the kernel drops it when the holder ends, and
// names the holder when asked.  So a marker's process is judged, or
// signalled, only when the kernel says it holds the lock and the file
// names that same process.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/internal.h"
#include "posix/posix.h"

namespace client_internal {

bool ParseMarker(std::string_view text, std::int64_t *values, int count) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != ' ') return false;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + digits, values[i]);
    if (ec != std::errc() || end != text.data() + digits) return false;
    text.remove_prefix(digits);
  }
  return text.empty();
}

MarkerOwner Marker::Owner(std::int64_t *values, int count) const {
  if (!file_.is_open()) return MarkerOwner::kNone;
  pid_t holder = posix::WholeFileLockHolder(file_.fd());
  if (holder == posix::kNoHolder) return MarkerOwner::kNone;
  // A holder the kernel cannot name to us (another PID namespace), or an
  // error asking, is still a holder: some process runs, just not one we
  // may judge.
  char text[64];
  ssize_t n = posix::ReadAt(file_.fd(), 0, text, sizeof text);
  bool named = n > 0 && ParseMarker(std::string_view(text, static_cast<std::size_t>(n)), values, count);
  if (holder > 1 && named && values[0] == holder) return MarkerOwner::kNamedHolder;
  return MarkerOwner::kOtherHolder;
}

int Marker::Open(const char *name) {
  name_ = name;
  held_ = false;
  int rc = posix::OpenRegularNoFollow(name, O_RDWR, file_);
  if (rc == ELOOP || rc == posix::kNotRegularFile) return kMarkerNotAFile;
  return rc;
}

int Marker::Create(const char *name, const std::string &content) {
  name_ = name;
  held_ = false;
  int rc = posix::CreateLockedFile(name, 0666, content, file_);
  held_ = rc == 0;
  return rc;
}

bool Marker::TakeOver(bool wait) {
  if (!file_.is_open()) return false;
  int rc = wait ? posix::LockWholeFile(file_.fd(), posix::LockKind::kExclusive)
                : posix::TryLockWholeFile(file_.fd(), posix::LockKind::kExclusive);
  // Still the file of that name?  Another process may have removed it (and
  // another created a new one) while this one waited for the old one.
  held_ = rc == 0;
  return held_ && posix::IsFileAt(file_.fd(), name_.c_str());
}

bool Marker::Rewrite(const std::string &content) {
  // In place: the lock belongs to this inode, and a new file under the
  // name would not carry it.
  return posix::Resize(file_.fd(), 0) && posix::WriteAt(file_.fd(), 0, content.data(), content.size());
}

bool Marker::StillNames(std::int64_t pid) const {
  if (!file_.is_open() || !posix::IsFileAt(file_.fd(), name_.c_str())) return false;
  char text[64];
  ssize_t n = posix::ReadAt(file_.fd(), 0, text, sizeof text);
  return n > 0 && PidOf(std::string_view(text, static_cast<std::size_t>(n))) == pid;
}

void Marker::Remove() {
  // Only the file this process holds: a name that now belongs to another
  // file is left to its owner.
  if (held_ && posix::IsFileAt(file_.fd(), name_.c_str())) (void)posix::Unlink(name_.c_str());
  held_ = false;
  (void)file_.Close();
}

std::int64_t PidOf(std::string_view text) {
  std::int64_t values[2] = {0, 0};
  if (ParseMarker(text, values, 1) || ParseMarker(text, values, 2)) return values[0];
  return 0;
}

}  // namespace client_internal
