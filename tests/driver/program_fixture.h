// A fixture that runs the built programs in a fresh working directory (HOME
// there too, no host programs unless a test links some in, no injected
// faults unless given) and looks at every file they leave.

#ifndef VARNEK_TESTS_DRIVER_PROGRAM_FIXTURE_H
#define VARNEK_TESTS_DRIVER_PROGRAM_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace test_programs {

using testing_support::EnvChanges;
using testing_support::RunResult;

class WorkingDirTest : public ::testing::Test {
 protected:
  EnvChanges Env(const std::string &faults = "") const {
    EnvChanges env = {{"PATH", dir_.path()}, {"HOME", dir_.path()}, {"VARNEK_FAULTS", std::nullopt}};
    if (!faults.empty()) env["VARNEK_FAULTS"] = faults;
    return env;
  }
  RunResult Run(const std::string &program, std::vector<std::string> args, const std::string &faults = "") {
    args.insert(args.begin(), testing_support::ProgramPath(program));
    return testing_support::RunProgram(args, dir_.path(), Env(faults), 20000);
  }
  RunResult Vkc(std::vector<std::string> args, const std::string &faults = "") {
    return Run("vkc", std::move(args), faults);
  }
  RunResult Vks(std::vector<std::string> args, const std::string &faults = "") {
    return Run("vks", std::move(args), faults);
  }
  // Every file of the working directory with its bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir_.path()))
      out[e.path().filename()] = e.is_regular_file() ? testing_support::ReadFile(e.path()) : "<not a file>";
    return out;
  }
  // A client with record 7 (an active image record) and server-list entry 4.
  void ClientWithOneRecord() {
    ASSERT_EQ(Vkc({"INSTALL"}).status, 0);
    ASSERT_EQ(Vkc({"CREATE", "7", "TYPE=AREA", "NAME=KEEP", "STATUS=ACTIVE"}).status, 0);
    ASSERT_EQ(Vkc({"CS", "4", "NAME=srv", "ADDRESS=10.0.0.4", "GROUP=RTIM"}).status, 0);
  }
  testing_support::TempDir dir_;
};

}  // namespace test_programs

#endif  // VARNEK_TESTS_DRIVER_PROGRAM_FIXTURE_H
