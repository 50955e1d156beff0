// A client working directory for the cycle: the record files, the route
// table, server tables that a stand-in text-read command copies into
// COMPARE2, and stand-in host programs that record their command lines.

#ifndef VARNEK_TESTS_CLIENT_CYCLE_FIXTURE_H
#define VARNEK_TESTS_CLIENT_CYCLE_FIXTURE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/client.h"
#include "tests/support/support.h"

namespace test_cycle {

using testing_support::EnvChanges;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;

class CycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *d : {"bin", "tables", "tavrin", "tavrin/data"})
      ASSERT_EQ(mkdir((dir_ / d).c_str(), 0755), 0);
    for (const char *host : {"waitcap.k", "rasdup.k", "rasvue.k", "obsdup.k", "meshdup.k", "setreg.k", "vks.k",
                             "conv.k", "linkcopy.k", "tell.k", "solday.k", "imgdir.k", "seqb.k", "seqs.k", "palx.k", "zrng.k",
                             "scrnset.k", "vwf.k"})
      ASSERT_EQ(symlink(testing_support::ProgramPath("fakehost").c_str(), (dir_ / (std::string("bin/") + host)).c_str()), 0);
    ASSERT_EQ(DBInit((dir_ / kClientFile).c_str(), sizeof(ClientRec), kClientRecords), 0);
    ASSERT_EQ(DBInit((dir_ / kServerListFile).c_str(), sizeof(ServerListRec), kServerListRecords), 0);
    Routes("");
  }

  EnvChanges Env() const {
    EnvChanges env = {{"PATH", dir_ / "bin" + ":/usr/bin:/bin"}, {"HOME", dir_.path()},
                      {"FAKEHOST_LOG", dir_ / "host.log"}, {"FAKEHOST_TABLES", dir_ / "tables"}};
    for (const auto &[name, value] : extra_env_) env[name] = value;
    return env;
  }
  RunResult Vkc(std::vector<std::string> args) {
    args.insert(args.begin(), testing_support::ProgramPath("vkc"));
    return testing_support::RunProgram(args, dir_.path(), Env(), 20000);
  }
  // Starts vkc with `args` in a process session of its own (a wrong signal
  // could not reach the test), standard output and error to `out`; its pid.
  pid_t StartVkc(const std::vector<std::string> &vkc_args, const std::string &out) {
    std::vector<std::string> args = vkc_args;
    args.insert(args.begin(), testing_support::ProgramPath("vkc"));
    std::vector<std::string> env;
    for (const auto &[name, value] : Env())
      if (value) env.push_back(name + "=" + *value);
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      if (chdir(dir_.path().c_str()) != 0) _exit(126);
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<char *> argv, envp;
      for (auto &a : args) argv.push_back(a.data());
      for (auto &e : env) envp.push_back(e.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    return pid;
  }

  void Verbose(int level) { WriteFile(dir_ / "VKCVerboseLevel", std::to_string(level) + "\n"); }
  void Routes(const std::string &lines) { WriteFile(dir_ / "tavrin/data/TVTABLE.TXT", lines); }

  // The host command lines started so far (argv[1] of each), then forgotten.
  std::vector<std::string> HostCommands() { return testing_support::TakeHostCommands(dir_.path()); }

  // Client records and server-list entries, written straight into the files.
  void PutClient(int n, const ClientRec &r) {
    DBase db;
    ASSERT_EQ(DBOpen(&db, (dir_ / kClientFile).c_str(), ""), 0);
    ASSERT_EQ(DBWrite(&db, n, &r), 0);
    ASSERT_EQ(DBClose(&db), 0);
  }
  ClientRec Client(int n) {
    ClientRec r;
    std::string bytes = ReadFile(dir_ / kClientFile).substr(12 + sizeof(ClientRec) * n, sizeof(ClientRec));
    std::memcpy(&r, bytes.data(), sizeof r);
    return r;
  }
  void PutServer(int n, const char *group, const char *address, int version = 2) {
    ServerListRec e;
    std::memset(&e, 0, sizeof e);
    e.Version = version;
    std::strcpy(e.group, group);
    std::strcpy(e.Address, address);
    DBase db;
    ASSERT_EQ(DBOpen(&db, (dir_ / kServerListFile).c_str(), ""), 0);
    ASSERT_EQ(DBWrite(&db, n, &e), 0);
    ASSERT_EQ(DBClose(&db), 0);
  }

  // An active AREA client record watching `group`/`descriptor`.
  static ClientRec Area(const char *group, const char *descriptor) {
    ClientRec r = ClientDefaults(AREA);
    r.Status = Active;
    std::strcpy(r.Group, group);
    std::strcpy(r.Descriptor, descriptor);
    return r;
  }
  static void Work(ClientRec &r, int first, int last) {
    AreaClientStruct &a = r.Data.Area;
    a.BegWS = first, a.EndWS = last, a.NxtWS = first, a.Store = True;
  }
  static void Frames(ClientRec &r, int first, int last) {
    AreaClientStruct &a = r.Data.Area;
    a.BegFrame = first, a.EndFrame = last, a.NxtFrame = first, a.Show = True;
  }

  // An active AREA server record of a series; its current image is
  // `current`, dated `date` at `time`.
  static ServerRec Image(const char *group, const char *descriptor, int first, int last, int current, int date,
                         int time) {
    ServerRec s;
    (void)initServerRec(&s, AREA);
    s.Status = Active;
    AreaServerStruct &a = s.ServerData.Area;
    a.bRange = first, a.eRange = last, a.currentNum = current, a.dataDate = date, a.dataTime = time;
    std::strcpy(a.dataSource, "G8");
    a.imageResolution = 4;
    a.scanLine = 100;
    std::strcpy(a.Group, group);
    std::strcpy(a.Descriptor, descriptor);
    return s;
  }
  // The availability file a server publishes for `group`, holding `records`
  // as records 1, 2, ...
  void Table(const std::string &group, const std::vector<ServerRec> &records) {
    std::string path = dir_ / ("tables/" + group + "_VKS");
    ASSERT_EQ(installServerFile(path.c_str()), 0);
    std::FILE *fp = OpenServerFile(path.c_str());
    ASSERT_NE(fp, nullptr);
    for (std::size_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(WriteServerFile(static_cast<int>(i) + 1, &records[i], fp), 0);
    std::fclose(fp);
  }

  testing_support::TempDir dir_;
  EnvChanges extra_env_;
};

}  // namespace test_cycle

#endif  // VARNEK_TESTS_CLIENT_CYCLE_FIXTURE_H
