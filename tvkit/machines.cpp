// Where data lives: machines, their dataset registries, routes and the
// address map, a machine's items (a directory machine's inside its data
// directory, an ftp machine's fetched whole), copies and scratch
// directories.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/data_files.h"
#include "posix/posix.h"
#include "tvkit/tvkit.h"
#include "vocab/field_reader.h"

namespace tvkit {
namespace {

// The lines of a text, split at line feeds (a last line without one
// counts).
std::vector<std::string> SplitLines(const std::string &text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The lines of a small text file.  0, ENOENT when there is no such file, or
// another errno-style value when it cannot be read whole (a file past
// kMostTableBytes counts as unreadable: a registry rewritten from a part of
// it would lose the rest).
int ReadLines(const std::string &path, std::vector<std::string> &lines) {
  lines.clear();
  std::string text;
  if (int rc = ReadSmallFile(path, kMostTableBytes, text); rc != 0) return rc;
  lines = SplitLines(text);
  return 0;
}

std::string Trim(std::string_view text) {
  std::size_t a = text.find_first_not_of(" \t\r"), b = text.find_last_not_of(" \t\r");
  return a == std::string_view::npos ? "" : std::string(text.substr(a, b - a + 1));
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < line.size();) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > at) out.emplace_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

// The value of KEY=value on a line of a table (blanks around both are
// dropped; the first line wins; lines beginning with "#" are notes).
// 1 found, 0 not there (or no table when `missing_ok`), -1 with `why`.
int Lookup(const std::string &path, std::string_view key, bool missing_ok, std::string &value, std::string &why) {
  std::vector<std::string> lines;
  int rc = ReadLines(path, lines);
  if (rc == ENOENT && missing_ok) return 0;
  if (rc != 0) {
    why = path + ": " + posix::ErrorText(rc);
    return -1;
  }
  for (const std::string &line : lines) {
    std::string text = Trim(line);
    std::size_t eq = text.find('=');
    if (text.empty() || text[0] == '#' || eq == std::string::npos || Trim(text.substr(0, eq)) != key) continue;
    value = Trim(text.substr(eq + 1));
    return 1;
  }
  return 0;
}

// A whole number of one to nine digits.
bool ParseInt(const std::string &text, int &value) {
  constexpr field::NumberForm kForm{false, field::Sign::kNone, 0, 9};
  return field::WholeNumber(text, kForm, 0, 999999999, value) == field::Read::kOk;
}

// Characters of names and paths in the tables: letters, digits and _-./
bool PlainPath(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.' || c == '/'))
      return false;
  return true;
}

// A dataset's place inside its machine's data directory: relative, and no
// part of it "." or "..", so that no registry line reaches a file outside.
bool SafeWhere(std::string_view where) {
  if (!PlainPath(where) || where.front() == '/') return false;
  for (std::size_t at = 0; at <= where.size();) {
    std::size_t end = where.find('/', at);
    if (end == std::string_view::npos) end = where.size();
    std::string_view part = where.substr(at, end - at);
    if (part == ".." || (part == "." && where != ".") || (part.empty() && end != where.size())) return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

bool SafeName(std::string_view name) {
  std::size_t slash = name.find('/');
  return PlainPath(name) && slash != std::string_view::npos && slash > 0 && slash + 1 < name.size() &&
         name.find('/', slash + 1) == std::string_view::npos && name.substr(slash + 1) != "." &&
         name.substr(slash + 1) != "..";
}

namespace {

bool ParseDataset(const std::string &line, Dataset &d) {
  std::vector<std::string> w = Words(line);
  if (w.size() != 5 || w[0].find('/') == std::string::npos || !ParseInt(w[2], d.first) || !ParseInt(w[3], d.last))
    return false;
  if (w[1] != "AREA" && w[1] != "MD" && w[1] != "GRID" && w[1] != "TEXT") return false;
  if (!SafeName(w[0]) || !SafeWhere(w[4])) return false;
  // Positions map to file numbers 1..9999 (a text dataset is one file).
  if (w[1] != "TEXT" && (d.first < 1 || d.last < d.first || d.last > 9999)) return false;
  d.name = w[0];
  d.type = w[1];
  d.where = w[4];
  return true;
}

// Writes the local registry whole from its lines.
bool WriteRegistry(const std::vector<std::string> &lines, std::string &why) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  std::string path = LocalData() + "/DATASETS.TXT";
  int rc = posix::ReplaceFile(path.c_str(), 0666, [&](int fd) { return posix::WriteAll(fd, text.data(), text.size()); });
  if (rc == 0) return true;
  why = path + ": " + posix::ErrorText(rc);
  return false;
}

}  // namespace

std::string LocalData() {
  const char *home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/tavrin/data";
}

bool MachineOf(std::string_view group, Machine &machine, std::string &why) {
  machine = Machine{};
  const char *home = std::getenv("HOME");
  std::string local = home ? home : ".";
  std::string address, where;
  const std::string table = LocalData() + "/TVTABLE.TXT", machines = LocalData() + "/MACHINES.TXT";
  int routed = group == "LOC" ? 0 : Lookup(table, "QOLA_ROUTE_" + std::string(group), true, address, why);
  if (routed < 0) return false;
  if (routed == 0) {
    machine.root = local;
    return true;
  }
  if (address.empty()) {
    why = table + ": the route of group " + std::string(group) + " names no address";
    return false;
  }
  int known = Lookup(machines, address, false, where, why);
  if (known < 0) {
    why += " (wanted for the address " + address + " of group " + std::string(group) + ")";
    return false;
  }
  if (known == 0 || where.empty()) {
    why = "no machine is known by the address " + address + " of group " + std::string(group) + " in " + machines;
    return false;
  }
  if (where.rfind("ftp://", 0) == 0 && where.size() > 6 && where[6] != '/' && where[6] != ':') {
    machine.ftp_url = where;
  } else if (where[0] == '/') {
    machine.root = where;
  } else {
    why = machines + ": machine " + address + " is " + where + ", neither a directory (from /) nor ftp://host/path";
    return false;
  }
  return true;
}

bool FindDataset(const Machine &machine, std::string_view name, Dataset &dataset, std::string &why) {
  bool missing = false;
  return FindDataset(machine, name, dataset, why, missing);
}

bool FindDataset(const Machine &machine, std::string_view name, Dataset &dataset, std::string &why, bool &missing) {
  missing = false;
  // The registry of an ftp machine comes whole or not at all; a part of it
  // could lack the dataset's line.
  const bool fetched = !machine.ftp_url.empty();
  const std::string registry =
      fetched ? machine.ftp_url + "/tavrin/data/DATASETS.TXT" : machine.root + "/tavrin/data/DATASETS.TXT";
  std::vector<std::string> lines;
  if (fetched) {
    std::string text;
    if (!FtpFetch(machine, "DATASETS.TXT", kMostTableBytes,
                  [&](const char *data, std::size_t n) {
                    text.append(data, n);
                    return true;
                  },
                  why))
      return false;
    lines = SplitLines(text);
  } else if (int rc = ReadLines(registry, lines); rc != 0) {
    why = "no dataset registry " + registry + ": " + posix::ErrorText(rc);
    return false;
  }
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::vector<std::string> w = Words(lines[n]);
    if (w.empty() || w[0] != name) continue;
    if (!ParseDataset(lines[n], dataset)) {
      why = registry + " line " + std::to_string(n + 1) + ": not GROUP/DESCRIPTOR AREA|MD|GRID|TEXT first last where";
      return false;
    }
    return true;
  }
  why = "no dataset " + std::string(name) + " in " + registry;
  missing = true;
  return false;
}

Scratch::~Scratch() {
  if (path_.empty()) return;
  // Only the kit puts files here, one level deep: names first, then the
  // removals, so that the reading never races its own changes.
  std::vector<std::string> names;
  if (DIR *dir = opendir(path_.c_str())) {
    while (const dirent *entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    closedir(dir);
  }
  for (const std::string &name : names) (void)posix::Unlink((path_ + "/" + name).c_str());
  (void)posix::RemoveDirectory(path_.c_str());
}

const std::string &Scratch::Path() {
  if (!tried_) {
    tried_ = true;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/tvkit-XXXXXX";
    if (posix::MakeTemporaryDirectory(pattern) == 0) path_ = pattern;
  }
  return path_;
}

namespace {

// `path` resolved, links followed, when it lies inside the directory
// `data` (resolved too); false with `why` otherwise (also when either
// cannot be resolved: a file that is not there, say).
bool ResolveInside(const std::string &data, const std::string &path, std::string &resolved, std::string &why) {
  char *dir = realpath(data.c_str(), nullptr);
  int error = errno;
  char *file = dir ? realpath(path.c_str(), nullptr) : nullptr;
  if (dir && !file) error = errno;
  bool inside = false;
  if (!dir || !file) {
    why = (dir ? path : data) + ": " + posix::ErrorText(error);
  } else {
    std::string prefix = dir;
    if (prefix.back() != '/') prefix += '/';
    std::string target = file;
    inside = target.size() > prefix.size() && target.compare(0, prefix.size(), prefix) == 0;
    if (inside) resolved = target;
    else why = path + " leads outside the data directory " + data + " (to " + target + ")";
  }
  std::free(file);
  std::free(dir);
  return inside;
}

constexpr std::int32_t kAreaFormat = 4;  // an AREA directory's format word in this machine's byte order

bool AreaWords(const std::int32_t (&words)[datafile::kAreaDirectoryWords]) {
  return words[datafile::kAreaWordValid] == 0 && words[datafile::kAreaWordFormat] == kAreaFormat;
}

}  // namespace

bool FetchFile(const Machine &machine, const std::string &relative, Scratch &scratch, std::string &local,
               std::string &why, std::uint64_t most_bytes) {
  if (relative.empty()) {
    why = "no file named";
    return false;
  }
  if (machine.ftp_url.empty()) {
    // A link in the tree may point anywhere; what the machine serves is
    // what lies inside its data directory.
    const std::string data = machine.root + "/tavrin/data";
    if (!ResolveInside(data, relative.front() == '/' ? relative : data + "/" + relative, local, why)) return false;
    struct stat st;
    if (most_bytes != kNoByteLimit && stat(local.c_str(), &st) == 0 &&
        static_cast<std::uint64_t>(st.st_size) > most_bytes) {
      why = local + " holds more than " + std::to_string(most_bytes) + " bytes";
      return false;
    }
    return true;
  }
  const std::string &dir = scratch.Path();
  if (dir.empty()) {
    why = "no scratch directory for " + relative + ": " + posix::ErrorText(errno);
    return false;
  }
  local = dir + "/" + relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
  (void)posix::Unlink(local.c_str());
  posix::File out;
  if (int rc = posix::CreateNew(local.c_str(), 0600, out); rc != 0) {
    why = local + ": " + posix::ErrorText(rc);
    return false;
  }
  int write_error = 0;
  bool fetched = FtpFetch(machine, relative, most_bytes,
                          [&](const char *data, std::size_t n) {
                            if (posix::WriteAll(out.fd(), data, n)) return true;
                            write_error = errno;
                            return false;
                          },
                          why);
  if (int rc = out.Close(); fetched && rc != 0) write_error = rc, fetched = false;
  if (write_error != 0) why = local + ": " + posix::ErrorText(write_error);
  if (!fetched) (void)posix::Unlink(local.c_str());
  return fetched;
}

bool ItemDirectory(const Machine &machine, const std::string &relative, std::int32_t (&words)[datafile::kAreaDirectoryWords]) {
  std::string why;
  if (machine.ftp_url.empty()) {
    Scratch unused;
    std::string local;
    return FetchFile(machine, relative, unused, local, why) && AreaDirectory(local, words);
  }
  // The whole file comes (a transfer stopped early would cost the login);
  // only its directory is kept.
  char head[sizeof words];
  std::size_t have = 0;
  bool fetched = FtpFetch(machine, relative, kNoByteLimit,
                          [&](const char *data, std::size_t n) {
                            std::size_t take = std::min(n, sizeof head - have);
                            std::memcpy(head + have, data, take);
                            have += take;
                            return true;
                          },
                          why);
  if (!fetched || have < sizeof head) return false;
  std::memcpy(words, head, sizeof words);
  return AreaWords(words);
}

std::string ItemFile(const Dataset &d, int position) {
  if (d.type == "TEXT") return d.where;
  int number = d.first + position - 1;
  if (position < 1 || number > d.last || number < 1 || number > 9999) return "";
  char name[16];
  std::snprintf(name, sizeof name, "%s%04d", d.type == "AREA" ? "AREA" : d.type == "MD" ? "MDXX" : "GRID", number);
  return d.where + "/" + name;
}

namespace {

// The local registry's lines without the dataset `name`; false with `why`
// when the registry exists but cannot be read (rewriting it then would lose
// its datasets).  `found` tells whether `name` was there.
bool LinesWithout(std::string_view name, std::vector<std::string> &kept, bool &found, std::string &why) {
  std::vector<std::string> lines;
  const std::string path = LocalData() + "/DATASETS.TXT";
  if (int rc = ReadLines(path, lines); rc != 0 && rc != ENOENT) {
    why = path + ": " + posix::ErrorText(rc);
    return false;
  }
  found = false;
  for (const std::string &line : lines) {
    std::vector<std::string> w = Words(line);
    if (!w.empty() && w[0] == name) found = true;
    else kept.push_back(line);
  }
  return true;
}

}  // namespace

bool RegisterLocal(const Dataset &dataset, std::string &why) {
  std::vector<std::string> kept;
  bool found = false;
  if (!LinesWithout(dataset.name, kept, found, why)) return false;
  kept.push_back(dataset.name + " " + dataset.type + " " + std::to_string(dataset.first) + " " +
                 std::to_string(dataset.last) + " " + dataset.where);
  // A fresh account has no data directory yet.
  const char *home = std::getenv("HOME");
  (void)posix::MakeDirectory((std::string(home ? home : ".") + "/tavrin").c_str(), 0755);
  (void)posix::MakeDirectory(LocalData().c_str(), 0755);
  return WriteRegistry(kept, why);
}

bool UnregisterLocal(std::string_view name, std::string &why) {
  std::vector<std::string> kept;
  bool found = false;
  if (!LinesWithout(name, kept, found, why)) return false;
  if (!found) {
    why = "no dataset " + std::string(name) + " in " + LocalData() + "/DATASETS.TXT";
    return false;
  }
  return WriteRegistry(kept, why);
}

int ReadItem(std::string_view text, bool all, std::string &name, int &position) {
  if (SplitItem(text, name, position)) return position == -1 && !all ? kUsage : kDone;
  // A name with a number where the position goes: a position no dataset has.
  const std::size_t slash = text.find('/'), dot = slash == std::string_view::npos ? slash : text.find('.', slash);
  int unused = 0;
  const bool numbered = slash != 0 && dot != std::string_view::npos && dot > slash + 1 &&
                        ReadWhole(text.substr(dot + 1), 1, 999999999, unused) == kCouldNot;
  return numbered ? kCouldNot : kUsage;
}

bool SplitItem(std::string_view text, std::string &name, int &position) {
  position = 0;
  std::size_t slash = text.find('/');
  if (slash == std::string_view::npos || slash == 0) return false;
  std::size_t dot = text.find('.', slash);
  name = std::string(text.substr(0, dot));
  if (dot == std::string_view::npos) return name.size() > slash + 1;
  std::string tail(text.substr(dot + 1));
  if (tail == "ALL") {
    position = -1;
    return true;
  }
  return ParseInt(tail, position) && position > 0;
}

void MakeParentDirectories(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return;
  for (std::size_t at = 1; at <= slash; ++at)
    if (at == slash || path[at] == '/') (void)posix::MakeDirectory(path.substr(0, at).c_str(), 0755);
}

int ReadSmallFile(const std::string &path, std::size_t most_bytes, std::string &text) {
  text.clear();
  posix::File file;
  if (int rc = posix::OpenRegular(path.c_str(), O_RDONLY, file); rc != 0) return rc;
  char buffer[65536];
  for (ssize_t n; (n = posix::ReadSome(file.fd(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) return errno != 0 ? errno : EIO;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > most_bytes) return EFBIG;
  }
  return 0;
}

bool CopyFile(const std::string &from, const std::string &to, std::string &why, std::uint64_t most_bytes) {
  posix::File in;
  if (int rc = posix::OpenRegular(from.c_str(), O_RDONLY, in); rc != 0) {
    why = from + ": " + posix::ErrorText(rc);
    return false;
  }
  MakeParentDirectories(to);
  // A buffer at a time; a read that fails or a file past the limit leaves
  // the target as it was (a part of the file would be a damaged copy).
  int read_error = 0;
  bool too_large = false;
  std::vector<char> buffer(65536);
  int rc = posix::ReplaceFile(to.c_str(), 0666, [&](int fd) {
    std::uint64_t copied = 0;
    for (ssize_t n; (n = posix::ReadSome(in.fd(), buffer.data(), buffer.size())) != 0;) {
      if (n < 0) {
        read_error = errno;
        return false;
      }
      copied += static_cast<std::uint64_t>(n);
      if (copied > most_bytes) {
        too_large = true;
        errno = EFBIG;
        return false;
      }
      if (!posix::WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) return false;
    }
    return true;
  });
  if (rc == 0) return true;
  if (too_large) why = from + " holds more than " + std::to_string(most_bytes) + " bytes";
  else if (read_error != 0) why = from + ": " + posix::ErrorText(read_error);
  else why = to + ": " + posix::ErrorText(rc);
  return false;
}

bool AreaDirectory(const std::string &path, std::int32_t (&words)[datafile::kAreaDirectoryWords]) {
  posix::File file;
  return posix::OpenRegular(path.c_str(), O_RDONLY, file) == 0 &&
         posix::ReadAt(file.fd(), 0, words, sizeof words) == static_cast<ssize_t>(sizeof words) && AreaWords(words);
}

int NewestPosition(const Machine &machine, const Dataset &d) {
  if (machine.ftp_url.empty()) {
    std::vector<int> held = HeldPositions(d, machine.root + "/tavrin/data");
    return held.empty() ? 0 : held.back();
  }
  // An ftp machine's files by the times its listing gives; a server that
  // gives no listing leaves the last position.
  std::vector<std::pair<int, std::string>> held;
  if (!ListedPositions(machine, d, held)) return d.last - d.first + 1;
  int newest = 0;
  std::string newest_time;
  for (const auto &[position, stamp] : held)
    if (stamp >= newest_time) newest_time = stamp, newest = position;
  return newest;
}

}  // namespace tvkit
