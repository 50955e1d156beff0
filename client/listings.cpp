// LIST, REPORT, DATA and RESET of client records.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/command_lines.h"
#include "host/host.h"

namespace {

constexpr int kFrameTableSize = 1080;  // frame numbers 0..1079
constexpr std::size_t kFrameListRoom = 199;  // characters of a free or conflict list

const char *TrueFalse(int value) { return value ? "TRUE" : "FALSE"; }

std::string Line(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

// "Group/Descriptor", cut to 31 characters.
std::string CombinedName(const ClientRec &r) {
  std::string name = std::string(r.Group) + "/" + r.Descriptor;
  if (name.size() > 31) name.resize(31);
  return name;
}

// Appends " first-last" to a frame list; a list that would grow past its
// room ends in " ..." instead.
void AppendRun(std::string &list, int first, int last) {
  if (list.size() >= 4 && list.compare(list.size() - 4, 4, " ...") == 0) return;
  char run[32];
  std::snprintf(run, sizeof run, " %d-%d", first, last);
  if (list.size() + std::strlen(run) > kFrameListRoom - 4) list += " ...";
  else list += run;
}

struct Listing {
  int active = 0;
  int suspended = 0;
  int shown[5] = {0, 0, 0, 0, 0};

  void Header(int type) {
    static const char *const kHeaders[] = {
        "",
        "SET X DATASET ...       RS B LAT(D) LON(D) INC BEGWS ENDWS BFR EFR  SU  DOM OPP (AREA)",
        "SET X DATASET ...     BEGWS ENDWS INC POS SELECT ... (MD)",
        "SET X DATASET ...       BFR EFR IFR  MAX NUM DELETE BEGWS ENDWS INC (GRID)",
        "SET X INC BINARY PATHS ... (TEXT)",
    };
    std::printf("%s\n%s\n%s\n", Line('=', 80).c_str(), kHeaders[type], Line('-', 80).c_str());
  }

  void Show(int number, const ClientRec &r) {
    if (r.Status == Active) ++active;
    else ++suspended;
    if (shown[r.DataType]++ == 0) Header(r.DataType);
    const char *status = StatusWord(r.Status);
    switch (r.DataType) {
      case AREA: {
        const AreaClientStruct &a = r.Data.Area;
        std::printf("%3d %1.1s %-17s %2d %1.1s %6.1f %6.1f %3d %5d %5d %3d %3d %4s ", number, status,
                    CombinedName(r).c_str(), a.Resolution, a.Band, a.Lat, a.Lon, a.Increment, a.BegWS, a.EndWS,
                    a.BegFrame, a.EndFrame, a.SUname);
        if (a.Dominant != 0) std::printf("%3d\n", a.Dominant);
        else if (a.Opposite != 0) std::printf("    %3d\n", a.Opposite);
        else std::printf("\n");
        break;
      }
      case MD: {
        const PntsClientStruct &p = r.Data.Pnts;
        std::printf("%3d %1.1s %-15s %5d %5d %3d %3d %s\n", number, status, CombinedName(r).c_str(), p.BegWS,
                    p.EndWS, p.Increment, p.Position, p.Select);
        if (std::strcmp(p.Title, "NONE") != 0) std::printf("      TITLE: %s\n", p.Title);
        break;
      }
      case GRID: {
        const GridClientStruct &g = r.Data.Grid;
        std::printf("%3d %1.1s %-17s %3d %3d %3d %4d %3d %-6s %5d %5d %3d\n", number, status,
                    CombinedName(r).c_str(), g.BegForcast, g.EndForcast, g.NxtForcast, g.MaxGrid, g.NumMatch,
                    TrueFalse(g.DestDel), g.BegWS, g.EndWS, g.Increment);
        break;
      }
      case TEXT: {
        const TextClientStruct &t = r.Data.Text;
        std::printf("%3d %1.1s %3d %-6s From: %s\n", number, status, t.Increment, TrueFalse(t.Binary), t.From);
        std::printf("                 To  : %s\n", t.To);
        break;
      }
      default:
        break;
    }
  }
};

bool InUse(const ClientRec &r) { return r.Status == Active || r.Status == Suspend; }

// The record named by the command line's one record number (REPORT, DATA).
// kClientOk; kClientUsage or kClientFailed after the argument or open
// messages.
int ReadNamedRecord(int &number, ClientRec &r) {
  number = 1;
  if (!ValidateArgs1(&number, kClientRecords)) return kClientUsage;
  DBase file;
  if (!OpenVarnekDBForRead(&file, kClientFile, kClientFileText)) return kClientFailed;
  (void)ReadClientRec(&file, number, &r);
  return kClientOk;
}

// The records of one listing, each read from the file once (a listing of
// every type would otherwise read its range once per type).  A file of the
// client's own record size is read whole, in one snapshot: a record past
// its end reads empty, as it is not in use either way.
class RecordCache {
 public:
  explicit RecordCache(DBase *file) : file_(file) {
    if (file_->File.RecSize != static_cast<int>(sizeof(ClientRec))) return;
    (void)DBReadRange(file_, 1, kClientRecords, &records_[1]);
    for (int n = 1; n <= kClientRecords; ++n) {
      CleanClientRecord(records_[static_cast<std::size_t>(n)]);
      state_[static_cast<std::size_t>(n)] = kGood;
    }
  }
  // Record n, or null when it cannot be read.
  const ClientRec *Get(int n) {
    if (n < 1 || n > kClientRecords) return nullptr;
    auto at = static_cast<std::size_t>(n);
    if (state_[at] == kUnread) state_[at] = ReadClientRec(file_, n, &records_[at]) == 0 ? kGood : kBad;
    return state_[at] == kGood ? &records_[at] : nullptr;
  }

 private:
  enum State : unsigned char { kUnread, kGood, kBad };
  DBase *file_;
  // The records are read straight into their places: one copy of the file
  // in memory, not two.
  std::vector<ClientRec> records_ = std::vector<ClientRec>(kClientRecords + 1);
  std::vector<State> state_ = std::vector<State>(kClientRecords + 1, kUnread);
};

// The frames the active image records occupy, then the report of free
// frames and of frames used by more than one loop.
void FrameReport(RecordCache &records, int count) {
  unsigned char table[kFrameTableSize] = {};
  for (int n = 1; n <= kClientRecords; ++n) {
    const ClientRec *found = records.Get(n);
    if (!found || found->Status != Active || found->DataType != AREA) continue;
    const ClientRec &r = *found;
    int first = r.Data.Area.BegFrame < 0 ? 0 : r.Data.Area.BegFrame;
    int last = r.Data.Area.EndFrame > kFrameTableSize - 1 ? kFrameTableSize - 1 : r.Data.Area.EndFrame;
    for (int f = first; f <= last; ++f) table[f] = table[f] == 0 ? 1 : 2;
  }
  std::string free_list, conflicts;
  int walk = count > kFrameTableSize - 1 ? kFrameTableSize - 1 : count;
  for (int start = 1; start <= walk;) {
    int end = start;
    while (end + 1 <= walk && table[end + 1] == table[start]) ++end;
    if (table[start] == 0) AppendRun(free_list, start, end);
    else if (table[start] == 2) AppendRun(conflicts, start, end);
    start = end + 1;
  }
  std::printf("Total frames: %d, Free frames: %s\n", count, free_list.c_str());
  if (!conflicts.empty()) std::printf("  Warning: frames %s were used in more than one loop\n", conflicts.c_str());
}

}  // namespace

void ListClientRecords(DBase *file, int first, int last, int mask) {
  if (!file) {
    std::printf("\nNumber Suspended: %d; Number Active: %d\n", 0, 0);
    return;
  }
  std::printf("%s\n", Line('*', 80).c_str());
  std::printf("***** Client Records Listing: Records: %3d -- %3d ******************************\n", first, last);
  Listing listing;
  RecordCache records(file);
  for (int type : {AREA, MD, GRID, TEXT}) {
    if (!(mask & (1 << type))) continue;
    int frames = 0;
    if (type == AREA) {
      frames = static_cast<short>(TvGetMaxImageFrameNumber());
      if (frames > 1079)
        std::printf("WARNING: Frame count %6i  exceeds set max  frame number %6i\n", frames, kFrameTableSize);
    }
    for (int n = first; n <= last; ++n) {
      const ClientRec *r = records.Get(n);
      if (r && InUse(*r) && r->DataType == type) listing.Show(n, *r);
    }
    if (type == AREA) FrameReport(records, frames);
  }
  std::printf("\nNumber Suspended: %d; Number Active: %d\n", listing.suspended, listing.active);
}

int ListClientFile(int mode, int brec, int erec, int dtype) {
  int first = brec, last = erec, mask = 0;
  if (mode == 0) {
    if (!ValidateArgs2(&first, &last, kClientRecords)) return kClientUsage;
    ReadDataType(&mask);
  } else {
    mask = dtype >= 0 && dtype < 16 ? 1 << dtype : 0;
  }
  DBase file;
  bool open = OpenVarnekDBForRead(&file, kClientFile, kClientFileText);
  ListClientRecords(open ? &file : nullptr, first, last, mask);
  return open ? kClientOk : kClientFailed;
}

int ReportClientFile() {
  int number = 1;
  ClientRec r;
  if (int rc = ReadNamedRecord(number, r); rc != kClientOk) return rc;
  if (!InUse(r)) return kClientRefused;  // no record to report on
  switch (r.DataType) {
    case AREA: {
      const AreaClientStruct &a = r.Data.Area;
      std::printf(
          "Type: \t\t%s\nGroup:\t\t%s\nClient Data:\t%s\nBand:\t%s\nLatitude:\t%7.2f\nLongitude:\t%7.2f\n"
          "Status:\t%5d\nBegin Area:\t%5d\nEnd Area:\t%5d\nNext Area:\t%5d\nBegin Frame:\t%5d\nEnd Frame:\t%5d\n"
          "Next Frame:\t%5d\nResolution:\t%3d\nIncrement:\t%3d\nPercent:\t%3d\nLMag:\t%4d\nEMag:\t%4d\n"
          "Show Data:\t%s\nLast Area:\t%6d\nImage Date:\t%5d\nImage Time:\t%5d\nComplete:\t%s\nOpposite:\t%3d\n"
          "Dominant:\t%3d\nStore Data:\t%s\nPALX enhancement:\t\t%s\nSEQB G graphic frame: \t%d\nLooping:\t%s\n"
          "Begin Size: \t%4d\nEnd   Size: \t%4d\nDwell: \t%s\nGray: \t%s\nSU: \t%s\nCommand:\t%s\n",
          "AREA", r.Group, r.Descriptor, a.Band, a.Lat, a.Lon, r.Status, a.BegWS, a.EndWS, a.NxtWS, a.BegFrame,
          a.EndFrame, a.NxtFrame, a.Resolution, a.Increment, a.Percent, a.LMag, a.EMag, TrueFalse(a.Show),
          r.LastItem, r.LastDate, r.LastTime, TrueFalse(a.Complete), a.Opposite, a.Dominant, TrueFalse(a.Store),
          a.enhance, a.independentG, TrueFalse(a.Looping), a.BegSize, a.EndSize, a.Dwell, a.Gray, a.SUname,
          r.UserCmd);
      break;
    }
    case MD: {
      const PntsClientStruct &p = r.Data.Pnts;
      std::printf(
          "Type: %s\nBegin Work: \t%d\nEnd Work: \t%d\nNext Work: \t%d\nSelect: \t%s\nTitle: \t%s\n"
          "DestDel: \t%s\nPosition: \t%d\nCommand:\t%s\n",
          "MD", p.BegWS, p.EndWS, p.NxtWS, p.Select, p.Title, TrueFalse(p.DestDel), p.Position, r.UserCmd);
      break;
    }
    case GRID: {
      const GridClientStruct &g = r.Data.Grid;
      std::printf(
          "Type: %s\nBegin Forcast:\t%d\nEnd Forcast:\t%d\nNext Forcast:\t%d\nMax Grid:\t%d\nNum Matches:\t%d\n"
          "Begin Work:\t%d\nEnd Work:\t%d\nNext Work:\t%d\nIncrement:\t%d\nLevel:\t\t%s\nParam:\t\t%s\n"
          "Command:\t%s\n",
          "GRID", g.BegForcast, g.EndForcast, g.NxtForcast, g.MaxGrid, g.NumMatch, g.BegWS, g.EndWS, g.NxtWS,
          g.Increment, g.Level, g.Param, r.UserCmd);
      break;
    }
    case TEXT: {
      const TextClientStruct &t = r.Data.Text;
      std::printf("Type: %s\nTo: %s\nFrom: %s\nBinary: %s\n", "TEXT", t.To, t.From, TrueFalse(t.Binary));
      break;
    }
    default:
      break;
  }
  return kClientOk;
}

int ListData() {
  int number = 1;
  ClientRec r;
  if (int rc = ReadNamedRecord(number, r); rc != kClientOk) return rc;
  static const char *const kListings[] = {nullptr, "RASCAT %s/%s.ALL", "OBSCAT %s/%s.ALL FORM=FILE",
                                          "MESHCAT %s/%s.ALL FORM=FILE", nullptr};
  const char *format = r.DataType >= UNKNOWN && r.DataType <= TEXT ? kListings[r.DataType] : nullptr;
  if (format) {
    return Exec(command_lines::Format(format, r.Group, r.Descriptor).c_str()) == 0 ? kClientOk : kClientFailed;
  }
  if (verbose) {
    if (r.DataType == TEXT) std::printf("DATA: Client Record %d is a TEXT record, there is no data to list.\n", number);
    else std::printf("DATA: Client Record %d holds no dataset, there is nothing to list.\n", number);
  }
  return kClientRefused;
}

int ClientReset() {
  int first = 1, last = 1;
  if (!ValidateArgs2(&first, &last, kClientRecords)) return kClientUsage;
  int result = kClientFailed;  // the file cannot be opened
  DBase file;
  if (OpenVarnekDB(&file, kClientFile, kClientFileText)) {
    result = kClientOk;
    for (int n = first; n <= last && result == kClientOk; ++n) {
      ClientRec r;
      (void)ReadClientRec(&file, n, &r);
      r.LastItem = 0;
      r.LastTime = 0;
      r.LastDate = 0;
      r.LastStamp = 0;
      result = WriteClientRec(&file, n, &r);
    }
    CloseVarnekDB(&file);
  }
  if (result == kClientOk && verbose > 1) std::printf("Complete entry reset ...\n");
  return result;
}
