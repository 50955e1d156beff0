// The manual pages under docs/man stay true to the programs: every command
// word and short form of a program's command table has its entry in the
// COMMANDS section of that program's page (and no entry names a command the
// program does not have), every host command word of the kit has its entry
// in tvkit(1), the files the programs use are named under FILES, the kit's
// pages share the head and order of sections, and each page renders without
// a warning from the roff formatter.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "AvailFile/AvailFile.h"
#include "Logfile/Logfile.h"
#include "client/client.h"
#include "driver/driver.h"
#include "tests/support/support.h"

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

std::string PagePath(const std::string &name) { return std::string(VARNEK_SOURCE_DIR) + "/docs/man/" + name; }

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of section `name` (from its .SH line to the next .SH), without
// the .SH line itself; empty when the page has no such section.
std::vector<std::string> Section(const std::string &page, const std::string &name) {
  std::vector<std::string> lines = Lines(page), section;
  bool inside = false;
  for (const std::string &line : lines) {
    if (line.rfind(".SH", 0) == 0) {
      std::string title = line.substr(3);
      title.erase(0, title.find_first_not_of(' '));
      if (title.size() >= 2 && title.front() == '"' && title.back() == '"') title = title.substr(1, title.size() - 2);
      if (inside) break;
      inside = title == name;
      continue;
    }
    if (inside) section.push_back(line);
  }
  return section;
}

// The documented commands of a COMMANDS section: every .TP tag line that
// begins with a bold word in capitals standing alone ("\fBWORD\fR"), with
// the short form that follows it as " | \fBSHORT\fR" ("" when none).
// Keyword entries ("\fBTYPE=\fI...") are not commands.
std::map<std::string, std::string> DocumentedCommands(const std::vector<std::string> &section,
                                                      std::vector<std::string> &duplicates) {
  static const std::regex tag(R"(^\\fB([A-Z]+)\\fR(?: \| \\fB([A-Z]+)\\fR)?(?:[ ,]|$))");
  std::map<std::string, std::string> commands;
  for (std::size_t i = 0; i + 1 < section.size(); ++i) {
    if (section[i] != ".TP") continue;
    std::smatch m;
    if (!std::regex_search(section[i + 1], m, tag)) continue;
    if (!commands.emplace(m[1].str(), m[2].str()).second) duplicates.push_back(m[1].str());
  }
  return commands;
}

// The text of a section with font escapes removed, as words.
std::vector<std::string> Words(const std::vector<std::string> &section) {
  std::string text;
  for (const std::string &line : section) text += line + "\n";
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\\(..)"), " ");
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '/' || c == '$') {
      word += c;
    } else {
      if (!word.empty()) words.push_back(word);
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool Names(const std::vector<std::string> &words, std::string_view name) {
  for (const std::string &w : words) {
    std::string_view v(w);
    while (!v.empty() && v.back() == '.') v.remove_suffix(1);  // end of a sentence
    if (v == name) return true;
  }
  return false;
}

void ExpectCommandsDocumented(int mode, const std::string &page_name) {
  std::string page = ReadFile(PagePath(page_name));
  ASSERT_FALSE(page.empty()) << page_name << " is missing or empty";
  std::vector<std::string> section = Section(page, "COMMANDS");
  ASSERT_FALSE(section.empty()) << page_name << " has no COMMANDS section";
  std::vector<std::string> duplicates;
  std::map<std::string, std::string> documented = DocumentedCommands(section, duplicates);
  EXPECT_TRUE(duplicates.empty()) << page_name << " documents a command twice: " << duplicates.front();

  std::map<std::string, std::string> table;
  for (const driver_table::Command &c : driver_table::CommandsFor(mode)) {
    std::string word(c.word), short_form(c.short_form);
    table.emplace(word, short_form);
    auto entry = documented.find(word);
    if (entry == documented.end()) {
      ADD_FAILURE() << page_name << ": command " << word << " has no entry in COMMANDS";
      continue;
    }
    EXPECT_EQ(entry->second, short_form)
        << page_name << ": the entry of " << word << " gives the short form \"" << entry->second
        << "\", the program accepts \"" << short_form << "\"";
  }
  for (const auto &[word, short_form] : documented)
    EXPECT_TRUE(table.count(word)) << page_name << " documents the command " << word
                                   << ", which the program does not accept";
}

TEST(ManPages, EveryClientCommandAndShortFormIsDocumented) {
  ExpectCommandsDocumented(kClientMode, "vkc.1");
}

TEST(ManPages, EveryServerCommandIsDocumented) { ExpectCommandsDocumented(kServerMode, "vks.1"); }

TEST(ManPages, EachPageHasTheUsualSections) {
  for (const char *name : {"vkc.1", "vks.1", "query_logfile.1"}) {
    std::string page = ReadFile(PagePath(name));
    ASSERT_FALSE(page.empty()) << name;
    EXPECT_EQ(page.rfind(".TH ", 0), 0u) << name << " does not begin with its .TH line";
    for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "FILES", "ENVIRONMENT",
                                "EXIT STATUS", "EXAMPLES", "SEE ALSO"})
      EXPECT_FALSE(Section(page, section).empty()) << name << " has no " << section << " section";
  }
}

TEST(ManPages, EveryKitCommandWordIsDocumented) {
  std::vector<std::string> duplicates;
  std::map<std::string, std::string> documented =
      DocumentedCommands(Section(ReadFile(PagePath("tvkit.1")), "COMMANDS"), duplicates);
  EXPECT_TRUE(duplicates.empty()) << "tvkit.1 documents a command twice: " << duplicates.front();
  std::map<std::string, std::string> words;  // the kit's links, as command words
  std::istringstream list(VARNEK_KIT_WORDS);
  for (std::string word; std::getline(list, word, ',');) {
    for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    words.emplace(word, "");
  }
  ASSERT_FALSE(words.empty());
  for (const auto &[word, unused] : words) EXPECT_TRUE(documented.count(word)) << "tvkit.1 has no entry for " << word;
  for (const auto &[word, unused] : documented) EXPECT_TRUE(words.count(word)) << "tvkit.1 documents " << word
                                                                              << ", which the kit has no link for";
}

// The kit's pages open with the head every page shares, and their sections
// come in the one order, SEE ALSO last naming related pages.
TEST(ManPages, KitPagesShareTheHeadAndTheOrderOfSections) {
  const std::regex see_also(R"(^\.BR (vkc|vks|vkhealth|query_logfile|tvkit|tvsession) \(1\)(,?)$)");
  struct Page {
    const char *name, *title;
    std::vector<std::string> sections;
  } pages[] = {
      {"tvkit.1", "TVKIT",
       {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"}},
      {"tvsession.1", "TVSESSION",
       {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"}},
  };
  for (const Page &p : pages) {
    SCOPED_TRACE(p.name);
    const std::vector<std::string> lines = Lines(ReadFile(PagePath(p.name)));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::string(".TH ") + p.title + R"( 1 "2026-12" "VARNEK-II 1.1" "VARNEK-II Manual")");
    std::vector<std::string> sections;
    for (const std::string &line : lines)
      if (line.rfind(".SH ", 0) == 0) sections.push_back(line.substr(4));
    EXPECT_EQ(sections, p.sections);
    const std::vector<std::string> related = Section(ReadFile(PagePath(p.name)), "SEE ALSO");
    ASSERT_FALSE(related.empty());
    for (std::size_t i = 0; i < related.size(); ++i) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(related[i], m, see_also)) << related[i];
      EXPECT_NE(m[1].str() + ".1", p.name) << "the page names itself";
      EXPECT_EQ(m[2].str(), i + 1 < related.size() ? "," : "") << related[i];
    }
  }
}

TEST(ManPages, FilesSectionsNameTheFilesOfTheWorkingDirectory) {
  std::vector<std::string> client = Words(Section(ReadFile(PagePath("vkc.1")), "FILES"));
  for (const char *file : {kClientFile, kServerListFile, kVerboseFile, kClientLogFile, kCompareFile,
                           kCyclePidFile, kCycleMaxTimeFile, "VKBackGround", "VKGetWSAvail", "VKTransfer"})
    EXPECT_TRUE(Names(client, file)) << "vkc.1 FILES does not name " << file;
  std::vector<std::string> server = Words(Section(ReadFile(PagePath("vks.1")), "FILES"));
  EXPECT_TRUE(Names(server, kServerFileName)) << "vks.1 FILES does not name " << kServerFileName;
}

// The path of `program` on PATH, or "" when there is none.
std::string FindOnPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

TEST(ManPages, EachPageRendersWithoutWarnings) {
  std::string groff = FindOnPath("groff");
  std::string man = FindOnPath("man");
  if (groff.empty() && man.empty())
    GTEST_SKIP() << "neither groff nor man is installed (Debian packages groff-base, man-db): "
                    "the pages cannot be rendered here";
  TempDir dir;
  for (const char *name : {"vkc.1", "vks.1", "query_logfile.1", "vkhealth.1", "vknotify.1", "tvkit.1", "tvsession.1"}) {
    std::string page = PagePath(name);
    if (!groff.empty()) {
      RunResult r = RunProgram({groff, "-man", "-ww", "-z", "-Tutf8", page}, dir.path());
      EXPECT_EQ(r.status, 0) << name << ": " << r.err;
      EXPECT_EQ(r.err, "") << name << " draws warnings from groff";
    }
    if (!man.empty()) {
      RunResult r = RunProgram({man, "--warnings", "-l", "-Tutf8", page}, dir.path(), {{"MANWIDTH", "80"}});
      EXPECT_EQ(r.status, 0) << name << ": " << r.err;
      EXPECT_EQ(r.err, "") << name << " draws warnings from man";
      // Bold text may come as overstrikes ("N\bN"): read the plain text.
      std::string plain = std::regex_replace(r.out, std::regex(".\b"), "");
      EXPECT_NE(plain.find("NAME"), std::string::npos) << name << " rendered without its NAME section";
    }
  }
}

}  // namespace
