// The two programs run as a user runs them: command words, the verbose
// level and its file, exit statuses.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <span>
#include <string>
#include <string_view>
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

// Every spelling of a table: each row's word and its short form, if any.
std::vector<std::string> Spellings(std::span<const driver_table::Command> table) {
  std::vector<std::string> out;
  for (const auto &c : table) {
    out.emplace_back(c.word);
    if (!c.short_form.empty()) out.emplace_back(c.short_form);
  }
  return out;
}

bool IsSpelling(std::span<const driver_table::Command> table, const std::string &word) {
  auto all = Spellings(table);
  return std::find(all.begin(), all.end(), word) != all.end();
}

std::string Lower(std::string word) {
  for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// Spellings a table must refuse: each spelling in lower case and without its
// last letter, unless that is a spelling of the table itself.
std::vector<std::string> NearMisses(std::span<const driver_table::Command> table) {
  std::vector<std::string> out;
  for (const std::string &word : Spellings(table)) {
    for (std::string miss : {Lower(word), word.substr(0, word.size() - 1)})
      if (!miss.empty() && !IsSpelling(table, miss)) out.push_back(miss);
  }
  return out;
}

TEST(CommandTables, HoldExactlyTheCommandWords) {
  EXPECT_EQ(Spellings(driver_table::CommandsFor(kClientMode)),
            (std::vector<std::string>{"INSTALL", "UNINSTALL", "VERBOSE", "VERSION", "V", "SET", "S",
                                      "CREATE", "C", "DELETE", "LIST", "L", "REPORT", "RP", "RESET",
                                      "RS", "COMPARE", "CO", "DATA", "DA", "LOOP", "LP", "STOP", "ST",
                                      "PRINTLOG", "PL", "LOAD", "LD", "TRANSFER", "T", "CYCLE", "CY",
                                      "LISTSERVERS", "LS", "CREATESERVER", "CS", "SETSERVER", "SS",
                                      "BACKGROUND", "BG", "OFF", "O"}));
  EXPECT_EQ(Spellings(driver_table::CommandsFor(kServerMode)),
            (std::vector<std::string>{"INSTALL", "LIST", "SET", "CREATE", "INVOKE", "SUSPEND", "RELEASE",
                                      "DELETE"}));
  EXPECT_TRUE(driver_table::CommandsFor(3).empty());
  // The word shown when none is given is not a command.
  for (int mode : {kClientMode, kServerMode})
    EXPECT_EQ(driver_table::FindCommand(driver_table::CommandsFor(mode), "NONE"), nullptr);
}

// Each spelling finds its own row and no two rows share one; lower case,
// every shorter beginning and a longer word find nothing unless they are
// spellings of the table themselves.
TEST(CommandTables, FindExactlyTheSpellingsOfTheirRows) {
  for (int mode : {kClientMode, kServerMode}) {
    auto table = driver_table::CommandsFor(mode);
    auto all = Spellings(table);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size()) << mode;
    for (const auto &row : table) {
      for (std::string_view form : {row.word, row.short_form}) {
        if (form.empty()) continue;
        const std::string word(form);
        EXPECT_EQ(driver_table::FindCommand(table, word), &row) << word;
        std::vector<std::string> others = {Lower(word), word + "S"};
        for (std::size_t n = 0; n < word.size(); ++n) others.push_back(word.substr(0, n));
        for (const std::string &other : others) {
          const driver_table::Command *found = driver_table::FindCommand(table, other);
          if (IsSpelling(table, other)) {
            ASSERT_NE(found, nullptr) << other;
            EXPECT_TRUE(found->word == other || found->short_form == other) << other;
          } else {
            EXPECT_EQ(found, nullptr) << "[" << other << "] in mode " << mode;
          }
        }
      }
    }
  }
}

// Runs every spelling of a table as the program, each in a fresh directory
// with no host programs, and checks that the program does not refuse it as
// a command word (it may well refuse its arguments, or miss its files).
// BACKGROUND starts a job that goes on after its run, so it is not run here
// (its dispatch is the table's, checked above).  A run that does not end in
// time was dispatched too: a refusal ends at once.
void RunEverySpelling(const std::string &program, int mode, const std::string &refusal) {
  const std::set<std::string> not_run = mode == kClientMode ? std::set<std::string>{"BACKGROUND"}
                                                            : std::set<std::string>{};
  auto table = driver_table::CommandsFor(mode);
  for (const std::string &word : not_run) ASSERT_NE(driver_table::FindCommand(table, word), nullptr) << word;
  int runs = 0;
  for (const auto &row : table) {
    if (not_run.count(std::string(row.word))) continue;
    for (std::string_view form : {row.word, row.short_form}) {
      if (form.empty()) continue;
      TempDir dir;
      RunResult r = RunProgram({ProgramPath(program), std::string(form)}, dir.path(),
                               {{"PATH", dir.path()}, {"HOME", dir.path()}}, 10000);
      ++runs;
      if (!r.timed_out) {
        EXPECT_TRUE(r.status >= 0 && r.status <= 2) << form << ": " << r.status;
      }
      EXPECT_EQ(r.out.find(refusal), std::string::npos) << form << ": " << r.out;
      EXPECT_EQ(r.err.find("--help"), std::string::npos) << form << ": " << r.err;
    }
  }
  EXPECT_GT(runs, 0);
}

TEST(Programs, EveryClientWordDispatches) { RunEverySpelling("vkc", kClientMode, "Invalid VKC command"); }

TEST(Programs, EveryServerWordDispatches) { RunEverySpelling("vks", kServerMode, "Invalid VKS command"); }

TEST_F(ProgramTest, OtherWordsAreRejectedAsUsageErrors) {
  auto client = driver_table::CommandsFor(kClientMode);
  auto server = driver_table::CommandsFor(kServerMode);
  for (const std::string &word : NearMisses(client)) {
    RunResult r = Vkc({word});
    EXPECT_EQ(r.status, 2) << word;
    EXPECT_EQ(r.out, "Invalid VKC command: " + word + "\n") << word;
    EXPECT_EQ(r.err, "Try 'vkc --help'.\n") << word;
  }
  EXPECT_EQ(Vkc({"X"}).out, "Invalid VKC command: NONE\n");  // the placeholder is no word
  EXPECT_EQ(Vkc({}).out, "Invalid VKC command: NONE\n");

  // The server refuses its own near misses and every client word it lacks.
  std::vector<std::string> refused = NearMisses(server);
  for (const std::string &word : Spellings(client))
    if (!IsSpelling(server, word)) refused.push_back(word);
  for (const std::string &word : refused) {
    RunResult r = Vks({word});
    EXPECT_EQ(r.status, 2) << word;
    EXPECT_EQ(r.out, "Invalid VKS command: " + word + "\n") << word;
    EXPECT_EQ(r.err, "Try 'vks --help'.\n") << word;
  }
  EXPECT_EQ(Vks({}).out, "Invalid VKS command: NONE\n");
  // Neither a refused word nor help reads or creates the verbose file.
  EXPECT_FALSE(Exists(dir_ / "VKCVerboseLevel"));
}

// What each exit status means, row by row: 0 the command did what was
// asked, 1 it could not, 2 usage.  The rows run in order in one directory.
TEST_F(ProgramTest, ExitStatusesMeanWhatTheTableSays) {
  const struct Row {
    const char *program;
    std::vector<std::string> args;
    int status;
  } rows[] = {
      // files missing
      {"vkc", {"LIST", "1"}, 1},
      {"vkc", {"CREATE", "5", "TYPE=AREA"}, 1},
      {"vkc", {"PRINTLOG"}, 1},
      {"vkc", {"CYCLE"}, 1},
      {"vks", {"LIST", "1"}, 1},
      // usage
      {"vkc", {}, 2},
      {"vkc", {"FOO"}, 2},
      {"vkc", {"LIST"}, 2},
      {"vkc", {"LIST", "1", "2", "3"}, 2},
      {"vkc", {"LIST", "abc"}, 2},
      {"vkc", {"VERBOSE", "3"}, 2},
      {"vks", {"SET"}, 2},
      {"vks", {"LIST", "1", "SIZE=2"}, 2},
      // done
      {"vkc", {"INSTALL"}, 0},
      {"vks", {"INSTALL"}, 0},
      {"vkc", {"--help"}, 0},
      {"vks", {"-h"}, 0},
      {"vkc", {"VERSION"}, 0},
      {"vkc", {"CREATE", "5", "TYPE=AREA", "STATUS=ACTIVE", "FRAME=1", "4"}, 0},
      {"vkc", {"SET", "5", "INC=30"}, 0},
      {"vkc", {"REPORT", "5"}, 0},
      {"vkc", {"CS", "1", "GROUP=RTIM"}, 0},
      {"vkc", {"OFF"}, 0},
      {"vkc", {"CYCLE"}, 0},
      {"vks", {"CREATE", "5", "AREA", "RANGE=1", "10", "STATUS=ACTIVE"}, 0},
      // refused: nothing stored, or a value refused
      {"vkc", {"CREATE", "5", "TYPE=AREA"}, 1},  // Loop 5 is not empty
      {"vkc", {"SET", "5", "RES=4", "MAG=2", "2"}, 1},
      {"vkc", {"SET", "5", "NAME=" + std::string(32, 'N')}, 1},
      {"vkc", {"SET", "5", "STATUS=LIVELY"}, 1},
      {"vkc", {"SET", "5", "INC=abc"}, 2},  // not a number: usage
      {"vkc", {"REPORT", "6"}, 1},
      {"vkc", {"CS", "2", "NAME=x"}, 1},     // no group
      {"vkc", {"TRANSFER", "2"}, 1},         // no address
      {"vkc", {"COMPARE", "2"}, 1},
      {"vkc", {"STOP", "6"}, 1},
      {"vks", {"CREATE", "5", "MD"}, 1},
      {"vks", {"SET", "5", "SCAN=1234567"}, 1},
  };
  for (const Row &row : rows) {
    RunResult r = RunIn(row.program, row.args);
    std::string line = row.program;
    for (const std::string &a : row.args) line += " " + a;
    EXPECT_EQ(r.status, row.status) << line << "\n" << r.out << r.err;
  }
}

TEST_F(ProgramTest, HelpListsEveryCommandAndWritesNothing) {
  for (const char *program : {"vkc", "vks"}) {
    const int mode = std::string(program) == "vkc" ? kClientMode : kServerMode;
    for (const char *flag : {"--help", "-h"}) {
      RunResult r = RunIn(program, {flag});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      for (const auto &row : driver_table::CommandsFor(mode)) {
        std::string spelling(row.word);
        if (!row.short_form.empty()) spelling += " | " + std::string(row.short_form);
        EXPECT_NE(r.out.find("  " + spelling + " "), std::string::npos) << program << " " << spelling;
      }
      EXPECT_NE(r.out.find("see " + std::string(program) + "(1)."), std::string::npos) << r.out;
      EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), 30) << "one screen";
    }
  }
  EXPECT_FALSE(Exists(dir_ / "VKCVerboseLevel"));
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
  EXPECT_EQ(r.status, 2);
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
