// The background loop's wait between passes: the interval, or an
// announcement of a new item of a dataset the client watches, whichever
// comes first (VKNotify, docs/notify.md).  An announcement only wakes the
// loop: the pass that follows reads the servers' tables as every pass does,
// so nothing in a message reaches a command, a path or a record.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"

namespace client_internal {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectTimeoutMs = 1000;
// After a wake-up, messages are taken until none has come for this long
// (a burst of announcements wakes one pass), but not longer than the most.
constexpr int kQuietMs = 20;
constexpr int kMostGatherMs = 250;
constexpr int kFirstBackoffMs = 1000;
constexpr int kMostBackoffMs = 60000;

// A client id that stays the same for this working directory on this
// machine, so that the broker keeps its subscriptions and the messages
// that came while it was away.
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

}  // namespace

struct Waker::Listener {
  notify::Broker broker;
  notify::Connection connection;
  std::vector<std::string> topics;      // watched, subscribed when connected
  std::vector<std::string> subscribed_topics;
  bool subscribed = false;
  Clock::time_point next_attempt{};     // when to try to connect again
  int backoff_ms = kFirstBackoffMs;
  bool reported = false;                // a lost or refused connection said once
  health::BrokerHealth health;
};

Waker::Waker() = default;
Waker::~Waker() = default;

bool Waker::Load() {
  std::string text, why;
  int rc = notify::ReadConfigFile(notify::kNotifyFile, text, why);
  if (rc == notify::kMissing) return false;
  if (rc == notify::kOk) rc = notify::ParseClientConfig(text, config_, why);
  if (rc != notify::kOk) {
    Tveprintf("%s not used: %s; the loop waits its interval.\n", notify::kNotifyFile, why.c_str());
    return false;
  }
  client_id_ = ClientId();
  for (std::size_t i = 0; i < config_.brokers.size(); ++i) {
    auto listener = std::make_unique<Listener>();
    listener->broker = config_.brokers[i];
    listener->health.number = static_cast<int>(i) + 1;
    listener->health.url = listener->broker.url;
    listeners_.push_back(std::move(listener));
  }
  return true;
}

void Waker::Watch(const std::vector<std::pair<std::string, std::string>> &datasets) {
  for (auto &listener : listeners_) listener->topics.clear();
  for (const auto &[group, descriptor] : datasets)
    for (const notify::Route &route : config_.routes)
      if (route.group == group) {
        Listener &l = *listeners_[route.broker];
        std::string topic = notify::Topic(route.prefix, group, descriptor);
        if (std::find(l.topics.begin(), l.topics.end(), topic) == l.topics.end()) l.topics.push_back(topic);
      }
  for (auto &listener : listeners_) {
    Listener &l = *listener;
    std::sort(l.topics.begin(), l.topics.end());
    if (l.topics != l.subscribed_topics) l.subscribed = false;  // subscribe anew when connected
  }
}

// Connects (when due) and subscribes; false while the broker cannot be
// reached (the next attempt waits longer, up to a minute).
bool Waker::Reach(Listener &l) {
  if (l.connection.connected()) {
    if (l.subscribed) return true;
  } else {
    if (Clock::now() < l.next_attempt) return false;
    std::string why;
    if (l.connection.Connect(l.broker, client_id_, true, kConnectTimeoutMs, why) != notify::kOk) {
      if (!l.reported && verbose > 0) Tveprintf("%s; the loop waits its interval and tries again.\n", why.c_str());
      l.reported = true;
      l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
      l.backoff_ms = std::min(l.backoff_ms * 2, kMostBackoffMs);
      l.health.connected = 0;
      return false;
    }
    l.reported = false;
    l.backoff_ms = kFirstBackoffMs;
    l.subscribed = false;
  }
  std::string why;
  if (l.connection.Subscribe(l.topics, why) != notify::kOk) {
    if (verbose > 0) Tveprintf("%s: %s\n", l.broker.url.c_str(), why.c_str());
    l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
    return false;
  }
  l.subscribed = true;
  l.subscribed_topics = l.topics;
  l.health.connected = 1;
  if (verbose > 1) std::printf("Listening to %s for %zu datasets.\n", l.broker.url.c_str(), l.topics.size());
  return true;
}

// Whether a message wakes the loop: it came under a watched topic and is an
// announcement of that very dataset.
bool Waker::Wakes(const Listener &l, const std::string &topic, const std::string &payload) const {
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
  if (verbose > 1)
    std::printf("Notification on %s from %s ignored: %s.\n", Visible(topic.substr(0, 200)).c_str(), l.broker.url.c_str(),
                why.c_str());
  return false;
}

bool Waker::Wait(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
  bool woken = false;
  Clock::time_point gather_end{};  // once woken: when to stop gathering
  std::vector<Listener *> waking;
  while (true) {
    bool any_connected = false;
    for (auto &listener : listeners_) {
      Listener &l = *listener;
      if (!Reach(l)) continue;
      any_connected = true;
      // With one broker the whole wait is one receive; with more, each is
      // listened to in turn, a tenth of a second at a time.
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      int slice = woken ? kQuietMs
                        : static_cast<int>(std::max<std::int64_t>(
                              0, listeners_.size() == 1 ? left : std::min<std::int64_t>(left, 100)));
      while (true) {
        if (woken && Clock::now() >= gather_end) break;
        std::string topic, payload, why;
        int got = l.connection.Receive(slice, topic, payload, why);
        if (got < 0) {
          if (verbose > 0) Tveprintf("%s: %s; connecting again.\n", l.broker.url.c_str(), why.c_str());
          l.health.connected = 0;
          l.subscribed = false;
          l.next_attempt = Clock::now() + std::chrono::milliseconds(l.backoff_ms);
          break;
        }
        if (got == 0) break;
        ++l.health.received;
        if (Wakes(l, topic, payload)) {
          l.health.last = tv::Now();
          if (std::find(waking.begin(), waking.end(), &l) == waking.end()) waking.push_back(&l);
          if (!woken) gather_end = Clock::now() + std::chrono::milliseconds(kMostGatherMs);
          woken = true;
        }
        // Take what else comes of a burst, waiting a little for each.
        slice = woken ? kQuietMs : 0;
      }
    }
    if (woken) {
      // Everything that came counts as one wake-up: one pass for a burst.
      for (Listener *l : waking) ++l->health.woken;
      if (verbose > 1) std::printf("Notification: a pass at once.\n");
      return true;
    }
    if (Clock::now() >= end) return false;
    if (!any_connected) {
      // Nobody to listen to: sleep until the interval ends or the next
      // connection attempt, whichever comes first.
      auto until = end;
      for (auto &l : listeners_) until = std::min(until, std::max(l->next_attempt, Clock::now()));
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      Tvsleep(static_cast<int>(std::max<std::int64_t>(ms, 1)));
    }
  }
}

std::vector<health::BrokerHealth> Waker::Health() const {
  std::vector<health::BrokerHealth> out;
  for (const auto &l : listeners_) out.push_back(l->health);
  return out;
}

}  // namespace client_internal
