// vknotify announce: the items VKS INVOKE wrote, announced to the broker of
// the server's VKNotify, one message each, QoS 1, retained.  INVOKE does not
// wait for it; it bounds itself: the announcement takes at most a second (a
// broker that refuses the connection, no time at all), and an alarm ends
// the program should the broker client ever hang past that.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Notify/Notify.h"
#include "host/host.h"
#include "tools/vknotify/vknotify.h"

namespace vknotify {

namespace {
constexpr int kBudgetMs = 1000;
constexpr unsigned kAlarmSeconds = 3;
}

int Announce(const std::vector<std::string> &arguments) {
  ::alarm(kAlarmSeconds);
  std::string text, why;
  int rc = notify::ReadConfigFile(notify::kNotifyFile, text, why);
  if (rc == notify::kMissing) return 0;  // nothing is announced without the file
  notify::ServerConfig config;
  if (rc == notify::kOk) rc = notify::ParseServerConfig(text, config, why);
  if (rc != notify::kOk) {
    std::fprintf(stderr, "vknotify: %s not used: %s; nothing announced.\n", notify::kNotifyFile, why.c_str());
    return 1;
  }
  const std::int64_t now = tv::Now();
  std::vector<std::pair<std::string, std::string>> messages;
  for (const std::string &argument : arguments) {
    notify::Item item;
    if (!notify::ParseItemArgument(argument, item)) {
      std::fprintf(stderr, "vknotify: %s is not an item; nothing announced.\n", argument.substr(0, 100).c_str());
      return 2;
    }
    messages.emplace_back(notify::Topic(config.prefix, item.group, item.descriptor),
                          notify::FormatAnnouncement(item, now, config.base_url, notify::NewId()));
  }
  const auto start = std::chrono::steady_clock::now();
  notify::Connection broker;
  // A client id of this run: the announcement needs no session kept.
  if (broker.Connect(config.broker, "vks-" + notify::NewId().substr(0, 8), false, kBudgetMs, why) != notify::kOk) {
    std::fprintf(stderr, "vknotify: %s; nothing announced.\n", why.c_str());
    return 1;
  }
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  if (broker.Publish(messages, static_cast<int>(kBudgetMs - spent.count()), why) != notify::kOk) {
    std::fprintf(stderr, "vknotify: %s: %s; not every item announced.\n", config.broker.url.c_str(), why.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vknotify
