// One announcement: its topic, its identifier, its JSON text, and reading
// it back.

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Notify/Notify.h"
#include "host/host.h"

namespace notify {
namespace {

using nlohmann::json;

// RFC 3339 in UTC of seconds since 1970.
std::string Rfc3339(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "";
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// RFC 3339 of a CCYYDDD date and HHMMSS time, or "" when they are no valid
// moment.
std::string Rfc3339(int date, int time) {
  std::int64_t seconds = 0;
  if (Tvdaytimetosec(date, time, &seconds) != 0 || time < 0 || time > 235959) return "";
  return Rfc3339(seconds);
}

// The deepest nesting of arrays and objects in a JSON text (strings
// skipped), counted before the text is parsed at all.
int Depth(std::string_view text) {
  int depth = 0, most = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > most) most = depth;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return most;
}

}  // namespace

std::string Topic(std::string_view prefix, std::string_view group, std::string_view descriptor) {
  std::string topic(prefix);
  topic += '/';
  topic += group;
  topic += '/';
  topic += descriptor;
  return topic;
}

std::string NewId() {
  unsigned char bytes[16] = {};
  std::size_t have = 0;
  while (have < sizeof bytes) {
    ssize_t got = getrandom(bytes + have, sizeof bytes - have, 0);
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // the variant of RFC 4122
  char text[40];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string FormatAnnouncement(const Item &item, std::int64_t pubtime, std::string_view base_url, std::string_view id) {
  const std::string data_id = item.group + "/" + item.descriptor + "/" + std::to_string(item.position);
  std::string base(base_url);
  while (!base.empty() && base.back() == '/') base.pop_back();
  json properties = {{"data_id", data_id}, {"pubtime", Rfc3339(pubtime)}};
  const std::string datetime = Rfc3339(item.data_date, item.data_time);
  properties["datetime"] = datetime.empty() ? json(nullptr) : json(datetime);
  json message = {
      {"id", std::string(id)},
      {"conformsTo", json::array({"http://wis.wmo.int/spec/wnm/1/conf/core"})},
      {"type", "Feature"},
      {"geometry", nullptr},
      {"properties", properties},
      {"links", json::array({{{"rel", "canonical"}, {"href", base + "/" + data_id}}})},
      {"varnek",
       {{"type", item.type},
        {"group", item.group},
        {"descriptor", item.descriptor},
        {"position", item.position},
        {"data_date", item.data_date},
        {"data_time", item.data_time},
        {"file_date", item.file_date},
        {"file_time", item.file_time}}},
  };
  // Bytes that are not UTF-8 (a hand-edited record) become U+FFFD rather
  // than stopping the program.
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

int ParseAnnouncement(std::string_view payload, Item &item, std::string &why) {
  item = Item{};
  if (payload.size() > kMostMessageBytes) return why = "larger than " + std::to_string(kMostMessageBytes) + " bytes", kFailed;
  if (Depth(payload) > kMostMessageDepth) return why = "nested deeper than " + std::to_string(kMostMessageDepth), kFailed;
  const json message = json::parse(payload.begin(), payload.end(), nullptr, false);
  if (message.is_discarded() || !message.is_object()) return why = "not a JSON object", kFailed;
  auto type = message.find("type");
  if (type == message.end() || !type->is_string() || *type != "Feature") return why = "not a Feature", kFailed;
  auto properties = message.find("properties");
  if (properties == message.end() || !properties->is_object()) return why = "no properties", kFailed;
  auto data_id = properties->find("data_id");
  if (data_id == properties->end() || !data_id->is_string()) return why = "no data_id", kFailed;
  const std::string &id = data_id->get_ref<const std::string &>();
  std::size_t first = id.find('/'), last = id.rfind('/');
  if (first == std::string::npos || first == last) return why = "data_id is not group/descriptor/position", kFailed;
  std::string_view text(id);
  std::string_view group = text.substr(0, first), descriptor = text.substr(first + 1, last - first - 1),
                   position = text.substr(last + 1);
  int number = 0;
  auto [end, ec] = std::from_chars(position.data(), position.data() + position.size(), number);
  if (!TopicWord(group) || !TopicWord(descriptor) || ec != std::errc() || end != position.data() + position.size() ||
      number < 0)
    return why = "data_id is not group/descriptor/position", kFailed;
  item.group = std::string(group);
  item.descriptor = std::string(descriptor);
  item.position = number;
  return kOk;
}

}  // namespace notify

namespace notify {

std::string ItemArgument(const Item &item) {
  return item.type + "/" + item.group + "/" + item.descriptor + "/" + std::to_string(item.position) + "/" +
         std::to_string(item.data_date) + "/" + std::to_string(item.data_time) + "/" +
         std::to_string(item.file_date) + "/" + std::to_string(item.file_time);
}

bool ParseItemArgument(std::string_view text, Item &item) {
  item = Item{};
  std::vector<std::string_view> parts;
  while (true) {
    std::size_t slash = text.find('/');
    parts.push_back(text.substr(0, slash));
    if (slash == std::string_view::npos) break;
    text.remove_prefix(slash + 1);
  }
  if (parts.size() != 8 || !TopicWord(parts[0]) || !TopicWord(parts[1]) || !TopicWord(parts[2])) return false;
  int *numbers[] = {&item.position, &item.data_date, &item.data_time, &item.file_date, &item.file_time};
  for (int i = 0; i < 5; ++i) {
    std::string_view p = parts[static_cast<std::size_t>(i) + 3];
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), *numbers[i]);
    if (p.empty() || ec != std::errc() || end != p.data() + p.size() || *numbers[i] < 0) return false;
  }
  item.type = std::string(parts[0]);
  item.group = std::string(parts[1]);
  item.descriptor = std::string(parts[2]);
  return true;
}

std::string FormatBrokerState(const BrokerState &state) {
  return "broker " + std::to_string(state.number) + " " + std::to_string(state.connected) + " " +
         std::to_string(state.last) + " " + std::to_string(state.received) + " " + state.url;
}

int ParseListenLine(std::string_view line, BrokerState &state) {
  if (line == "wake") return kMissing;
  if (line.substr(0, 7) != "broker ") return kFailed;
  line.remove_prefix(7);
  state = BrokerState{};
  std::int64_t values[4] = {};
  for (std::int64_t &v : values) {
    std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return kFailed;
    auto [end, ec] = std::from_chars(line.data(), line.data() + blank, v);
    if (ec != std::errc() || end != line.data() + blank) return kFailed;
    line.remove_prefix(blank + 1);
  }
  state.number = static_cast<int>(values[0]);
  state.connected = values[1] != 0 ? 1 : 0;
  state.last = values[2];
  state.received = values[3];
  state.url = std::string(line);
  return state.url.empty() ? kFailed : kOk;
}

std::vector<std::vector<std::string>> TopicsByBroker(const ClientConfig &config,
                                                     const std::vector<std::string> &datasets) {
  std::vector<std::vector<std::string>> topics(config.brokers.size());
  for (const std::string &dataset : datasets) {
    std::size_t slash = dataset.find('/');
    if (slash == std::string::npos) continue;
    const std::string group = dataset.substr(0, slash);
    for (const Route &route : config.routes)
      if (route.group == group) {
        std::string topic = Topic(route.prefix, group, dataset.substr(slash + 1));
        auto &list = topics[route.broker];
        if (std::find(list.begin(), list.end(), topic) == list.end()) list.push_back(topic);
      }
  }
  for (auto &list : topics) std::sort(list.begin(), list.end());
  return topics;
}

std::string HelperPath() {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "vknotify";
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "vknotify";
}

}  // namespace notify
