// The client's record files: opening, reading, defaults of a new record.

#include <cstdio>
#include <cstring>

#include "client/client.h"

namespace {

template <std::size_t N>
void EndInside(char (&field)[N]) {
  field[N - 1] = '\0';
}

void SetText(char *field, std::size_t size, const char *text) {
  std::memset(field, 0, size);
  std::size_t length = std::strlen(text);
  std::memcpy(field, text, length < size ? length : size - 1);
}

template <std::size_t N>
void SetText(char (&field)[N], const char *text) {
  SetText(field, N, text);
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
    DBClose(File);
  }
  if (verbose) std::printf("%s\n", Text);
  return False;
}

int ReadClientRec(DBase *File, int Rec, ClientRec *Record) {
  int rc = DBRead(File, Rec, Record);
  EndInside(Record->Descriptor);
  EndInside(Record->Group);
  EndInside(Record->UserCmd);
  switch (Record->DataType) {
    case AREA: {
      AreaClientStruct &a = Record->Data.Area;
      EndInside(a.imgSat);
      EndInside(a.Band);
      EndInside(a.Dwell);
      EndInside(a.Gray);
      EndInside(a.enhance);
      EndInside(a.SUname);
      break;
    }
    case MD:
      EndInside(Record->Data.Pnts.Select);
      EndInside(Record->Data.Pnts.Title);
      break;
    case GRID:
      EndInside(Record->Data.Grid.Param);
      EndInside(Record->Data.Grid.Level);
      break;
    case TEXT:
      EndInside(Record->Data.Text.From);
      EndInside(Record->Data.Text.To);
      break;
    default:
      break;
  }
  return rc;
}

int ReadServerListRec(DBase *File, int Rec, ServerListRec *Record) {
  int rc = DBRead(File, Rec, Record);
  EndInside(Record->Name);
  EndInside(Record->Address);
  EndInside(Record->group);
  return rc;
}

const char *StatusWord(int status) {
  return status >= Inactive && status <= Suspend ? StatusTypesText[status] : "?";
}

const char *TypeWord(int type) { return type >= UNKNOWN && type <= TEXT ? FileTypesText[type] : "?"; }

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

void WriteDefaults(DBase *file, int pointer, int type) {
  ClientRec r = ClientDefaults(type);
  (void)DBWrite(file, pointer, &r);
}

}  // namespace

void SetClientAreaDef(DBase *ClientFile, int Pointer) { WriteDefaults(ClientFile, Pointer, AREA); }
void SetClientGridDef(DBase *ClientFile, int Pointer) { WriteDefaults(ClientFile, Pointer, GRID); }
void SetClientPntsDef(DBase *ClientFile, int Pointer) { WriteDefaults(ClientFile, Pointer, MD); }
void SetClientTextDef(DBase *ClientFile, int Pointer) { WriteDefaults(ClientFile, Pointer, TEXT); }
