// The client's record files: opening, reading, defaults of a new record.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// Text set by the program itself, known to fit its field.
template <std::size_t N>
void SetText(char (&field)[N], const char *text) {
  bool fits = CopyField(field, text);
  (void)fits;
}

}  // namespace

Boolean OpenVarnekDB(DBase *File, const char *Name, const char *Text) {
  int expected = 0;
  if (std::strcmp(Name, kClientFile) == 0) expected = sizeof(ClientRec);
  else if (std::strcmp(Name, kServerListFile) == 0) expected = sizeof(ServerListRec);
  if (DBOpen(File, Name, "") == 0) {
    // Records are read straight into fixed-size structures: a file whose
    // record size differs is not opened.
    if (expected == 0 || File->File.RecSize == expected) return True;
    CloseVarnekDB(File);
  }
  if (verbose) std::printf("%s\n", Text);
  return False;
}

int ReadClientRec(DBase *File, int Rec, ClientRec *Record) {
  int rc = DBRead(File, Rec, Record);
  EndField(Record->Descriptor);
  EndField(Record->Group);
  EndField(Record->UserCmd);
  switch (Record->DataType) {
    case AREA: {
      AreaClientStruct &a = Record->Data.Area;
      EndField(a.imgSat);
      EndField(a.Band);
      EndField(a.Dwell);
      EndField(a.Gray);
      EndField(a.enhance);
      EndField(a.SUname);
      break;
    }
    case MD:
      EndField(Record->Data.Pnts.Select);
      EndField(Record->Data.Pnts.Title);
      break;
    case GRID:
      EndField(Record->Data.Grid.Param);
      EndField(Record->Data.Grid.Level);
      break;
    case TEXT:
      EndField(Record->Data.Text.From);
      EndField(Record->Data.Text.To);
      break;
    default:
      break;
  }
  return rc;
}

int ReadServerListRec(DBase *File, int Rec, ServerListRec *Record) {
  int rc = DBRead(File, Rec, Record);
  EndField(Record->Name);
  EndField(Record->Address);
  EndField(Record->group);
  return rc;
}

int WriteClientRec(DBase *File, int Rec, const ClientRec *Record) {
  if (DBWrite(File, Rec, Record) == 0) return kClientOk;
  Tveprintf("Client Record %d not written: %s\n", Rec, posix::ErrorText(errno).c_str());
  return kClientFailed;
}

int WriteServerListRec(DBase *File, int Rec, const ServerListRec *Record) {
  if (DBWrite(File, Rec, Record) == 0) return kClientOk;
  Tveprintf("ServerList Record %d not written: %s\n", Rec, posix::ErrorText(errno).c_str());
  return kClientFailed;
}

void CloseVarnekDB(DBase *File) { (void)DBClose(File); }

ClientRec ClientDefaults(int type) {
  ClientRec r;
  std::memset(&r, 0, sizeof r);
  r.Status = Suspend;
  r.DataType = type;
  SetText(r.Descriptor, "NONE");
  SetText(r.Group, "NONE");
  SetText(r.UserCmd, "NONE");
  switch (type) {
    case AREA: {
      AreaClientStruct &a = r.Data.Area;
      a.Resolution = 1;
      a.Increment = 30;
      SetText(a.Band, "ALL");
      a.Lat = 40.0;
      a.Lon = 90.0;
      SetText(a.Dwell, "AUTO");
      SetText(a.Gray, "YES");
      a.Complete = True;
      a.Percent = 100;
      a.BegSize = -1;
      a.EndSize = -1;
      a.RtimeB = 0;
      a.RtimeE = 60;
      break;
    }
    case GRID: {
      GridClientStruct &g = r.Data.Grid;
      SetText(g.Param, "NONE");
      g.DestDel = True;
      g.MaxGrid = 1000;
      g.NumMatch = 500;
      SetText(g.Level, "NONE");
      g.eServerPos = 9999;
      g.Increment = 30;
      break;
    }
    case MD: {
      PntsClientStruct &p = r.Data.Pnts;
      SetText(p.Select, "NONE");
      SetText(p.Title, "NONE");
      p.DestDel = True;
      p.Increment = 30;
      break;
    }
    case TEXT: {
      TextClientStruct &t = r.Data.Text;
      SetText(t.From, "NONE");
      SetText(t.To, "NONE");
      t.Binary = False;
      t.Increment = 30;
      break;
    }
    default:
      break;
  }
  return r;
}

namespace {

int WriteDefaults(DBase *file, int pointer, int type) {
  ClientRec r = ClientDefaults(type);
  return WriteClientRec(file, pointer, &r);
}

}  // namespace

int SetClientAreaDef(DBase *ClientFile, int Pointer) { return WriteDefaults(ClientFile, Pointer, AREA); }
int SetClientGridDef(DBase *ClientFile, int Pointer) { return WriteDefaults(ClientFile, Pointer, GRID); }
int SetClientPntsDef(DBase *ClientFile, int Pointer) { return WriteDefaults(ClientFile, Pointer, MD); }
int SetClientTextDef(DBase *ClientFile, int Pointer) { return WriteDefaults(ClientFile, Pointer, TEXT); }
