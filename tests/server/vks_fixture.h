// A fixture that runs `vks` in a fresh working directory, with HOME there,
// no host programs, and no TVPATH or redirections unless a test gives them,
// and reads the availability file it leaves with the module's own reader.

#ifndef VARNEK_TESTS_SERVER_VKS_FIXTURE_H
#define VARNEK_TESTS_SERVER_VKS_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "server/server.h"
#include "tests/support/support.h"

namespace test_vks {

using testing_support::EnvChanges;
using testing_support::RunResult;

class VksTest : public ::testing::Test {
 protected:
  // Runs vks with `args`; its exit status must be `status` (0 done, 1 could
  // not, 2 usage).
  RunResult Vks(std::vector<std::string> args, const EnvChanges &extra = {}, int status = 0) {
    args.insert(args.begin(), testing_support::ProgramPath("vks"));
    EnvChanges env = {{"PATH", dir_.path()},
                      {"HOME", dir_.path()},
                      {"TVPATH", std::nullopt},
                      {"TVREDIRECT", std::nullopt},
                      {"TZ", "America/New_York"}};
    for (const auto &[name, value] : extra) env[name] = value;
    RunResult r = testing_support::RunProgram(args, dir_.path(), env);
    std::string line;
    for (std::size_t i = 1; i < args.size(); ++i) line += " " + args[i];
    EXPECT_EQ(r.status, status) << "vks" << line << "\n" << r.out << r.err;
    return r;
  }

  // Standard output of a run that must end with `status`.
  std::string Out(const std::vector<std::string> &args, const EnvChanges &extra = {}, int status = 0) {
    return Vks(args, extra, status).out;
  }

  void Install() { ASSERT_EQ(Out({"INSTALL"}), "Varnek II Server Installed Successfully.\n"); }

  std::string FilePath() const { return dir_ / kServerFileName; }
  std::string FileText() const { return testing_support::ReadFile(FilePath()); }

  ServerRec Record(int n) {
    ServerRec rec;
    std::memset(&rec, 0, sizeof rec);
    std::FILE *fp = OpenServerFile(FilePath().c_str());
    EXPECT_NE(fp, nullptr);
    if (!fp) return rec;
    EXPECT_EQ(ReadServerFile(n, &rec, fp), 0) << n;
    std::fclose(fp);
    return rec;
  }

  void Put(int n, const ServerRec &rec) {
    std::FILE *fp = OpenServerFile(FilePath().c_str());
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(WriteServerFile(n, &rec, fp), 0);
    std::fclose(fp);
  }

  // An Active record of a type with a range and the given machine.
  static ServerRec Series(FileTypes type, int first, int last, const char *machine = "") {
    ServerRec rec;
    (void)initServerRec(&rec, type);
    rec.Status = Active;
    std::strcpy(rec.machineName, machine);
    AreaServerStruct &a = rec.ServerData.Area;  // the series fields lead every type's part
    a.bRange = first;
    a.eRange = last;
    a.currentNum = first;
    return rec;
  }

  testing_support::TempDir dir_;
};

}  // namespace test_vks

#endif  // VARNEK_TESTS_SERVER_VKS_FIXTURE_H
