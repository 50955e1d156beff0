// An ftp machine's files, fetched and listed by the kit itself over the
// file transfer protocol (RFC 959, with EPSV and MLSD).  The run keeps one
// control connection: a command logs in once however many files it reads,
// and a file the server does not have leaves the connection as it was.  A
// transfer stopped early (past its limit, or a copy that cannot be
// written) or a connection that breaks closes the control connection; the
// next transfer then logs in anew.  Every wait is bounded: a connection
// that takes more than kConnectMs to open, or one that is silent for
// kSilentMs, fails the transfer.

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "posix/posix.h"
#include "tvkit/tvkit.h"

namespace tvkit {
namespace {

// The most bytes of a directory's listing: a dataset of 9999 positions
// lists in well under a megabyte.
constexpr std::uint64_t kMostListingBytes = std::uint64_t{8} << 20;
constexpr int kConnectMs = 30 * 1000;  // to open a connection
constexpr int kSilentMs = 60 * 1000;   // the longest a connection may stay silent
constexpr std::size_t kMostReplyBytes = 64 * 1024;

// Where an ftp machine's files are: host, port ("" for the default), and
// the URL's path from the account's login directory ("" or "path/").
struct Place {
  std::string host, port, base;
};

Place PlaceOf(const Machine &machine) {
  std::string rest = machine.ftp_url.substr(6);  // after ftp://
  std::size_t slash = rest.find('/');
  Place place;
  place.host = rest.substr(0, slash);
  std::string path = slash == std::string::npos ? "" : rest.substr(slash);
  const std::size_t close = place.host.rfind(']');  // [v6 address]:port
  if (std::size_t colon = place.host.rfind(':');
      colon != std::string::npos && (close == std::string::npos || colon > close)) {
    place.port = place.host.substr(colon + 1);
    place.host.resize(colon);
  }
  if (place.host.size() > 2 && place.host.front() == '[' && place.host.back() == ']')
    place.host = place.host.substr(1, place.host.size() - 2);
  // The URL's path leads from the account's login directory (ftp://host/
  // is the login directory itself), as the client's scripts fetch
  // ./tavrin/data/...; a name from the root would miss the account's files
  // on any server whose accounts do not start at its root.
  std::size_t from = path.find_first_not_of('/');
  place.base = from == std::string::npos ? "" : path.substr(from);
  if (!place.base.empty() && place.base.back() != '/') place.base += '/';
  return place;
}

// The port of a place as a number; 0 when it is none.
int PortOf(const Place &place) {
  if (place.port.empty()) return 21;
  int port = 0;
  for (char c : place.port) {
    if (c < '0' || c > '9' || port > 65535) return 0;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535 ? port : 0;
}

// The account of $HOME/.netrc for `host` (the entry named so, else a
// default entry); anonymous without one.
void Account(const std::string &host, std::string &user, std::string &password) {
  user = "anonymous";
  password = "ftp@";
  const char *home = std::getenv("HOME");
  std::string text;
  if (ReadSmallFile(std::string(home ? home : ".") + "/.netrc", kMostTableBytes, text) != 0) return;
  std::vector<std::string> words;
  for (std::size_t at = 0; at < text.size();) {
    if (std::isspace(static_cast<unsigned char>(text[at]))) {
      ++at;
      continue;
    }
    std::string word;
    if (text[at] == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        word += text[at];
      }
      ++at;
    } else {
      while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at]))) word += text[at++];
    }
    if (word == "macdef") {  // a macro runs to the first empty line
      std::size_t blank = text.find("\n\n", at);
      at = blank == std::string::npos ? text.size() : blank + 2;
      continue;
    }
    words.push_back(word);
  }
  // The first entry for the host wins, the default entry only without one.
  enum { kNone, kHost, kOther, kDefault } in = kNone;
  bool host_found = false, default_found = false;
  std::string host_user, host_password, default_user, default_password;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (w == "machine" && i + 1 < words.size()) {
      if (in == kHost) break;
      in = !host_found && words[++i] == host ? kHost : kOther;
      host_found = host_found || in == kHost;
    } else if (w == "default") {
      if (in == kHost) break;
      in = default_found ? kOther : kDefault;
      default_found = true;
    } else if ((w == "login" || w == "password" || w == "account") && i + 1 < words.size()) {
      const std::string &value = words[++i];
      if (in != kHost && in != kDefault) continue;
      if (w == "login") (in == kHost ? host_user : default_user) = value;
      else if (w == "password") (in == kHost ? host_password : default_password) = value;
    }
  }
  if (host_found && !host_user.empty()) {
    user = host_user;
    password = host_password;
  } else if (!host_found && default_found && !default_user.empty()) {
    user = default_user;
    password = default_password;
  }
}

// A connected socket, closed when it goes.
class Socket {
 public:
  Socket() = default;
  ~Socket() { Close(); }
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;
  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Connects to `address`, waiting at most kConnectMs; false with `why`.
  bool Connect(const sockaddr *address, socklen_t length, std::string &why) {
    Close();
    fd_ = ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return why = posix::ErrorText(errno), false;
    int one = 1;
    (void)::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, address, length) != 0 && errno != EINPROGRESS) {
      why = posix::ErrorText(errno);
      Close();
      return false;
    }
    pollfd p = {fd_, POLLOUT, 0};
    int error = 0;
    socklen_t size = sizeof error;
    int ready = Wait(p, kConnectMs);
    if (ready <= 0 || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      why = ready == 0 ? "no connection within " + std::to_string(kConnectMs / 1000) + " seconds"
                       : posix::ErrorText(error != 0 ? error : errno);
      Close();
      return false;
    }
    return true;
  }

  // Bytes as they come: > 0 read, 0 at the end, -1 on an error or after
  // kSilentMs without a byte (errno ETIMEDOUT).
  ssize_t Receive(char *into, std::size_t most) {
    for (;;) {
      ssize_t n = ::recv(fd_, into, most, 0);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      pollfd p = {fd_, POLLIN, 0};
      int ready = Wait(p, kSilentMs);
      if (ready == 0) errno = ETIMEDOUT;
      if (ready <= 0) return -1;
    }
  }

  bool SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      pollfd p = {fd_, POLLOUT, 0};
      if (Wait(p, kSilentMs) <= 0) return false;
    }
    return true;
  }

 private:
  // poll, going on after a signal; > 0 ready, 0 timed out, -1 failed.
  static int Wait(pollfd &p, int ms) {
    for (;;) {
      int r = ::poll(&p, 1, ms);
      if (r >= 0 || errno != EINTR) return r;
    }
  }
  int fd_ = -1;
};

// The run's control connection to one server, logged in.
class Session {
 public:
  static Session &Get() {
    static Session session;
    return session;
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  ~Session() { Quit(); }

  // The connection to `place`, logged in (the one open when it is there).
  bool Open(const Place &place, std::string &why) {
    const int port = PortOf(place);
    if (place.host.empty() || port == 0) return why = "not an ftp://host[:port]/path URL", false;
    const std::string key = place.host + " " + std::to_string(port);
    if (control_.open() && key == key_) return true;
    Quit();
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (int rc = ::getaddrinfo(place.host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0)
      return why = "cannot resolve " + place.host + ": " + gai_strerror(rc), false;
    why = "no address";
    for (addrinfo *a = found; a && !control_.open(); a = a->ai_next)
      if (control_.Connect(a->ai_addr, a->ai_addrlen, why)) {
        std::memcpy(&peer_, a->ai_addr, a->ai_addrlen);
        peer_length_ = a->ai_addrlen;
      }
    ::freeaddrinfo(found);
    if (!control_.open()) return why = "cannot connect to " + place.host + " port " + std::to_string(port) + ": " + why, false;
    read_.clear();
    epsv_ = true;
    std::string user, password;
    Account(place.host, user, password);
    int code = Reply(why);
    while (code >= 100 && code < 200) code = Reply(why);  // 120: ready in a while
    if (code != 220) return Fail(code, "the server's greeting", why);
    code = Command("USER " + user, why);
    if (code == 331) code = Command("PASS " + password, why);
    if (code != 230 && code != 202) return Fail(code, "the login", why);
    code = Command("TYPE I", why);
    if (code != 200) return Fail(code, "binary mode", why);
    key_ = key;
    return true;
  }

  // The size the server states for `remote` (SIZE), or -1.
  std::int64_t Size(const std::string &remote, std::string &why) {
    int code = Command("SIZE " + remote, why);
    if (code != 213) return -1;
    return NumberIn(last_, 4);
  }

  // Opens the data connection (EPSV, else PASV) and sends `command`; the
  // server's preliminary reply (125 or 150) in `said`.
  bool StartTransfer(const std::string &command, Socket &data, std::string &said, std::string &why) {
    int code = epsv_ ? Command("EPSV", why) : 0;
    sockaddr_storage address = peer_;
    if (code == 229) {
      // 229 Entering Extended Passive Mode (|||port|)
      std::size_t open = last_.find('(');
      std::int64_t port = open == std::string::npos ? -1 : NumberIn(last_, open + 4);
      if (port < 1 || port > 65535) return Fail(code, "passive mode", why);
      SetPort(address, static_cast<int>(port));
    } else {
      if (code == 0 || code >= 500) {
        epsv_ = false;
        code = Command("PASV", why);
      }
      // 227 Entering Passive Mode (h1,h2,h3,h4,p1,p2): the address is the
      // control connection's, whatever the reply names.
      std::size_t at = last_.find_first_of("0123456789", 4);
      int numbers[6], n = 0;
      while (code == 227 && n < 6 && at != std::string::npos) {
        std::int64_t v = NumberIn(last_, at);
        if (v < 0 || v > 255) break;
        numbers[n++] = static_cast<int>(v);
        at = last_.find_first_not_of("0123456789", at);
        at = at == std::string::npos || last_[at] != ',' ? std::string::npos : at + 1;
      }
      if (code != 227 || n != 6) return Fail(code, "passive mode", why);
      SetPort(address, numbers[4] * 256 + numbers[5]);
    }
    if (!data.Connect(reinterpret_cast<const sockaddr *>(&address), peer_length_, why)) {
      why = "no data connection: " + why;
      Quit();
      return false;
    }
    code = Command(command, why);
    if (code != 125 && code != 150) {
      data.Close();
      return code > 0 ? (why = "the server replied " + last_, false) : Fail(code, command, why);
    }
    said = last_;
    return true;
  }

  // The reply that ends a transfer; its code (0 when none came).
  int EndTransfer(std::string &why) { return Reply(why); }
  const std::string &LastReply() const { return last_; }

  // The connection goes (after a transfer stopped early, say).
  void Quit() {
    if (control_.open() && !key_.empty()) (void)control_.SendAll("QUIT\r\n");
    control_.Close();
    key_.clear();
  }

  // A number of digits in `text` at `at`; -1 when none.
  static std::int64_t NumberIn(const std::string &text, std::size_t at) {
    std::int64_t v = -1;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && v < (std::int64_t{1} << 60); ++at)
      v = (v < 0 ? 0 : v * 10) + (text[at] - '0');
    return v;
  }

 private:
  Session() = default;

  static void SetPort(sockaddr_storage &address, int port) {
    if (address.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6 &>(address).sin6_port = htons(static_cast<std::uint16_t>(port));
    else reinterpret_cast<sockaddr_in &>(address).sin_port = htons(static_cast<std::uint16_t>(port));
  }

  bool Fail(int code, const std::string &what, std::string &why) {
    if (code > 0) why = what + " was refused: " + last_;
    Quit();
    return false;
  }

  int Command(const std::string &line, std::string &why) {
    if (!control_.SendAll(line + "\r\n")) {
      why = "the connection broke";
      Quit();
      return 0;
    }
    return Reply(why);
  }

  // One reply (a multi-line one whole); its code, 0 when the connection
  // broke or stayed silent (`why` then says so).  Its last line in last_.
  int Reply(std::string &why) {
    int code = 0;
    for (;;) {
      std::string line;
      if (!Line(line, why)) {
        Quit();
        return 0;
      }
      if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
          !std::isdigit(static_cast<unsigned char>(line[1])) || !std::isdigit(static_cast<unsigned char>(line[2])))
        continue;  // a line inside a multi-line reply
      const int n = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
      if (code == 0) code = n;
      if (n == code && (line.size() == 3 || line[3] != '-')) {
        last_ = line;
        return code;
      }
    }
  }

  bool Line(std::string &line, std::string &why) {
    for (;;) {
      if (std::size_t end = read_.find('\n'); end != std::string::npos) {
        line = read_.substr(0, end);
        read_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      if (read_.size() > kMostReplyBytes) return why = "a reply past " + std::to_string(kMostReplyBytes) + " bytes", false;
      char buffer[4096];
      ssize_t n = control_.Receive(buffer, sizeof buffer);
      if (n <= 0) return why = n == 0 ? "the server closed the connection" : posix::ErrorText(errno), false;
      read_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  Socket control_;
  std::string key_;  // "host port" of the open connection
  std::string read_, last_;
  sockaddr_storage peer_ = {};
  socklen_t peer_length_ = 0;
  bool epsv_ = true;
};

// What the transfer hands on, and why it stopped early.
struct Receiver {
  const std::function<bool(const char *, std::size_t)> *sink;
  std::uint64_t most;
  std::uint64_t received = 0;
  bool over = false;     // past `most`
  bool refused = false;  // the sink said stop
};

// One transfer over the run's connection: the file `relative`, or with
// `listing` the MLSD listing of the directory `relative`.
bool Transfer(const Machine &machine, const std::string &relative, bool listing, std::uint64_t most,
              const std::function<bool(const char *, std::size_t)> &sink, std::string &why) {
  const Place place = PlaceOf(machine);
  std::string remote = relative.empty() || relative.front() != '/' ? place.base + "tavrin/data/" + relative : relative;
  if (listing && remote.back() != '/') remote += '/';
  const std::string what = (listing ? "the listing of " : "") + remote + " from " + machine.ftp_url;
  if (remote.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return why = "cannot fetch " + what + ": a name holding a line end", false;
  Session &session = Session::Get();
  std::string failure;
  if (!session.Open(place, failure)) return why = "cannot fetch " + what + ": " + failure, false;
  std::int64_t stated = -1;
  if (!listing) {
    stated = session.Size(remote, failure);
    // A size past the limit ends the transfer before any byte comes.
    if (stated >= 0 && static_cast<std::uint64_t>(stated) > most)
      return why = "cannot fetch " + what + ": it holds more than " + std::to_string(most) + " bytes", false;
  }
  Socket data;
  std::string said;
  if (!session.StartTransfer((listing ? "MLSD " : "RETR ") + remote, data, said, failure))
    return why = "cannot fetch " + what + ": " + failure, false;
  if (!listing && stated < 0) {
    // 150 Opening BINARY mode data connection for name (N bytes).
    std::size_t at = said.rfind(" bytes)");
    std::size_t open = at == std::string::npos ? at : said.rfind('(', at);
    if (open != std::string::npos) stated = Session::NumberIn(said, open + 1);
  }
  Receiver receiver{&sink, most};
  int read_error = 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = data.Receive(buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      read_error = errno;
      break;
    }
    const auto count = static_cast<std::size_t>(n);
    if (count > receiver.most - receiver.received) {
      receiver.over = true;
      break;
    }
    if (!sink(buffer, count)) {
      receiver.refused = true;
      break;
    }
    receiver.received += count;
  }
  data.Close();
  int reply = 0;
  if (receiver.over || receiver.refused || read_error != 0) {
    session.Quit();  // the server's end of the transfer is not waited for
  } else {
    reply = session.EndTransfer(failure);
  }
  if (receiver.over) {
    why = "cannot fetch " + what + ": it holds more than " + std::to_string(most) + " bytes";
  } else if (receiver.refused) {
    why = "cannot fetch " + what + ": its copy cannot be written";
  } else if (!listing && stated >= 0 && static_cast<std::uint64_t>(stated) != receiver.received) {
    // A transfer cut short, whatever the server replied after it.
    why = "cannot fetch " + what + ": " + std::to_string(receiver.received) + " of the " + std::to_string(stated) +
          " bytes the server stated arrived" + (reply >= 400 ? " (reply " + std::to_string(reply) + ")" : "");
  } else if (read_error != 0) {
    why = "cannot fetch " + what + ": " + posix::ErrorText(read_error);
  } else if (reply == 0) {
    why = "cannot fetch " + what + ": " + failure;
  } else if (reply != 226 && reply != 250) {
    why = "cannot fetch " + what + ": the server replied " + session.LastReply();
  } else {
    return true;
  }
  return false;
}

bool FactIs(std::string_view fact, std::string_view key, std::string_view &value) {
  if (fact.size() <= key.size() || fact[key.size()] != '=') return false;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(fact[i])) != key[i]) return false;
  value = fact.substr(key.size() + 1);
  return true;
}

}  // namespace

bool FtpFetch(const Machine &machine, const std::string &relative, std::uint64_t most_bytes,
              const std::function<bool(const char *, std::size_t)> &sink, std::string &why) {
  return Transfer(machine, relative, false, most_bytes, sink, why);
}

void ParseListing(std::string_view text, std::vector<ListedFile> &files) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // The facts hold no blank; the name is everything after the first.
    std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank + 1 == line.size()) continue;
    ListedFile file;
    file.name = std::string(line.substr(blank + 1));
    bool is_file = true;
    for (std::string_view facts = line.substr(0, blank); !facts.empty();) {
      std::size_t semi = facts.find(';');
      std::string_view fact = facts.substr(0, semi), value;
      facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
      if (FactIs(fact, "type", value)) {
        is_file = value.size() == 4 && std::tolower(static_cast<unsigned char>(value[0])) == 'f' &&
                  std::tolower(static_cast<unsigned char>(value[1])) == 'i' &&
                  std::tolower(static_cast<unsigned char>(value[2])) == 'l' &&
                  std::tolower(static_cast<unsigned char>(value[3])) == 'e';
      } else if (FactIs(fact, "modify", value) && value.size() >= 14 &&
                 std::all_of(value.begin(), value.begin() + 14, [](char c) { return c >= '0' && c <= '9'; })) {
        file.modified = std::string(value.substr(0, 14));
      }
    }
    if (is_file) files.push_back(std::move(file));
  }
}

bool FtpListing(const Machine &machine, const std::string &relative, std::vector<ListedFile> &files,
                std::string &why) {
  std::string text;
  if (!Transfer(machine, relative, true, kMostListingBytes,
                [&](const char *data, std::size_t n) {
                  text.append(data, n);
                  return true;
                },
                why))
    return false;
  ParseListing(text, files);
  return true;
}

bool ListedPositions(const Machine &machine, const Dataset &d, std::vector<std::pair<int, std::string>> &held) {
  std::vector<ListedFile> files;
  std::string why;
  if (d.type == "TEXT" || !FtpListing(machine, d.where, files, why)) return false;
  std::unordered_map<std::string, std::string> modified;
  for (const ListedFile &f : files) modified.emplace(f.name, f.modified);
  for (int p = 1; p <= d.last - d.first + 1; ++p) {
    const std::string file = ItemFile(d, p);
    auto it = modified.find(file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1));
    if (it != modified.end()) held.emplace_back(p, it->second);
  }
  return true;
}

std::vector<int> ItemPositions(const Machine &machine, const Dataset &d) {
  std::vector<int> positions;
  std::vector<std::pair<int, std::string>> listed;
  if (!machine.ftp_url.empty() && ListedPositions(machine, d, listed))
    for (const auto &item : listed) positions.push_back(item.first);
  else
    for (int p = 1; p <= d.last - d.first + 1; ++p) positions.push_back(p);
  return positions;
}

}  // namespace tvkit
