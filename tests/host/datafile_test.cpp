// The host's data-file lookup and the AREA / MD header readers.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"
#include "tests/server/data_files.h"
#include "tests/support/support.h"

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Runs each test in a fresh directory with TVPATH and TVREDIRECT unset.
class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    unsetenv("TVPATH");
    unsetenv("TVREDIRECT");
  }
  void TearDown() override {
    unsetenv("TVPATH");
    unsetenv("TVREDIRECT");
    ASSERT_EQ(chdir(saved_cwd_.c_str()), 0);
  }
  std::string Sub(const std::string &name) {
    std::string path = dir_ / name;
    mkdir(path.c_str(), 0755);
    return path;
  }
  static std::string Lookup(const char *name) {
    const char *p = Tvpathname(name);
    return p ? p : "(null)";
  }

  TempDir dir_;
  std::string saved_cwd_;
};

TEST_F(DataFileTest, LookupOrderRedirectionThenTvpathThenWritableDirectory) {
  std::string a = Sub("a"), b = Sub("b"), r = Sub("r");
  WriteFile(b + "/AREA0001", "x");
  WriteFile(a + "/AREA0002", "x");
  WriteFile(b + "/AREA0002", "x");
  setenv("TVPATH", (a + ":" + b).c_str(), 1);
  EXPECT_EQ(Lookup("AREA0001"), b + "/AREA0001");
  EXPECT_EQ(Lookup("AREA0002"), a + "/AREA0002");  // the first directory that has it
  EXPECT_EQ(Lookup("AREA0003"), a + "/AREA0003");  // not found: the first writable directory
  EXPECT_EQ(Lookup("sub/AREA0001"), "sub/AREA0001");

  setenv("TVREDIRECT", ("MDXX*=/nowhere;AREA000[12]=" + r + ";AREA*=/elsewhere").c_str(), 1);
  EXPECT_EQ(Lookup("AREA0002"), r + "/AREA0002");  // first matching entry, file or not
  EXPECT_EQ(Lookup("AREA0009"), "/elsewhere/AREA0009");
  EXPECT_EQ(Lookup("GRID0001"), a + "/GRID0001");

  setenv("TVPATH", (dir_ / "missing1:" + dir_ / "missing2").c_str(), 1);
  unsetenv("TVREDIRECT");
  EXPECT_EQ(Lookup("AREA0001"), "(null)");  // no directory to write in
  unsetenv("TVPATH");
  EXPECT_EQ(Lookup("AREA0001"), "./AREA0001");  // unset: the current directory
  EXPECT_EQ(Lookup(""), "(null)");
}

TEST_F(DataFileTest, LwfileTellsWhetherTheLookupFindsAFile) {
  WriteFile(dir_ / "MDXX0001", "x");
  EXPECT_EQ(lwfile_("MDXX0001    ", 12), 1);
  EXPECT_EQ(lwfile_("MDXX0002", 8), 0);
  EXPECT_EQ(lwfile_("        ", 8), 0);
}

TEST_F(DataFileTest, TvreadFillsWhatTheFileLacksAndReportsWhy) {
  WriteFile(dir_ / "F", "abcdef");
  char buf[8];
  std::memset(buf, 0, sizeof buf);
  EXPECT_EQ(Tvread("F", 2, 3, buf), 0);
  EXPECT_EQ(std::string(buf, 3), "cde");
  EXPECT_EQ(Tvread("F", 4, 5, buf), kTvReadShort);
  EXPECT_EQ(std::string(buf, 5), "ef\x80\x80\x80");
  const struct {
    const char *name;
    long offset, count;
    int result;
  } rows[] = {{"F", -1, 4, kTvReadBadCall}, {"F", 0, 0, kTvReadBadCall}, {"", 0, 4, kTvReadBadCall},
              {nullptr, 0, 4, kTvReadBadCall}, {"NOFILE", 0, 4, kTvReadNotFound}};
  for (const auto &row : rows) EXPECT_EQ(Tvread(row.name, row.offset, row.count, buf), row.result);
}

TEST_F(DataFileTest, LwiReadsWordsAndRefusesBadRequests) {
  test_data::WriteAreaFile(dir_ / "AREA0007", 18123, 143000);
  std::int32_t words[2] = {};
  int first = 3, count = 2;
  EXPECT_EQ(lwi_("AREA0007  ", &first, &count, words, 10), 0);
  EXPECT_EQ(words[0], 18123);
  EXPECT_EQ(words[1], 143000);
  int negative = -1, zero = 0;
  EXPECT_EQ(lwi_("AREA0007", &negative, &count, words, 8), -1);
  EXPECT_EQ(lwi_("AREA0007", &first, &zero, words, 8), -1);
  EXPECT_EQ(lwi_("   ", &first, &count, words, 3), -1);
  std::string long_name(1024, 'n');
  EXPECT_EQ(lwi_(long_name.c_str(), &first, &count, words, 1024), -1);
  int past = 63;
  EXPECT_EQ(lwi_("AREA0007", &past, &count, words, 8), -1);  // the file ends inside the request
  EXPECT_EQ(static_cast<std::uint32_t>(words[1]), 0x80808080u);
}

TEST_F(DataFileTest, AreaDirectoryReadsTheSameInEitherByteOrder) {
  std::string a = Sub("a"), b = Sub("b");
  test_data::WriteAreaFile(a + "/AREA0007", 118123, 143000, false);
  test_data::WriteAreaFile(b + "/AREA0007", 118123, 143000, true);
  int native[64], other[64], number = 7;
  setenv("TVPATH", a.c_str(), 1);
  ASSERT_EQ(readd_(&number, native), 0);
  setenv("TVPATH", b.c_str(), 1);
  ASSERT_EQ(readd_(&number, other), 0);
  EXPECT_EQ(std::memcmp(native, other, sizeof native), 0);
  EXPECT_EQ(other[3], 118123);
  EXPECT_EQ(other[4], 143000);
  EXPECT_EQ(other[24], test_data::Chars("ABCD"));
  EXPECT_EQ(other[20], test_data::Chars("ABCD"));
}

TEST_F(DataFileTest, ShortOrMissingAreaFileIsAFailure) {
  WriteFile(dir_ / "AREA0001", std::string(test_data::Bytes(test_data::AreaDirectory(1, 2), false,
                                                            test_data::AreaIntegerWord))
                                   .substr(0, 100));
  int dir[64], number = 1;
  EXPECT_LT(readd_(&number, dir), 0);
  EXPECT_EQ(dir[3], 1);
  for (int w = 25; w < 64; ++w) EXPECT_EQ(static_cast<std::uint32_t>(dir[w]), 0x80808080u) << w;
  number = 2;
  EXPECT_LT(readd_(&number, dir), 0);
  number = 0;
  EXPECT_EQ(readd_(&number, dir), kTvBadAreaNumber);
  number = 10000;
  std::string err = testing_support::CaptureStream(tv::kErrorStream, [&] { EXPECT_LT(readd_(&number, dir), 0); });
  EXPECT_NE(err.find(" Invalid AREA number=10000"), std::string::npos) << err;
}

TEST_F(DataFileTest, MdInformationInEitherByteOrder) {
  std::string a = Sub("a"), b = Sub("b");
  test_data::WriteMdFile(a + "/MDXX0012", "ISFC", 300, 25, 18123, false);
  test_data::WriteMdFile(b + "/MDXX0012", "ISFC", 300, 25, 18123, true);
  for (const std::string &d : {a, b}) {
    SCOPED_TRACE(d);
    setenv("TVPATH", d.c_str(), 1);
    int info[64], number = 12;
    ASSERT_EQ(mdinfo_(&number, info), 0);
    EXPECT_EQ(info[0], test_data::Chars("ISFC"));
    EXPECT_EQ(info[3], 300);
    EXPECT_EQ(info[4], 25);
    EXPECT_EQ(info[39], 18123);
    for (int w = 57; w <= 60; ++w) EXPECT_EQ(info[w], -99997);
    char name[8];
    std::memcpy(name, &info[61], sizeof name);
    EXPECT_EQ(std::string(name, sizeof name), "MDXX0012");
    EXPECT_EQ(info[63], 12);
  }
}

TEST_F(DataFileTest, MdInformationFailures) {
  int info[64], number = 0;
  EXPECT_EQ(mdinfo_(&number, info), -1);
  number = 1000000;
  EXPECT_EQ(mdinfo_(&number, info), -1);
  number = 5;
  EXPECT_EQ(mdinfo_(&number, info), -1);  // no file
  test_data::WriteMdFile(dir_ / "MDXX0005", "ISFC", 1, 2, 3, false, 40);
  EXPECT_EQ(mdinfo_(&number, info), -1);  // fewer than 57 words
  EXPECT_EQ(tv::MdFileName(12345), "MDX12345");
  EXPECT_EQ(tv::MdFileName(123456), "MD123456");
}

}  // namespace
