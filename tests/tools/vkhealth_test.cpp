// The health tool against hand-made working directories, with a pinned
// clock: the states at their thresholds, a failing server, missing and
// damaged health files, the JSON document parsed back and the Prometheus
// text checked line by line.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "kit/kit.h"
#include "tests/support/support.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

constexpr std::int64_t kStampOrigin = 852076800;

class VkhealthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DBInit((dir_ / kClientFile).c_str(), sizeof(ClientRec), kClientRecords), 0);
    ASSERT_EQ(DBInit((dir_ / kServerListFile).c_str(), sizeof(ServerListRec), kServerListRecords), 0);
    getTimeStamp(2024001, 120000, &stamp_);
    data_time_ = kStampOrigin + stamp_ * 60;
  }

  // An active AREA record 7 (increment 30 minutes) whose last image is of
  // 2024001 12:00; shown in frames `first`..`last` when `first` is not 0.
  void PutRecord(int n, const char *descriptor, bool taken = true, int first = 0, int last = 0) {
    ClientRec r = ClientDefaults(AREA);
    r.Data.Area.Show = first > 0;
    r.Data.Area.BegFrame = first;
    r.Data.Area.EndFrame = last;
    r.Status = Active;
    std::strcpy(r.Group, "RTIM");
    std::strcpy(r.Descriptor, descriptor);
    r.Data.Area.Increment = 30;
    if (taken) {
      r.LastItem = 5, r.LastDate = 2024001, r.LastTime = 120000, r.LastStamp = stamp_;
    }
    DBase db;
    ASSERT_EQ(DBOpen(&db, (dir_ / kClientFile).c_str(), ""), 0);
    ASSERT_EQ(DBWrite(&db, n, &r), 0);
    ASSERT_EQ(DBClose(&db), 0);
  }
  void Health(const std::string &servers, const std::string &records, int nservers, int nrecords) {
    WriteFile(dir_ / "VKHealth", "VKHealth 1\npass 1704110400 1704110401 0\n" + servers + records + "end " +
                                     std::to_string(nservers) + " " + std::to_string(nrecords) + "\n");
  }
  RunResult Run(std::vector<std::string> args, std::int64_t age_seconds, const std::string &home = "/nonexistent") {
    args.insert(args.begin(), testing_support::ProgramPath("vkhealth"));
    return testing_support::RunProgram(
        args, dir_.path(),
        {{"VARNEK_TEST_NOW", std::to_string(data_time_ + age_seconds)}, {"TZ", "UTC"}, {"HOME", home}});
  }

  testing_support::TempDir dir_;
  std::int64_t stamp_ = 0;
  std::int64_t data_time_ = 0;
};

const std::string kGoodServer = "server 1 2 RTIM 10.0.0.4 1704110400 compared 0 12 3 -\n";
const std::string kRecord7 = "record 7 AREA RTIM G8IR 1704110400 1704110400 5 0 0 - 0 - -\n";

TEST_F(VkhealthTest, StatesAtTheirThresholds) {
  PutRecord(7, "G8IR");
  Health(kGoodServer, kRecord7, 1, 1);
  struct Row {
    std::int64_t age_minutes;
    const char *state;
    int status;
  } rows[] = {{0, "on time", 0},  {59, "on time", 0}, {61, "late", 1},     {179, "late", 1},
              {181, "stalled", 2}, {5000, "stalled", 2},
              // An item dated ahead of this clock: believed up to a day
              // (clocks differ), failing past it.
              {-60, "on time", 0}, {-1441, "failing", 2}};
  for (const Row &row : rows) {
    RunResult r = Run({}, row.age_minutes * 60);
    EXPECT_EQ(r.status, row.status) << row.age_minutes << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find(std::string(" ") + row.state + " "), std::string::npos) << row.age_minutes << "\n" << r.out;
  }
  // The thresholds are options.
  EXPECT_EQ(Run({"--late", "3"}, 61 * 60).status, 0);
  EXPECT_EQ(Run({"--late", "3"}, 91 * 60).status, 1);
  EXPECT_EQ(Run({"--stalled", "3"}, 91 * 60).status, 2);
  EXPECT_EQ(Run({"--stalled", "3", "--late", "1"}, 31 * 60).status, 1);
  // A record that never took anything is stalled: an alarm, not silence.
  PutRecord(8, "NEVER", false);
  EXPECT_EQ(Run({}, 0).status, 2);
}

TEST_F(VkhealthTest, TableShowsRecordAndServer) {
  PutRecord(7, "G8IR");
  Health(kGoodServer + "server 2 2 BAD 10.0.0.5 1704110400 fetch-failed 1 7 0 -\n",
         "record 7 AREA RTIM G8IR 1704110400 1704110400 5 0 1 - 1704110400 display 1\n", 2, 1);
  RunResult r = Run({}, 10 * 60);
  EXPECT_EQ(r.status, 2) << "a failing server";
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("7    AREA  RTIM/G8IR                             5 2024-01-01 12:00      10m    30m failing  "
                       "display status 1 at 2024-01-01 12:00\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1     RTIM  10.0.0.4                 2024-01-01 12:00      12ms       3 compared\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2     BAD   10.0.0.5                 2024-01-01 12:00       7ms       0 fetch-failed (status 1)\n"),
            std::string::npos)
      << r.out;
}

TEST_F(VkhealthTest, MissingOrDamagedFilesEndWithThreeAndPrintNothing) {
  PutRecord(7, "G8IR");
  RunResult r = Run({"--prometheus"}, 0);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("VKHealth: there is no health file"), std::string::npos) << r.err;

  Health(kGoodServer, kRecord7, 1, 1);
  const std::string good = ReadFile(dir_ / "VKHealth");
  struct Row {
    std::string text;
    const char *why;
  } rows[] = {
      {good.substr(0, good.size() - 1), "its last line is cut short"},
      {good.substr(0, good.find("end ")), "the end line is missing"},
      {"VKHealth 3\n" + good.substr(good.find('\n') + 1), "line 1 is not \"VKHealth 1\" or \"VKHealth 2\""},
      {std::string(good).replace(good.find("compared"), 8, "compareX"), "line 3: outcome is not one of its words"},
      {std::string(good).replace(good.find("end 1 1"), 7, "end 2 1"), "the counts do not match"},
      {std::string(good).replace(good.find(" G8IR "), 6, " G8 IR "), "line 4: examined is not a number"},
      {std::string(good).replace(good.find(" - 0 - -\n"), 9, " - 0 - - 9\n"), "line 4: line has more fields"},
      {std::string(good).replace(good.find("10.0.0.4"), 8, "10.0%0.4"), "line 3: address is not a well-formed text"},
      {std::string(good).replace(good.find("record 7"), 8, "record 0"), "line 4: record is not a number in 1..200"},
      {"", "it is empty"},
  };
  for (const Row &row : rows) {
    WriteFile(dir_ / "VKHealth", row.text);
    r = Run({"--json"}, 0);
    EXPECT_EQ(r.status, 3) << row.why;
    EXPECT_EQ(r.out, "") << row.why;
    EXPECT_NE(r.err.find(row.why), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir_ / "VKHealth"), row.text) << "the tool never writes";
  }
  // A client file that is not one.
  WriteFile(dir_ / "VKHealth", good);
  WriteFile(dir_ / kClientFile, "garbage");
  r = Run({}, 0);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("VKClientFile"), std::string::npos) << r.err;
  // Bad usage.
  EXPECT_EQ(Run({"--late", "x"}, 0).status, 4);
  EXPECT_EQ(Run({"--late", "7", "--stalled", "3"}, 0).status, 4);
}

// A small JSON reader, enough to parse the tool's document back.
struct Json {
  enum Kind { kNull, kNumber, kString, kArray, kObject, kBool } kind = kNull;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;
  const Json &operator[](const std::string &key) const {
    static const Json none;
    auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string &text) : s_(text) {}
  bool Document(Json &out) {
    if (!Value(out)) return false;
    Blank();
    return at_ == s_.size();
  }

 private:
  void Blank() {
    while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
  }
  bool Literal(const char *word) {
    std::size_t n = std::strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }
  bool String(std::string &out) {
    if (s_[at_] != '"') return false;
    ++at_;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (at_ >= s_.size()) return false;
        char e = s_[at_++];
        if (e == 'u') {
          if (at_ + 4 > s_.size()) return false;
          out += static_cast<char>(std::stoi(s_.substr(at_, 4), nullptr, 16));
          at_ += 4;
        } else if (e == '"' || e == '\\' || e == '/') {
          out += e;
        } else if (e == 'n') {
          out += '\n';
        } else {
          return false;
        }
      } else {
        out += c;
      }
    }
    if (at_ >= s_.size()) return false;
    ++at_;
    return true;
  }
  bool Value(Json &out) {
    Blank();
    if (at_ >= s_.size()) return false;
    char c = s_[at_];
    if (c == '{') {
      out.kind = Json::kObject;
      ++at_;
      Blank();
      if (s_[at_] == '}') return ++at_, true;
      while (true) {
        Blank();
        std::string key;
        if (!String(key)) return false;
        Blank();
        if (s_[at_++] != ':') return false;
        if (out.fields.count(key) || !Value(out.fields[key])) return false;
        Blank();
        if (s_[at_] == ',') {
          ++at_;
          continue;
        }
        return s_[at_++] == '}';
      }
    }
    if (c == '[') {
      out.kind = Json::kArray;
      ++at_;
      Blank();
      if (s_[at_] == ']') return ++at_, true;
      while (true) {
        out.items.emplace_back();
        if (!Value(out.items.back())) return false;
        Blank();
        if (s_[at_] == ',') {
          ++at_;
          continue;
        }
        return s_[at_++] == ']';
      }
    }
    if (c == '"') return out.kind = Json::kString, String(out.text);
    if (Literal("null")) return out.kind = Json::kNull, true;
    if (Literal("true") || Literal("false")) return out.kind = Json::kBool, true;
    std::size_t start = at_;
    if (s_[at_] == '-') ++at_;
    while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.' || s_[at_] == 'e'))
      ++at_;
    if (at_ == start) return false;
    out.kind = Json::kNumber;
    out.number = std::stod(s_.substr(start, at_ - start));
    return true;
  }
  const std::string &s_;
  std::size_t at_ = 0;
};

TEST_F(VkhealthTest, JsonIsOneDocumentWithStableFields) {
  PutRecord(7, "G8IR");
  PutRecord(9, "QU\"OTE");
  Health(kGoodServer + "server 2 2 BAD 10.0.0.5 1704110400 no-route - 0 0 Fail%20to%20open%20x%20for%20read\n",
         "record 7 AREA RTIM G8IR 1704110400 1704110400 5 0 1 0 1704110400 display 1\n", 2, 1);
  RunResult r = Run({"--json"}, 61 * 60);
  EXPECT_EQ(r.status, 2);
  Json doc;
  ASSERT_TRUE(JsonReader(r.out).Document(doc)) << r.out;
  EXPECT_EQ(doc["format"].text, "vkhealth");
  EXPECT_EQ(doc["now"].number, static_cast<double>(data_time_ + 61 * 60));
  EXPECT_EQ(doc["exit_status"].number, 2);
  EXPECT_EQ(doc["last_pass"]["ended"].number, 1704110401);
  ASSERT_EQ(doc["records"].items.size(), 2u);
  const Json &rec = doc["records"].items[0];
  EXPECT_EQ(rec["record"].number, 7);
  EXPECT_EQ(rec["type"].text, "AREA");
  EXPECT_EQ(rec["group"].text, "RTIM");
  EXPECT_EQ(rec["dataset"].text, "G8IR");
  EXPECT_EQ(rec["last_item"].number, 5);
  EXPECT_EQ(rec["data_time"].number, static_cast<double>(data_time_));
  EXPECT_EQ(rec["age_seconds"].number, 61 * 60);
  EXPECT_EQ(rec["increment_minutes"].number, 30);
  EXPECT_EQ(rec["state"].text, "failing");  // its display failed after its last item
  EXPECT_EQ(rec["display_status"].number, 1);
  EXPECT_EQ(rec["copy_status"].number, 0);
  EXPECT_EQ(rec["last_failure"]["command"].text, "display");
  EXPECT_EQ(rec["last_failure"]["status"].number, 1);
  EXPECT_EQ(doc["records"].items[1]["dataset"].text, "QU\"OTE");
  EXPECT_EQ(doc["records"].items[1]["last_failure"].kind, Json::kNull) << "no health line for it";
  ASSERT_EQ(doc["servers"].items.size(), 2u);
  const Json &bad = doc["servers"].items[1];
  EXPECT_EQ(bad["status"].text, "no-route");
  EXPECT_EQ(bad["fetch_exit_status"].kind, Json::kNull);
  EXPECT_EQ(bad["reason"].text, "Fail to open x for read");
  EXPECT_EQ(doc["servers"].items[0]["duration_ms"].number, 12);
  EXPECT_EQ(doc["servers"].items[0]["records_applied"].number, 3);
}

TEST_F(VkhealthTest, TextIsUtf8InJsonAndPrometheus) {
  PutRecord(7, "G8IR");
  // An address of UTF-8 text (e acute) and a byte that is no UTF-8.
  Health("server 1 2 RTIM h%C3%A9%FF 1704110400 compared 0 12 3 -\n", kRecord7, 1, 1);
  const std::string shown = "h\xC3\xA9\xEF\xBF\xBD";
  EXPECT_NE(Run({"--json"}, 0).out.find("\"address\":\"" + shown + "\""), std::string::npos);
  EXPECT_NE(Run({"--prometheus"}, 0).out.find("address=\"" + shown + "\""), std::string::npos);
}

// A display or user command that fails every pass: failing, not on time;
// once an item is taken with every command succeeding, on time again.
TEST_F(VkhealthTest, RecordWhoseCommandsFailIsFailing) {
  PutRecord(7, "G8IR");
  Health(kGoodServer, "record 7 AREA RTIM G8IR 1704110400 1704110400 5 0 0 1 1704110400 user 1\n", 1, 1);
  RunResult r = Run({}, 10 * 60);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" failing  user status 1 at 2024-01-01 12:00\n"), std::string::npos) << r.out;
  Health(kGoodServer, "record 7 AREA RTIM G8IR 1704110400 1704110460 5 0 0 0 1704110400 user 1\n", 1, 1);
  EXPECT_EQ(Run({}, 10 * 60).status, 0);
}

// The background loop's brokers, in every form.
TEST_F(VkhealthTest, BrokersAreShownInEveryForm) {
  PutRecord(7, "G8IR");
  WriteFile(dir_ / "VKHealth", "VKHealth 2\npass 1704110400 1704110401 0\n" + kGoodServer +
                                   "broker 1 mqtt://127.0.0.1:1883 1 1704110390 1012 3\n" + kRecord7 + "end 1 1 1\n");
  RunResult r = Run({}, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1      mqtt://127.0.0.1:1883          connected    2024-01-01 11:59      1012       3\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(Run({"--json"}, 0).out.find("\"brokers\":[{\"broker\":1,\"url\":\"mqtt://127.0.0.1:1883\",\"connected\":true,"
                                        "\"last_notification\":1704110390,\"notifications_received\":1012,"
                                        "\"passes_woken\":3}]"),
            std::string::npos);
  EXPECT_NE(Run({"--prometheus"}, 0).out.find("varnek_broker_passes_woken{broker=\"1\",url=\"mqtt://127.0.0.1:1883\"} 3\n"),
            std::string::npos);
}

TEST_F(VkhealthTest, HelpAndContradictoryOptions) {
  RunResult r = Run({"--help"}, 0);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: vkhealth ", 0), 0u);
  EXPECT_EQ(Run({"--json", "--prometheus"}, 0).status, 4);
}

// The station page: the table's states and words, each displayed record's
// latest frame of its own dataset and frames as a thumbnail linking to the
// loop viewer (found from anywhere the page is written), the same exit
// status as the table; a page that says so when there is nothing to read.
TEST_F(VkhealthTest, HtmlPageShowsTheTableAndEachRecordsLatestFrame) {
  PutRecord(7, "G8IR", true, 1, 4);
  PutRecord(8, "A<B>&", false);
  Health(kGoodServer, kRecord7, 1, 1);
  testing_support::TempDir home;
  const std::string frames = home / "tavrin/frames";
  ASSERT_EQ(mkdir((home / "tavrin").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(frames.c_str(), 0755), 0);
  kit::LoopState state;
  auto draw = [&](int frame, const char *dataset, int time) {
    kit::FrameLabel l;
    l.frame = frame, l.dataset = dataset, l.date = 2024001, l.time = time, l.width = 480, l.height = 240;
    kit::SetFrameLabel(state, l);
    char name[32];
    std::snprintf(name, sizeof name, "/frame%04d.png", frame);
    WriteFile(frames + name, "picture");
  };
  draw(1, "RTIM/G8IR", 113000);
  draw(2, "LOC/G8IR", 120000);   // the newest of its own
  draw(3, "RTIM/OTHER", 123000);  // another dataset
  draw(5, "RTIM/G8IR", 123000);  // past the record's frames
  std::string error;
  ASSERT_TRUE(kit::WriteLoopState(frames + "/loop-state.js", state, error)) << error;

  const std::string beside = frames + "/station.html";
  RunResult r = Run({"--late", "1", "--html", beside}, 45 * 60, home.path());
  EXPECT_EQ(r.status, Run({"--late", "1"}, 45 * 60).status);
  EXPECT_EQ(r.status, 2) << "late and a record that never took an item";
  EXPECT_EQ(r.out + r.err, "");
  std::string page = ReadFile(beside);
  EXPECT_NE(page.find("<tr data-record=\"7\" data-state=\"late\">"), std::string::npos) << page;
  EXPECT_NE(page.find("<td class=\"state s-late\">late</td>"), std::string::npos);
  EXPECT_NE(page.find("<tr data-record=\"8\" data-state=\"stalled\">"), std::string::npos);
  EXPECT_NE(page.find("RTIM/A&lt;B&gt;&amp;"), std::string::npos) << "text is escaped";
  EXPECT_EQ(page.find("A<B>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"loop.html\"><img src=\"frame0002.png?v=1\" width=\"160\" height=\"80\""),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("frame 2: LOC/G8IR 2024001 12:00:00"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"frame none\">not displayed</td>"), std::string::npos) << "record 8";
  EXPECT_NE(page.find("2024-01-01 12:45:00 UTC"), std::string::npos) << "the time it was written";
  EXPECT_NE(page.find("<td class=\"state s-compared\">compared</td>"), std::string::npos);

  // Written elsewhere, the page reaches the frames by a relative way.
  ASSERT_EQ(mkdir((dir_ / "pages").c_str(), 0755), 0);
  ASSERT_EQ(Run({"--html", dir_ / "pages/station.html"}, 0, home.path()).status, 2);
  page = ReadFile(dir_ / "pages/station.html");
  const std::size_t src = page.find("<img src=\"../");
  ASSERT_NE(src, std::string::npos) << page;
  const std::string way = page.substr(src + 10, page.find('?', src) - src - 10);
  EXPECT_EQ(ReadFile(dir_ / ("pages/" + way)), "picture") << way;

  // No frames where HOME says: the page says so.
  testing_support::TempDir empty;
  ASSERT_EQ(Run({"--html", beside}, 0, empty.path()).status, 2);
  EXPECT_NE(ReadFile(beside).find("no frame: " + empty.path() + "/tavrin/frames holds no loop state"),
            std::string::npos);

  // Files that cannot be read: status 3, and the page says it cannot read
  // rather than go on showing the last good states.
  ASSERT_EQ(unlink((dir_ / "VKHealth").c_str()), 0);
  r = Run({"--html", beside}, 0, home.path());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("there is no health file"), std::string::npos) << r.err;
  page = ReadFile(beside);
  EXPECT_NE(page.find("The working directory cannot be read: "), std::string::npos) << page;
  EXPECT_EQ(page.find("data-state"), std::string::npos);

  // A page that cannot be written is a failure, not a silent success.
  Health(kGoodServer, kRecord7, 1, 1);
  r = Run({"--html", dir_ / "no/such/dir/station.html"}, 0, home.path());
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("the page cannot be written"), std::string::npos) << r.err;
  for (const std::vector<std::string> &usage :
       {std::vector<std::string>{"--html"}, {"--html", ""}, {"--html", "a", "--json"}, {"--prometheus", "--html", "a"}})
    EXPECT_EQ(Run(usage, 0).status, 4) << usage.back();
}

TEST(ValidUtf8, KeepsTextAndReplacesEachByteThatIsNotUtf8) {
  const std::string r = "\xEF\xBF\xBD";
  struct Row {
    std::string in, out;
  } rows[] = {{"abc", "abc"},
              {"\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
              {"\xC0\xAF", r + r},                  // overlong
              {"\xED\xA0\x80", r + r + r},           // a surrogate
              {"\xF4\x90\x80\x80", r + r + r + r},    // past U+10FFFF
              {"x\xE2\x82", "x" + r + r},            // cut short
              {"\xFF\x80", r + r}};
  for (const Row &row : rows) EXPECT_EQ(ValidUtf8(row.in), row.out) << row.in;
}

TEST_F(VkhealthTest, PrometheusTextFollowsTheExpositionFormat) {
  PutRecord(7, "G8IR");
  PutRecord(9, "QU\"OTE", false);
  Health(kGoodServer + "server 2 2 BAD 10.0.0.5 1704110400 fetch-failed 1 1500 0 -\n", kRecord7, 2, 1);
  RunResult r = Run({"--prometheus"}, 90);
  EXPECT_EQ(r.status, 2);
  std::set<std::string> help, type;
  std::map<std::string, std::string> samples;
  std::string current;
  std::size_t start = 0;
  ASSERT_FALSE(r.out.empty());
  ASSERT_EQ(r.out.back(), '\n');
  while (start < r.out.size()) {
    std::size_t end = r.out.find('\n', start);
    std::string line = r.out.substr(start, end - start);
    start = end + 1;
    if (line.rfind("# HELP ", 0) == 0) {
      std::string name = line.substr(7, line.find(' ', 7) - 7);
      EXPECT_TRUE(help.insert(name).second) << "one HELP per metric: " << name;
      EXPECT_GT(line.size(), 7 + name.size() + 1) << "a HELP has its text";
      current = name;
      continue;
    }
    if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_EQ(line, "# TYPE " + current + " gauge");
      EXPECT_TRUE(type.insert(current).second) << "one TYPE per metric: " << current;
      continue;
    }
    // name{label="value",...} number
    std::size_t name_end = line.find_first_of("{ ");
    ASSERT_NE(name_end, std::string::npos) << line;
    std::string name = line.substr(0, name_end);
    EXPECT_EQ(name, current) << "samples follow their HELP and TYPE: " << line;
    for (char c : name) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':') << name;
    std::size_t value_at = line.rfind(' ');
    std::string labels = line.substr(name_end, value_at - name_end);
    if (!labels.empty()) {
      EXPECT_EQ(labels.front(), '{') << line;
      EXPECT_EQ(labels.back(), '}') << line;
    }
    std::string value = line.substr(value_at + 1);
    std::size_t used = 0;
    (void)std::stod(value, &used);
    EXPECT_EQ(used, value.size()) << line;
    EXPECT_TRUE(samples.emplace(name + labels, value).second) << "a series once: " << line;
  }
  EXPECT_EQ(help, type);
  EXPECT_EQ(samples["varnek_record_lag_seconds{record=\"7\",type=\"AREA\",group=\"RTIM\",dataset=\"G8IR\"}"], "90");
  EXPECT_EQ(samples["varnek_record_state{record=\"9\",type=\"AREA\",group=\"RTIM\",dataset=\"QU\\\"OTE\"}"], "2");
  EXPECT_EQ(samples.count("varnek_record_lag_seconds{record=\"9\",type=\"AREA\",group=\"RTIM\",dataset=\"QU\\\"OTE\"}"),
            0u)
      << "no lag for a record that never took an item";
  EXPECT_EQ(samples["varnek_server_fetch_ok{entry=\"1\",group=\"RTIM\",address=\"10.0.0.4\"}"], "1");
  EXPECT_EQ(samples["varnek_server_fetch_ok{entry=\"2\",group=\"BAD\",address=\"10.0.0.5\"}"], "0");
  EXPECT_EQ(samples["varnek_server_fetch_status{entry=\"2\",group=\"BAD\",address=\"10.0.0.5\"}"], "1");
  EXPECT_EQ(samples["varnek_server_fetch_duration_seconds{entry=\"2\",group=\"BAD\",address=\"10.0.0.5\"}"], "1.500");
  EXPECT_EQ(samples["varnek_last_pass_timestamp_seconds"], "1704110401");
  EXPECT_EQ(samples["varnek_health_status"], "2");
}

}  // namespace
