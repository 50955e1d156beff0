// Fuzz target: an announcement as the background loop reads it from a
// broker it does not control, VKNotify as either program reads it, and
// what passes between the programs and their helper vknotify.
// Whatever they hold, the readers either refuse it with a reason or give
// a dataset made only of plain words; nothing crashes, however deep or
// large the text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Notify/Notify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  notify::Item item;
  std::string why;
  if (notify::ParseAnnouncement(text, item, why) == notify::kOk) {
    if (item.group.empty() || item.descriptor.empty() || item.position < 0) std::abort();
    for (const std::string *word : {&item.group, &item.descriptor})
      if (word->find_first_of("/ +#;'\"\n") != std::string::npos) std::abort();
  } else if (why.empty()) {
    std::abort();  // a refusal always says why
  }
  notify::ServerConfig server;
  if (notify::ParseServerConfig(text, server, why) == notify::kOk &&
      (server.broker.url.empty() || server.prefix.find_first_of("+#") != std::string::npos))
    std::abort();
  notify::ClientConfig client;
  if (notify::ParseClientConfig(text, client, why) == notify::kOk)
    for (const notify::Route &r : client.routes)
      if (r.broker >= client.brokers.size()) std::abort();
  // The helper's command line and the lines it writes back read back as
  // they are written.
  if (notify::ParseItemArgument(text, item) && notify::ItemArgument(item).empty()) std::abort();
  notify::BrokerState state;
  if (notify::ParseListenLine(text, state) == notify::kOk) {
    notify::BrokerState again;
    if (notify::ParseListenLine(notify::FormatBrokerState(state), again) != notify::kOk || again.url != state.url)
      std::abort();
  }
  return 0;
}
