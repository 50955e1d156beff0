// The comparison of a fetched availability table with the client records:
// version 1 (a line-oriented text of AREA images) and version 2 (a copy of a
// server's availability file, read with the availability file's own
// reader), and the command VKC COMPARE.

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"
#include "vocab/field_reader.h"

namespace {

using client_internal::IsPlainWord;

constexpr std::size_t kMostCompareBytes = 16u << 20;  // of a version-1 text

// Copies a server's text into a field of a compare record when it is a
// plain word that fits; otherwise says why (at verbose level above 1).
bool TakeServerWord(char *field, std::size_t size, std::string_view value, const char *what, int line) {
  if (IsPlainWord(value, size - 1) && CopyField(field, size, value)) return true;
  if (verbose > 1)
    std::printf("Server record %d skipped: %s \"%s\" is not a word of at most %zu letters, digits and _-.\n", line,
                what, Visible(value).c_str(), size - 1);
  return false;
}

// Reads a version-1 line as the pattern "%d -  %d%d%d%d%d%s%d%d%s%s%d"
// would: integers after blanks, a "-" after blanks, words of non-blank
// characters.  false when the line does not match.
class V1Line {
 public:
  explicit V1Line(std::string_view line) : line_(line) {}
  bool Int(int &out) {
    // "%d" into an int whose magnitude is at most INT32_MAX.
    constexpr field::NumberForm kForm{true, field::Sign::kEither, 0, 0};
    return field::ReadNumber(line_, at_, kForm, -INT32_MAX, INT32_MAX, out) == field::Read::kOk;
  }
  bool Dash() {
    Blanks();
    if (at_ >= line_.size() || line_[at_] != '-') return false;
    ++at_;
    return true;
  }
  std::size_t position() const { return at_; }
  bool Word(std::string_view &out) {
    Blanks();
    std::size_t start = at_;
    while (at_ < line_.size() && !isLineBlank(line_[at_])) ++at_;
    out = line_.substr(start, at_ - start);
    return !out.empty();
  }

 private:
  void Blanks() {
    while (at_ < line_.size() && isLineBlank(line_[at_])) ++at_;
  }
  std::string_view line_;
  std::size_t at_ = 0;
};

// One version-1 line as a compare record; false (the line is skipped) when
// it does not match the pattern or a text does not fit its field.
bool ParseV1Line(std::string_view line, int number, CompareRec &rec) {
  std::memset(&rec, 0, sizeof rec);
  V1Line scan(line);
  std::string_view group, descriptor, satellite;
  if (!scan.Int(rec.LineNumber) || !scan.Dash() || !scan.Int(rec.BegArea) || !scan.Int(rec.EndArea) ||
      !scan.Int(rec.CrntArea) || !scan.Int(rec.ImageDate) || !scan.Int(rec.ImageTime) || !scan.Word(group) ||
      !scan.Int(rec.ScanLine) || !scan.Int(rec.Eof) || !scan.Word(descriptor) || !scan.Word(satellite) ||
      !scan.Int(rec.Resolution)) {
    if (verbose > 1 && line.find_first_not_of(" \t\r\v\f") != std::string_view::npos)
      std::printf("Line %d of COMPARE2 does not match the version-1 pattern; skipped.\n", number);
    return false;
  }
  return TakeServerWord(rec.Group, sizeof rec.Group, group, "group", number) &&
         TakeServerWord(rec.Descriptor, sizeof rec.Descriptor, descriptor, "descriptor", number) &&
         TakeServerWord(rec.Satellite, sizeof rec.Satellite, satellite, "satellite", number);
}

// The compare record of an active AREA server record; false (skipped) when
// a text of the server does not fit.
bool CompareFromServer(const ServerRec &s, int number, CompareRec &rec) {
  std::memset(&rec, 0, sizeof rec);
  const AreaServerStruct &a = s.ServerData.Area;
  rec.LineNumber = 0;
  rec.BegArea = a.bRange;
  rec.EndArea = a.eRange;
  rec.CrntArea = a.currentNum - a.bRange + 1;
  rec.ImageDate = a.dataDate;
  rec.ImageTime = a.dataTime;
  rec.ScanLine = a.scanLine;
  rec.Eof = a.flagEof;
  rec.Resolution = a.imageResolution;
  return TakeServerWord(rec.Group, sizeof rec.Group, a.Group, "group", number) &&
         TakeServerWord(rec.Descriptor, sizeof rec.Descriptor, a.Descriptor, "descriptor", number) &&
         TakeServerWord(rec.Satellite, sizeof rec.Satellite, a.dataSource, "satellite", number);
}

// Reads COMPARE2 whole (up to 16 MB).  false after "COMPARE2: <reason>"
// on the error stream.
bool ReadCompareText(std::string &text) {
  posix::File file;
  int rc = posix::OpenRegular(kCompareFile, O_RDONLY, file);
  if (rc == 0) {
    text.resize(kMostCompareBytes);
    ssize_t got = posix::ReadSome(file.fd(), text.data(), text.size());
    if (got >= 0) {
      text.resize(static_cast<std::size_t>(got));
      return true;
    }
    rc = errno;
  }
  Tveprintf("%s: %s; nothing compared.\n", kCompareFile, posix::ErrorText(rc).c_str());
  health::NotCompared(health::kNotCompared, std::string(kCompareFile) + ": " + posix::ErrorText(rc));
  return false;
}

// The fields a check changed; an item it did not take for its date is
// reported first (at verbose level above 0, and in the health file).
unsigned Settle(unsigned changed, const char *server, const ClientRec &r, int date, int time) {
  if (!(changed & kFutureDated)) return changed;
  std::string dataset = r.DataType == TEXT ? std::string(r.Data.Text.From) : std::string(r.Group) + "/" + r.Descriptor;
  if (verbose > 0)
    std::printf("Server %s: %s item dated %d %06d is more than 24 hours ahead of this clock; not taken.\n",
                server ? server : kCompareFile, Visible(dataset).c_str(), date, time);
  health::FutureDated();
  return changed & ~static_cast<unsigned>(kFutureDated);
}

// Offers a server item to the records `offered` (ascending, from `index`)
// in turn: `check` decides on one record and returns the fields it changed,
// which are merged.  The first item of a type in a comparison examines every
// record of the type (what the health file shows), those not offered it
// being left as they are.  false when a merge could not be written.
template <typename Check>
bool Offer(ClientTable &table, client_internal::DatasetIndex &index, const std::vector<int> &offered,
           bool &all_examined, const char *server, int date, int time, Check check) {
  bool stored = true;
  auto next = offered.begin();
  for (int n : all_examined ? offered : index.All()) {
    if (posix::TerminationSignal() != 0) break;  // the run is ending
    ClientRec *record = table.Record(n);
    health::Examining(n, *record);
    while (next != offered.end() && *next < n) ++next;
    if (next == offered.end() || *next != n) continue;
    unsigned changed = Settle(check(n, record), server, *record, date, time);
    if (changed & kChangedLastItem) health::Taken(record->LastItem);
    if (changed && table.Merge(n, changed) != kClientOk) stored = false;
    index.Refile(n);  // a merge may have brought the file's record
  }
  all_examined = true;
  return stored;
}

// Applies one server image to the active AREA records it concerns; merges
// what changed.  false when a merge could not be written.
bool ApplyImage(const CompareRec &image, ClientTable &table, client_internal::DatasetIndex &index,
                bool &all_examined, const char *server) {
  std::int64_t stamp = 0;
  getTimeStamp(image.ImageDate, image.ImageTime, &stamp);
  health::Applied();
  const std::vector<int> &offered = index.Offered(image.Group, image.Descriptor, image.ScanLine);
  return Offer(table, index, offered, all_examined, server, image.ImageDate, image.ImageTime,
               [&](int n, ClientRec *record) { return CheckArea(image, stamp, n, record, table); });
}

}  // namespace

void client_internal::ReadV1Images(std::string_view text, const std::function<void(const CompareRec &)> &image) {
  // The two header integers (blanks and line feeds around them), then one
  // image a line from where they end.
  V1Line header(text);
  int ignored = 0;
  if (!header.Int(ignored) || !header.Int(ignored)) return;
  std::string_view rest = text.substr(header.position());
  int number = 0;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    CompareRec rec;
    if (ParseV1Line(line, ++number, rec)) image(rec);
  }
}

int CompareV1(const char *ServerAddress) {
  int result = kClientOk;
  DBase file;
  if (OpenVarnekDB(&file, kClientFile, kClientFileText)) {
    std::string text;
    if (ReadCompareText(text)) {
      ClientTable table(&file);
      if (table.Load()) {
        client_internal::DatasetIndex images;
        images.Build(table, AREA);
        bool all_examined = false;
        client_internal::ReadV1Images(text, [&](const CompareRec &image) {
          if (!ApplyImage(image, table, images, all_examined, ServerAddress)) result = kClientFailed;
        });
      } else {
        health::NotCompared(health::kNotCompared, std::string(kClientFile) + " cannot be read");
        result = kClientFailed;
      }
    } else {
      result = kClientRefused;  // nothing to compare with
    }
    CloseVarnekDB(&file);
  } else {
    health::NotCompared(health::kNotCompared, std::string(kClientFile) + " cannot be opened");
    result = kClientFailed;
  }
  if (verbose > 1) std::printf("Compare VARNEK V1 complete ...\n");
  return result;
}

int CompareV2(const char *ServerIP, const char *ServerAddress, const RouteTable &routes) {
  int result = kClientOk;
  DBase file;
  if (OpenVarnekDB(&file, kClientFile, kClientFileText)) {
    std::FILE *fp = openServerFileForRead(kCompareFile);
    if (!fp) {
      std::printf("Fail to open Varnek II server file.\n");
      health::NotCompared(health::kNotCompared, std::string(kCompareFile) + " cannot be read as an availability file");
      result = kClientRefused;  // nothing to compare with
    } else {
      std::vector<ServerRec> servers(kServerRecords);
      std::vector<int> results(kServerRecords);
      (void)readServerRecords(1, kServerRecords, servers.data(), results.data(), fp);
      std::fclose(fp);
      ClientTable table(&file);
      if (table.Load()) {
        client_internal::DatasetIndex index[TEXT + 1];
        bool all_examined[TEXT + 1] = {};
        for (int type : {AREA, MD, GRID, TEXT}) index[type].Build(table, type);
        const std::string server_ip = ServerIP ? ServerIP : "";
        for (int n = 1; n <= kServerRecords; ++n) {
          const ServerRec &s = servers[static_cast<std::size_t>(n - 1)];
          if (results[static_cast<std::size_t>(n - 1)] != 0 || s.Status != Active) continue;
          // The group the route check looks at: the image's, or an MD or
          // GRID record's own; a TEXT record has none and counts as unrouted.
          CompareRec image;
          std::string group;
          switch (s.DataType) {
            case AREA:
              if (!CompareFromServer(s, n, image)) continue;
              group = image.Group;
              break;
            case MD: group = s.ServerData.Md.Group; break;
            case GRID: group = s.ServerData.Grid.Group; break;
            case TEXT: break;
            default: continue;
          }
          std::string routed = group.empty() ? std::string() : routes.Lookup(group);
          if (!routed.empty() && routed != server_ip) {
            if (verbose > 1)
              std::printf("Warning: Group %s is available on server %s! NOT APPLIED\n", group.c_str(),
                          server_ip.c_str());
            continue;
          }
          if (s.DataType == AREA) {
            if (!ApplyImage(image, table, index[AREA], all_examined[AREA], ServerAddress)) result = kClientFailed;
            continue;
          }
          health::Applied();
          // An MD or GRID item concerns the records of its dataset alone; a
          // TEXT item is matched by its file name, so every record is asked.
          client_internal::DatasetIndex &own = index[s.DataType];
          const std::vector<int> &offered =
              s.DataType == MD     ? own.Offered(s.ServerData.Md.Group, s.ServerData.Md.Descriptor, 0)
              : s.DataType == GRID ? own.Offered(s.ServerData.Grid.Group, s.ServerData.Grid.Descriptor, 0)
                                   : own.All();
          if (!Offer(table, own, offered, all_examined[s.DataType], ServerAddress, s.fileMdate, s.fileMtime,
                     [&](int, ClientRec *record) {
                       return s.DataType == MD     ? CheckPnts(record, s)
                              : s.DataType == GRID ? CheckGrid(record, s)
                                                   : CheckText(record, s, ServerAddress);
                     }))
            result = kClientFailed;
        }
      } else {
        health::NotCompared(health::kNotCompared, std::string(kClientFile) + " cannot be read");
        result = kClientFailed;
      }
    }
    CloseVarnekDB(&file);
  } else {
    health::NotCompared(health::kNotCompared, std::string(kClientFile) + " cannot be opened");
    result = kClientFailed;
  }
  if (verbose > 1) std::printf("Compare VARNEK V2 complete ...\n");
  return result;
}

int ClientCompare() {
  int version = 1;
  if (!ValidateArgs1(&version, 2)) return kClientUsage;
  if (version != 1) {
    if (verbose > 0) std::printf("Unknown VARNEK version number ...\n");
    return kClientRefused;
  }
  return CompareV1();
}
