// Availability lines: the columns the writer fills for each type, what the
// reader makes of hand-written and damaged lines, and the values the writer
// refuses.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "AvailFile/AvailFile.h"

namespace {

std::string Pad(const std::string &text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// A line of the three parts, each right-justified to its width.
std::string Line(const std::string &common, const std::string &type, const std::string &comment = "*") {
  return Pad(common, kServerCommonWidth) + Pad(type, kServerTypeWidth) + Pad(comment, kServerCommentWidth);
}

std::string Format(const ServerRec &rec) {
  char line[kServerLineChars];
  std::string why;
  EXPECT_EQ(formatServerLine(rec, line, why), 0) << why;
  return std::string(line, sizeof line);
}

ServerRec Parse(const std::string &line, int expected = kServerLineParsed) {
  ServerRec rec;
  EXPECT_EQ(parseServerLine(line, &rec), expected) << line;
  return rec;
}

bool SameRecord(const ServerRec &a, const ServerRec &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <std::size_t N>
void Set(char (&field)[N], const std::string &value) {
  ASSERT_LT(value.size(), N);
  std::memset(field, 0, N);
  std::memcpy(field, value.data(), value.size());
}

ServerRec Blank(FileTypes type) {
  ServerRec rec;
  (void)initServerRec(&rec, type);
  return rec;
}

ServerRec CommonValues(FileTypes type) {
  ServerRec rec = Blank(type);
  rec.Status = Active;
  Set(rec.machineName, "alpha");
  Set(rec.filePath, "/data/sat/");
  rec.fileMdate = 2024001;
  rec.fileMtime = 235959;
  Set(rec.comments, "note");
  return rec;
}

// Column rows: 1-based first and last column, and the value written there.
struct Column {
  int first, last;
  std::string text;
  bool separated = true;  // followed by " | "
};

void ExpectColumns(const std::string &line, const std::vector<Column> &columns) {
  ASSERT_EQ(line.size(), static_cast<std::size_t>(kServerLineChars));
  for (const Column &c : columns) {
    std::size_t width = static_cast<std::size_t>(c.last - c.first + 1);
    EXPECT_EQ(line.substr(static_cast<std::size_t>(c.first - 1), width), Pad(c.text, width))
        << "columns " << c.first << "-" << c.last;
    if (c.separated) {
      EXPECT_EQ(line.substr(static_cast<std::size_t>(c.last), 3), " | ") << "after " << c.last;
    }
  }
  EXPECT_EQ(line.substr(344, 10), std::string(10, ' '));
}

const std::vector<Column> kCommonColumns = {{6, 6, "1"},          {10, 10, "0"},         {14, 45, "alpha"},
                                            {49, 128, "/data/sat/"}, {132, 138, "2024001"}, {142, 147, "235959"},
                                            {355, 394, "note", false}};

std::vector<Column> WithCommon(const std::string &type_digit, std::vector<Column> type_columns) {
  std::vector<Column> all = kCommonColumns;
  all[1].text = type_digit;
  all.insert(all.end(), type_columns.begin(), type_columns.end());
  return all;
}

TEST(ServerLine, AreaColumns) {
  ServerRec rec = CommonValues(AREA);
  AreaServerStruct &a = rec.ServerData.Area;
  a.bRange = 1, a.eRange = 9999, a.currentNum = 42, a.dataDate = 2018123, a.dataTime = 143000;
  Set(a.dataSource, "G16"), a.imageResolution = 4, a.scanLine = 123456, a.flagEof = 1;
  Set(a.Descriptor, "GOES16"), Set(a.Group, "SAT"), Set(a.reserved, "spare");
  ExpectColumns(Format(rec), WithCommon("1", {{159, 162, "1"},
                                             {166, 169, "9999"},
                                             {173, 176, "42"},
                                             {180, 186, "2018123"},
                                             {190, 195, "143000"},
                                             {199, 208, "G16"},
                                             {212, 214, "4"},
                                             {218, 223, "123456"},
                                             {227, 228, "1"},
                                             {232, 263, "GOES16"},
                                             {267, 298, "SAT"},
                                             {302, 341, "spare"}}));
}

TEST(ServerLine, MdColumns) {
  ServerRec rec = CommonValues(MD);
  MdServerStruct &m = rec.ServerData.Md;
  m.bRange = 10, m.eRange = 20, m.currentNum = 12, m.dataDate = 2018123, m.dataTime = 120000;
  Set(m.schema, "ISFC"), m.numRow = 999999, m.numColumn = 17;
  Set(m.Descriptor, "SFC"), Set(m.Group, "PTS"), Set(m.reserved, "r");
  ExpectColumns(Format(rec), WithCommon("2", {{166, 169, "10"},
                                             {173, 176, "20"},
                                             {180, 183, "12"},
                                             {187, 193, "2018123"},
                                             {197, 202, "120000"},
                                             {206, 210, "ISFC"},
                                             {214, 219, "999999"},
                                             {223, 228, "17"},
                                             {232, 263, "SFC"},
                                             {267, 298, "PTS"},
                                             {302, 341, "r"}}));
}

TEST(ServerLine, GridColumns) {
  ServerRec rec = CommonValues(GRID);
  GridServerStruct &g = rec.ServerData.Grid;
  g.bRange = 1, g.eRange = 50, g.currentNum = 7, g.dataDate = 2018123, g.dataTime = 120000;
  Set(g.dataSource, "GFS"), g.forecastHour = 840000;
  Set(g.Descriptor, "GFS84"), Set(g.Group, "MOD"), Set(g.reserved, "r");
  ExpectColumns(Format(rec), WithCommon("3", {{170, 173, "1"},
                                             {177, 180, "50"},
                                             {184, 187, "7"},
                                             {191, 197, "2018123"},
                                             {201, 206, "120000"},
                                             {210, 219, "GFS"},
                                             {223, 228, "840000"},
                                             {232, 263, "GFS84"},
                                             {267, 298, "MOD"},
                                             {302, 341, "r"}}));
}

TEST(ServerLine, TextColumns) {
  ServerRec rec = CommonValues(TEXT);
  Set(rec.ServerData.Text.fileName, "notes.txt");
  Set(rec.ServerData.Text.reserved, "r");
  std::string line = Format(rec);
  ExpectColumns(line, WithCommon("4", {{279, 298, "notes.txt"}, {302, 341, "r"}}));
  EXPECT_EQ(line.substr(150, 128), std::string(128, ' '));
}

TEST(ServerLine, EmptyStringsAreWrittenAsStarsAndReadBackEmpty) {
  for (FileTypes type : {AREA, MD, GRID, TEXT}) {
    ServerRec blank = Blank(type);
    std::string line = Format(blank);
    EXPECT_EQ(line.substr(44, 1), "*") << type;    // machineName
    EXPECT_EQ(line.substr(127, 1), "*") << type;   // filePath
    EXPECT_EQ(line.substr(340, 1), "*") << type;   // reserved
    EXPECT_EQ(line.substr(393, 1), "*") << type;   // comments
    EXPECT_EQ(line.substr(297, 1), "*") << type;   // Group, or the TEXT file name
    EXPECT_TRUE(SameRecord(Parse(line), blank)) << type;
  }
}

TEST(ServerLine, FullLengthValuesReadBackWhole) {
  ServerRec rec = Blank(AREA);
  Set(rec.machineName, std::string(31, 'm'));
  Set(rec.filePath, "/" + std::string(78, 'p'));
  Set(rec.ServerData.Area.dataSource, "ABCDEFGHI");
  Set(rec.ServerData.Area.Descriptor, std::string(31, 'd'));
  Set(rec.ServerData.Area.Group, std::string(31, 'g'));
  Set(rec.ServerData.Area.reserved, std::string(39, 'r'));
  Set(rec.comments, "a comment of thirty-nine characters ...");
  rec.fileMdate = -999999;
  rec.ServerData.Area.bRange = -999;
  EXPECT_TRUE(SameRecord(Parse(Format(rec)), rec));

  ServerRec md = Blank(MD);
  Set(md.ServerData.Md.schema, "IS C");
  Set(md.comments, "short");
  EXPECT_TRUE(SameRecord(Parse(Format(md)), md));
}

// Hand-written lines: what the reader takes, where it stops, and that what
// it took writes back to a line that reads the same.
struct HandLine {
  const char *what;
  std::string line;
  int result;
  std::function<void(const ServerRec &)> check;
};

TEST(ServerLine, HandWrittenAndDamagedLines) {
  const std::string area_common = "1 | 1 | alpha | /data/ | 2024001 | 120000 | ";
  const std::vector<HandLine> rows = {
      {"installed slot", std::string(394, '~'), kServerLineEmptySlot,
       [](const ServerRec &r) {
         EXPECT_EQ(r.Status, Inactive);
         EXPECT_EQ(r.DataType, AREA);
       }},
      {"slot of tildes and line feeds", std::string(100, '~') + "\n" + std::string(293, '~'), kServerLineEmptySlot,
       [](const ServerRec &r) { EXPECT_EQ(r.DataType, AREA); }},
      {"file hole (NUL bytes)", std::string(394, '\0'), kServerLineEmptySlot, [](const ServerRec &) {}},
      {"past the end of a short copy", "", kServerLineEmptySlot, [](const ServerRec &) {}},
      {"descriptor with a blank inside",
       Line(area_common, "1 | 100 | 1 | 2018123 | 143000 | G16 | 4 | 0 | 0 | GO ES | SAT | r | "),
       kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_STREQ(r.ServerData.Area.Descriptor, "GO");
         EXPECT_STREQ(r.ServerData.Area.Group, "");
         EXPECT_STREQ(r.ServerData.Area.reserved, "");
         EXPECT_EQ(r.ServerData.Area.flagEof, 0);
       }},
      {"bRange of five digits", Line(area_common, "12345 | 100 | 1 | 2018123 | 143000 | G16 | 4 | "),
       kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_EQ(r.ServerData.Area.bRange, 1234);
         EXPECT_EQ(r.ServerData.Area.eRange, 0);
         EXPECT_STREQ(r.ServerData.Area.dataSource, "");
         EXPECT_STREQ(r.machineName, "alpha");
       }},
      {"comment of five characters", Line(area_common, "1 | 2 | ", "hello"), kServerLineParsed,
       [](const ServerRec &r) { EXPECT_STREQ(r.comments, "hello"); }},
      {"comment of 45 characters", Line(area_common, "1 | 2 | ", std::string(45, 'c')), kServerLineParsed,
       [](const ServerRec &r) { EXPECT_EQ(std::string(r.comments), std::string(39, 'c')); }},
      {"machine name of 32 characters",
       Line("1 | 1 | " + std::string(32, 'M') + "| /p/ | 1 | 2 | ", "1 | 2 | "), kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_EQ(std::string(r.machineName), std::string(31, 'M'));
         EXPECT_STREQ(r.filePath, "/p/");
         EXPECT_EQ(r.fileMtime, 2);
       }},
      {"source of 15 characters",
       Line(area_common, "1 | 2 | 3 | 4 | 5 | SSSSSSSSSSSSSSS | 4 | 5 | 6 | D | G | r | "), kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_STREQ(r.ServerData.Area.dataSource, "SSSSSSSSS");
         EXPECT_EQ(r.ServerData.Area.imageResolution, 0);
       }},
      {"descriptor of 40 characters",
       Line(area_common, "1 | 2 | 3 | 4 | 5 | S | 4 | 5 | 6 | " + std::string(40, 'D') + " | G | r | "),
       kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_EQ(std::string(r.ServerData.Area.Descriptor), std::string(31, 'D'));
         EXPECT_STREQ(r.ServerData.Area.Group, "");
       }},
      {"signed numbers", Line("2 | 2 | * | * | -999999 | +12 | ", "-999 | +1 | 0 | 0 | 0 | * | -5 | 7 | "),
       kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_EQ(r.Status, Suspend);
         EXPECT_EQ(r.fileMdate, -999999);
         EXPECT_EQ(r.fileMtime, 12);
         EXPECT_EQ(r.ServerData.Md.bRange, -999);
         EXPECT_EQ(r.ServerData.Md.numRow, -5);
       }},
      {"star alone is empty, doubled star is kept",
       Line("1 | 4 | * | ** | 0 | 0 | ", "** | * | "), kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_STREQ(r.filePath, "**");
         EXPECT_STREQ(r.ServerData.Text.fileName, "**");
         EXPECT_STREQ(r.ServerData.Text.reserved, "");
       }},
      {"TEXT name column left blank", Line("1 | 4 | * | /p/ | 0 | 0 | ", std::string(20, ' ') + " | r | "),
       kServerLineParsed, [](const ServerRec &r) { EXPECT_STREQ(r.ServerData.Text.fileName, "|"); }},
      {"unknown type", Line("1 | 7 | beta | /p/ | 1 | 2 | ", "1 | 2 | "), kServerLineUnknownType,
       [](const ServerRec &r) {
         EXPECT_EQ(r.DataType, 7);
         EXPECT_STREQ(r.machineName, "beta");
       }},
      {"garbage", std::string(394, 'x'), kServerLineUnknownType,
       [](const ServerRec &r) { EXPECT_EQ(r.DataType, 0); }},
      {"status not in the word table", Line("9 | 3 | * | * | 0 | 0 | ", "1 | 2 | 3 | "), kServerLineParsed,
       [](const ServerRec &r) { EXPECT_EQ(r.Status, 9); }},
      {"control characters and bars in odd places: control characters read as '?'",
       Line("1 | 1 | a\tb\n | /p | q/ | 1 | 2 | ", "1|2|3|4|5|x|6|7|8|d|g|r|", "c\nd|e"), kServerLineParsed,
       [](const ServerRec &r) {
         EXPECT_STREQ(r.machineName, "a?b?");
         EXPECT_STREQ(r.filePath, "/p");
         EXPECT_EQ(r.fileMdate, 0);
         EXPECT_STREQ(r.ServerData.Area.Descriptor, "d|g|r|");
         EXPECT_STREQ(r.comments, "c?d");
       }},
  };
  for (const HandLine &row : rows) {
    SCOPED_TRACE(row.what);
    ServerRec rec = Parse(row.line, row.result);
    row.check(rec);
    if (row.result == kServerLineUnknownType) continue;
    EXPECT_TRUE(SameRecord(Parse(Format(rec)), rec));
  }
}

// Values the layout cannot carry are refused; the line is left as it was.
struct Refusal {
  const char *what;
  std::function<void(ServerRec &)> change;
  const char *why;
};

TEST(ServerLine, RefusesValuesThatDoNotFit) {
  const std::vector<Refusal> rows = {
      {"unterminated machine name", [](ServerRec &r) { std::memset(r.machineName, 'm', sizeof r.machineName); },
       "machineName is longer than 31 characters"},
      {"bar in a path", [](ServerRec &r) { Set(r.filePath, "/a|b/"); }, "filePath \"/a|b/\" contains a '|'"},
      {"blank-only machine name", [](ServerRec &r) { Set(r.machineName, "   "); }, "holds only blanks"},
      {"line feed in a machine name", [](ServerRec &r) { Set(r.machineName, "evil\nhost"); },
       "machineName \"evil\\nhost\" contains a control character"},
      {"escape in a path", [](ServerRec &r) { Set(r.filePath, "/a\x1b[2J/"); },
       "filePath \"/a\\x1B[2J/\" contains a control character"},
      {"delete in a comment", [](ServerRec &r) { Set(r.comments, "a\x7f"); }, "contains a control character"},
      {"blank in a descriptor", [](ServerRec &r) { Set(r.ServerData.Area.Descriptor, "GO ES"); },
       "Descriptor \"GO ES\" contains a blank"},
      {"tab in a group", [](ServerRec &r) { Set(r.ServerData.Area.Group, "A\tB"); }, "contains a control character"},
      {"bar in a comment", [](ServerRec &r) { Set(r.comments, "a|b"); }, "comments \"a|b\" contains a '|'"},
      {"range of five digits", [](ServerRec &r) { r.ServerData.Area.bRange = 10000; },
       "bRange 10000 does not fit its 4-character column"},
      {"negative range too wide", [](ServerRec &r) { r.ServerData.Area.eRange = -1000; }, "eRange -1000"},
      {"date of eight characters", [](ServerRec &r) { r.fileMdate = 10000000; }, "fileMdate 10000000"},
      {"status of two digits", [](ServerRec &r) { r.Status = 10; }, "Status 10"},
      {"end-of-file flag", [](ServerRec &r) { r.ServerData.Area.flagEof = 100; }, "flagEof 100"},
      {"unknown type", [](ServerRec &r) { r.DataType = 5; }, "DataType 5 is not a known type"},
  };
  for (const Refusal &row : rows) {
    SCOPED_TRACE(row.what);
    ServerRec rec = Blank(AREA);
    row.change(rec);
    char line[kServerLineChars];
    std::memset(line, '#', sizeof line);
    std::string why;
    EXPECT_EQ(formatServerLine(rec, line, why), -1);
    EXPECT_NE(why.find(row.why), std::string::npos) << why;
    EXPECT_EQ(std::string(line, sizeof line), std::string(sizeof line, '#'));
  }
  ServerRec grid = Blank(GRID);
  grid.ServerData.Grid.forecastHour = 1200000;
  std::string why;
  EXPECT_EQ(checkServerRec(grid, why), -1);
  EXPECT_NE(why.find("forecastHour 1200000"), std::string::npos);
}

TEST(ServerLine, TrimIsTheInverseOfStar) {
  const std::pair<const char *, const char *> rows[] = {
      {"  abc  ", "abc"}, {" * ", ""}, {"*", ""}, {"**", "**"}, {"a b", "a b"}, {"\tx ", "\tx"}, {"", ""}};
  for (auto [in, out] : rows) {
    char buf[16];
    std::strcpy(buf, in);
    strTrim(buf, 0);
    EXPECT_STREQ(buf, out) << '"' << in << '"';
  }
  EXPECT_STREQ(starWhenNull(""), "*");
  EXPECT_STREQ(starWhenNull("x"), "x");
}

}  // namespace

namespace {

// The availability file's opener, as the client's comparison uses it on its
// copy, reports a missing file itself, once.
TEST(AvailabilityFileOpen, MissingFileIsReportedByTheOpener) {
  ::testing::internal::CaptureStdout();
  std::FILE *fp = OpenServerFile("/nonexistent/COMPARE2");
  std::fflush(stdout);
  EXPECT_EQ(fp, nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Fail to open Varnek II server file.\n");
  EXPECT_EQ(openServerFileQuietly("/nonexistent/COMPARE2"), nullptr);
}

}  // namespace
