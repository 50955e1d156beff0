// VKNotify as the server and the client read it, and the announcement as
// it is written and read back, hostile messages among them.

#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "Notify/Notify.h"

namespace {

TEST(NotifyConfig, ServerAndClientFilesAndTheirRefusals) {
  notify::ServerConfig server;
  std::string why;
  ASSERT_EQ(notify::ParseServerConfig("# announce to the local broker\nbroker mqtt://127.0.0.1:1883\n"
                                      "prefix origin/a/varnek\nbase-url ftp://host/tavrin/data\nuser vks\n",
                                      server, why),
            notify::kOk)
      << why;
  EXPECT_EQ(server.broker.url, "mqtt://127.0.0.1:1883");
  EXPECT_EQ(server.broker.user, "vks");
  EXPECT_EQ(server.prefix, "origin/a/varnek");

  notify::ClientConfig client;
  ASSERT_EQ(notify::ParseClientConfig("broker mqtt://a:1\ngroup RTIM RTPT prefix p/q\n"
                                      "broker mqtts://b\nca-file /etc/ca.pem\ngroup GOES prefix r\n",
                                      client, why),
            notify::kOk)
      << why;
  ASSERT_EQ(client.brokers.size(), 2u);
  EXPECT_EQ(client.brokers[1].ca_file, "/etc/ca.pem");
  ASSERT_EQ(client.routes.size(), 3u);
  EXPECT_EQ(client.routes[2].group, "GOES");
  EXPECT_EQ(client.routes[2].broker, 1u);

  const struct {
    const char *text;
    bool server;
    const char *why;
  } refused[] = {
      {"broker http://a\nprefix p\nbase-url u\n", true, "line 1: broker wants"},
      {"broker mqtt://a:99999\nprefix p\nbase-url u\n", true, "line 1: broker wants"},
      {"broker mqtt://a\nprefix p/#\nbase-url u\n", true, "line 2: prefix wants"},
      {"broker mqtt://a\nbroker mqtt://b\n", true, "line 2: broker is given twice"},
      {"broker mqtt://a\nprefix p\n", true, "broker, prefix and base-url must all be given"},
      {"broker mqtt://a\ncolour red\n", true, "line 2: unknown setting colour"},
      {"group RTIM prefix p\n", false, "line 1: group before any broker"},
      {"broker mqtt://a\ngroup RT/IM prefix p\n", false, "line 2: group RT/IM is not a word"},
      {"broker mqtt://a\ngroup RTIM prefix p\ngroup RTIM prefix q\n", false, "line 3: group RTIM is given twice"},
      {"broker mqtt://a\n", false, "no group is given"},
  };
  for (const auto &row : refused) {
    int rc = row.server ? notify::ParseServerConfig(row.text, server, why) : notify::ParseClientConfig(row.text, client, why);
    EXPECT_EQ(rc, notify::kFailed) << row.text;
    EXPECT_EQ(why.rfind(row.why, 0), 0u) << row.text << " -> " << why;
  }
}

TEST(NotifyMessage, AnnouncementCarriesTheCoreFieldsAndReadsBack) {
  notify::Item item;
  item.type = "AREA", item.group = "RTIM", item.descriptor = "G8IR", item.position = 5;
  item.data_date = 2024001, item.data_time = 123000, item.file_date = 2024001, item.file_time = 123500;
  const std::string id = notify::NewId();
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id[14], '4');  // a version 4 identifier
  const std::string text = notify::FormatAnnouncement(item, 1704112200, "ftp://host/data/", id);
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << text;
  EXPECT_EQ(j["id"], id);
  EXPECT_EQ(j["type"], "Feature");
  EXPECT_TRUE(j["geometry"].is_null());
  EXPECT_EQ(j["properties"]["data_id"], "RTIM/G8IR/5");
  EXPECT_EQ(j["properties"]["pubtime"], "2024-01-01T12:30:00Z");
  EXPECT_EQ(j["properties"]["datetime"], "2024-01-01T12:30:00Z");
  EXPECT_EQ(j["links"][0]["rel"], "canonical");
  EXPECT_EQ(j["links"][0]["href"], "ftp://host/data/RTIM/G8IR/5");
  EXPECT_EQ(j["varnek"]["file_time"], 123500);
  EXPECT_EQ(notify::Topic("p/q", "RTIM", "G8IR"), "p/q/RTIM/G8IR");

  notify::Item back;
  std::string why;
  ASSERT_EQ(notify::ParseAnnouncement(text, back, why), notify::kOk) << why;
  EXPECT_EQ(back.group, "RTIM");
  EXPECT_EQ(back.descriptor, "G8IR");
  EXPECT_EQ(back.position, 5);
}

// What vks hands its helper on the command line and what the helper writes
// back on its pipe read back as written; anything else is refused.
TEST(NotifyMessage, HelperArgumentsAndLinesReadBackAndNothingElse) {
  notify::Item item, back;
  item.type = "GRID", item.group = "RTGR", item.descriptor = "GFS", item.position = 12;
  item.data_date = 2024001, item.data_time = 0, item.file_date = 2024002, item.file_time = 235959;
  ASSERT_TRUE(notify::ParseItemArgument(notify::ItemArgument(item), back)) << notify::ItemArgument(item);
  EXPECT_EQ(notify::ItemArgument(back), notify::ItemArgument(item));
  for (const char *bad : {"", "GRID/RTGR/GFS/12/2024001/0/2024002", "GRID/RT GR/GFS/12/1/2/3/4",
                          "GRID/RTGR/GFS/-1/1/2/3/4", "GRID/RTGR/GFS/1x/1/2/3/4"})
    EXPECT_FALSE(notify::ParseItemArgument(bad, back)) << bad;

  notify::BrokerState state, read;
  state.number = 2, state.url = "mqtt://127.0.0.1:1883", state.connected = 1, state.last = 1704110400, state.received = 7;
  ASSERT_EQ(notify::ParseListenLine(notify::FormatBrokerState(state), read), notify::kOk);
  EXPECT_EQ(notify::FormatBrokerState(read), notify::FormatBrokerState(state));
  EXPECT_EQ(notify::ParseListenLine("wake", read), notify::kMissing);
  for (const char *bad : {"", "wake up", "broker", "broker x 1 0 0 mqtt://h", "broker 1 mqtt://h 1 0 0", "broker 1 1 0 0"})
    EXPECT_EQ(notify::ParseListenLine(bad, read), notify::kFailed) << bad;
}

TEST(NotifyMessage, HostileMessagesAreRefusedWithAReason) {
  const std::string deep = std::string(20000, '[') + std::string(20000, ']');
  const std::string large = "{\"type\":\"Feature\",\"pad\":\"" + std::string(10 << 20, 'x') + "\"}";
  const struct {
    std::string payload;
    const char *why;
  } rows[] = {
      {std::string("\x00\xff\xfe binary", 10), "not a JSON object"},
      {large, "larger than"},
      {deep, "nested deeper than"},
      {"[1,2]", "not a JSON object"},
      {R"({"type":"Feature","properties":{"data_id":5}})", "no data_id"},
      {R"({"type":7,"properties":{"data_id":"A/B/1"}})", "not a Feature"},
      {R"({"type":"Feature","properties":"A/B/1"})", "no properties"},
      {R"({"type":"Feature","properties":{"data_id":"A/B/../1"}})", "data_id is not"},
      {R"({"type":"Feature","properties":{"data_id":"A;rm/B/1"}})", "data_id is not"},
      {R"({"type":"Feature","properties":{"data_id":"A/B/-1"}})", "data_id is not"},
      {"{\"type\":\"Feature\",\"properties\":{\"data_id\":\"A/B/1\xff\"}}", "not a JSON object"},
  };
  for (const auto &row : rows) {
    notify::Item item;
    std::string why;
    EXPECT_EQ(notify::ParseAnnouncement(row.payload, item, why), notify::kFailed) << row.payload.substr(0, 60);
    EXPECT_EQ(why.rfind(row.why, 0), 0u) << row.payload.substr(0, 60) << " -> " << why;
  }
}

}  // namespace
