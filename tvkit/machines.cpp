// Where data lives: machines, their dataset registries, routes and the
// address map, and fetching a machine's file (locally or through ftp).

#include <fcntl.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "posix/posix.h"
#include "tvkit/tvkit.h"

namespace tvkit {
namespace {

constexpr std::size_t kMostTableBytes = 1u << 20;

// The lines of a small text file.  0, ENOENT when there is no such file, or
// another errno-style value when it cannot be read whole (a file past
// kMostTableBytes counts as unreadable: a registry rewritten from a part of
// it would lose the rest).
int ReadLines(const std::string &path, std::vector<std::string> &lines) {
  lines.clear();
  posix::File file;
  if (int rc = posix::OpenRegular(path.c_str(), O_RDONLY, file); rc != 0) return rc;
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = posix::ReadSome(file.fd(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) return EIO;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMostTableBytes) return EFBIG;
  }
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
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

bool ParseInt(const std::string &text, int &value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
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
  std::string local;
  char scratch[] = "/tmp/tvkit-XXXXXX";
  bool fetched = !machine.ftp_url.empty();
  if (fetched && !mkdtemp(scratch)) {
    why = "no scratch directory";
    return false;
  }
  if (!FetchFile(machine, "DATASETS.TXT", scratch, local, why)) return false;
  std::vector<std::string> lines;
  int rc = ReadLines(local, lines);
  if (fetched) {
    (void)posix::Unlink(local.c_str());
    ::rmdir(scratch);
  }
  const std::string registry = fetched ? machine.ftp_url + "/tavrin/data/DATASETS.TXT" : local;
  if (rc != 0) {
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
  return false;
}

namespace {

// Where an ftp machine's files are: its host and port as the ftp client's
// words, and the path from the account's login directory.
struct FtpPlace {
  std::string client;  // "ftp 'host' ['port']"
  std::string base;    // "" or "path/"
};

std::string Quote(const std::string &s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

FtpPlace FtpPlaceOf(const Machine &machine) {
  std::string rest = machine.ftp_url.substr(6);
  std::size_t slash = rest.find('/');
  std::string host = rest.substr(0, slash), path = slash == std::string::npos ? "" : rest.substr(slash);
  std::string port;
  if (std::size_t colon = host.find(':'); colon != std::string::npos) port = host.substr(colon + 1), host.resize(colon);
  // The URL's path leads from the account's login directory (ftp://host/ is
  // the login directory itself), as the client's scripts fetch
  // ./tavrin/data/...; a name from the root would miss the account's files
  // on any server whose accounts do not start at its root.  A registry's
  // absolute file name stays absolute.
  FtpPlace place;
  std::size_t from = path.find_first_not_of('/');
  place.base = from == std::string::npos ? "" : path.substr(from);
  if (!place.base.empty() && place.base.back() != '/') place.base += '/';
  place.client = "ftp " + Quote(host) + (port.empty() ? "" : " " + Quote(port));
  return place;
}

// The modification times (YYYYMMDDHHMMSS, UTC) of the files of an ftp
// machine's directory `relative` (to its data directory), from the
// server's machine-readable listing; false when it gives none.
bool RemoteTimes(const Machine &machine, const std::string &relative, std::vector<std::pair<std::string, std::string>> &times) {
  FtpPlace place = FtpPlaceOf(machine);
  std::string dir = relative.front() == '/' ? relative : place.base + "tavrin/data/" + relative;
  std::string command = "printf 'mlsd %s\\nbye\\n' " + Quote(dir) + " | " + place.client + " 2>/dev/null";
  std::string out;
  int status = 0;
  if (posix::RunAndRead(command.c_str(), kMostTableBytes, 0, out, &status) != 0 || status != 0) return false;
  // Lines "fact=value;fact=value;... name".
  for (std::size_t at = 0; at < out.size();) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t blank = line.find("; ");
    std::size_t modify = line.find("modify=");
    if (blank == std::string::npos || modify == std::string::npos || modify > blank || line.size() < modify + 21) continue;
    std::string stamp = line.substr(modify + 7, 14);
    if (stamp.find_first_not_of("0123456789") != std::string::npos) continue;
    times.emplace_back(line.substr(blank + 2), stamp);
  }
  return !times.empty();
}

}  // namespace

bool FetchFile(const Machine &machine, const std::string &relative, const std::string &scratch, std::string &local,
               std::string &why) {
  if (relative.empty()) {
    why = "no file named";
    return false;
  }
  if (machine.ftp_url.empty()) {
    local = relative.front() == '/' ? relative : machine.root + "/tavrin/data/" + relative;
    return true;
  }
  // ftp://host[:port]/path: fetched with the system's ftp client, which
  // logs in with the account of $HOME/.netrc.
  FtpPlace place = FtpPlaceOf(machine);
  std::string remote = relative.front() == '/' ? relative : place.base + "tavrin/data/" + relative;
  local = scratch + "/" + relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
  std::string command = "printf 'binary\\nget %s %s\\nbye\\n' " + Quote(remote) + " " + Quote(local) + " | " +
                        place.client + " >/dev/null 2>&1";
  int status = posix::RunShell(command.c_str());
  struct stat st;
  if (status != 0 || stat(local.c_str(), &st) != 0) {
    why = "cannot fetch " + remote + " from " + machine.ftp_url;
    return false;
  }
  return true;
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
  ::mkdir((std::string(home ? home : ".") + "/tavrin").c_str(), 0755);
  ::mkdir(LocalData().c_str(), 0755);
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
    if (at == slash || path[at] == '/') ::mkdir(path.substr(0, at).c_str(), 0755);
}

bool CopyFile(const std::string &from, const std::string &to, std::string &why) {
  posix::File in;
  if (int rc = posix::OpenRegular(from.c_str(), O_RDONLY, in); rc != 0) {
    why = from + ": " + posix::ErrorText(rc);
    return false;
  }
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = posix::ReadSome(in.fd(), buffer, sizeof buffer)) != 0;) {
    if (n < 0) {  // a part of the file would be a damaged copy
      why = from + ": " + posix::ErrorText(errno);
      return false;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  MakeParentDirectories(to);
  int rc = posix::ReplaceFile(to.c_str(), 0666, [&](int fd) { return posix::WriteAll(fd, bytes.data(), bytes.size()); });
  if (rc == 0) return true;
  why = to + ": " + posix::ErrorText(rc);
  return false;
}

bool AreaDirectory(const std::string &path, std::int32_t (&words)[64]) {
  posix::File file;
  return posix::OpenRegular(path.c_str(), O_RDONLY, file) == 0 &&
         posix::ReadAt(file.fd(), 0, words, sizeof words) == static_cast<ssize_t>(sizeof words) && words[0] == 0;
}

int NewestPosition(const Machine &machine, const Dataset &d) {
  if (machine.ftp_url.empty()) {
    std::vector<int> held = HeldPositions(d, machine.root + "/tavrin/data");
    return held.empty() ? 0 : held.back();
  }
  // An ftp machine's files by the times its listing gives; a server that
  // gives no listing leaves the last position.
  std::vector<std::pair<std::string, std::string>> times;
  if (!RemoteTimes(machine, d.where, times)) return d.last - d.first + 1;
  int newest = 0;
  std::string newest_time;
  for (int p = 1; p <= d.last - d.first + 1; ++p) {
    std::string file = ItemFile(d, p);
    std::string name = file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1);
    for (const auto &[listed, stamp] : times)
      if (listed == name && stamp >= newest_time) newest_time = stamp, newest = p;
  }
  return newest;
}

}  // namespace tvkit
