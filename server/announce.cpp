// The announcement of the records VKS INVOKE has written, to the broker
// VKNotify names: one message per record, QoS 1, retained, under
// <prefix>/<group>/<descriptor>.  Best effort and bounded: the table is
// written already, and nothing here changes what INVOKE prints or returns.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "Notify/Notify.h"
#include "host/host.h"
#include "server/server.h"

namespace {

// The whole announcement may take this long: a broker that does not answer
// costs INVOKE at most this.
constexpr int kBudgetMs = 1000;

// The item a written record names; false for a record whose group or
// descriptor cannot be a topic level (they are announced only as words of
// letters, digits and "_-.").
bool ItemOf(const ServerRec &rec, notify::Item &item) {
  item = notify::Item{};
  item.type = TypeWord(rec.DataType);
  item.file_date = item.data_date = rec.fileMdate;
  item.file_time = item.data_time = rec.fileMtime;
  switch (rec.DataType) {
    case AREA:
      item.group = rec.ServerData.Area.Group;
      item.descriptor = rec.ServerData.Area.Descriptor;
      item.position = rec.ServerData.Area.currentNum;
      item.data_date = rec.ServerData.Area.dataDate;
      item.data_time = rec.ServerData.Area.dataTime;
      break;
    case MD:
      item.group = rec.ServerData.Md.Group;
      item.descriptor = rec.ServerData.Md.Descriptor;
      item.position = rec.ServerData.Md.currentNum;
      break;
    case GRID:
      item.group = rec.ServerData.Grid.Group;
      item.descriptor = rec.ServerData.Grid.Descriptor;
      item.position = rec.ServerData.Grid.currentNum;
      break;
    case TEXT:
      item.group = "TEXT";
      item.descriptor = rec.ServerData.Text.fileName;
      item.position = 1;
      break;
    default:
      return false;
  }
  for (const std::string *word : {&item.group, &item.descriptor}) {
    if (word->empty() || word->size() > 31) return false;
    for (char c : *word)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
            c == '.'))
        return false;
  }
  return true;
}

}  // namespace

void announceServerRecs(const std::vector<ServerRec> &written) {
  if (written.empty()) return;
  std::string text, why;
  int rc = notify::ReadConfigFile(notify::kNotifyFile, text, why);
  if (rc == notify::kMissing) return;  // nothing is announced without the file
  notify::ServerConfig config;
  if (rc == notify::kOk) rc = notify::ParseServerConfig(text, config, why);
  if (rc != notify::kOk) {
    Tveprintf("INVOKEServer: %s not used: %s; nothing announced.\n", notify::kNotifyFile, why.c_str());
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  auto remaining_ms = [&] {
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<int>(kBudgetMs - spent.count());
  };
  notify::Connection broker;
  // A client id of this run: the announcement needs no session kept.
  if (broker.Connect(config.broker, "vks-" + notify::NewId().substr(0, 8), false, kBudgetMs, why) != notify::kOk) {
    Tveprintf("INVOKEServer: %s; nothing announced.\n", why.c_str());
    return;
  }
  const std::int64_t now = tv::Now();
  std::vector<std::pair<std::string, std::string>> messages;
  int skipped = 0;
  for (const ServerRec &rec : written) {
    notify::Item item;
    if (!ItemOf(rec, item)) {
      ++skipped;
      continue;
    }
    messages.emplace_back(notify::Topic(config.prefix, item.group, item.descriptor),
                          notify::FormatAnnouncement(item, now, config.base_url, notify::NewId()));
  }
  if (skipped > 0)
    Tvdprintf("announce: %d records whose group or descriptor is no topic word were not announced\n", skipped);
  if (broker.Publish(messages, remaining_ms(), why) != notify::kOk)
    Tveprintf("INVOKEServer: %s: %s; not every record announced.\n", config.broker.url.c_str(), why.c_str());
}
