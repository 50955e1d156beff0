// The index of a comparison's client records by type and dataset: which
// records a server item is offered to, and in what order.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "client/client.h"
#include "client/internal.h"
#include "tests/support/support.h"

namespace {

using client_internal::DatasetIndex;
using testing_support::TempDir;

struct Rec {
  int number;
  int type;
  const char *group;
  const char *descriptor;
  int complete = True;  // AREA
  int percent = 0;      // AREA
};

class DatasetIndexTest : public ::testing::Test {
 protected:
  // Writes the records into a fresh client file and loads it.
  void Load(const std::vector<Rec> &recs) {
    const std::string path = dir_ / kClientFile;
    ASSERT_EQ(DBInit(path.c_str(), sizeof(ClientRec), kClientRecords), 0);
    DBase db;
    ASSERT_EQ(DBOpen(&db, path.c_str(), ""), 0);
    for (const Rec &r : recs) {
      ClientRec c = ClientDefaults(r.type);
      c.Status = Active;
      std::snprintf(c.Group, sizeof c.Group, "%s", r.group);
      std::snprintf(c.Descriptor, sizeof c.Descriptor, "%s", r.descriptor);
      if (r.type == AREA) {
        c.Data.Area.Complete = r.complete;
        c.Data.Area.Percent = r.percent;
      }
      ASSERT_EQ(DBWrite(&db, r.number, &c), 0);
    }
    ASSERT_EQ(DBClose(&db), 0);
    ASSERT_EQ(DBOpenForRead(&file_, path.c_str(), ""), 0);
    ASSERT_TRUE(table_.Load());
  }
  void TearDown() override { (void)DBClose(&file_); }

  TempDir dir_;
  DBase file_{};
  ClientTable table_{&file_};
};

using Numbers = std::vector<int>;

TEST_F(DatasetIndexTest, RecordsOfOneDatasetAreOfferedTogetherInRecordOrder) {
  Load({{9, AREA, "G", "D"}, {3, AREA, "G", "D"}, {5, AREA, "G", "E"}, {7, AREA, "G", "D"}, {4, MD, "G", "D"}});
  DatasetIndex area;
  area.Build(table_, AREA);
  EXPECT_EQ(area.All(), (Numbers{3, 5, 7, 9}));
  EXPECT_EQ(area.Offered("G", "D", 100), (Numbers{3, 7, 9}));
  EXPECT_EQ(area.Offered("G", "E", 100), (Numbers{5}));
  EXPECT_EQ(area.Offered("G", "X", 100), Numbers{});
  // Group and descriptor are two words, not one text.
  EXPECT_EQ(area.Offered("GD", "", 100), Numbers{});
  DatasetIndex md;
  md.Build(table_, MD);
  EXPECT_EQ(md.Offered("G", "D", 0), (Numbers{4}));
}

TEST_F(DatasetIndexTest, EveryRecordOfADatasetHeldByManyIsOffered) {
  std::vector<Rec> recs;
  Numbers all;
  for (int n = 1; n <= kClientRecords; ++n) {
    recs.push_back({n, GRID, n % 40 == 0 ? "OTHER" : "RTGR", "ETA"});
    if (n % 40 != 0) all.push_back(n);
  }
  Load(recs);
  DatasetIndex grid;
  grid.Build(table_, GRID);
  EXPECT_EQ(grid.Offered("RTGR", "ETA", 0), all);
  EXPECT_EQ(grid.Offered("OTHER", "ETA", 0), (Numbers{40, 80, 120, 160, 200}));
}

TEST_F(DatasetIndexTest, AnImageIsOfferedToEveryRecordWhoseCompletenessItMayChange) {
  Load({{1, AREA, "G", "A"},
        {2, AREA, "G", "B", False},
        {3, AREA, "G", "C", 2},
        {4, AREA, "G", "D", True, 101},
        {5, AREA, "G", "E", True, 100},
        {6, AREA, "G", "F", True, 99}});
  DatasetIndex area;
  area.Build(table_, AREA);
  // Records 5 and 6 (True, PER= at most the count) stay as they are.
  EXPECT_EQ(area.Offered("G", "A", 100), (Numbers{1, 2, 3, 4}));
  EXPECT_EQ(area.Offered("G", "F", 100), (Numbers{2, 3, 4, 6}));
  EXPECT_EQ(area.Offered("G", "X", 98), (Numbers{2, 3, 4, 5, 6}));
}

TEST_F(DatasetIndexTest, RefileFollowsTheRecordAsTheTableHoldsIt) {
  Load({{2, AREA, "G", "A"}, {6, AREA, "G", "A"}, {8, AREA, "G", "B"}});
  DatasetIndex area;
  area.Build(table_, AREA);
  // A merge brought another dataset, a reset flag and a higher PER= for 6.
  ClientRec *found = table_.Record(6);
  ASSERT_NE(found, nullptr);
  ClientRec &six = *found;
  ASSERT_TRUE(CopyField(six.Descriptor, std::string_view("B")));
  six.Data.Area.Complete = False;
  area.Refile(6);
  EXPECT_EQ(area.Offered("G", "A", 100), (Numbers{2, 6}));
  EXPECT_EQ(area.Offered("G", "B", 100), (Numbers{6, 8}));
  six.Data.Area.Complete = True;
  six.Data.Area.Percent = 150;
  area.Refile(6);
  EXPECT_EQ(area.Offered("G", "A", 100), (Numbers{2, 6}));
  EXPECT_EQ(area.Offered("G", "A", 150), (Numbers{2}));
  six.Data.Area.Percent = 0;
  area.Refile(6);
  EXPECT_EQ(area.Offered("G", "A", 100), (Numbers{2}));
  EXPECT_EQ(area.Offered("G", "B", 100), (Numbers{6, 8}));
  // A record the index does not hold is not filed.
  area.Refile(5);
  EXPECT_EQ(area.All(), (Numbers{2, 6, 8}));
}

}  // namespace
