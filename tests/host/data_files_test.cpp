// The data files' date rules, one table per convention, and the day count
// the calendar arithmetic stands on.

#include "host/data_files.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "host/host.h"

namespace {

struct DateRow {
  std::int64_t in;
  std::int64_t out;
};

TEST(DataFilesTest, TheServersRuleForAnAreaDateWord) {
  const DateRow rows[] = {
      {5001, 2005001},     {18123, 2018123},  {96999, 2096999}, {97000, 1997000}, {97001, 1997001},
      {99365, 1999365},    {118123, 2018123}, {124001, 2024001}, {0, 2000000},    {-1, 1999999},
      {2024001, 3924001},  // a CCYYDDD date in the word is not known as one
  };
  for (const DateRow &row : rows) EXPECT_EQ(datafile::AreaDate(row.in), row.out) << row.in;
  for (std::int64_t date : {1997001, 2000001, 2024366, 2096365})
    EXPECT_EQ(datafile::AreaDate(datafile::AreaDateWord(date)), date) << date;
}

TEST(DataFilesTest, TheServersRuleForAnMdDateWord) {
  const DateRow rows[] = {
      {1, 2000001},   {24001, 2024001}, {96999, 2096999}, {97000, 1997000}, {99999, 1999999},
      {0, 0},         {-5, -5},         {100000, 100000}, {2024001, 2024001},
  };
  for (const DateRow &row : rows) EXPECT_EQ(datafile::MdDate(row.in), row.out) << row.in;
  for (std::int64_t date : {1997001, 1999365, 2000001, 2096365})
    EXPECT_EQ(datafile::MdDate(datafile::YyDddWord(date)), date) << date;
}

TEST(DataFilesTest, TheServersRuleForAGridLabelDate) {
  const DateRow rows[] = {
      {18123, 2018123}, {96999, 2096999}, {97000, 1997000}, {99999, 1999999},
      {0, 2000000},     {-5, 1999995},    {100000, 100000},
  };
  for (const DateRow &row : rows) EXPECT_EQ(datafile::GridDate(row.in), row.out) << row.in;
}

TEST(DataFilesTest, TheCyclesRuleForAnImageDate) {
  const DateRow rows[] = {
      {2024001, 2024001}, {1000000, 1000000}, {999999, 2899999}, {118123, 2018123}, {97000, 1997000},
      {96999, 2096999},   {5001, 2005001},    {0, 2000000},
  };
  for (const DateRow &row : rows) EXPECT_EQ(datafile::CycleDate(static_cast<int>(row.in)), row.out) << row.in;
}

TEST(DataFilesTest, TheLogsDayFromZeroAndTheDatesDayFromOne) {
  struct Row {
    std::int64_t year;
    int day_from_0;
    std::int64_t date;
  };
  const Row rows[] = {{2024, 0, 2024001}, {2024, 365, 2024366}, {1970, 0, 1970001}, {1999, 364, 1999365}};
  for (const Row &row : rows) EXPECT_EQ(datafile::DateOfYearDay(row.year, row.day_from_0), row.date) << row.date;
}

TEST(DataFilesTest, DaysFromCivilCountsFrom1970AndRunsOnPastAMonth) {
  struct Row {
    std::int64_t year;
    unsigned month;
    std::int64_t day;
    std::int64_t days;
  };
  const Row rows[] = {
      {1970, 1, 1, 0},      {1969, 12, 31, -1},   {2024, 1, 1, 19723}, {2000, 3, 1, 11017},
      {1997, 1, 1, 9862},   {2024, 2, 30, 19783}, {2024, 3, 0, 19782}, {1, 1, 1, -719162},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(datafile::DaysFromCivil(row.year, row.month, row.day), row.days) << row.year << "-" << row.month;
    EXPECT_EQ(tv::DaysFromCivil(row.year, row.month, row.day), row.days);  // the host's name is the same count
  }
  static_assert(datafile::DaysFromCivil(1970, 1, 1) == 0);
}

}  // namespace
