// The health file: its text read back field for field (hostile texts
// escaped), and the file the cycle writes after passes with a failing
// fetch, a missing route table and a failing display.

#include <string>
#include <vector>

#include "client/health.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

TEST(HealthFileTest, TextIsReadBackFieldForField) {
  health::HealthFile file;
  file.pass_started = 1704110400, file.pass_ended = 1704110460, file.pass_result = 1;
  health::ServerHealth s;
  s.entry = 3, s.version = 2, s.group = "RTIM", s.address = "host 21\nx%y", s.fetched = 1704110401;
  s.outcome = health::kNoRoute, s.exit_status = 0, s.duration_ms = 15, s.applied = 0;
  s.reason = "Fail to open /h/tavrin/data/TVTABLE.TXT for read";
  file.servers.push_back(s);
  health::RecordHealth r;
  r.number = 7, r.type = AREA, r.group = "-", r.descriptor = "", r.examined = 1704110402, r.taken = 1704110403;
  r.item = 5, r.copy = 0, r.display = 1, r.failed_at = 1704110403, r.failed_command = "display", r.failed_status = 1;
  file.records.push_back(r);
  health::BrokerHealth b;
  b.number = 1, b.url = "mqtt://127.0.0.1:1883", b.connected = 1, b.last = 1704110399, b.received = 12, b.woken = 3;
  file.brokers.push_back(b);
  std::string text = health::FormatHealth(file);
  EXPECT_EQ(text,
            "VKHealth 2\n"
            "pass 1704110400 1704110460 1\n"
            "server 3 2 RTIM host%2021%0Ax%25y 1704110401 no-route 0 15 0 "
            "Fail%20to%20open%20/h/tavrin/data/TVTABLE.TXT%20for%20read\n"
            "broker 1 mqtt://127.0.0.1:1883 1 1704110399 12 3\n"
            "record 7 AREA %2D - 1704110402 1704110403 5 0 1 - 1704110403 display 1\n"
            "end 1 1 1\n");
  health::HealthFile back;
  std::string why;
  ASSERT_EQ(health::ParseHealth(text, back, why), health::kHealthOk) << why;
  ASSERT_EQ(back.servers.size(), 1u);
  EXPECT_EQ(back.servers[0].address, "host 21\nx%y");
  EXPECT_EQ(back.servers[0].reason, s.reason);
  EXPECT_EQ(back.servers[0].outcome, "no-route");
  ASSERT_EQ(back.records.size(), 1u);
  EXPECT_EQ(back.records[0].group, "-");
  EXPECT_EQ(back.records[0].descriptor, "");
  EXPECT_EQ(back.records[0].user, health::kNoStatus);
  EXPECT_EQ(back.records[0].failed_command, "display");
  ASSERT_EQ(back.brokers.size(), 1u);
  EXPECT_EQ(back.brokers[0].woken, 3);
  EXPECT_EQ(health::FormatHealth(back), text);
  // A file of the first version (no brokers, two counts) is still read.
  const std::string first = "VKHealth 1\npass 1 2 0\nend 0 0\n";
  EXPECT_EQ(health::ParseHealth(first, back, why), health::kHealthOk) << why;
  EXPECT_EQ(health::ParseHealth(first + "broker 1 x 0 0 0 0\n", back, why), health::kHealthDamaged);

  // Every cut of the file is refused.
  for (std::size_t n = 0; n < text.size(); ++n)
    EXPECT_EQ(health::ParseHealth(text.substr(0, n), back, why), health::kHealthDamaged) << n;
  // Escapes that are not two hexadecimal digits.
  std::string out;
  for (const char *bad : {"%", "%4", "%4g", "a%zz", ""}) EXPECT_FALSE(health::Unescape(bad, out)) << bad;
}

class CycleHealthTest : public CycleTest {
 protected:
  health::HealthFile Read() {
    health::HealthFile file;
    std::string why;
    EXPECT_EQ(health::ReadHealth((dir_ / health::kHealthFile).c_str(), file, why), health::kHealthOk) << why;
    return file;
  }
};

TEST_F(CycleHealthTest, FailingFetchMissingRoutesAndFailingDisplayAreRecorded) {
  extra_env_["VARNEK_TEST_NOW"] = "1704110400";
  ClientRec r = Area("RTIM", "G8IR");
  Work(r, 11, 20);
  Frames(r, 1, 4);
  PutClient(7, r);
  PutClient(9, Area("NONE", "QUIET"));
  PutServer(1, "RTIM", "10.0.0.4");
  PutServer(2, "GONE", "10.0.0.5");  // no table: its fetch fails
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 123000), Image("RTIM", "OTHER", 1, 100, 5, 2024001, 123000)});
  extra_env_["FAKEHOST_FAIL"] = "RASVUE";
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  health::HealthFile file = Read();
  EXPECT_EQ(file.pass_started, 1704110400);
  EXPECT_EQ(file.pass_result, 0);
  ASSERT_EQ(file.servers.size(), 2u);
  EXPECT_EQ(file.servers[0].entry, 1);
  EXPECT_EQ(file.servers[0].outcome, "compared");
  EXPECT_EQ(file.servers[0].exit_status, 0);
  EXPECT_EQ(file.servers[0].applied, 2);
  EXPECT_EQ(file.servers[0].address, "10.0.0.4");
  EXPECT_EQ(file.servers[1].entry, 2);
  EXPECT_EQ(file.servers[1].outcome, "fetch-failed");
  EXPECT_EQ(file.servers[1].exit_status, 1);
  EXPECT_EQ(file.servers[1].applied, 0);
  ASSERT_EQ(file.records.size(), 2u);
  const health::RecordHealth &h = file.records[0];
  EXPECT_EQ(h.number, 7);
  EXPECT_EQ(h.examined, 1704110400);
  EXPECT_EQ(h.taken, 1704110400);
  EXPECT_EQ(h.item, 5);
  EXPECT_EQ(h.copy, 0);
  EXPECT_EQ(h.display, 1) << "the display's status, which the check does not act on, is recorded";
  EXPECT_EQ(h.user, health::kNoStatus);
  EXPECT_EQ(h.failed_command, "display");
  EXPECT_EQ(h.failed_at, 1704110400);
  EXPECT_EQ(file.records[1].number, 9);
  EXPECT_EQ(file.records[1].examined, 1704110400) << "offered both images";
  EXPECT_EQ(file.records[1].taken, 0);

  // Next pass, later, nothing new and the display works again: the last
  // failure and the item taken are carried on; the pass time moves.
  extra_env_.erase("FAKEHOST_FAIL");
  extra_env_["VARNEK_TEST_NOW"] = "1704114000";
  ASSERT_EQ(unlink((dir_ / "tavrin/data/TVTABLE.TXT").c_str()), 0);
  RunResult run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 1);
  file = Read();
  EXPECT_EQ(file.pass_started, 1704114000);
  EXPECT_EQ(file.pass_result, 1);
  EXPECT_EQ(file.servers[0].outcome, "no-route");
  EXPECT_EQ(file.servers[0].reason, "Fail to open " + dir_.path() + "/tavrin/data/TVTABLE.TXT for read");
  EXPECT_EQ(file.servers[0].exit_status, 0) << "the fetch itself worked";
  ASSERT_EQ(file.records.size(), 2u);
  EXPECT_EQ(file.records[0].examined, 1704110400) << "not compared, so not examined";
  EXPECT_EQ(file.records[0].taken, 1704110400);
  EXPECT_EQ(file.records[0].display, 1);
  EXPECT_EQ(file.records[0].failed_command, "display");

  // A record replaced under its number starts afresh.
  PutClient(7, Area("RTIM", "NEWONE"));
  Routes("");
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  file = Read();
  EXPECT_EQ(file.records[0].descriptor, "NEWONE");
  EXPECT_EQ(file.records[0].failed_command, "");
  EXPECT_EQ(file.records[0].display, health::kNoStatus);
  EXPECT_EQ(file.records[0].examined, 1704114000);
}

TEST_F(CycleHealthTest, FileThatCannotBeWrittenIsReportedAndThePassStands) {
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  std::string before = ReadFile(dir_ / health::kHealthFile);
  extra_env_["VARNEK_TEST_NOW"] = "1804110400";
  extra_env_["VARNEK_FAULTS"] = "rename/1:1:ENOSPC";  // the cycle lock first, then the health file
  RunResult run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("VKHealth not written: No space left on device"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(dir_ / health::kHealthFile), before);
  // A damaged file is replaced by the next pass.
  extra_env_.erase("VARNEK_FAULTS");
  WriteFile(dir_ / health::kHealthFile, "VKHealth 1\npass x\n");
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(Read().pass_started, 1804110400);
}

}  // namespace
}  // namespace test_cycle
