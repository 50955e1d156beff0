// The two programs run as a user runs them: command words, the verbose
// level and its file, exit statuses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "tests/support/support.h"

using testing_support::Exists;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class ProgramTest : public ::testing::Test {
 protected:
  RunResult Vkc(std::vector<std::string> args) { return RunIn("vkc", std::move(args)); }
  RunResult Vks(std::vector<std::string> args) { return RunIn("vks", std::move(args)); }
  RunResult RunIn(const std::string &program, std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath(program));
    // No host programs: a handler that tries one finds nothing to run.
    return RunProgram(args, dir_.path(), {{"PATH", dir_.path()}, {"HOME", dir_.path()}});
  }
  TempDir dir_;
};

TEST(CommandTables, HoldExactlyTheCommandWords) {
  auto words = [](int mode) {
    std::vector<std::string> out;
    for (const auto &c : driver_table::CommandsFor(mode)) {
      out.emplace_back(c.word);
      if (!c.short_form.empty()) out.push_back(std::string(c.short_form));
    }
    return out;
  };
  EXPECT_EQ(words(kClientMode),
            (std::vector<std::string>{"INSTALL", "UNINSTALL", "VERBOSE", "VERSION", "V", "SET", "S",
                                      "CREATE", "C", "DELETE", "LIST", "L", "REPORT", "RP", "RESET",
                                      "RS", "COMPARE", "CO", "DATA", "DA", "LOOP", "LP", "STOP", "ST",
                                      "PRINTLOG", "PL", "LOAD", "LD", "TRANSFER", "T", "CYCLE", "CY",
                                      "LISTSERVERS", "LS", "CREATESERVER", "CS", "SETSERVER", "SS",
                                      "BACKGROUND", "BG", "OFF", "O"}));
  EXPECT_EQ(words(kServerMode), (std::vector<std::string>{"INSTALL", "LIST", "SET", "CREATE", "INVOKE",
                                                          "SUSPEND", "RELEASE", "DELETE"}));
  EXPECT_TRUE(driver_table::CommandsFor(3).empty());
  for (const char *word : {"list", "REP", "LISTS", "D", "OF", "B", "", "NONE", "VERSIONS"})
    EXPECT_EQ(driver_table::FindCommand(driver_table::CommandsFor(kClientMode), word), nullptr) << word;
  EXPECT_EQ(driver_table::FindCommand(driver_table::CommandsFor(kClientMode), "RP")->word, "REPORT");
  EXPECT_EQ(driver_table::FindCommand(driver_table::CommandsFor(kServerMode), "S"), nullptr);
}

TEST_F(ProgramTest, EveryClientWordDispatches) {
  // Words whose commands are safe to run in an empty directory.
  for (const char *word : {"V", "VERSION", "VERBOSE", "S", "C", "DELETE", "L", "RP", "RS", "CO", "DA",
                           "LP", "ST", "PL", "LD", "T", "CY", "LS", "CS", "SS", "O"}) {
    RunResult r = Vkc({word});
    EXPECT_EQ(r.status, 0) << word;
    EXPECT_EQ(r.out.find("Invalid VKC command"), std::string::npos) << word << ": " << r.out;
  }
}

TEST_F(ProgramTest, EveryServerWordDispatches) {
  for (const char *word : {"LIST", "SET", "CREATE", "INVOKE", "SUSPEND", "RELEASE", "DELETE"}) {
    RunResult r = Vks({word});
    EXPECT_EQ(r.out.find("Invalid VKS command"), std::string::npos) << word << ": " << r.out;
  }
}

TEST_F(ProgramTest, OtherWordsAreRejectedWithStatusZero) {
  const std::pair<const char *, const char *> client[] = {
      {"list", "list"}, {"REP", "REP"}, {"LISTS", "LISTS"}, {"D", "D"}, {"OF", "OF"}, {"B", "B"}, {"X", "NONE"}};
  for (auto [word, shown] : client) {
    RunResult r = Vkc({word});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("Invalid VKC command: ") + shown + "\n") << word;
  }
  EXPECT_EQ(Vkc({}).out, "Invalid VKC command: NONE\n");
  for (const char *word : {"VERSION", "VERBOSE", "S", "set", "V"}) {
    RunResult r = Vks({word});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("Invalid VKS command: ") + word + "\n");
  }
  EXPECT_EQ(Vks({}).out, "Invalid VKS command: NONE\n");
}

TEST_F(ProgramTest, VersionBanner) {
  for (const char *word : {"VERSION", "V"}) {
    RunResult r = Vkc({word});
    EXPECT_EQ(r.out, "VARNEK-II - Workstation (Version 1.1) ...\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ProgramTest, VerboseLevelAndItsFile) {
  RunResult r = Vkc({"VERBOSE"});
  EXPECT_EQ(r.out, "Current verbose level: 1\n");
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "1\n");

  r = Vkc({"VERBOSE", "2"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "2\n");
  EXPECT_EQ(Vkc({"VERBOSE"}).out, "Current verbose level: 2\n");

  r = Vkc({"VERBOSE", "3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "vkc:\n"
            "vkc: Invalid Invalid 2nd Positional Argument.\n"
            "vkc: 2nd positional argument is too big --> 3\n"
            "vkc: Must be valid integer value within range 0 thru 2.\n"
            "vkc:\n");
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "2\n");
  Vkc({"VERBOSE", "abc"});
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "2\n");

  EXPECT_EQ(Vkc({"VERBOSE", "0"}).out, "");
  EXPECT_EQ(Vkc({"VERBOSE"}).out, "Current verbose level: 0\n");
}

TEST_F(ProgramTest, VerboseFileThatIsNotANumberIsLeftAlone) {
  WriteFile(dir_ / "VKCVerboseLevel", "loud\n");
  EXPECT_EQ(Vkc({"VERBOSE"}).out, "Current verbose level: 1\n");
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "loud\n");
  WriteFile(dir_ / "VKCVerboseLevel", "99999999999999999999\n");
  EXPECT_EQ(Vkc({"VERBOSE"}).out, "Current verbose level: 1\n");
  WriteFile(dir_ / "VKCVerboseLevel", "  2 trailing");
  EXPECT_EQ(Vkc({"VERBOSE"}).out, "Current verbose level: 2\n");
}

TEST_F(ProgramTest, ServerDoesNotUseTheVerboseFile) {
  Vks({"LIST"});
  EXPECT_FALSE(Exists(dir_ / "VKCVerboseLevel"));
}

TEST_F(ProgramTest, VerboseFileThatCannotBeWrittenEndsWithStatusOne) {
  // A directory of that name is no verbose file: refused at start-up.
  ASSERT_EQ(mkdir((dir_ / "VKCVerboseLevel").c_str(), 0755), 0);
  RunResult r = Vkc({"VERBOSE", "2"});
  EXPECT_EQ(r.out, "Can't open file VKCVerboseLevel for read\n");
  EXPECT_EQ(r.status, 1);

  r = RunProgram({ProgramPath("vkc"), "VERSION"}, "/proc");  // nothing can be created there
  EXPECT_EQ(r.out, "Can't open file VKCVerboseLevel for write\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(ProgramTest, HostStartFailureIsReported) {
  for (const char *program : {"vkc", "vks"}) {
    RunResult r = RunProgram({ProgramPath(program), "VERSION"}, dir_.path(), {{"TVENV_POSUC", "not-a-session"}});
    EXPECT_EQ(r.out, "TVinit error\n");
    EXPECT_EQ(r.status, 255);
  }
  EXPECT_FALSE(Exists(dir_ / "VKCVerboseLevel"));
}

}  // namespace
