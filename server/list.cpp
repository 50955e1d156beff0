// VKS LIST: the table listing of a range of records and the detail listing
// of single records.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "server/internal.h"
#include "server/server.h"

namespace {

constexpr int kDescriptorShown = 32;  // table: at most this much of the descriptor
constexpr int kFileNameShown = 20;    // table: of a TEXT file name
constexpr int kFilePathShown = 80;    // table: of a TEXT file path

const std::string kStars68(68, '*');
const std::string kDashes66(66, '-');
const std::string kStars60(60, '*');

// Status words below the table's closing entry; anything else is outside it.
bool StatusInTable(std::int32_t status) { return status >= Inactive && status <= Suspend; }

struct Section {
  FileTypes type;
  const char *header;
};

constexpr Section kSections[] = {
    {AREA, "#  STA BAREA EAREA CAREA   DATE   TIME   SCAN  EOF RES  SRC  GRP QOLA"},
    {MD, "#  STA B_MD  E_MD  C_MD   DATE   TIME   SCHEMA NROW NCOL GRP QOLA"},
    {GRID, "#  STA BGRID EGRID CGRID   DATE   RTIME  FHOUR SRC   GRP QOLA"},
    {TEXT, "#  STA F_MDATE F_MTIME FILENAME             FILEPATH"},
};

void PrintRow(int recNum, const ServerRec &rec) {
  std::string status = statusLetter(rec.Status);
  const char *sta = status.c_str();
  switch (rec.DataType) {
    case AREA: {
      const AreaServerStruct &a = rec.ServerData.Area;
      std::printf("%-3d %-2.1s %-5d %-5d %-5d %07d %06d %-6d %-3d %-3d %-5.5s %-3.3s %-.*s\n", recNum, sta,
                  a.bRange, a.eRange, a.currentNum, a.dataDate, a.dataTime, a.scanLine, a.flagEof,
                  a.imageResolution, a.dataSource, a.Group, kDescriptorShown, a.Descriptor);
      break;
    }
    case MD: {
      const MdServerStruct &m = rec.ServerData.Md;
      std::printf("%-3d %-2.1s %-5d %-5d %-5d %07d %06d %-6.5s %-4d %-4d %-3.3s %-.*s\n", recNum, sta, m.bRange,
                  m.eRange, m.currentNum, m.dataDate, m.dataTime, m.schema, m.numRow, m.numColumn, m.Group,
                  kDescriptorShown, m.Descriptor);
      break;
    }
    case GRID: {
      const GridServerStruct &g = rec.ServerData.Grid;
      std::printf("%-3d %-2.1s %-5d %-5d %-5d %07d %06d %06d %-5.5s %-3.3s %-.*s\n", recNum, sta, g.bRange,
                  g.eRange, g.currentNum, g.dataDate, g.dataTime, g.forecastHour, g.dataSource, g.Group,
                  kDescriptorShown, g.Descriptor);
      break;
    }
    case TEXT:
      std::printf("%-3d %-2.1s %07d %06d  %-.*s %-.*s\n", recNum, sta, rec.fileMdate, rec.fileMtime,
                  kFileNameShown, rec.ServerData.Text.fileName, kFilePathShown, rec.filePath);
      break;
    default:
      break;
  }
}

void PrintDetail(int recNum, const ServerRec &rec) {
  std::printf("********** Availability File Record %d Details *********\n", recNum);
  std::printf(
      " Record number: %d\n Status: %s\n Data type: %s\n Machine name: %s\n File path: %s \n"
      " Last date file modified: %07d\n Last time file modified: %06d\n",
      recNum, statusName(rec.Status).c_str(), FileTypesText[rec.DataType], rec.machineName, rec.filePath,
      rec.fileMdate, rec.fileMtime);
  switch (rec.DataType) {
    case AREA: {
      const AreaServerStruct &a = rec.ServerData.Area;
      std::printf(
          " Beginning of the range: %d\n End of the range: %d\n Current AREA file number: %d\n"
          " AREA image date: %d\n AREA image time: %d\n AREA source/Satellite: %s\n"
          " AREA image resolution: %d\n AREA scan line: %d\n AREA EOF: %d\n AREA QOLA group: %s\n"
          " AREA QOLA descriptor: %s\n AREA reserved/comments: %s\n",
          a.bRange, a.eRange, a.currentNum, a.dataDate, a.dataTime, a.dataSource, a.imageResolution, a.scanLine,
          a.flagEof, a.Group, a.Descriptor, a.reserved);
      break;
    }
    case MD: {
      const MdServerStruct &m = rec.ServerData.Md;
      std::printf(
          " Beginning of the range: %d\n End of the range: %d\n Current MD file number: %d\n"
          " MD data date: %d\n MD data time: %d\n MD SCHEMA: %s\n Number of row: %d\n"
          " Number of column: %d\n MD QOLA group: %s\n MD QOLA descriptor: %s\n MD reserved/comments: %s\n",
          m.bRange, m.eRange, m.currentNum, m.dataDate, m.dataTime, m.schema, m.numRow, m.numColumn, m.Group,
          m.Descriptor, m.reserved);
      break;
    }
    case GRID: {
      const GridServerStruct &g = rec.ServerData.Grid;
      std::printf(
          " Beginning of the range: %d\n End of the range: %d\n Current GRID file number: %d\n"
          " GRID date: %d\n GRID run time: %d\n GRID forecast hour: %d\n"
          " GRID data source/model name: %s\n GRID QOLA group: %s\n GRID QOLA descriptor: %s\n"
          " GRID reserved/comments: %s\n",
          g.bRange, g.eRange, g.currentNum, g.dataDate, g.dataTime, g.forecastHour, g.dataSource, g.Group,
          g.Descriptor, g.reserved);
      break;
    }
    case TEXT:
      std::printf(" Filename: %s\n", rec.ServerData.Text.fileName);
      break;
    default:
      break;
  }
  std::printf(" Additional comments: %s\n%s\n", rec.comments, kStars60.c_str());
}

bool TypeInMask(std::int32_t type, int mask) {
  return type >= AREA && type <= TEXT && (mask & (1 << type)) != 0;
}

}  // namespace

std::string statusLetter(std::int32_t status) { return std::string(1, StatusWord(status)[0]); }

std::string statusName(std::int32_t status) {
  return StatusInTable(status) ? std::string(StatusWord(status)) : std::to_string(status);
}

int listServerRecs(int bRecNum, int eRecNum, int dataTypeMask) {
  if (eRecNum < bRecNum) {
    std::printf("listServerRecs: Invalid arguments.\n");
    return kServerError;
  }
  server_internal::AvailabilityFile file(server_internal::AvailabilityFile::kRead);
  if (!file.fp()) return file.status();
  if (eRecNum > kServerRecords) eRecNum = kServerRecords;
  std::printf("***** Server Records Listing: Record %d -- %d *****\n%s\n", bRecNum, eRecNum, kStars68.c_str());

  // The records are read once, as one snapshot, and shown by section.
  int first = std::max(bRecNum, 1);
  std::vector<ServerRec> recs;
  if (first <= eRecNum) {
    recs.resize(static_cast<std::size_t>(eRecNum - first + 1));
    std::vector<int> results(recs.size());
    if (readServerRecords(first, eRecNum, recs.data(), results.data(), file.fp()) != 0) recs.clear();
    for (std::size_t i = 0; i < recs.size(); ++i)
      if (results[i] != 0) recs[i].DataType = UNKNOWN;
  }

  int active = 0, suspended = 0;
  for (const Section &section : kSections) {
    if ((dataTypeMask & (1 << section.type)) == 0) continue;
    bool shown = false;
    for (std::size_t i = 0; i < recs.size(); ++i) {
      const ServerRec &rec = recs[i];
      if (rec.DataType != section.type || rec.Status == Inactive) continue;
      if (!shown) std::printf("%s\n%s\n%s\n", kDashes66.c_str(), section.header, kDashes66.c_str());
      shown = true;
      PrintRow(first + static_cast<int>(i), rec);
      if (rec.Status == Active) ++active;
      if (rec.Status == Suspend) ++suspended;
    }
  }
  std::printf("%s\nNumber Suspended: %d; Number Active: %d \n", kStars68.c_str(), suspended, active);
  return kServerOk;
}

int listServerRecDetail(int recNum, int dataTypeMask) {
  ServerRec rec;
  int rc = 0;
  {
    server_internal::AvailabilityFile file(server_internal::AvailabilityFile::kRead);
    if (!file.fp()) return file.status();
    rc = ReadServerFile(recNum, &rec, file.fp());
  }
  if (rc != 0 || !TypeInMask(rec.DataType, dataTypeMask) || rec.Status == Inactive) return kServerOk;
  PrintDetail(recNum, rec);
  return kServerOk;
}

int LISTServer() {
  static const char *const kListKeywords[] = {"TYPE", "DETAIL"};
  if (Tvcmdkey(2, kListKeywords) != 0) return kServerUsage;
  int count = Tvcmdnum(" ");
  if (count != 2 && count != 3) {
    std::printf("LISTServer: Invalid argument numbers.\n");
    return kServerUsage;
  }
  int brec = 0;
  if (Tvcmdint(" ", 2, "", 0, 0, kServerRecords, &brec) < 0) return kServerUsage;
  if (server_internal::RefuseRecordZero(brec, "LISTServer")) return kServerUsage;
  int erec = brec;
  if (Tvcmdint(" ", 3, "", brec, 1, 0, &erec) < 0) return kServerUsage;

  int result = kServerOk;
  int mask = kServerMaskAll;
  if (int types = Tvcmdnum("TYPE"); types > 0) {
    mask = 0;
    for (int i = 1; i <= types; ++i) {
      const char *word = "NONE";
      (void)Tvcmdstr("TYPE", i, "NONE", &word);
      FileTypes type = UNKNOWN;
      if (DataTypeFromWord(word, type)) mask |= 1 << type;
      else if (std::strcmp(word, "ALL") == 0) mask = kServerMaskAll;
      else {
        std::printf("LISTServer: Invalid type %s\n", word);
        result = kServerError;  // the other types are listed; the value is refused
      }
    }
  }

  const char *detail = "NONE";
  (void)Tvcmdstr("DETAIL", 1, "NONE", &detail);
  if (std::strcmp(detail, "ON") == 0 || std::strcmp(detail, "1") == 0) {
    for (int n = brec; n <= erec && n <= kServerRecords; ++n)
      if (int rc = listServerRecDetail(n, mask); rc != kServerOk) result = rc;
    return result;
  }
  if (int rc = listServerRecs(brec, erec, mask); rc != kServerOk) return rc;
  return result;
}
