// New items announced through an MQTT broker: the server's VKS INVOKE
// announces each record it writes, and the client's background loop wakes
// on an announcement for a dataset it watches and runs its normal pass at
// once.  The availability table stays the only truth: an announcement is a
// wake-up, never a command, a path or a record, so one that is lost,
// repeated or forged costs at most a pass.
//
// Three parts share this header, so writer and reader agree:
//
//   the file      VKNotify in the working directory: for a server, the
//                 broker, the topic prefix and the base URL items are
//                 fetched from; for a client, brokers and the groups whose
//                 datasets each announces (format in docs/notify.md);
//   the message   one announcement: a GeoJSON Feature with the core fields
//                 of a notification message (id, pubtime, datetime,
//                 data_id, a canonical link) and this system's own under
//                 "varnek"; its topic <prefix>/<group>/<descriptor>;
//   the broker    one connection through the Eclipse Paho MQTT C client:
//                 connect with a time limit, publish at QoS 1 and wait for
//                 the broker's acknowledgement, subscribe, receive with a
//                 time limit.
//
// Nothing here prints; every function says what failed in `why`.  Nothing
// throws: JSON is read with exceptions off and every value's type checked.

#ifndef VARNEK_NOTIFY_NOTIFY_H
#define VARNEK_NOTIFY_NOTIFY_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace notify {

inline constexpr const char *kNotifyFile = "VKNotify";
inline constexpr std::size_t kMostFileBytes = 64 * 1024;      // a larger VKNotify is refused
inline constexpr std::size_t kMostMessageBytes = 64 * 1024;   // a larger announcement is ignored
inline constexpr int kMostMessageDepth = 8;                   // nesting of an announcement's JSON

// Results.
inline constexpr int kOk = 0;
inline constexpr int kMissing = 1;  // no VKNotify: nothing is announced or awaited
inline constexpr int kFailed = 2;   // see `why`

// A broker and how to log in to it.
struct Broker {
  std::string url;            // mqtt://host:port, or mqtts://host:port for TLS
  std::string user;           // "" none
  std::string password_file;  // its first line is the password; "" none
  std::string ca_file;        // certificates to trust (mqtts); "" the system's
};

// A server machine's VKNotify.
struct ServerConfig {
  Broker broker;
  std::string prefix;    // topic prefix, e.g. "origin/a/wis2/xx-varnek/data"
  std::string base_url;  // where a client would fetch items, e.g. "https://host/varnek"
};

// A client's VKNotify: each group is announced by one broker under a prefix.
struct Route {
  std::string group;
  std::size_t broker = 0;  // index in ClientConfig::brokers
  std::string prefix;
};
struct ClientConfig {
  std::vector<Broker> brokers;
  std::vector<Route> routes;
};

// Reads VKNotify's text.  kOk, or kFailed with `why` naming the line.
[[nodiscard]] int ParseServerConfig(std::string_view text, ServerConfig &config, std::string &why);
[[nodiscard]] int ParseClientConfig(std::string_view text, ClientConfig &config, std::string &why);

// Reads `path` (a regular file, at most kMostFileBytes).  kOk, kMissing
// when there is none, or kFailed with `why`.
[[nodiscard]] int ReadConfigFile(const char *path, std::string &text, std::string &why);

// One item a record of the availability file names.
struct Item {
  std::string type;        // AREA, MD, GRID or TEXT
  std::string group;       // the record's group (TEXT: "TEXT")
  std::string descriptor;  // the record's descriptor (TEXT: the file's name)
  int position = 0;        // the item's position on the server (TEXT: 1)
  int data_date = 0;       // CCYYDDD and HHMMSS of the data (the file's for
  int data_time = 0;       // MD, GRID and TEXT)
  int file_date = 0;       // the data file's modification
  int file_time = 0;
};

// Whether a group, descriptor or position can be a topic level and a word
// of a data_id: 1 to 31 letters, digits and "_-.".
[[nodiscard]] bool TopicWord(std::string_view text);

// The topic an item is announced under: <prefix>/<group>/<descriptor>.
std::string Topic(std::string_view prefix, std::string_view group, std::string_view descriptor);

// A new random identifier (a version 4 UUID).
std::string NewId();

// The announcement of `item`, published at `pubtime` (seconds since 1970
// UTC), its link under `base_url`.
std::string FormatAnnouncement(const Item &item, std::int64_t pubtime, std::string_view base_url, std::string_view id);

// Reads an announcement: kOk with the item's group, descriptor and position
// (from its data_id), or kFailed with `why` (not JSON, too large, too deep,
// a field missing or of the wrong type).  Only a wake-up is decided by it.
[[nodiscard]] int ParseAnnouncement(std::string_view payload, Item &item, std::string &why);

// ---------------------------------------------------------------------------
// The helper program vknotify, which alone speaks to brokers: vks starts
// `vknotify announce ITEM...` after its table write, and the background
// loop keeps `vknotify listen DATASET...` running and reads its events.

// vknotify's path: beside the running program (the system's programs are
// installed together).
std::string HelperPath();

// An item on vknotify's command line:
// TYPE/GROUP/DESCRIPTOR/POSITION/DATA_DATE/DATA_TIME/FILE_DATE/FILE_TIME.
std::string ItemArgument(const Item &item);
[[nodiscard]] bool ParseItemArgument(std::string_view text, Item &item);

// What `vknotify listen` writes, a line each: "wake" (announcements of
// watched datasets came, gathered into one wake-up) or a broker's state,
// "broker <number> <connected 0|1> <last> <received> <url>".
struct BrokerState {
  int number = 0;          // its place in VKNotify, from 1
  std::string url;
  int connected = 0;
  std::int64_t last = 0;   // when the last announcement of a watched dataset came
  std::int64_t received = 0;
};
std::string FormatBrokerState(const BrokerState &state);
// kOk: a broker line (`state` set); kMissing: the wake line; kFailed: neither.
[[nodiscard]] int ParseListenLine(std::string_view line, BrokerState &state);

// The datasets a client's VKNotify routes, as topics for each broker: the
// dataset's topic under the prefix of its group's route.
std::vector<std::vector<std::string>> TopicsByBroker(const ClientConfig &config,
                                                     const std::vector<std::string> &datasets);

// One connection to a broker (the calling sequence: Connect, then Publish
// or Subscribe and Receive, and the destructor disconnects).
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  // Connects as `client_id` within `timeout_ms` (rounded up to whole
  // seconds for the broker's answer; a refused connection returns at once).
  // `persistent`: the broker keeps the subscriptions and the QoS 1 messages
  // of this client id while it is away.  kOk or kFailed with `why`.
  [[nodiscard]] int Connect(const Broker &broker, const std::string &client_id, bool persistent, int timeout_ms,
                            std::string &why);

  // Publishes `messages` (topic, payload) at QoS 1, retained, and waits up
  // to `timeout_ms` for the broker to acknowledge every one.  kOk or kFailed
  // with `why`.
  [[nodiscard]] int Publish(const std::vector<std::pair<std::string, std::string>> &messages, int timeout_ms,
                            std::string &why);

  // Subscribes to `topics` at QoS 1.  kOk or kFailed with `why`.
  [[nodiscard]] int Subscribe(const std::vector<std::string> &topics, std::string &why);

  // Waits up to `timeout_ms` for a message: 1 with `topic` and `payload`
  // set; 0 when none came; -1 when the connection is lost (`why` says so).
  [[nodiscard]] int Receive(int timeout_ms, std::string &topic, std::string &payload, std::string &why);

  bool connected() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace notify

#endif  // VARNEK_NOTIFY_NOTIFY_H
