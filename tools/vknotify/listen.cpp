// vknotify listen: the brokers of a client's VKNotify, listened to for the
// datasets the background loop names.  It writes "wake" when announcements
// of watched datasets came (a burst gathered into one line), and a broker
// line whenever a broker's state changes; it ends with the loop that
// started it.  An announcement only wakes: nothing in a message is passed
// on.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Notify/Notify.h"
#include "host/host.h"
#include "posix/posix.h"
#include "tools/vknotify/vknotify.h"
#include "vocab/vocab.h"

namespace vknotify {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 1000;
constexpr int kFirstBackoffMs = 1000;
constexpr int kMostBackoffMs = 60000;
// After a wake-up, messages are taken until none has come for this long
// (a burst of announcements wakes one pass), but not longer than the most.
constexpr int kQuietMs = 5;
constexpr int kMostGatherMs = 250;

// A client id that stays the same for this working directory on this
// machine, so that the broker keeps its subscriptions and the messages
// that came while the loop was away.
std::string ClientId() {
  char host[256] = {};
  (void)gethostname(host, sizeof host - 1);
  char dir[4096] = {};
  if (!getcwd(dir, sizeof dir - 1)) dir[0] = '\0';
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const char *part : {static_cast<const char *>(host), ":", static_cast<const char *>(dir)})
    for (const char *c = part; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
  char id[32];
  std::snprintf(id, sizeof id, "vkc-%016llx", static_cast<unsigned long long>(hash));
  return id;
}

struct Listener {
  notify::Broker broker;
  notify::Connection connection;
  std::vector<std::string> topics;  // watched
  bool subscribed = false;
  Clock::time_point next_attempt{};  // when to try to connect again
  int backoff_ms = kFirstBackoffMs;
  bool reported = false;  // a refused connection said once
  notify::BrokerState state;
  std::string said;  // the state line last written
};

class Session {
 public:
  Session(notify::ClientConfig config, const std::vector<std::string> &datasets, bool chatty)
      : config_(std::move(config)), verbose_(chatty), client_id_(ClientId()) {
    auto topics = notify::TopicsByBroker(config_, datasets);
    for (std::size_t i = 0; i < config_.brokers.size(); ++i) {
      auto l = std::make_unique<Listener>();
      l->broker = config_.brokers[i];
      l->topics = topics[i];
      l->state.number = static_cast<int>(i) + 1;
      l->state.url = l->broker.url;
      listeners_.push_back(std::move(l));
    }
  }

  // Runs until the loop that started it ends (its standard output, a pipe,
  // can no longer be written, or it is sent SIGTERM).
  int Run() {
    while (true) {
      if (!Say()) return 0;
      if (Wait() && !Line("wake")) return 0;
    }
  }

 private:
  // Writes a line to the loop; false when the loop is gone.
  bool Line(const std::string &line) {
    std::string text = line + "\n";
    return posix::WriteAll(1, text.data(), text.size());
  }

  // Writes each broker's state when it changed.
  bool Say() {
    for (auto &l : listeners_) {
      std::string line = notify::FormatBrokerState(l->state);
      if (line == l->said) continue;
      if (!Line(line)) return false;
      l->said = line;
    }
    return true;
  }

  // Connects (when due) and subscribes; false while the broker cannot be
  // reached (the next attempt waits longer, up to a minute).
  bool Reach(Listener &l) {
    std::string why;
    if (!l.connection.connected()) {
      if (Clock::now() < l.next_attempt) return false;
      if (l.connection.Connect(l.broker, client_id_, true, kConnectTimeoutMs, why) != notify::kOk) {
        if (!l.reported) std::fprintf(stderr, "vknotify: %s; the loop waits its interval and tries again.\n", why.c_str());
        l.reported = true;
        l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
        l.backoff_ms = std::min(l.backoff_ms * 2, kMostBackoffMs);
        l.state.connected = 0;
        return false;
      }
      l.reported = false;
      l.backoff_ms = kFirstBackoffMs;
      l.subscribed = false;
    }
    if (l.subscribed) return true;
    if (l.connection.Subscribe(l.topics, why) != notify::kOk) {
      std::fprintf(stderr, "vknotify: %s: %s\n", l.broker.url.c_str(), why.c_str());
      l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
      return false;
    }
    l.subscribed = true;
    l.state.connected = 1;
    // Standard output is the loop's pipe: what is said for the operator
    // goes to the error stream.
    if (verbose_) std::fprintf(stderr, "Listening to %s for %zu datasets.\n", l.broker.url.c_str(), l.topics.size());
    return true;
  }

  // Whether a message wakes the loop: it came under a watched topic and is
  // an announcement of that very dataset.
  bool Wakes(const Listener &l, const std::string &topic, const std::string &payload) const {
    std::string why;
    notify::Item item;
    if (std::find(l.topics.begin(), l.topics.end(), topic) == l.topics.end()) {
      why = "no watched dataset";
    } else if (notify::ParseAnnouncement(payload, item, why) == notify::kOk) {
      const std::string dataset = "/" + item.group + "/" + item.descriptor;
      if (topic.size() > dataset.size() && topic.compare(topic.size() - dataset.size(), dataset.size(), dataset) == 0)
        return true;
      why = "its data_id is another dataset's";
    }
    if (verbose_)
      std::fprintf(stderr, "Notification on %s from %s ignored: %s.\n", Visible(topic.substr(0, 200)).c_str(),
                   l.broker.url.c_str(), why.c_str());
    return false;
  }

  // Waits until announcements of watched datasets came: true then, once
  // the rest of a burst has been taken too; false when a broker's state
  // changed and is to be said first.
  bool Wait() {
    bool woken = false;
    Clock::time_point gather_end{};
    while (true) {
      bool any_connected = false;
      for (auto &listener : listeners_) {
        Listener &l = *listener;
        const int was_connected = l.state.connected;
        if (!Reach(l)) {
          if (l.state.connected != was_connected && !woken) return false;
          continue;
        }
        if (l.state.connected != was_connected && !woken) return false;
        any_connected = true;
        // With one broker each receive waits long; with more, each is
        // listened to in turn, a tenth of a second at a time.
        int slice = woken ? kQuietMs : listeners_.size() == 1 ? 60000 : 100;
        while (true) {
          if (woken && Clock::now() >= gather_end) break;
          std::string topic, payload, why;
          int got = l.connection.Receive(slice, topic, payload, why);
          if (got < 0) {
            std::fprintf(stderr, "vknotify: %s: %s; connecting again.\n", l.broker.url.c_str(), why.c_str());
            l.state.connected = 0;
            l.subscribed = false;
            l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
            if (!woken) return false;
            break;
          }
          if (got == 0) break;
          ++l.state.received;
          if (Wakes(l, topic, payload)) {
            l.state.last = tv::Now();
            if (!woken) gather_end = Clock::now() + std::chrono::milliseconds(kMostGatherMs);
            woken = true;
          }
          // Take what else comes of a burst, waiting a little for each.
          slice = woken ? kQuietMs : 0;
        }
      }
      if (woken) return true;
      if (!any_connected) {
        // Nobody to listen to: sleep until the next connection attempt.
        auto until = Clock::now() + std::chrono::milliseconds(kMostBackoffMs);
        for (auto &l : listeners_) until = std::min(until, std::max(l->next_attempt, Clock::now()));
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        Tvsleep(static_cast<int>(std::max<std::int64_t>(ms, 1)));
      }
    }
  }

  notify::ClientConfig config_;
  bool verbose_;
  std::string client_id_;
  std::vector<std::unique_ptr<Listener>> listeners_;
};

}  // namespace

int Listen(const std::vector<std::string> &datasets, bool verbose) {
  // It never outlives the loop that started it.
  if (!posix::EndWithParent(getppid())) return 0;
  std::string text, why;
  int rc = notify::ReadConfigFile(notify::kNotifyFile, text, why);
  notify::ClientConfig config;
  if (rc == notify::kOk) rc = notify::ParseClientConfig(text, config, why);
  if (rc != notify::kOk) {
    std::fprintf(stderr, "vknotify: %s not used: %s\n", notify::kNotifyFile,
                 rc == notify::kMissing ? "there is none" : why.c_str());
    return 1;
  }
  return Session(std::move(config), datasets, verbose).Run();
}

}  // namespace vknotify
