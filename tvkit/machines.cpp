// Where data lives: machines, their dataset registries, routes and the
// address map, and fetching a machine's file (locally or through ftp).

#include <fcntl.h>
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

// The lines of a small text file (its first megabyte); false when it
// cannot be read.
bool ReadLines(const std::string &path, std::vector<std::string> &lines) {
  lines.clear();
  posix::File file;
  if (posix::OpenRegular(path.c_str(), O_RDONLY, file) != 0) return false;
  std::string text(kMostTableBytes, '\0');
  ssize_t n = posix::ReadSome(file.fd(), text.data(), text.size());
  if (n < 0) return false;
  text.resize(static_cast<std::size_t>(n));
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return true;
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

// The value of KEY=value on a line of a table (first line wins), or "".
std::string Lookup(const std::string &path, std::string_view key) {
  std::vector<std::string> lines;
  if (!ReadLines(path, lines)) return "";
  for (const std::string &line : lines) {
    std::size_t eq = line.find('=');
    if (eq != std::string::npos && std::string_view(line).substr(0, eq) == key) return line.substr(eq + 1);
  }
  return "";
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
  std::string address = group == "LOC" ? "" : Lookup(LocalData() + "/TVTABLE.TXT", "QOLA_ROUTE_" + std::string(group));
  if (address.empty()) {
    machine.root = local;
    return true;
  }
  std::string where = Lookup(LocalData() + "/MACHINES.TXT", address);
  if (where.empty()) {
    why = "no machine is known by the address " + address + " of group " + std::string(group);
    return false;
  }
  if (where.rfind("ftp://", 0) == 0) machine.ftp_url = where;
  else machine.root = where;
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
  bool read = ReadLines(local, lines);
  if (fetched) {
    (void)posix::Unlink(local.c_str());
    ::rmdir(scratch);
  }
  if (!read) {
    why = "the machine has no dataset registry";
    return false;
  }
  for (const std::string &line : lines) {
    Dataset d;
    if (ParseDataset(line, d) && d.name == name) {
      dataset = d;
      return true;
    }
  }
  why = "no dataset " + std::string(name);
  return false;
}

bool FetchFile(const Machine &machine, const std::string &relative, const std::string &scratch, std::string &local,
               std::string &why) {
  if (machine.ftp_url.empty()) {
    local = relative.front() == '/' ? relative : machine.root + "/tavrin/data/" + relative;
    return true;
  }
  // ftp://host[:port]/path: fetched with the system's ftp client, which
  // logs in with the account of $HOME/.netrc.
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
  std::size_t from = path.find_first_not_of('/');
  std::string base = from == std::string::npos ? "" : path.substr(from);
  if (!base.empty() && base.back() != '/') base += '/';
  std::string remote = relative.front() == '/' ? relative : base + "tavrin/data/" + relative;
  local = scratch + "/" + relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
  auto quote = [](const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  std::string command = "printf 'binary\\nget %s %s\\nbye\\n' " + quote(remote) + " " + quote(local) + " | ftp " +
                        quote(host) + (port.empty() ? "" : " " + quote(port)) + " >/dev/null 2>&1";
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

bool RegisterLocal(const Dataset &dataset, std::string &why) {
  std::vector<std::string> lines, kept;
  (void)ReadLines(LocalData() + "/DATASETS.TXT", lines);
  for (const std::string &line : lines) {
    Dataset d;
    if (!ParseDataset(line, d) || d.name != dataset.name) kept.push_back(line);
  }
  kept.push_back(dataset.name + " " + dataset.type + " " + std::to_string(dataset.first) + " " +
                 std::to_string(dataset.last) + " " + dataset.where);
  return WriteRegistry(kept, why);
}

bool UnregisterLocal(std::string_view name, std::string &why) {
  std::vector<std::string> lines, kept;
  (void)ReadLines(LocalData() + "/DATASETS.TXT", lines);
  for (const std::string &line : lines) {
    Dataset d;
    if (!ParseDataset(line, d) || d.name != name) kept.push_back(line);
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

bool CopyFile(const std::string &from, const std::string &to, std::string &why) {
  posix::File in;
  if (int rc = posix::OpenRegular(from.c_str(), O_RDONLY, in); rc != 0) {
    why = from + ": " + posix::ErrorText(rc);
    return false;
  }
  std::string bytes;
  char buffer[65536];
  for (ssize_t n; (n = posix::ReadSome(in.fd(), buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
  std::string dir = to.substr(0, to.rfind('/'));
  if (to.find('/') != std::string::npos) {
    std::string made;
    for (std::size_t at = 1; at <= dir.size(); ++at)
      if (at == dir.size() || dir[at] == '/') ::mkdir(dir.substr(0, at).c_str(), 0755);
    (void)made;
  }
  int rc = posix::ReplaceFile(to.c_str(), 0666, [&](int fd) { return posix::WriteAll(fd, bytes.data(), bytes.size()); });
  if (rc == 0) return true;
  why = to + ": " + posix::ErrorText(rc);
  return false;
}

int NewestPosition(const Machine &machine, const Dataset &d) {
  if (!machine.ftp_url.empty()) return d.last - d.first + 1;
  const std::string data = machine.root + "/tavrin/data/";
  int newest = 0;
  std::int64_t newest_time = -1;
  for (int p = 1; p <= d.last - d.first + 1; ++p) {
    struct stat st;
    std::string file = ItemFile(d, p);
    if (file.empty() || stat((data + file).c_str(), &st) != 0) continue;
    if (st.st_mtime >= newest_time) newest_time = st.st_mtime, newest = p;
  }
  return newest;
}

}  // namespace tvkit
