// An ftp machine's files, fetched and listed by the kit itself through
// libcurl.  The run keeps one easy handle: libcurl holds the control
// connection of a finished transfer open and takes it again for the next
// one to the same server, so a command logs in once however many files it
// reads (a file the server does not have leaves the connection as it was).
// A transfer that breaks on its data connection, one cut short say, closes
// the control connection too; the next transfer then logs in anew.

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tvkit/tvkit.h"

namespace tvkit {
namespace {

// The most bytes of a directory's listing: a dataset of 9999 positions
// lists in well under a megabyte.
constexpr std::uint64_t kMostListingBytes = std::uint64_t{8} << 20;

// The run's one easy handle, made on first use and cleaned up (the server
// told QUIT) when the program ends.
class Handle {
 public:
  static CURL *Get() {
    static Handle handle;
    return handle.easy_;
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;

 private:
  Handle() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    global_ = true;
    easy_ = curl_easy_init();
  }
  ~Handle() {
    if (easy_) curl_easy_cleanup(easy_);
    if (global_) curl_global_cleanup();
  }
  CURL *easy_ = nullptr;
  bool global_ = false;
};

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
  if (std::size_t colon = place.host.find(':'); colon != std::string::npos) {
    place.port = place.host.substr(colon + 1);
    place.host.resize(colon);
  }
  // The URL's path leads from the account's login directory (ftp://host/
  // is the login directory itself), as the client's scripts fetch
  // ./tavrin/data/...; a name from the root would miss the account's files
  // on any server whose accounts do not start at its root.
  std::size_t from = path.find_first_not_of('/');
  place.base = from == std::string::npos ? "" : path.substr(from);
  if (!place.base.empty() && place.base.back() != '/') place.base += '/';
  return place;
}

// The URL of `remote` (a name from the login directory, or absolute), its
// bytes escaped as a URL needs; "" when the host or port cannot be part of
// a URL.  The transfer sends the name whole (no change of directory), so
// "ftp://host/a/b" asks for a/b and "ftp://host//a/b" for /a/b.
std::string UrlOf(const Place &place, const std::string &remote) {
  CURLU *url = curl_url();
  if (!url) return "";
  const std::string path = "/" + remote;
  char *text = nullptr;
  bool ok = curl_url_set(url, CURLUPART_SCHEME, "ftp", 0) == CURLUE_OK &&
            curl_url_set(url, CURLUPART_HOST, place.host.c_str(), 0) == CURLUE_OK &&
            (place.port.empty() || curl_url_set(url, CURLUPART_PORT, place.port.c_str(), 0) == CURLUE_OK) &&
            curl_url_set(url, CURLUPART_PATH, path.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
            curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK;
  std::string out = ok && text ? text : "";
  curl_free(text);
  curl_url_cleanup(url);
  return out;
}

// What the transfer hands on, and why it stopped early.
struct Receiver {
  const std::function<bool(const char *, std::size_t)> *sink;
  std::uint64_t most;
  std::uint64_t received = 0;
  bool over = false;     // past `most`
  bool refused = false;  // the sink said stop
};

std::size_t Receive(char *data, std::size_t size, std::size_t count, void *context) {
  Receiver &r = *static_cast<Receiver *>(context);
  const std::size_t n = size * count;
  if (n > r.most - r.received) {
    r.over = true;
    return 0;  // any count but n stops the transfer
  }
  if (n > 0 && !(*r.sink)(data, n)) {
    r.refused = true;
    return 0;
  }
  r.received += n;
  return n;
}

// One transfer on the run's handle: the file `relative`, or with `listing`
// the MLSD listing of the directory `relative`.
bool Transfer(const Machine &machine, const std::string &relative, bool listing, std::uint64_t most,
              const std::function<bool(const char *, std::size_t)> &sink, std::string &why) {
  const Place place = PlaceOf(machine);
  std::string remote = relative.empty() || relative.front() != '/' ? place.base + "tavrin/data/" + relative : relative;
  if (listing && remote.back() != '/') remote += '/';
  const std::string what = (listing ? "the listing of " : "") + remote + " from " + machine.ftp_url;
  const std::string url = UrlOf(place, remote);
  CURL *easy = Handle::Get();
  if (url.empty() || !easy) {
    why = "cannot fetch " + what + (easy ? ": not an ftp://host[:port]/path URL" : ": no transfer handle");
    return false;
  }
  curl_easy_reset(easy);  // options of the last transfer go; its connection stays
  const char *home = std::getenv("HOME");
  const std::string netrc = std::string(home ? home : ".") + "/.netrc";
  char error[CURL_ERROR_SIZE] = "";
  Receiver receiver{&sink, most};
  curl_write_callback receive = Receive;
  bool set = curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD)) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_REQUIRED)) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_NETRC_FILE, netrc.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_WRITEDATA, &receiver) == CURLE_OK &&
             (!listing || curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "MLSD") == CURLE_OK);
  // A size the server states before the transfer past the limit ends it
  // before any byte comes.
  if (set && most < static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max()))
    set = curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(most)) == CURLE_OK;
  if (!set) {
    curl_easy_reset(easy);
    why = "cannot fetch " + what + ": the transfer cannot be set up";
    return false;
  }
  const CURLcode rc = curl_easy_perform(easy);
  curl_off_t stated = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &stated) != CURLE_OK) stated = -1;
  long reply = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply) != CURLE_OK) reply = 0;
  // The handle must not keep pointers to this call's error buffer and
  // receiver (closing the connection at the end of the run may report an
  // error); its connection stays.
  curl_easy_reset(easy);
  if (receiver.over || rc == CURLE_FILESIZE_EXCEEDED) {
    why = "cannot fetch " + what + ": it holds more than " + std::to_string(most) + " bytes";
  } else if (receiver.refused) {
    why = "cannot fetch " + what + ": its copy cannot be written";
  } else if (!listing && stated >= 0 && static_cast<std::uint64_t>(stated) != receiver.received) {
    // A transfer cut short, whatever the server replied after it.
    why = "cannot fetch " + what + ": " + std::to_string(receiver.received) + " of the " + std::to_string(stated) +
          " bytes the server stated arrived" + (reply >= 400 ? " (reply " + std::to_string(reply) + ")" : "");
  } else if (rc != CURLE_OK) {
    why = "cannot fetch " + what + ": " + (error[0] ? error : curl_easy_strerror(rc));
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
