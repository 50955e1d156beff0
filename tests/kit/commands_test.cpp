// The kit's host command programs run as the client runs them (argv[0] a
// blank, the whole command line in argv[1]) or through their links: what
// each refuses, with which message, and what each does on a good line; and
// the files that say where data lives (DATASETS.TXT, TVTABLE.TXT,
// MACHINES.TXT).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "tests/support/support.h"

namespace {

using testing_support::EnvChanges;
using testing_support::Exists;
using testing_support::FakeSession;
using testing_support::ReadFile;
using testing_support::RunProgramAs;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kKitBin = VARNEK_KIT_BIN_DIR;

class KitCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs("tavrin/data/img");
    MakeDirs("tavrin/data/obs");
    MakeDirs("tavrin/data/grd");
    Registry(
        "SRC/IMG AREA 1 10 img\n"
        "SRC/OBS MD 1 10 obs\n"
        "SRC/GRD GRID 1 10 grd\n"
        "SRC/TXT TEXT 1 1 prod.txt\n"
        "LOC/W AREA 1 5 LOC/W\n"
        "LOC/P MD 1 5 LOC/P\n"
        "LOC/G GRID 1 5 LOC/G\n");
    std::string e;
    ASSERT_TRUE(kit::WriteAreaFile(Data("img/AREA0001"), 2024001, 120000, 75.0, 20, 30, 60, e)) << e;
    ASSERT_TRUE(kit::WriteAreaFile(Data("img/AREA0003"), 2024001, 130000, 75.0, 20, 30, 60, e)) << e;
    ASSERT_TRUE(kit::WriteMdFile(Data("obs/MDXX0001"), 2024001, 5, 3, e)) << e;
    ASSERT_TRUE(kit::WriteMdFile(Data("obs/MDXX0002"), 2024002, 6, 3, e)) << e;
    ASSERT_TRUE(kit::WriteGridFile(Data("grd/GRID0001"), "GFS", 12, 84, 2024001, e)) << e;
    ASSERT_TRUE(kit::WriteGridFile(Data("grd/GRID0002"), "GFS", 12, 90, 2024001, e)) << e;
    ASSERT_TRUE(kit::WriteTextProduct(Data("prod.txt"), "ZONE FORECAST", 2024001, 93005, e)) << e;
  }

  std::string Data(const std::string &relative) const { return home_ / ("tavrin/data/" + relative); }
  void MakeDirs(const std::string &relative) {
    std::string path = home_.path();
    for (std::size_t at = 0; at != std::string::npos;) {
      std::size_t end = relative.find('/', at);
      path += "/" + relative.substr(at, end == std::string::npos ? end : end - at);
      ::mkdir(path.c_str(), 0755);
      at = end == std::string::npos ? end : end + 1;
    }
  }
  void Registry(const std::string &text) { WriteFile(Data("DATASETS.TXT"), text); }

  EnvChanges Env() {
    EnvChanges env = {{"HOME", home_.path()}, {"PATH", kKitBin + ":" + home_.path() + ":/usr/bin:/bin"},
                      {"TZ", "UTC"}};
    if (session_) env["TVENV_POSUC"] = std::to_string(session_->id());
    return env;
  }
  // A host command line as the client's host runtime starts it.
  RunResult Host(const std::string &line) {
    std::string word = line.substr(0, line.find(' '));
    for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return RunProgramAs(kKitBin + "/" + word + ".k", {" ", line}, home_.path(), Env());
  }
  // A link started from a shell with separate words.
  RunResult Link(const std::string &link, std::vector<std::string> args) {
    args.insert(args.begin(), kKitBin + "/" + link);
    return RunProgramAs(args[0], args, home_.path(), Env());
  }

  TempDir home_;
  std::unique_ptr<FakeSession> session_ = std::make_unique<FakeSession>(4);
};

// ---------------------------------------------------------------------------
// Bad command lines: a message naming the command and what is wrong, the
// status of that problem, and nothing changed.

struct Refusal {
  const char *line;
  int status;           // 2 a line that is not the command's, 1 one it could not carry out
  const char *message;  // a part of the error output
};

void ExpectRefusals(std::initializer_list<Refusal> cases, const std::function<RunResult(const std::string &)> &run) {
  for (const Refusal &c : cases) {
    SCOPED_TRACE(c.line);
    RunResult r = run(c.line);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.timed_out);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST_F(KitCommandTest, DataCommandsRefuseBadLines) {
  const std::string registry = ReadFile(Data("DATASETS.TXT"));
  auto run = [&](const std::string &line) { return Host(line); };
  ExpectRefusals(
                 {
                     {"PEEKTX", 2, "usage: PEEKTX"},
                     {"PEEKTX SRC/TXT", 2, "usage: PEEKTX"},
                     {"PEEKTX SRC/TXT DEV=P out", 2, "usage: PEEKTX"},
                     {"PEEKTX SRC/TXT DEV=T", 2, "usage: PEEKTX"},
                     {"PEEKTX SRCTXT DEV=T out", 2, "usage: PEEKTX"},
                     {"PEEKTX SRC/TXT SRC/IMG DEV=T out", 2, "usage: PEEKTX"},
                     {"PEEKTX SRC/TXT DEV=T out COLOR=RED", 2, "Invalid command keywords: COLOR=RED"},
                     {"PEEKTX SRC/IMG DEV=T out", 1, "SRC/IMG is not a text dataset"},
                     {"SETREG", 2, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA", 2, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 1 5x", 2, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 0 5", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 5 1", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 1 10000", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 1 99999999999", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X TEXT 1 5", 2, "usage: SETREG"},
                     {"SETREG ADD SRC/X AREA 1 5", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X.2 AREA 1 5", 1, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 1 5 6", 2, "usage: SETREG"},
                     {"SETREG ADD LOC/X AREA 1 5 WHERE=here", 2, "Invalid command keywords: WHERE=here"},
                     {"SETREG PUT LOC/X AREA 1 5", 2, "usage: SETREG"},
                     {"SETREG DEL", 2, "usage: SETREG"},
                     {"SETREG DEL LOC/NONE", 1, "no dataset LOC/NONE"},
                     {"RASDUP", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1 LOC/W", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1 LOC/W.0", 1, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1 LOC/W.x", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.ALL LOC/W.1", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 LOC/W.2", 2, "usage: RASDUP"},
                     {"RASDUP SRC/IMG.1 LOC/W.6", 1, "position 6 lies outside LOC/W"},
                     {"RASDUP SRC/IMG.11 LOC/W.1", 1, "position 11 lies outside SRC/IMG"},
                     {"RASDUP SRC/IMG.2 LOC/W.1", 1, "AREA0002"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 SPEED=9", 2, "Invalid command keywords: SPEED=9"},
                     {"RASDUP SRC/OBS.1 LOC/W.1", 1, "RASDUP copies AREA items"},
                     {"RASDUP SRC/IMG.1 LOC/P.1", 1, "RASDUP copies AREA items"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 BAND=37", 1, "BAND=37 is not ALL or a band 1 to 36"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 MAG=0 1", 1, "MAG=0 is not a magnification"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 MAG=2 40", 1, "MAG=40 is not a magnification"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 MAG=two 2", 2, "MAG=two is not a magnification"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 SIZE=-5 3", 1, "is not a size"},
                     {"RASDUP SRC/IMG.1 LOC/W.1 SIZE=BIG", 2, "is not ALL, SAME or lines elements"},
                     {"SETREG ADD LOC/.. AREA 1 5", 1, "usage: SETREG"},
                     {"OBSDUP SRC/OBS.1 LOC/P.1 DELETE=MAYBE", 2, "DEL= wants YES or NO"},
                     {"OBSDUP SRC/OBS.1 LOC/P.1 NUM=5", 2, "Invalid command keywords: NUM=5"},
                     {"OBSDUP SRC/OBS.1 LOC/P.1 DEL=YES DELETE=NO", 2, "Multiple occurrences"},
                     {"OBSDUP SRC/IMG.1 LOC/P.1", 1, "OBSDUP copies MD items"},
                     {"MESHDUP SRC/GRD.1 LOC/G.1 NUM=0", 1, "NUM= wants a count"},
                     {"MESHDUP SRC/GRD.1 LOC/G.1 NUM=five", 2, "NUM= wants a count"},
                     {"MESHDUP SRC/GRD.1 LOC/G.1 DEL=KEEP", 2, "DEL= wants YES or NO"},
                     {"MESHDUP SRC/GRD.1 SRC/GRD.2", 1, "usage: MESHDUP"},
                     {"RASCAT", 2, "usage: RASCAT"},
                     {"RASCAT SRCIMG", 2, "usage: RASCAT"},
                     {"RASCAT SRC/IMG.ALL SORT=1", 2, "Invalid command keywords: SORT=1"},
                     {"RASCAT SRC/IMG.11", 1, "position 11 lies outside SRC/IMG"},
                     {"RASCAT SRC/IMG.0", 1, "usage: RASCAT"},
                     {"OBSCAT SRC/NONE.ALL FORM=FILE", 1, "no dataset SRC/NONE"},
                     {"IMGDIR", 2, "usage: IMGDIR"},
                     {"IMGDIR SRC/TXT", 2, "SRC/TXT is not an image dataset"},
                     {"IMGDIR SRC/IMG EXTRA", 2, "usage: IMGDIR"},
                     {"IMGDIR SRC/NONE", 2, "no dataset SRC/NONE"},  // the reader's "no such dataset"
                 },
                 run);
  EXPECT_EQ(ReadFile(Data("DATASETS.TXT")), registry);
  EXPECT_FALSE(Exists(home_ / "out"));
  EXPECT_FALSE(Exists(Data("LOC")));
  EXPECT_EQ(Host("IMGDIR").status, 2);  // the status the image directory's reader looks for
}

TEST_F(KitCommandTest, DisplayCommandsRefuseBadLines) {
  auto run = [&](const std::string &line) { return Host(line); };
  ExpectRefusals(
                 {
                     {"RASVUE", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 0", 1, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 1 2", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 5", 1, "frame 5 is not a frame of the session"},
                     {"RASVUE SRC/IMG.11 1", 1, "position 11 lies outside SRC/IMG"},
                     {"RASVUE SRC/IMG.2 1", 1, "AREA0002"},
                     {"RASVUE SRC/IMG.1 1 ZOOM=2", 2, "Invalid command keywords: ZOOM=2"},
                     {"RASVUE SRC/IMG.1 one", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 1 MAG=two 2", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 1 MAG=2.5", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG.1 1 MAG=2 99999999999", 1, "usage: RASVUE"},
                     {"RASVUE SRC/IMG ALL=1 four", 2, "usage: RASVUE"},
                     {"RASVUE SRC/IMG 1 TIME=24:00", 1, "TIME=24:00 is not hh:mm or hh:mm:ss"},
                     {"RASVUE SRC/TXT 1", 1, "SRC/TXT is not an image dataset"},
                     {"RASVUE SRC/IMG 1 TIME=13:00:60", 1, "TIME=13:00:60 is not hh:mm or hh:mm:ss"},
                     {"RASVUE SRC/IMG 1 TIME=13:00:00:00", 2, "is not hh:mm or hh:mm:ss"},
                     {"RASVUE SRC/IMG 1 TIME=13", 2, "is not hh:mm or hh:mm:ss"},
                     {"SEQB", 2, "usage: SEQB"},
                     {"SEQB 1", 2, "usage: SEQB"},
                     {"SEQB 2 1", 1, "usage: SEQB"},
                     {"SEQB 1 5", 1, "frames 1 to 4"},
                     {"SEQB 1x 2", 2, "usage: SEQB"},
                     {"SEQB 1 2 3", 2, "usage: SEQB"},
                     {"SEQB G", 2, "usage: SEQB G"},
                     {"SEQB G 1 x", 2, "usage: SEQB G"},
                     {"SEQS", 2, "usage: SEQS"},
                     {"SEQS 1-x", 2, "usage: SEQS"},
                     {"SEQS 3-1", 1, "usage: SEQS"},
                     {"SEQS 1-2 4-5", 1, "frames 1 to 4"},
                     {"PALX", 2, "usage: PALX"},
                     {"PALX SAVE E 1 2", 2, "usage: PALX"},
                     {"PALX REST E 1 9", 1, "usage: PALX"},
                     {"ZRNG", 2, "usage: ZRNG"},
                     {"ZRNG 0", 1, "usage: ZRNG"},
                     {"ZRNG 5s", 2, "usage: ZRNG"},
                     {"ZRNG 99999999999", 1, "usage: ZRNG"},
                     {"ZRNG AUTO 2", 2, "usage: ZRNG"},
                     {"SCRNSET L", 2, "usage: SCRNSET"},
                     {"SCRNSET L MAYBE", 2, "usage: SCRNSET"},
                     {"SCRNSET X ON", 2, "usage: SCRNSET"},
                     {"VWF", 2, "usage: VWF"},
                     {"VWF 0", 1, "usage: VWF"},
                     {"VWF 5", 1, "frames 1 to 4"},
                     {"VWF 1 RATE=2", 2, "Invalid command keywords: RATE=2"},
                 },
                 run);
  EXPECT_FALSE(Exists(home_ / "tavrin/frames/LOOP.TXT"));
  EXPECT_FALSE(Exists(home_ / "tavrin/frames/frame0001.png"));
}

TEST_F(KitCommandTest, WaitcapRefusesBadLimitsAndMissingPrograms) {
  auto run = [&](const std::string &line) { return Host(line); };
  ExpectRefusals(
                 {
                     {"WAITCAP", 2, "usage: WAITCAP"},
                     {"WAITCAP 30", 2, "usage: WAITCAP"},
                     {"WAITCAP x VWF 1", 2, "usage: WAITCAP"},
                     {"WAITCAP 0 VWF 1", 1, "usage: WAITCAP"},
                     {"WAITCAP 5s VWF 1", 2, "usage: WAITCAP"},
                     {"WAITCAP 99999999999 VWF 1", 1, "usage: WAITCAP"},
                     {"WAITCAP 5 NOSUCHWORD 1", 1, "no host program nosuchword.k"},
                 },
                 run);
}

// Every kind of kit program ends as a script expects: 0 done, 1 could not,
// 2 not a line of the command.  One row per case of the kit's EXIT STATUS
// table, for the links (a host line or a shell's words), `tvkit` by hand
// and tvsession.
TEST_F(KitCommandTest, EveryKindOfProgramEndsWithAStatusAScriptCanTrust) {
  WriteFile(home_ / "tavrin/frames", "a file where the frames' directory goes");  // no loop page can be stored
  enum How { kHost, kLink, kTvkit, kSession };
  struct Row {
    How how;
    std::vector<std::string> words;  // kHost: the command line; kLink: the link, then its words
    int status;
    const char *message;  // a part of the error output ("" for none)
  };
  const Row rows[] = {
      {kLink, {"rasdup.k", "SRC/IMG.1", "LOC/W.1"}, 0, ""},
      {kTvkit, {"TEXT", "product.txt", "ZONE FORECAST", "2024001", "93005"}, 0, ""},
      {kSession, {"2", "rascat.k", "SRC/IMG.1"}, 0, ""},
      {kHost, {"WAITCAP 30 RASCAT SRC/IMG.1"}, 0, ""},
      // could not: a file missing or refused, a value refused, nothing stored
      {kLink, {"rascat.k", "SRC/NONE.ALL"}, 1, "no dataset SRC/NONE"},
      {kHost, {"RASDUP SRC/IMG.2 LOC/W.2"}, 1, "AREA0002"},
      {kLink, {"rasvue.k", "SRC/IMG.1", "9"}, 1, "frame 9 is not a frame of the session"},
      {kTvkit, {"AREA", "a", "2023366", "120000", "75", "20", "20", "60"}, 1, "2023366"},
      {kTvkit, {"MD", "a", "2024001", "5", "123456789"}, 1, "usage: tvkit"},
      {kLink, {"solday.k", "2023366", "40", "90"}, 1, ""},
      {kSession, {"0", "vwf.k", "1"}, 1, "usage: tvsession"},
      {kHost, {"VWF 1"}, 1, "cannot write the loop's page"},
      {kHost, {"WAITCAP 30 VWF 9"}, 1, "usage: VWF"},  // the command's own status
      // usage: no command word or an unknown one, positional words missing
      // or extra, a keyword not taken, a value that is no number
      {kHost, {""}, 2, "not a command of this kit"},
      {kHost, {"NOSUCH 1"}, 2, "not a command of this kit"},
      {kTvkit, {}, 2, "usage: tvkit"},
      {kTvkit, {"PICTURE", "a"}, 2, "usage: tvkit"},
      {kSession, {}, 2, "usage: tvsession"},
      {kLink, {"vwf.k", "1", "2"}, 2, "usage: VWF"},
      {kLink, {"solday.k", "2024001", "40"}, 2, "usage: solday.k"},
      {kTvkit, {"MD", "a", "2024001", "5"}, 2, "usage: tvkit"},
      {kLink, {"rascat.k", "SRC/IMG.ALL", "SORT=1"}, 2, "Invalid command keywords: SORT=1"},
      {kHost, {"RASVUE SRC/IMG.1 1 MAG=two 2"}, 2, "usage: RASVUE"},
      {kHost, {"MESHDUP SRC/GRD.1 LOC/G.1 NUM=five"}, 2, "NUM= wants a count"},
      {kLink, {"vwf.k", "one"}, 2, "usage: VWF"},
      {kTvkit, {"AREA", "a", "2024001", "12000x", "75", "20", "20", "60"}, 2, "usage: tvkit"},
      {kSession, {"3x", "vwf.k", "1"}, 2, "usage: tvsession"},
      {kHost, {"RASCAT 'SRC/IMG.ALL"}, 2, "Mismatched quotes"},
      {kHost, {"WAITCAP 30 VWF"}, 2, "usage: VWF"},
  };
  const std::string tvkit = testing_support::ProgramPath("tvkit"), tvsession = testing_support::ProgramPath("tvsession");
  for (const Row &row : rows) {
    std::vector<std::string> words = row.words;
    std::string trace;
    for (const std::string &w : words) trace += "[" + w + "] ";
    SCOPED_TRACE(trace);
    RunResult r;
    if (row.how == kHost) {
      // The program of the command word; a line naming none is started
      // through a link of another word.
      const std::string word = words[0].substr(0, words[0].find(' '));
      r = word.empty() || word == "NOSUCH" ? RunProgramAs(kKitBin + "/vwf.k", {" ", words[0]}, home_.path(), Env())
                                           : Host(words[0]);
    } else if (row.how == kLink) {
      const std::string link = words[0];
      r = Link(link, std::vector<std::string>(words.begin() + 1, words.end()));
    } else {
      const std::string &program = row.how == kTvkit ? tvkit : tvsession;
      EnvChanges env = Env();
      if (row.how == kSession) env.erase("TVENV_POSUC");  // the session starter makes its own
      words.insert(words.begin(), program);
      r = RunProgramAs(program, words, home_.path(), env);
    }
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_FALSE(r.timed_out);
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
  }
}

// ---------------------------------------------------------------------------
// Good command lines.

TEST_F(KitCommandTest, CopiesAreByteIdenticalAtTheLocalPositionAndRegisterNothing) {
  const std::string registry = ReadFile(Data("DATASETS.TXT"));
  RunResult r = Host("RASDUP SRC/IMG.3 LOC/W.2 SIZE=SAME STY=VISR MAG=1 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0002")), ReadFile(Data("img/AREA0003")));
  EXPECT_FALSE(Exists(Data("LOC/W/AREA0001")));
  EXPECT_FALSE(Exists(Data("LOC/W/AREA0003")));

  // The whole-line forms the client builds, and the link form from a shell.
  ASSERT_EQ(Host("RASDUP SRC/IMG.1 LOC/W.5 BAND=ALL SIZE=  480   640 STY=VISR TWIN=0 MAG=-2 -2 ").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0005")), ReadFile(Data("img/AREA0001")));
  ASSERT_EQ(Link("rasdup.k", {"SRC/IMG.1", "LOC/W.4", "SIZE=ALL"}).status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0004")), ReadFile(Data("img/AREA0001")));
  EXPECT_EQ(ReadFile(Data("DATASETS.TXT")), registry);

  // Without a position the newest item of the dataset is taken.
  struct timeval older[2] = {{1000000, 0}, {1000000, 0}}, newer[2] = {{2000000, 0}, {2000000, 0}};
  ASSERT_EQ(utimes(Data("img/AREA0003").c_str(), older), 0);
  ASSERT_EQ(utimes(Data("img/AREA0001").c_str(), newer), 0);
  ASSERT_EQ(Host("RASDUP SRC/IMG LOC/W.3").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0003")), ReadFile(Data("img/AREA0001")));
}

TEST_F(KitCommandTest, DeleteNoKeepsWhatTheTargetHolds) {
  ASSERT_EQ(Host("OBSDUP SRC/OBS.1 LOC/P.1 DELETE=YES").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/P/MDXX0001")), ReadFile(Data("obs/MDXX0001")));
  RunResult kept = Host("OBSDUP SRC/OBS.2 LOC/P.1 DELETE=NO");
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("LOC/P.1 already holds an item"), std::string::npos) << kept.err;
  EXPECT_EQ(ReadFile(Data("LOC/P/MDXX0001")), ReadFile(Data("obs/MDXX0001")));
  ASSERT_EQ(Host("OBSDUP SRC/OBS.2 LOC/P.1 DELETE=YES").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/P/MDXX0001")), ReadFile(Data("obs/MDXX0002")));
  ASSERT_EQ(Host("OBSDUP SRC/OBS.2 LOC/P.2 DELETE=NO").status, 0);  // an empty position is filled

  ASSERT_EQ(Host("MESHDUP SRC/GRD.1 LOC/G.3 DEL=NO NUM=500").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/G/GRID0003")), ReadFile(Data("grd/GRID0001")));
  EXPECT_EQ(Host("MESHDUP SRC/GRD.2 LOC/G.3 DEL=NO NUM=500").status, 1);
  EXPECT_EQ(ReadFile(Data("LOC/G/GRID0003")), ReadFile(Data("grd/GRID0001")));
  ASSERT_EQ(Host("MESHDUP SRC/GRD.2 LOC/G.3 DEL=YES NUM=1").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/G/GRID0003")), ReadFile(Data("grd/GRID0002")));
}

TEST_F(KitCommandTest, SetregEditsTheLocalRegistryOnly) {
  ASSERT_EQ(Host("SETREG ADD LOC/NEW GRID 11 20").status, 0);
  ASSERT_EQ(Host("SETREG ADD LOC/W AREA 1 8").status, 0);  // replaces the entry of the same name
  std::string registry = ReadFile(Data("DATASETS.TXT"));
  EXPECT_EQ(registry,
            "SRC/IMG AREA 1 10 img\nSRC/OBS MD 1 10 obs\nSRC/GRD GRID 1 10 grd\nSRC/TXT TEXT 1 1 prod.txt\n"
            "LOC/P MD 1 5 LOC/P\nLOC/G GRID 1 5 LOC/G\nLOC/NEW GRID 11 20 LOC/NEW\nLOC/W AREA 1 8 LOC/W\n");
  ASSERT_EQ(Host("SETREG DEL LOC/P").status, 0);
  EXPECT_EQ(ReadFile(Data("DATASETS.TXT")).find("LOC/P "), std::string::npos);
  EXPECT_EQ(Host("SETREG DEL LOC/P").status, 1);  // gone already
  // The new range is the copy's range: position 10 of LOC/NEW is file 20.
  ASSERT_EQ(Host("MESHDUP SRC/GRD.1 LOC/NEW.10").status, 0);
  EXPECT_TRUE(Exists(Data("LOC/NEW/GRID0020")));
}

TEST_F(KitCommandTest, SetregStartsTheRegistryOfAFreshAccount) {
  TempDir fresh;
  EnvChanges env = Env();
  env["HOME"] = fresh.path();
  RunResult r = RunProgramAs(kKitBin + "/setreg.k", {" ", "SETREG ADD LOC/X MD 1 3"}, fresh.path(), env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(fresh / "tavrin/data/DATASETS.TXT"), "LOC/X MD 1 3 LOC/X\n");
}

TEST_F(KitCommandTest, AnUnreadableOrHugeRegistryIsNotRewritten) {
  // A registry past the size the kit reads would lose its tail.
  std::string big;
  for (int i = 0; big.size() <= (1u << 20); ++i) big += "SRC/D" + std::to_string(i) + " AREA 1 10 d\n";
  Registry(big);
  RunResult r = Host("SETREG ADD LOC/X AREA 1 5");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("DATASETS.TXT"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(Data("DATASETS.TXT")), big);
}

TEST_F(KitCommandTest, PeektxWritesTheTextFile) {
  RunResult r = Host("PEEKTX SRC/TXT DEV=T COMPARE2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(home_ / "COMPARE2"), ReadFile(Data("prod.txt")));
}

TEST_F(KitCommandTest, PeektxRefusesATablePastOneMebibyte) {
  const std::string most(1u << 20, 'x');
  WriteFile(Data("prod.txt"), most);
  ASSERT_EQ(Host("PEEKTX SRC/TXT DEV=T COMPARE2").status, 0);
  EXPECT_EQ(ReadFile(home_ / "COMPARE2"), most);

  WriteFile(Data("prod.txt"), most + "y");
  RunResult r = Host("PEEKTX SRC/TXT DEV=T COMPARE2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("holds more than 1048576 bytes"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(home_ / "COMPARE2"), most);  // the last table fetched stays
}

TEST_F(KitCommandTest, WaitcapReturnsTheStatusOrStopsACommandPastItsLimit) {
  WriteFile(home_ / "three.k", "#!/bin/sh\nexit 3\n");
  WriteFile(home_ / "lost.k", "#!/bin/sh\nexit 127\n");
  // Blocks reading a pipe nothing ever writes to; only the limit ends it.
  WriteFile(home_ / "blocks.k", "#!/bin/sh\nrm -f \"$HOME/fifo\"; mkfifo \"$HOME/fifo\" && exec cat \"$HOME/fifo\"\n");
  for (const char *script : {"three.k", "lost.k", "blocks.k"}) ASSERT_EQ(chmod((home_ / script).c_str(), 0755), 0);

  EXPECT_EQ(Host("WAITCAP 30 THREE").status, 3);
  EXPECT_EQ(Host("WAITCAP 30 LOST").status, 1);
  RunResult r = Host("WAITCAP 30 PEEKTX SRC/TXT DEV=T COMPARE2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(home_ / "COMPARE2"), ReadFile(Data("prod.txt")));
  EXPECT_EQ(Link("waitcap.k", {"30", "three"}).status, 3);

  r = Host("WAITCAP 1 BLOCKS");
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("BLOCKS did not end within 1 seconds"), std::string::npos) << r.err;
}

// The times process `pid` has given up the processor ("voluntary" and
// "nonvoluntary" context switches together); -1 when it is gone.
long Switches(pid_t pid) {
  std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  long total = 0;
  int found = 0;
  for (const char *key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
    std::size_t at = status.find(std::string("\n") + key);
    if (at == std::string::npos) continue;
    total += std::atol(status.c_str() + at + 1 + std::strlen(key));
    ++found;
  }
  return found == 2 ? total : -1;
}

// The state letter of process `pid` (S sleeping, R running ...); 0 when it
// is gone.
char State(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? 0 : stat[paren + 2];
}

TEST_F(KitCommandTest, WaitcapSleepsUntilItsCommandEnds) {
  // The command says it runs through one pipe and ends when the test
  // writes to another; meanwhile WAITCAP must not wake at all (a look at
  // its child every few milliseconds would).
  const std::string started = home_ / "started", release = home_ / "release";
  ASSERT_EQ(mkfifo(started.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(release.c_str(), 0600), 0);
  WriteFile(home_ / "holds.k", "#!/bin/sh\necho go > \"$HOME/started\"\nexec cat \"$HOME/release\" > /dev/null\n");
  ASSERT_EQ(chmod((home_ / "holds.k").c_str(), 0755), 0);
  std::vector<std::string> environment;
  for (const auto &[key, value] : Env())
    if (value) environment.push_back(key + "=" + *value);
  std::vector<char *> envp;
  for (std::string &e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string waitcap = kKitBin + "/waitcap.k";
  char blank[] = " ", line[] = "WAITCAP 30 HOLDS";
  char *argv[] = {blank, line, nullptr};
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(home_.path().c_str()) != 0) _exit(126);
    execve(waitcap.c_str(), argv, envp.data());
    _exit(127);
  }
  // Opening the pipe waits for the command to open its end.
  std::string said = ReadFile(started);
  EXPECT_EQ(said, "go\n");
  // Once WAITCAP is asleep (a busy machine may not have run it that far).
  for (int i = 0; i < 1000 && State(pid) != 'S'; ++i) usleep(10 * 1000);
  const long before = Switches(pid);
  usleep(300 * 1000);
  const long after = Switches(pid);
  EXPECT_GE(before, 0);
  EXPECT_EQ(after, before) << "WAITCAP woke while its command ran";
  WriteFile(release, "end\n");  // the command ends, and WAITCAP with it
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Whether process `pid` has ended (gone, or a zombie not yet reaped).
bool Ended(int pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  return paren == std::string::npos || stat.compare(paren + 1, 3, " Z ") == 0;
}

TEST_F(KitCommandTest, WaitcapAlsoStopsWhatTheCommandStarted) {
  // A command whose child blocks reading a pipe nothing writes to, as a
  // transfer to a dead host would.
  WriteFile(home_ / "leaves.k",
            "#!/bin/sh\nrm -f \"$HOME/fifo\"; mkfifo \"$HOME/fifo\" || exit 9\n"
            "cat \"$HOME/fifo\" &\necho $! > \"$HOME/reader.pid\"\nwait\n");
  ASSERT_EQ(chmod((home_ / "leaves.k").c_str(), 0755), 0);
  RunResult r = Host("WAITCAP 1 LEAVES");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("LEAVES did not end within 1 seconds"), std::string::npos) << r.err;
  const int reader = std::atoi(ReadFile(home_ / "reader.pid").c_str());
  ASSERT_GT(reader, 0);
  // SIGKILL has been sent to the reader before WAITCAP ended; wait for it to
  // take effect, and stop the reader here if it was left running.
  bool ended = false;
  for (int i = 0; i < 1000 && !(ended = Ended(reader)); ++i) usleep(10000);
  EXPECT_TRUE(ended) << "the command's child outlived the limit";
  if (!ended) kill(reader, SIGKILL);
}

TEST_F(KitCommandTest, CatalogsListTheItemsHeld) {
  RunResult r = Host("RASCAT SRC/IMG.ALL");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "SRC/IMG  AREA  positions 1-10 (files 1-10)\n"
            "    1  img/AREA0001  2024001 120000  20 x 30\n"
            "    3  img/AREA0003  2024001 130000  20 x 30\n");
  r = Host("OBSCAT SRC/OBS.2 FORM=FILE");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SRC/OBS  MD  positions 1-10 (files 1-10)\n    2  obs/MDXX0002  328 bytes\n");
}

TEST_F(KitCommandTest, LoopCommandsWriteTheLoopState) {
  auto state = [&] { return ReadFile(home_ / "tavrin/frames/LOOP.TXT"); };
  ASSERT_EQ(Host("SEQB 2 4").status, 0);
  EXPECT_EQ(state(), "0 500 2 3 4\n");
  ASSERT_EQ(Host("SEQS 1-1 3-4").status, 0);
  EXPECT_EQ(state(), "0 500 1 3 4\n");
  ASSERT_EQ(Host("ZRNG 2").status, 0);
  EXPECT_EQ(state(), "0 2000 1 3 4\n");
  ASSERT_EQ(Host("ZRNG 600").status, 0);  // a minute at most
  EXPECT_EQ(state(), "0 60000 1 3 4\n");
  ASSERT_EQ(Host("SCRNSET L ON").status, 0);
  ASSERT_EQ(Host("ZRNG AUTO").status, 0);
  EXPECT_EQ(state(), "1 500 1 3 4\n");
  // The viewer's page beside the state file it follows, which says the
  // same, counting each write.
  EXPECT_EQ(ReadFile(home_ / "tavrin/frames/loop.html"), kit::LoopPageText());
  EXPECT_NE(ReadFile(home_ / "tavrin/frames/loop-state.js").find("\"serial 6\",\n\"loop 1 500 1 3 4\",\n"),
            std::string::npos)
      << ReadFile(home_ / "tavrin/frames/loop-state.js");
  ASSERT_EQ(Host("SEQB G 7 7").status, 0);
  ASSERT_EQ(Host("PALX REST BW 1 4").status, 0);
  EXPECT_EQ(state(), "1 500 1 3 4\n");
  ASSERT_EQ(Host("VWF 3").status, 0);
  EXPECT_EQ(state(), "0 500 3\n");
}

// RASVUE tells the loop viewer what each frame shows; the loop commands
// keep those labels, and a page that is not the kit's is put back.
TEST_F(KitCommandTest, RasvueLabelsItsFramesInTheLoopState) {
  const std::string frames = home_ / "tavrin/frames/";
  auto state = [&] {
    kit::LoopState s;
    std::string why;
    EXPECT_EQ(kit::ReadLoopState(frames + "loop-state.js", s, why), 0) << why;
    return s;
  };
  ASSERT_EQ(Host("RASVUE SRC/IMG.3 2 MAG=2 2").status, 0);
  kit::LoopState s = state();
  EXPECT_TRUE(s.loop.empty()) << "no loop set yet";
  EXPECT_FALSE(Exists(frames + "LOOP.TXT"));
  ASSERT_NE(kit::FindFrameLabel(s, 2), nullptr);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->dataset, "SRC/IMG");
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->date, 2024001);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->time, 130000);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->width, 60);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->height, 40);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->drawn, s.serial);

  WriteFile(frames + "loop.html", "an old page");
  ASSERT_EQ(Host("SEQS 1-1 3-4").status, 0);
  ASSERT_EQ(Host("RASVUE SRC/IMG.1 2").status, 0);  // drawn again: a new version of the picture
  s = state();
  EXPECT_EQ(ReadFile(frames + "loop.html"), kit::LoopPageText());
  EXPECT_EQ(s.loop, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->time, 120000);
  EXPECT_EQ(kit::FindFrameLabel(s, 2)->drawn, s.serial);
  EXPECT_EQ(s.frames.size(), 1u);

  // A failed draw leaves the label of the picture that is there; a state
  // that cannot be written fails the command that drew.
  EXPECT_EQ(Host("RASVUE SRC/IMG.2 2").status, 1);
  EXPECT_EQ(kit::FindFrameLabel(state(), 2)->time, 120000);
  ASSERT_EQ(unlink((frames + "loop-state.js").c_str()), 0);
  ASSERT_EQ(mkdir((frames + "loop-state.js").c_str(), 0755), 0);
  RunResult r = Host("RASVUE SRC/IMG.3 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("loop-state.js: cannot be written"), std::string::npos) << r.err;
  EXPECT_TRUE(Exists(frames + "frame0001.png"));
}

TEST_F(KitCommandTest, LoopStateOfThousandsOfFramesIsReadWhole) {
  session_ = std::make_unique<FakeSession>(3000);
  std::string frames;
  for (int f = 1; f <= 3000; ++f) frames += " " + std::to_string(f);
  ASSERT_EQ(Host("SEQB 1 3000").status, 0);
  ASSERT_EQ(Host("ZRNG 2").status, 0);  // reads the state, then writes it back
  EXPECT_EQ(ReadFile(home_ / "tavrin/frames/LOOP.TXT"), "0 2000" + frames + "\n");
}

TEST_F(KitCommandTest, RasvueDrawsTheFrame) {
  RunResult r = Host("RASVUE SRC/IMG.3 2 LATLON=  40.0   90.0 MAG=2 2 BAND=ALL GRAY=NO TWIN=0 REF='ZRNG AUTO'");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string png = ReadFile(home_ / "tavrin/frames/frame0002.png");
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  // The header's width and height (big-endian words at 16 and 20): the
  // image's 30 elements and 20 lines, magnified twice.
  EXPECT_EQ(static_cast<unsigned char>(png[19]), 60u);
  EXPECT_EQ(static_cast<unsigned char>(png[23]), 40u);
}

// A frame is 480 lines of 640 elements: a magnified picture past it is cut
// to its centre, a smaller one keeps its size.
TEST_F(KitCommandTest, RasvuePicturesAreNoLargerThanTheFrame) {
  std::string e;
  ASSERT_TRUE(kit::WriteAreaFile(Data("img/AREA0005"), 2024001, 140000, 75.0, 200, 200, 60, e)) << e;
  ASSERT_TRUE(kit::WriteAreaFile(Data("img/AREA0006"), 2024001, 143000, 75.0, 300, 400, 60, e)) << e;
  struct Case {
    const char *line;
    unsigned width, height;
  } cases[] = {
      {"RASVUE SRC/IMG.5 1 MAG=4 2", 400, 480},  // 800 lines of 400 elements
      {"RASVUE SRC/IMG.5 1 MAG=1 1", 200, 200},
      {"RASVUE SRC/IMG.6 1 MAG=2 2", 640, 480},  // 600 lines of 800 elements
      {"RASVUE SRC/IMG.6 1 MAG=1 -2", 200, 300},
      {"RASVUE SRC/IMG.5 1 MAG=60 30", 640, 480},  // 12000 lines: only the portion shown is made
  };
  auto word = [](const std::string &png, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(png[at])) << 24 |
           static_cast<unsigned>(static_cast<unsigned char>(png[at + 1])) << 16 |
           static_cast<unsigned>(static_cast<unsigned char>(png[at + 2])) << 8 |
           static_cast<unsigned>(static_cast<unsigned char>(png[at + 3]));
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    RunResult r = Host(c.line);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = ReadFile(home_ / "tavrin/frames/frame0001.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(word(png, 16), c.width);
    EXPECT_EQ(word(png, 20), c.height);
  }
}

TEST_F(KitCommandTest, RasvueWithoutPositionShowsTheNewestItemsHeld) {
  // A ring of five positions holding two items: position 4 older, 2 newer.
  ASSERT_EQ(Host("RASDUP SRC/IMG.1 LOC/W.4").status, 0);
  ASSERT_EQ(Host("RASDUP SRC/IMG.3 LOC/W.2").status, 0);
  struct timeval older[2] = {{1000000, 0}, {1000000, 0}}, newer[2] = {{2000000, 0}, {2000000, 0}};
  ASSERT_EQ(utimes(Data("LOC/W/AREA0004").c_str(), older), 0);
  ASSERT_EQ(utimes(Data("LOC/W/AREA0002").c_str(), newer), 0);
  const std::string frames = home_ / "tavrin/frames/";

  ASSERT_EQ(Host("RASVUE LOC/W.2 1").status, 0);
  RunResult r = Host("RASVUE LOC/W  2 LATLON=  40.0   90.0 MAG=1 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(frames + "frame0002.png"), ReadFile(frames + "frame0001.png"));

  for (const char *f : {"frame0001.png", "frame0002.png"}) unlink((frames + f).c_str());
  r = Host("RASVUE LOC/W  ALL=1 4 MAG=1 1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(frames + "frame0001.png"));
  EXPECT_FALSE(Exists(frames + "frame0002.png"));
  ASSERT_EQ(Host("RASVUE LOC/W.4 1").status, 0);
  ASSERT_EQ(Host("RASVUE LOC/W.2 2").status, 0);
  EXPECT_EQ(ReadFile(frames + "frame0003.png"), ReadFile(frames + "frame0001.png"));
  EXPECT_EQ(ReadFile(frames + "frame0004.png"), ReadFile(frames + "frame0002.png"));

  // TIME= picks the image of that minute; seconds, as LOAD passes them,
  // are taken.
  ASSERT_EQ(Host("RASVUE SRC/IMG.3 1").status, 0);
  ASSERT_EQ(Host("RASVUE SRC/IMG.1 2").status, 0);
  for (const char *time : {"13:00", "13:00:00", "13:00:59"}) {
    unlink((frames + "frame0003.png").c_str());
    r = Host(std::string("RASVUE SRC/IMG 3 TIME=") + time);
    ASSERT_EQ(r.status, 0) << time << ": " << r.err;
    EXPECT_EQ(ReadFile(frames + "frame0003.png"), ReadFile(frames + "frame0001.png")) << time;
  }
  ASSERT_EQ(Host("RASVUE SRC/IMG 3 TIME=12:00:30").status, 0);
  EXPECT_EQ(ReadFile(frames + "frame0003.png"), ReadFile(frames + "frame0002.png"));
  r = Host("RASVUE SRC/IMG 3 TIME=12:01:00");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SRC/IMG holds no image of 12:01:00"), std::string::npos) << r.err;

  r = Host("RASVUE LOC/G 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("LOC/G is not an image dataset"), std::string::npos) << r.err;
  ASSERT_EQ(Host("SETREG ADD LOC/E AREA 1 3").status, 0);
  r = Host("RASVUE LOC/E 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("LOC/E holds no item"), std::string::npos) << r.err;
}

TEST_F(KitCommandTest, SoldayAndSampleFilesRefuseGarbageNumbers) {
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {}, {"2024001", "40"}, {"2024001", "40", "9x"}, {"x", "40", "90"}, {"2024001", "", "90"}}) {
    RunResult r = Link("solday.k", args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: solday.k"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  RunResult good = Link("solday.k", {"2024001", "40", "90"});
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.out, "SOLDAY 2024001 40.00N 90.00W\nSunrise/Sunset 13:21:51 22:45:11\n");

  const std::string tvkit = testing_support::ProgramPath("tvkit");
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"AREA", "a", "2024001", "12000x", "75", "20", "20", "60"},
           {"AREA", "a", "2024001", "120000", "west", "20", "20", "60"},
           {"MD", "a", "2024001", "5"},
           {"GRID", "a", "GFS", "12", "84", "2024OO1"},
           {"PICTURE", "a"}}) {
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), tvkit);
    RunResult r = RunProgramAs(tvkit, argv, home_.path(), Env());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: tvkit"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(home_ / "a"));
  }
}

TEST_F(KitCommandTest, TvsessionGivesItsCommandTheFramesAsked) {
  session_.reset();  // the session starter makes its own
  const std::string tvsession = testing_support::ProgramPath("tvsession");
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), tvsession);
    return RunProgramAs(tvsession, args, home_.path(), Env());
  };
  for (const auto &[frames, status] : {std::pair{"0", 1}, {"3x", 2}, {"", 2}, {"10000", 1}}) {
    RunResult r = run({frames, "vwf.k", "1"});
    EXPECT_EQ(r.status, status) << frames;
    EXPECT_NE(r.err.find("usage: tvsession FRAMES"), std::string::npos) << r.err;
  }
  EXPECT_EQ(run({"3", "vwf.k", "3"}).status, 0);
  EXPECT_EQ(run({"2", "vwf.k", "3"}).status, 1);  // the command's own status
  EXPECT_EQ(run({"2", "no-such-program.k"}).status, 127);
}

TEST_F(KitCommandTest, TvsessionsShellKeepsTheCallersPath) {
  session_.reset();  // the session starter makes its own
  // An account whose profiles set PATH afresh, as a login shell's do on
  // many systems; the shell reads what is typed from its standard input.
  for (const char *profile : {".profile", ".bash_profile", ".bash_login"})
    WriteFile(home_ / profile, "PATH=/usr/bin:/bin\nexport PATH\n");
  WriteFile(home_ / "env.sh", ":\n");
  WriteFile(home_ / "typed", "echo \"$PATH\" > \"$HOME/path-inside\"\nexit 7\n");
  const std::string tvsession = testing_support::ProgramPath("tvsession");
  for (const char *shell : {"/bin/sh", "/bin/bash"}) {
    if (!Exists(shell)) continue;
    SCOPED_TRACE(shell);
    unlink((home_ / "path-inside").c_str());
    EnvChanges env = Env();
    env["SHELL"] = shell;
    env["ENV"] = home_ / "env.sh";  // what an interactive sh reads: nothing
    env["BASH_ENV"] = std::nullopt;
    RunResult r = testing_support::RunProgram({"/bin/sh", "-c", "exec \"$0\" 2 < \"$HOME/typed\"", tvsession},
                                              home_.path(), env);
    EXPECT_EQ(r.status, 7) << r.err;  // the session ends with the shell, and with its status
    EXPECT_EQ(ReadFile(home_ / "path-inside").rfind(kKitBin + ":", 0), 0u) << ReadFile(home_ / "path-inside");
  }
}

// ---------------------------------------------------------------------------
// Where data lives.

TEST_F(KitCommandTest, ResolutionFilesThatCannotServeAreNamed) {
  const std::string other = home_ / "other";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  struct Case {
    const char *table;     // TVTABLE.TXT, or null for none
    const char *machines;  // MACHINES.TXT, or null for none
    const char *registry;  // DATASETS.TXT, or null for none
    const char *message;
  };
  const std::string root = other;
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "no dataset registry"},
      {nullptr, nullptr, "SRC/IMG AREA 1 10\n", "DATASETS.TXT line 1"},
      {nullptr, nullptr, "SRC/IMG AREA 0 10 img\n", "DATASETS.TXT line 1"},
      {nullptr, nullptr, "SRC/IMG AREA 1 10000 img\n", "DATASETS.TXT line 1"},
      {nullptr, nullptr, "SRC/IMG PICT 1 10 img\n", "DATASETS.TXT line 1"},
      {nullptr, nullptr, "X/Y AREA 1 10 img\n", "no dataset SRC/IMG in"},
      {"QOLA_ROUTE_SRC=A1\n", nullptr, nullptr, "MACHINES.TXT: No such file or directory"},
      {"QOLA_ROUTE_SRC=A1\n", "A2=/tmp\n", nullptr, "no machine is known by the address A1 of group SRC"},
      {"QOLA_ROUTE_SRC=\n", "A1=/tmp\n", nullptr, "the route of group SRC names no address"},
      {"QOLA_ROUTE_SRC=A1\n", "A1=relative/dir\n", nullptr, "neither a directory"},
      {"QOLA_ROUTE_SRC=A1\n", "A1=ftp:///nohost\n", nullptr, "neither a directory"},
      {"QOLA_ROUTE_SRC=A1\n", "A1=", nullptr, "no machine is known by the address A1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.table ? c.table : "-") + " | " + (c.machines ? c.machines : "-") + " | " +
                 (c.registry ? c.registry : "-"));
    for (const char *file : {"TVTABLE.TXT", "MACHINES.TXT", "DATASETS.TXT"}) unlink(Data(file).c_str());
    if (c.table) WriteFile(Data("TVTABLE.TXT"), c.table);
    if (c.machines) WriteFile(Data("MACHINES.TXT"), c.machines);
    if (c.registry) WriteFile(Data("DATASETS.TXT"), c.registry);
    for (const char *line : {"RASCAT SRC/IMG.ALL", "RASDUP SRC/IMG.1 LOC/W.1", "RASVUE SRC/IMG.1 1"}) {
      SCOPED_TRACE(line);
      RunResult r = Host(line);
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
    }
  }
  // A route table that exists but cannot be read is not taken as "no routes".
  for (const char *file : {"TVTABLE.TXT", "MACHINES.TXT"}) unlink(Data(file).c_str());
  Registry("SRC/IMG AREA 1 10 img\n");
  ASSERT_EQ(mkdir(Data("TVTABLE.TXT").c_str(), 0755), 0);
  RunResult r = Host("RASCAT SRC/IMG.ALL");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("TVTABLE.TXT"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(Data("LOC")));
}

TEST_F(KitCommandTest, ARoutedGroupIsServedFromItsMachine) {
  const std::string other = home_ / "other";
  for (const char *dir : {"", "/tavrin", "/tavrin/data", "/tavrin/data/img"})
    ASSERT_EQ(mkdir((other + dir).c_str(), 0755), 0);
  std::string e;
  ASSERT_TRUE(kit::WriteAreaFile(other + "/tavrin/data/img/AREA0004", 2024002, 60000, 75.0, 10, 10, 60, e)) << e;
  WriteFile(other + "/tavrin/data/DATASETS.TXT", "FAR/IMG AREA 1 10 img\n");
  WriteFile(Data("TVTABLE.TXT"), "# routes\n QOLA_ROUTE_FAR = FARHOST \n");
  WriteFile(Data("MACHINES.TXT"), "FARHOST=" + other + "\n");
  RunResult r = Host("RASDUP FAR/IMG.4 LOC/W.1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0001")), ReadFile(other + "/tavrin/data/img/AREA0004"));
  // The local registry does not serve a routed group.
  r = Host("RASCAT SRC/IMG.ALL");
  EXPECT_EQ(r.status, 0) << r.err;  // SRC has no route: local
  WriteFile(Data("TVTABLE.TXT"), "QOLA_ROUTE_SRC=FARHOST\n");
  r = Host("RASCAT SRC/IMG.ALL");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no dataset SRC/IMG in " + other + "/tavrin/data/DATASETS.TXT"), std::string::npos) << r.err;
}

TEST_F(KitCommandTest, SizeCopiesTheCentredPartOfAnImage) {
  RunResult r = Host("RASDUP SRC/IMG.3 LOC/W.1 SIZE=10 12");
  ASSERT_EQ(r.status, 0) << r.err;
  kit::AreaImage whole, part;
  std::string e;
  ASSERT_TRUE(kit::ReadAreaFile(Data("img/AREA0003"), whole, e)) << e;
  ASSERT_TRUE(kit::ReadAreaFile(Data("LOC/W/AREA0001"), part, e)) << e;
  EXPECT_EQ(part.lines, 10);
  EXPECT_EQ(part.elements, 12);
  EXPECT_EQ(part.date, whole.date);
  EXPECT_EQ(part.time, whole.time);
  for (int l = 0; l < 10; ++l)  // lines 5..14, elements 9..20 of the 20 x 30 image
    for (int el = 0; el < 12; ++el)
      ASSERT_EQ(part.pixels[static_cast<std::size_t>(l * 12 + el)],
                whole.pixels[static_cast<std::size_t>((l + 5) * 30 + el + 9)]) << l << " " << el;
  // A size as large as the image, ALL, SAME, -1 and -99 copy it whole.
  for (const char *size : {"SIZE=20 30", "SIZE=ALL", "SIZE=SAME", "SIZE=-1 -1", "SIZE=-99 -99"}) {
    ASSERT_EQ(Host(std::string("RASDUP SRC/IMG.3 LOC/W.2 ") + size).status, 0) << size;
    EXPECT_EQ(ReadFile(Data("LOC/W/AREA0002")), ReadFile(Data("img/AREA0003"))) << size;
  }
}

TEST_F(KitCommandTest, RegistryLinesThatLeaveTheDataDirectoryAreNoDatasets) {
  MakeDirs("secret");
  WriteFile(home_ / "secret/AREA0001", ReadFile(Data("img/AREA0001")));
  for (const char *where : {"../../secret", "/tmp", "img/../../../secret", "./img/.."}) {
    Registry(std::string("SRC/UP AREA 1 10 ") + where + "\nLOC/W AREA 1 5 LOC/W\n");
    RunResult r = Host("RASDUP SRC/UP.1 LOC/W.1");
    EXPECT_NE(r.status, 0) << where;
    EXPECT_NE(r.err.find("DATASETS.TXT line 1"), std::string::npos) << where << ": " << r.err;
    EXPECT_FALSE(Exists(Data("LOC/W/AREA0001"))) << where;
  }
  Registry("SRC/IMG AREA 1 10 img\nLOC/.. AREA 1 5 ..\n");
  EXPECT_NE(Host("RASDUP SRC/IMG.1 LOC/...1").status, 0);
}

// ---------------------------------------------------------------------------
// What a copy takes: only files inside the machine's data directory, and
// as an AREA copy only a whole AREA file.

TEST_F(KitCommandTest, RasdupRefusesAnItemLinkedOutOfTheDataDirectory) {
  MakeDirs("private");
  // Files that pass every other check: a link to one, and a link to their
  // directory.
  WriteFile(home_ / "private/key", ReadFile(Data("img/AREA0001")));
  WriteFile(home_ / "private/AREA0001", ReadFile(Data("img/AREA0001")));
  ASSERT_EQ(symlink("../../../private/key", Data("img/AREA0005").c_str()), 0);
  ASSERT_EQ(symlink((home_ / "private").c_str(), Data("img/far").c_str()), 0);
  ASSERT_EQ(symlink("AREA0001", Data("img/AREA0006").c_str()), 0);  // a link inside stays good
  Registry(ReadFile(Data("DATASETS.TXT")) + "SRC/FAR AREA 1 10 img/far\n");
  for (const char *line : {"RASDUP SRC/IMG.5 LOC/W.1", "RASDUP SRC/FAR.1 LOC/W.1"}) {
    RunResult r = Host(line);
    EXPECT_EQ(r.status, 1) << line;
    EXPECT_NE(r.err.find("leads outside the data directory"), std::string::npos) << line << ": " << r.err;
    EXPECT_FALSE(Exists(Data("LOC/W/AREA0001"))) << line;
  }
  ASSERT_EQ(Host("RASDUP SRC/IMG.6 LOC/W.2").status, 0);
  EXPECT_EQ(ReadFile(Data("LOC/W/AREA0002")), ReadFile(Data("img/AREA0001")));
}

TEST_F(KitCommandTest, RasdupRefusesWhatIsNoWholeAreaFile) {
  const std::string image = ReadFile(Data("img/AREA0001"));
  std::string swapped = image;  // the other byte order: format word 0x04000000
  std::swap(swapped[4], swapped[7]);
  const std::pair<const char *, std::string> cases[] = {
      {"text", "ZONE FORECAST\n" + std::string(300, 'x')},
      {"zeros", std::string(image.size(), '\0')},
      {"cut", image.substr(0, image.size() - 1)},
      {"other byte order", swapped},
  };
  for (const auto &[what, bytes] : cases) {
    WriteFile(Data("img/AREA0009"), bytes);
    RunResult r = Host("RASDUP SRC/IMG.9 LOC/W.1");
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_NE(r.err.find("SRC/IMG.9 (img/AREA0009) is not a whole AREA image file"), std::string::npos)
        << what << ": " << r.err;
    EXPECT_FALSE(Exists(Data("LOC/W/AREA0001"))) << what;
  }
}

}  // namespace
