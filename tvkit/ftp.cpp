// An ftp machine's files, fetched and listed by the kit through ftplib
// (Debian libftp-dev, linked statically): passive mode, binary transfers.
// The run keeps one control connection: a command logs in once however
// many files it reads, and a file the server does not have leaves the
// connection as it was.  A transfer stopped early (past its limit, or a
// copy that cannot be written) or a connection that breaks closes the
// control connection; the next transfer then logs in anew.  Every wait is
// bounded: ftplib's own idle callback ends a data connection silent for
// SilentMs(); its connects and its control connection's reads wait without
// a limit, so each call that makes them runs under a timer (Bound):
// ConnectMs() to open a connection, SilentMs() for a reply.  ftplib speaks
// IPv4 and PASV only, and lists a directory by name (NLST); the times of
// its files come one by one (MDTM), and only where they are needed.

#include <arpa/inet.h>
#include <ftplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <bitset>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "posix/posix.h"
#include "tvkit/tvkit.h"

namespace tvkit {
namespace {

// The most bytes of a directory's listing: a dataset of 9999 positions
// lists in well under a megabyte.
constexpr std::uint64_t kMostListingBytes = std::uint64_t{8} << 20;
// To open a connection, and the longest a connection may stay silent (the
// test builds can shorten both).
int ConnectMs() { return posix::WaitLimitMs(30 * 1000); }
int SilentMs() { return posix::WaitLimitMs(60 * 1000); }

// A wait limit as a message says it.
std::string Duration(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds" : std::to_string(ms) + " milliseconds";
}
// ftplib builds each command in a buffer of 1024 bytes and the login
// lines in one of 64: longer names are refused here, not cut there.
constexpr std::size_t kMostNameBytes = 1000;
constexpr std::size_t kMostLoginBytes = 56;

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

volatile std::sig_atomic_t timed_out = 0;   // a Bound's time ran out
volatile std::sig_atomic_t connecting = 0;  // ... while a connection was being opened
volatile std::sig_atomic_t went_idle = 0;   // a data connection stayed silent
std::int64_t connect_deadline = 0, silent_deadline = 0;  // a Bound's, monotonic ms

// The server's control address (OnAlarm, ShutControl).
sockaddr_in control_peer = {};

std::int64_t NowMs() {
  timespec now = {};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Shuts the control connection down in both directions: a read waiting on
// it ends as at the server's end.  Safe in a signal handler (getpeername
// and shutdown are).
void ShutControl() {
  for (int fd = 0; fd < 1024; ++fd) {
    sockaddr_in peer = {};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 && length == sizeof peer &&
        peer.sin_family == AF_INET && peer.sin_addr.s_addr == control_peer.sin_addr.s_addr &&
        peer.sin_port == control_peer.sin_port)
      (void)::shutdown(fd, SHUT_RDWR);
  }
}

// The descriptors that hold a connection to an IPv4 or IPv6 peer.
std::bitset<1024> Connected() {
  std::bitset<1024> connected;
  // One poll tells the open descriptors (the others are POLLNVAL).
  static pollfd fds[1024];
  for (int fd = 0; fd < 1024; ++fd) fds[fd] = {fd, 0, 0};
  if (::poll(fds, 1024, 0) < 0) {
    for (pollfd &p : fds) p.revents = 0;
  }
  for (int fd = 0; fd < 1024; ++fd) {
    if (fds[fd].revents & POLLNVAL) continue;
    sockaddr_storage peer = {};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
        (peer.ss_family == AF_INET || peer.ss_family == AF_INET6))
      connected.set(static_cast<std::size_t>(fd));
  }
  return connected;
}

// Whether the connections made since `before` (the data connection ftplib
// opened) go to the server's own host.  ftplib connects to the address a
// 227 reply names; data from any other host is not taken.
bool DataFromServerHost(const std::bitset<1024> &before) {
  const std::bitset<1024> now = Connected() & ~before;
  for (int fd = 0; fd < 1024; ++fd) {
    if (!now.test(static_cast<std::size_t>(fd))) continue;
    sockaddr_storage peer = {};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0) return false;
    const auto &in = reinterpret_cast<const sockaddr_in &>(peer);
    if (peer.ss_family != AF_INET || in.sin_addr.s_addr != control_peer.sin_addr.s_addr) return false;
  }
  return true;
}

// Whether a connection is being opened (a socket in SYN-SENT).
bool Connecting() {
  for (int fd = 0; fd < 1024; ++fd) {
    tcp_info info = {};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_state == TCP_SYN_SENT) return true;
  }
  return false;
}

// A Bound's timer.  The signal (without SA_RESTART) interrupts the system
// call the program waits in: a connect then fails with EINTR, ending a
// connection still being opened past connect_deadline.  ftplib reads its
// control connection again after a signal, so past silent_deadline that
// connection is shut down instead.
void OnAlarm(int) {
  const int saved = errno;
  const std::int64_t now = NowMs();
  if (now >= connect_deadline && Connecting()) {
    timed_out = 1;
    connecting = 1;
  } else if (now >= silent_deadline) {
    timed_out = 1;
    ShutControl();
  }
  errno = saved;
}

// ftplib's idle callback: a data connection silent for SilentMs() ends.
int OnIdle(netbuf *, fsz_t, void *) {
  went_idle = 1;
  return 0;
}

// One blocking call of ftplib under time limits: a connection it opens
// must open within `connect_ms` (by default `silent_ms`), and the call must
// be done within `silent_ms` (a command and its reply: the time a
// connection may stay silent).  After the first of them the timer goes off every 100 ms, so a
// signal that came between two system calls cannot leave the next waiting.
// SIGPIPE is ignored meanwhile: ftplib writes commands with write(), and a
// server gone must fail the command, not end the program.  errno is 0 when
// the call starts, so that what it leaves tells an error from an end.
class Bound {
 public:
  explicit Bound(int silent_ms, int connect_ms = -1) {
    if (connect_ms < 0) connect_ms = silent_ms;
    timed_out = 0;
    connecting = 0;
    const std::int64_t now = NowMs();
    connect_deadline = now + connect_ms;
    silent_deadline = now + silent_ms;
    struct sigaction alarm = {};
    alarm.sa_handler = OnAlarm;
    sigemptyset(&alarm.sa_mask);
    (void)::sigaction(SIGALRM, &alarm, &old_alarm_);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)::sigaction(SIGPIPE, &ignore, &old_pipe_);
    const int first = connect_ms < silent_ms ? connect_ms : silent_ms;
    itimerval timer = {};
    timer.it_value.tv_sec = first / 1000;
    timer.it_value.tv_usec = (first % 1000) * 1000;
    timer.it_interval.tv_usec = 100 * 1000;
    (void)::setitimer(ITIMER_REAL, &timer, nullptr);
    errno = 0;
  }
  ~Bound() {
    itimerval off = {};
    (void)::setitimer(ITIMER_REAL, &off, nullptr);
    (void)::sigaction(SIGALRM, &old_alarm_, nullptr);
    (void)::sigaction(SIGPIPE, &old_pipe_, nullptr);
  }
  Bound(const Bound &) = delete;
  Bound &operator=(const Bound &) = delete;
  bool expired() const { return timed_out != 0; }
  // The time ran out while a connection was being opened.
  bool not_connected() const { return connecting != 0; }

 private:
  struct sigaction old_alarm_ = {}, old_pipe_ = {};
};

// What became of a connection that did not open.
std::string NotConnected(const Bound &bound, int error) {
  if (bound.not_connected()) return "no connection within " + Duration(ConnectMs());
  return posix::ErrorText(error != 0 ? error : ECONNREFUSED);
}

// A number of digits in `text` at `at`; -1 when none.
std::int64_t NumberIn(const std::string &text, std::size_t at) {
  std::int64_t v = -1;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && v < (std::int64_t{1} << 60); ++at)
    v = (v < 0 ? 0 : v * 10) + (text[at] - '0');
  return v;
}

// The reply's code, 0 when `line` is not a whole reply line.
int CodeOf(const std::string &line) {
  if (line.size() < 4 || (line[3] != ' ' && line[3] != '-')) return 0;
  for (int i = 0; i < 3; ++i)
    if (line[i] < '0' || line[i] > '9') return 0;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// Why a call under `bound` got no reply: the timer, the error it left, or
// the server's end of the connection.
std::string Broken(const Bound &bound, int error) {
  if (bound.expired()) return posix::ErrorText(ETIMEDOUT);
  if (error != 0 && error != EINTR) return posix::ErrorText(error);
  return "the server closed the connection";
}

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
    if (control_ != nullptr && key == key_) return true;
    Quit();
    static const bool initialised = (FtpInit(), true);
    (void)initialised;
    // ftplib connects to an IPv4 address; the name is resolved here, so
    // that it is given a number and a port and looks nothing up itself.
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (int rc = ::getaddrinfo(place.host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0)
      return why = "cannot resolve " + place.host + ": " + gai_strerror(rc), false;
    why = "no address";
    bool greeted = false;  // connected, and the greeting failed
    for (addrinfo *a = found; a && control_ == nullptr; a = a->ai_next) {
      char number[INET_ADDRSTRLEN] = "";
      const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
      control_peer = *in;
      if (::inet_ntop(AF_INET, &in->sin_addr, number, sizeof number) == nullptr) continue;
      const std::string address = std::string(number) + ":" + std::to_string(port);
      // ftplib connects and reads the greeting in one call, and keeps no
      // reply of a connection it gives up: a greeting refused is told
      // from a connection not made by the error the call leaves.
      Bound bound(SilentMs(), ConnectMs());
      netbuf *control = nullptr;
      const int ok = FtpConnect(address.c_str(), &control);
      const int error = errno;
      greeted = false;
      if (ok) {
        control_ = control;
      } else if (bound.not_connected() || (!bound.expired() && error != 0 && error != EINTR)) {
        why = NotConnected(bound, error);
      } else {
        why = bound.expired() ? posix::ErrorText(ETIMEDOUT) : "the server's greeting was refused";
        greeted = true;
      }
    }
    ::freeaddrinfo(found);
    if (control_ == nullptr && greeted) return false;
    if (control_ == nullptr)
      return why = "cannot connect to " + place.host + " port " + std::to_string(port) + ": " + why, false;
    FtpCallbackOptions idle = {};
    idle.cbFunc = OnIdle;
    idle.idleTime = SilentMs();
    if (!FtpOptions(FTPLIB_CONNMODE, FTPLIB_PASSIVE, control_) || !FtpSetCallback(&idle, control_)) {
      why = "the connection's options were refused";
      Drop();
      return false;
    }
    std::string user, password;
    Account(place.host, user, password);
    if (user.size() > kMostLoginBytes || password.size() > kMostLoginBytes) {
      why = "the login was refused: a name or password past " + std::to_string(kMostLoginBytes) + " bytes";
      Drop();
      return false;
    }
    Bound bound(SilentMs());
    Clear();
    const int ok = FtpLogin(user.c_str(), password.c_str(), control_);
    const int error = errno;
    if (!ok) return Fail(bound, error, "the login", why);
    key_ = key;
    return true;
  }

  netbuf *control() const { return control_; }

  // The last reply, without its line end.
  std::string Last() const {
    std::string line = control_ ? FtpLastResponse(control_) : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
  }

  // Forgets the last reply, so that a call that gets none shows it.
  void Clear() {
    if (char *response = control_ ? FtpLastResponse(control_) : nullptr) response[0] = '\0';
  }

  // After a call under `bound` that failed: the reply when one came, else
  // why none did (and the connection goes).
  bool Fail(const Bound &bound, int error, const std::string &what, std::string &why) {
    if (CodeOf(Last()) != 0) {
      why = what + " was refused: " + Last();
    } else {
      why = Broken(bound, error);
    }
    Drop();
    return false;
  }

  // The size the server states for `remote` (SIZE), or -1; false with
  // `why` when the connection broke (it is gone then).
  bool Size(const std::string &remote, std::int64_t &size, std::string &why) {
    unsigned int ignored = 0;  // ftplib's number is too small: the reply is read here
    Bound bound(SilentMs());
    Clear();
    const int ok = FtpSize(remote.c_str(), &ignored, FTPLIB_IMAGE, control_);
    const int error = errno;
    const std::string line = Last();
    size = ok && CodeOf(line) == 213 ? NumberIn(line, 4) : -1;
    if (CodeOf(line) != 0) return true;
    why = Broken(bound, error);
    Drop();
    return false;
  }

  // The modification time the server states for `remote` (MDTM,
  // YYYYMMDDHHMMSS, "" when it gives none); false when it has no such file
  // (550) or the connection broke.
  bool Modified(const std::string &remote, std::string &stamp) {
    char text[64] = "";
    Bound bound(SilentMs());
    Clear();
    const int ok = FtpModDate(remote.c_str(), text, sizeof text, control_);
    const int code = CodeOf(Last());
    if (code == 0) {
      Drop();
      return false;
    }
    if (!ok) return code != 550;
    stamp.clear();
    for (std::size_t i = 0; i < 14 && text[i] >= '0' && text[i] <= '9'; ++i) stamp += text[i];
    if (stamp.size() != 14) stamp.clear();
    return true;
  }

  // The connection goes with a QUIT.
  void Quit() {
    if (control_ != nullptr) {
      Bound bound(SilentMs());
      FtpQuit(control_);
    }
    control_ = nullptr;
    key_.clear();
  }

  // The connection goes without a word (after a transfer stopped early, say:
  // its data connection goes with it, and the server's end of the transfer
  // is not waited for).
  void Drop() {
    if (control_ != nullptr) {
      ShutControl();  // ftplib would wait for the reply that ends a transfer
      (void)FtpClose(control_);
    }
    control_ = nullptr;
    key_.clear();
  }

 private:
  Session() = default;
  netbuf *control_ = nullptr;
  std::string key_;  // "host port" of the open connection
};

// The path on the server of `relative` (see tvkit.h).
std::string RemoteName(const Place &place, const std::string &relative) {
  return relative.empty() || relative.front() != '/' ? place.base + "tavrin/data/" + relative : relative;
}

// One transfer over the run's connection: the file `relative`, or with
// `listing` the name listing (NLST) of the directory `relative`.
bool Transfer(const Machine &machine, const std::string &relative, bool listing, std::uint64_t most,
              const std::function<bool(const char *, std::size_t)> &sink, std::string &why) {
  const Place place = PlaceOf(machine);
  std::string remote = RemoteName(place, relative);
  if (listing && remote.back() != '/') remote += '/';
  const std::string what = (listing ? "the listing of " : "") + remote + " from " + machine.ftp_url;
  if (remote.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return why = "cannot fetch " + what + ": a name holding a line end", false;
  if (remote.size() > kMostNameBytes)
    return why = "cannot fetch " + what + ": a name past " + std::to_string(kMostNameBytes) + " bytes", false;
  Session &session = Session::Get();
  std::string failure;
  if (!session.Open(place, failure)) return why = "cannot fetch " + what + ": " + failure, false;
  std::int64_t stated = -1;
  if (!listing) {
    if (!session.Size(remote, stated, failure)) return why = "cannot fetch " + what + ": " + failure, false;
    // A size past the limit ends the transfer before any byte comes.
    if (stated >= 0 && static_cast<std::uint64_t>(stated) > most)
      return why = "cannot fetch " + what + ": it holds more than " + std::to_string(most) + " bytes", false;
  }
  netbuf *data = nullptr;
  const std::bitset<1024> connected = Connected();
  {
    Bound bound(SilentMs(), ConnectMs());  // the data connection's connect among its waits
    session.Clear();
    const int ok = FtpAccess(remote.c_str(), listing ? FTPLIB_DIR : FTPLIB_FILE_READ, FTPLIB_IMAGE, session.control(),
                             &data);
    const int error = errno;
    if (!ok) {
      const std::string line = session.Last();
      const int code = CodeOf(line);
      if (code == 227 && (bound.not_connected() || !bound.expired())) {  // passive mode given, no connection
        why = "cannot fetch " + what + ": no data connection: " + NotConnected(bound, error);
        session.Drop();
      } else if (code != 0 && !bound.expired()) {
        why = "cannot fetch " + what + ": the server replied " + line;
      } else {
        why = "cannot fetch " + what + ": " + Broken(bound, error);
        session.Drop();
      }
      return false;
    }
  }
  if (!DataFromServerHost(connected)) {
    why = "cannot fetch " + what + ": no data connection: the server named another host for it";
    session.Drop();
    return false;
  }
  const std::string said = session.Last();
  if (!listing && stated < 0) {
    // 150 Opening BINARY mode data connection for name (N bytes).
    std::size_t at = said.rfind(" bytes)");
    std::size_t open = at == std::string::npos ? at : said.rfind('(', at);
    if (open != std::string::npos) stated = NumberIn(said, open + 1);
  }
  bool over = stated >= 0 && static_cast<std::uint64_t>(stated) > most;  // refused before any byte
  bool refused = false;                                                  // the sink said stop
  std::uint64_t received = 0;
  int read_error = 0;
  static char buffer[65536];
  while (!over) {
    went_idle = 0;
    errno = 0;
    const int n = FtpRead(buffer, sizeof buffer, data);
    const int error = errno;
    if (n <= 0) {  // ftplib's end of the data: the server's, or a failure
      if (went_idle) read_error = ETIMEDOUT;
      else if (error != 0) read_error = error;
      break;
    }
    const auto count = static_cast<std::size_t>(n);
    if (count > most - received) {
      over = true;
      break;
    }
    if (!sink(buffer, count)) {
      refused = true;
      break;
    }
    received += count;
  }
  int reply = 0;
  if (over || refused || read_error != 0) {
    session.Drop();  // the data connection with it
  } else {
    Bound bound(SilentMs());
    session.Clear();
    (void)FtpClose(data);  // reads the reply that ends the transfer
    const int error = errno;
    reply = CodeOf(session.Last());
    if (reply == 0) {
      failure = Broken(bound, error);
      session.Drop();
    }
  }
  if (over) {
    why = "cannot fetch " + what + ": it holds more than " + std::to_string(most) + " bytes";
  } else if (refused) {
    why = "cannot fetch " + what + ": its copy cannot be written";
  } else if (!listing && stated >= 0 && static_cast<std::uint64_t>(stated) != received) {
    // A transfer cut short, whatever the server replied after it.
    why = "cannot fetch " + what + ": " + std::to_string(received) + " of the " + std::to_string(stated) +
          " bytes the server stated arrived" + (reply >= 400 ? " (reply " + std::to_string(reply) + ")" : "") +
          (read_error != 0 ? ": " + posix::ErrorText(read_error) : "");
  } else if (read_error != 0) {
    why = "cannot fetch " + what + ": " + posix::ErrorText(read_error);
  } else if (reply == 0) {
    why = "cannot fetch " + what + ": " + failure;
  } else if (reply != 226 && reply != 250) {
    why = "cannot fetch " + what + ": the server replied " + session.Last();
  } else {
    return true;
  }
  return false;
}

// The positions of `d` whose file the server's listing names, each with
// the file's name from the data directory.
bool ListedItems(const Machine &machine, const Dataset &d, std::vector<std::pair<int, std::string>> &items) {
  std::vector<ListedFile> files;
  std::string why;
  if (d.type == "TEXT" || !FtpListing(machine, d.where, files, why)) return false;
  std::unordered_set<std::string> names;
  for (const ListedFile &f : files) names.insert(f.name);
  for (int p = 1; p <= d.last - d.first + 1; ++p) {
    const std::string file = ItemFile(d, p);
    if (names.count(file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1)) != 0)
      items.emplace_back(p, file);
  }
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
    // A server may give each name with the directory asked for before it.
    if (std::size_t slash = line.rfind('/'); slash != std::string_view::npos) line.remove_prefix(slash + 1);
    if (line.empty() || line == "." || line == ".." || line.find('\r') != std::string_view::npos) continue;
    files.push_back(ListedFile{std::string(line), ""});
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
  std::vector<std::pair<int, std::string>> items;
  if (!ListedItems(machine, d, items)) return false;
  const Place place = PlaceOf(machine);
  Session &session = Session::Get();
  std::string why;
  for (const auto &[position, file] : items) {
    const std::string remote = RemoteName(place, file);
    if (remote.size() > kMostNameBytes || remote.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      continue;
    if (!session.Open(place, why)) return false;
    std::string stamp;
    if (session.Modified(remote, stamp)) held.emplace_back(position, stamp);
    else if (session.control() == nullptr) return false;  // the connection broke
  }
  return true;
}

std::vector<int> ItemPositions(const Machine &machine, const Dataset &d) {
  std::vector<int> positions;
  std::vector<std::pair<int, std::string>> listed;
  if (!machine.ftp_url.empty() && ListedItems(machine, d, listed))
    for (const auto &item : listed) positions.push_back(item.first);
  else
    for (int p = 1; p <= d.last - d.first + 1; ++p) positions.push_back(p);
  return positions;
}

}  // namespace tvkit
