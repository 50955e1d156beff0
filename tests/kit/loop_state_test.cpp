// The loop's state file: the text the page reads, the whole-file writer
// and its count of writes, and the reader that refuses damaged files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kit/kit.h"
#include "posix/posix.h"
#include "tests/support/support.h"

namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

kit::FrameLabel Label(int frame, const char *dataset, int time) {
  kit::FrameLabel l;
  l.frame = frame;
  l.dataset = dataset;
  l.date = 2024173;
  l.time = time;
  l.width = 480;
  l.height = 400;
  return l;
}

TEST(LoopStateTest, TextIsAScriptOfOneQuotedLineEachThatReadsBack) {
  kit::LoopState state;
  state.serial = 6;
  state.running = true;
  state.dwell_ms = 2000;
  state.loop = {5, 6, 1, 2};
  kit::SetFrameLabel(state, Label(2, "RTIM/G8IR", 150000));
  kit::SetFrameLabel(state, Label(1, "LOC/G8IR", 143000));
  kit::SetFrameLabel(state, Label(9, "A\"B\\C D</script>", 0));  // kept harmless
  EXPECT_EQ(kit::LoopStateText(state),
            "// The frame loop as the stand-in host kit last left it, for loop.html.\n"
            "varnekLoopState([\n"
            "\"VARNEK-LOOP 1\",\n"
            "\"serial 6\",\n"
            "\"loop 1 2000 5 6 1 2\",\n"
            "\"frame 1 2024173 143000 480 400 7 LOC/G8IR\",\n"
            "\"frame 2 2024173 150000 480 400 7 RTIM/G8IR\",\n"
            "\"frame 9 2024173 0 480 400 7 A?B?C?D?/script?\",\n"
            "]);\n");
  kit::LoopState back;
  std::string why;
  ASSERT_TRUE(kit::ParseLoopState(kit::LoopStateText(state), back, why)) << why;
  EXPECT_EQ(kit::LoopStateText(back), kit::LoopStateText(state));
  EXPECT_EQ(kit::FindFrameLabel(back, 2)->dataset, "RTIM/G8IR");
  EXPECT_EQ(kit::FindFrameLabel(back, 3), nullptr);
}

TEST(LoopStateTest, WritesAreWholeCountedAndNeverThroughALink) {
  TempDir dir;
  const std::string path = dir / kit::kLoopStateFile;
  kit::LoopState state;
  std::string error;
  ASSERT_TRUE(kit::WriteLoopState(path, state, error)) << error;
  EXPECT_EQ(state.serial, 1);
  kit::SetFrameLabel(state, Label(3, "RTIM/G8VS", 120000));
  ASSERT_TRUE(kit::WriteLoopState(path, state, error)) << error;
  kit::LoopState read;
  std::string why;
  ASSERT_EQ(kit::ReadLoopState(path, read, why), 0) << why;
  EXPECT_EQ(read.serial, 2);
  ASSERT_NE(kit::FindFrameLabel(read, 3), nullptr);
  EXPECT_EQ(kit::FindFrameLabel(read, 3)->drawn, 2) << "the picture's version is the write that told of it";

  // A failed write leaves the file and the count as they were.
  const std::string before = ReadFile(path);
  posix::InjectFault(posix::Op::kWrite, 1, ENOSPC);
  EXPECT_FALSE(kit::WriteLoopState(path, state, error));
  posix::ClearFaults();
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(state.serial, 2);
  EXPECT_EQ(ReadFile(path), before);

  // A link planted where the state goes is replaced, not written through.
  WriteFile(dir / "elsewhere", "keep");
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), path.c_str()), 0);
  ASSERT_TRUE(kit::WriteLoopState(path, state, error)) << error;
  EXPECT_EQ(ReadFile(dir / "elsewhere"), "keep");
  EXPECT_EQ(kit::ReadLoopState(path, read, why), 0) << why;
  EXPECT_EQ(read.serial, 3);
}

TEST(LoopStateTest, ReaderRefusesDamagedFilesAndLeavesTheStateAlone) {
  auto text = [](const std::string &lines) { return "varnekLoopState([\n\"VARNEK-LOOP 1\",\n" + lines + "]);\n"; };
  const struct {
    const char *what;
    std::string content;
  } damaged[] = {
      {"empty", ""},
      {"no header", "varnekLoopState([\n\"serial 1\",\n]);\n"},
      {"another version", "varnekLoopState([\n\"VARNEK-LOOP 2\",\n]);\n"},
      {"a line left open", text("\"serial 1,\n")},
      {"serial 0", text("\"serial 0\",\n")},
      {"running 2", text("\"loop 2 500 1\",\n")},
      {"a loop frame past 9999", text("\"loop 1 500 1 10000\",\n")},
      {"frame 0", text("\"frame 0 2024173 120000 10 10 1 A/B\",\n")},
      {"day 366 of 2023", text("\"frame 1 2023366 120000 10 10 1 A/B\",\n")},
      {"24 o'clock", text("\"frame 1 2024173 240000 10 10 1 A/B\",\n")},
      {"no width", text("\"frame 1 2024173 120000 0 10 1 A/B\",\n")},
      {"no dataset", text("\"frame 1 2024173 120000 10 10 1\",\n")},
  };
  for (const auto &d : damaged) {
    SCOPED_TRACE(d.what);
    kit::LoopState state;
    state.serial = 99;
    std::string why;
    EXPECT_FALSE(kit::ParseLoopState(d.content, state, why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(state.serial, 99) << "state touched";
  }
  // Lines of other words are skipped, a dwell is kept within its bounds, and
  // a frame given twice keeps its last line.
  kit::LoopState state;
  std::string why;
  ASSERT_TRUE(kit::ParseLoopState(text("\"pen blue\",\n\"loop 0 5 2\",\n"
                                       "\"frame 2 2024173 120000 10 10 1 A/B\",\n"
                                       "\"frame 2 2024173 121500 10 10 3 A/C\",\n"),
                                  state, why))
      << why;
  EXPECT_EQ(state.dwell_ms, kit::kLeastDwellMs);
  ASSERT_EQ(state.frames.size(), 1u);
  EXPECT_EQ(state.frames[0].dataset, "A/C");

  TempDir dir;
  EXPECT_EQ(kit::ReadLoopState(dir / "none", state, why), ENOENT);
  WriteFile(dir / "big", text(std::string(kit::kMostLoopStateBytes, ' ')));
  EXPECT_EQ(kit::ReadLoopState(dir / "big", state, why), EFBIG);
  WriteFile(dir / "bad", "\"VARNEK-LOOP 1\"\n\"frame x\"\n");
  EXPECT_EQ(kit::ReadLoopState(dir / "bad", state, why), EINVAL);
  EXPECT_NE(why.find(dir / "bad"), std::string::npos) << why;
  EXPECT_FALSE(Exists(dir / kit::kLoopStateFile));
}

}  // namespace
