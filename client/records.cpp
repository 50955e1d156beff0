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

namespace {

// The header each of the client's record files must hold: block size,
// record size and record count.
struct RecordFileKind {
  int block, record_size, records;
};

bool KnownKind(const char *name, RecordFileKind &kind) {
  if (std::strcmp(name, kClientFile) == 0) kind = {0, static_cast<int>(sizeof(ClientRec)), kClientRecords};
  else if (std::strcmp(name, kServerListFile) == 0)
    kind = {0, static_cast<int>(sizeof(ServerListRec)), kServerListRecords};
  else return false;
  return true;
}

Boolean Open(DBase *File, const char *Name, const char *Text, bool writable) {
  if ((writable ? DBOpen(File, Name, "") : DBOpenForRead(File, Name, "")) != 0) {
    if (verbose) std::printf("%s\n", Text);
    return False;
  }
  // Records are read and written at offsets the header gives: a header that
  // is not the file's own (a wrong block size would make writes land in the
  // middle of other records, or grow the file without end) refuses the file
  // before anything is read or written.
  RecordFileKind kind;
  const RA &ra = File->File;
  if (KnownKind(Name, kind) &&
      (ra.BlockSize != kind.block || ra.RecSize != kind.record_size || ra.NRecords != kind.records)) {
    Tveprintf("%s refused: its header (block %d, record size %d, %d records) is not that of %s "
              "(%d, %d, %d); nothing was changed.\n",
              Name, ra.BlockSize, ra.RecSize, ra.NRecords, Name, kind.block, kind.record_size, kind.records);
    CloseVarnekDB(File);
    return False;
  }
  return True;
}

}  // namespace

Boolean OpenVarnekDB(DBase *File, const char *Name, const char *Text) { return Open(File, Name, Text, true); }

Boolean OpenVarnekDBForRead(DBase *File, const char *Name, const char *Text) {
  return Open(File, Name, Text, false);
}

void CleanClientRecord(ClientRec &r) {
  CleanField(r.Descriptor);
  CleanField(r.Group);
  CleanField(r.UserCmd);
  switch (r.DataType) {
    case AREA: {
      AreaClientStruct &a = r.Data.Area;
      CleanField(a.imgSat);
      CleanField(a.Band);
      CleanField(a.Dwell);
      CleanField(a.Gray);
      CleanField(a.enhance);
      CleanField(a.SUname);
      break;
    }
    case MD:
      CleanField(r.Data.Pnts.Select);
      CleanField(r.Data.Pnts.Title);
      break;
    case GRID:
      CleanField(r.Data.Grid.Param);
      CleanField(r.Data.Grid.Level);
      break;
    case TEXT:
      CleanField(r.Data.Text.From);
      CleanField(r.Data.Text.To);
      break;
    default:
      break;
  }
}

int ReadClientRec(DBase *File, int Rec, ClientRec *Record) {
  int rc = DBRead(File, Rec, Record);
  CleanClientRecord(*Record);
  return rc;
}

int ReadServerListRec(DBase *File, int Rec, ServerListRec *Record) {
  int rc = DBRead(File, Rec, Record);
  CleanField(Record->Name);
  CleanField(Record->Address);
  CleanField(Record->group);
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
