// CREATE, SET and DELETE of client records.
//
// Every keyword's field keeps its stored value when the keyword is absent
// (the stored value is the fetch's default).  A value that does not convert
// gets the runtime's diagnostic and is not applied; a string longer than its
// field refuses the whole command, and so do RES with MAG: nothing is
// written then.  CREATE builds the new record in memory and writes it once.

#include <cstdio>
#include <cstring>

#include "client/client.h"
#include "client/command_lines.h"
#include "client/internal.h"
#include "host/host.h"

namespace {

bool Given(int code) { return code > 100; }

// Integer value `position` of `keyword`, applied to `field` only when the
// fetch succeeded.  Returns the fetch's code.
int FetchInt(const char *keyword, int position, std::int32_t &field) {
  int value = field;
  int code = Tvcmdint(keyword, position, "Integer Value", field, 1, 0, &value);
  if (code >= 0) field = value;
  return code;
}

int FetchLatLon(const char *keyword, double &field) {
  double value = field;
  int code = Tvcmddll(keyword, 1, "Floating Point Value", &value, field, 1, 0);
  if (code >= 0) field = value;
  return code;
}

// Collects string keywords; any value too long for its field refuses the
// command.
struct Strings {
  bool refused = false;
  template <std::size_t N>
  int operator()(const char *keyword, char (&field)[N]) {
    int code = GetStrArg(keyword, field, field);
    if (code == kValueTooLong) refused = true;
    return code;
  }
};

// TYPE, STATUS, GROUP, NAME and CMD, read first by the grid, point-data and
// text updates.  Returns the code of NAME.
int ApplyCommonKeywords(ClientRec &r, Strings &text) {
  r.DataType = GetListArg("TYPE", FileTypesText, r.DataType);
  r.Status = GetListArg("STATUS", StatusTypesText, r.Status);
  text("GROUP", r.Group);
  int name = text("NAME", r.Descriptor);
  text("CMD", r.UserCmd);
  return name;
}

bool ApplyArea(ClientRec &r, int Mode, bool &registration) {
  AreaClientStruct &a = r.Data.Area;
  registration = false;

  int bad = 0;
  int code = Tvcmdint("BADFRAME", 1, "Integer Value", 0, 1, 0, &bad);
  if (code >= 0) a.badFrame = bad;
  if (code == 1100 && Mode == 2) {
    // A bad frame that is the frame displayed last: the next display goes
    // back into it.  Nothing else on the command line applies.
    int last = a.NxtFrame - 1;
    if ((last < a.BegFrame && a.badFrame == a.EndFrame) || (last >= a.BegFrame && a.badFrame == last))
      a.NxtFrame = a.badFrame;
    return true;
  }

  std::int32_t res = a.Resolution, lmag = a.LMag, emag = a.EMag;
  int res_code = FetchInt("RES", 1, res);
  int lmag_code = FetchInt("MAG", 1, lmag);
  FetchInt("MAG", 2, emag);
  if (res_code == 1100 && lmag_code == 1100) {
    std::printf("VKC SET error: RES and MAG keywords are mutually exclusive, please use only one.\n");
    return false;
  }
  a.Resolution = res;
  a.LMag = lmag;
  a.EMag = emag;
  if (lmag_code == 1100) a.Resolution = 0;
  if (res_code == 1100) a.LMag = a.EMag = 0;

  Strings text;
  FetchInt("INC", 1, a.Increment);
  FetchInt("PER", 1, a.Percent);
  FetchInt("OPP", 1, a.Opposite);
  FetchInt("DOM", 1, a.Dominant);
  text("DWELL", a.Dwell);
  text("GRAY", a.Gray);
  FetchInt("SIZE", 1, a.BegSize);
  FetchInt("SIZE", 2, a.EndSize);
  int frame = FetchInt("FRAME", 1, a.BegFrame);
  FetchInt("FRAME", 2, a.EndFrame);
  int work = FetchInt("WORK", 1, a.BegWS);
  FetchInt("WORK", 2, a.EndWS);
  text("PALX", a.enhance);
  FetchInt("SEQBG", 1, a.independentG);
  FetchLatLon("LAT", a.Lat);
  FetchLatLon("LON", a.Lon);
  FetchInt("RTIME", 1, a.RtimeB);
  FetchInt("RTIME", 2, a.RtimeE);
  r.DataType = GetListArg("TYPE", FileTypesText, r.DataType);
  r.Status = GetListArg("STATUS", StatusTypesText, r.Status);
  text("BAND", a.Band);
  text("CMD", r.UserCmd);
  text("GROUP", r.Group);
  text("SU", a.SUname);
  int name = text("NAME", r.Descriptor);
  if (text.refused) return false;

  a.Store = a.BegWS > 0 && a.EndWS > 0 ? True : False;
  a.Show = a.BegFrame > 0 && a.EndFrame > 0 ? True : False;
  if (Given(work)) a.NxtWS = a.BegWS;
  registration = Given(work) || (Given(name) && a.Store);
  if (Given(frame)) a.NxtFrame = a.BegFrame;
  return true;
}

bool ApplyPnts(ClientRec &r, bool &registration) {
  PntsClientStruct &p = r.Data.Pnts;
  Strings text;
  int name = ApplyCommonKeywords(r, text);
  int work = FetchInt("WORK", 1, p.BegWS);
  FetchInt("WORK", 2, p.EndWS);
  FetchInt("INC", 1, p.Increment);
  FetchInt("POS", 1, p.Position);
  text("SELECT", p.Select);
  text("TITLE", p.Title);
  GetLogArg("DELETE", &p.DestDel, p.DestDel);
  if (text.refused) return false;
  if (Given(work)) p.NxtWS = p.BegWS;
  registration = Given(work) || Given(name);
  return true;
}

bool ApplyGrid(ClientRec &r, bool &registration) {
  GridClientStruct &g = r.Data.Grid;
  Strings text;
  int name = ApplyCommonKeywords(r, text);
  text("PARAM", g.Param);
  text("LEVEL", g.Level);
  FetchInt("FOR", 1, g.BegForcast);
  FetchInt("FOR", 2, g.EndForcast);
  FetchInt("FOR", 3, g.NxtForcast);
  int work = FetchInt("WORK", 1, g.BegWS);
  FetchInt("WORK", 2, g.EndWS);
  FetchInt("MAX", 1, g.MaxGrid);
  FetchInt("INC", 1, g.Increment);
  FetchInt("NUM", 1, g.NumMatch);
  FetchInt("POS", 1, g.Position);
  FetchInt("SPOS", 1, g.bServerPos);
  FetchInt("SPOS", 2, g.eServerPos);
  GetLogArg("DELETE", &g.DestDel, g.DestDel);
  if (text.refused) return false;
  if (Given(work)) g.NxtWS = g.BegWS;
  registration = Given(work) || Given(name);
  return true;
}

bool ApplyText(ClientRec &r, bool &registration) {
  TextClientStruct &t = r.Data.Text;
  Strings text;
  ApplyCommonKeywords(r, text);
  FetchInt("INC", 1, t.Increment);
  text("TO", t.To);
  text("FROM", t.From);
  GetLogArg("BINARY", &t.Binary, t.Binary);
  registration = false;
  if (text.refused) return false;
  // The file-transfer client runs a name beginning with "|" or "!" as a
  // command: such a name never reaches it.
  if (!client_internal::IsSafeTransferName(t.To) || !client_internal::IsSafeTransferName(t.From)) {
    std::printf("VKC SET error: TO= and FROM= name files; a name beginning with | or ! is refused.\n");
    return false;
  }
  return true;
}

// Reads a record, applies the keywords of `type`, registers its local
// dataset when asked, and writes it back.
int Update(DBase *file, int pointer, int type, int mode) {
  ClientRec r;
  (void)ReadClientRec(file, pointer, &r);
  bool registration = false;
  bool accepted = false;
  switch (type) {
    case AREA: accepted = ApplyArea(r, mode, registration); break;
    case MD: accepted = ApplyPnts(r, registration); break;
    case GRID: accepted = ApplyGrid(r, registration); break;
    case TEXT: accepted = ApplyText(r, registration); break;
    default: break;
  }
  if (!accepted) return kClientRefused;
  if (registration) (void)RegisterLocalDataset(r);
  return WriteClientRec(file, pointer, &r);
}

}  // namespace

bool ApplyClientKeywords(ClientRec &record, int Mode, bool &registration) {
  registration = false;
  switch (record.DataType) {
    case AREA: return ApplyArea(record, Mode, registration);
    case MD: return ApplyPnts(record, registration);
    case GRID: return ApplyGrid(record, registration);
    case TEXT: return ApplyText(record, registration);
    default: return false;
  }
}

int RegisterLocalDataset(const ClientRec &record) {
  int first = 0, last = 0;
  switch (record.DataType) {
    case AREA: first = record.Data.Area.BegWS, last = record.Data.Area.EndWS; break;
    case MD: first = record.Data.Pnts.BegWS, last = record.Data.Pnts.EndWS; break;
    case GRID: first = record.Data.Grid.BegWS, last = record.Data.Grid.EndWS; break;
    default: return kTvKeyinNotFound;
  }
  return Exec(command_lines::Format("SETREG ADD LOC/%s %s %d %d", record.Descriptor, TypeWord(record.DataType),
                                    first, last)
                  .c_str());
}

int UpdateClientAreaRec(DBase *ClientFile, int Pointer, int Mode) { return Update(ClientFile, Pointer, AREA, Mode); }
int UpdateClientGridRec(DBase *ClientFile, int Pointer) { return Update(ClientFile, Pointer, GRID, 2); }
int UpdateClientPntsRec(DBase *ClientFile, int Pointer) { return Update(ClientFile, Pointer, MD, 2); }
int UpdateClientTextRec(DBase *ClientFile, int Pointer) { return Update(ClientFile, Pointer, TEXT, 2); }

int SetClientRec(int Mode) {
  int number = 1;
  if (!ValidateArgs1(&number, kClientRecords)) return kClientUsage;
  int type = UNKNOWN;
  // `status` is the run's; `result` only a write failure, which alone
  // keeps the Done line from being printed (it follows a failed open and a
  // refused CREATE, as it always has).
  int status = kClientFailed;  // the file cannot be opened
  int result = kClientOk;
  DBase file;
  bool open = OpenVarnekDB(&file, kClientFile, kClientFileText);
  if (open) {
    status = kClientRefused;
    ClientRec r;
    (void)ReadClientRec(&file, number, &r);
    if (Mode == 1) {
      if (r.Status != Inactive) {
        if (verbose) std::printf("Loop %d is not empty, please another loop or delete this loop first.\n", number);
      } else {
        type = GetListArg("TYPE", FileTypesText, UNKNOWN);
        if (type >= AREA && type <= TEXT) {
          ClientRec fresh = ClientDefaults(type);
          bool registration = false;
          if (ApplyClientKeywords(fresh, 1, registration)) {
            if (registration) (void)RegisterLocalDataset(fresh);
            result = status = WriteClientRec(&file, number, &fresh);
          }
        }
      }
    } else if (Mode == 2) {
      type = r.DataType;
      if (type >= AREA && type <= TEXT) {
        status = Update(&file, number, type, 2);
        if (status == kClientFailed) result = kClientFailed;
      }
    } else if (Mode == 3) {
      r.Status = Inactive;
      result = status = WriteClientRec(&file, number, &r);
    }
  }
  // A change that could not be stored has been reported; no Done line then.
  if (result == kClientOk && verbose) {
    const char *action = Mode == 1 ? "Creating" : Mode == 2 ? "Setting" : "Deleting";
    std::printf("Done %s Client Record %d.\n", action, number);
    // The record just handled, listed from the file already open (a failed
    // open has been reported once, above; the listing then shows only its
    // totals).
    ListClientRecords(open ? &file : nullptr, number, number, 1 << (type >= UNKNOWN && type <= TEXT ? type : UNKNOWN));
  }
  return status;
}
