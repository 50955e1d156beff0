// Record-file access of the operations log.

#include <cstring>

#include "Logfile/Logfile.h"
#include "vocab/vocab.h"

namespace {

// Entries come from a file anyone may have edited: make every string end
// inside its field, and show no control character raw, before it is printed
// or compared.
void TerminateStrings(RECORD_TYPE *r) {
  CleanField(r->ProgramName);
  CleanField(r->Function);
  CleanField(r->Status);
  CleanField(r->Comment);
}

}  // namespace

int Logfile_Init(const char *FileName, int SizeofBlk, int SizeofRec, int NRecords) {
  return RAInit(FileName, SizeofBlk, SizeofRec, NRecords);
}

int Logfile_Open(LOGFILE_TYPE *Logfile, const char *FileName, const char *LockFile) {
  if (!Logfile || RAOpen(&Logfile->File, FileName, LockFile) != 0) return 1;
  // Entries are read straight into fixed-size records: a file of another
  // layout is not a log.
  if (Logfile->File.BlockSize != kLogBlockSize || Logfile->File.RecSize != kLogRecordSize) {
    (void)RAClose(&Logfile->File);
    return 1;
  }
  return 0;
}

int Logfile_Read(LOGFILE_TYPE *Logfile, int Rec, RECORD_TYPE *Data) {
  int rc = RAReadRec(&Logfile->File, Rec, Data);
  TerminateStrings(Data);
  return rc;
}

int Logfile_Write(LOGFILE_TYPE *Logfile, int Rec, const RECORD_TYPE *Record) {
  return RAWriteRec(&Logfile->File, Rec, Record);
}

int Logfile_ReadBlk(LOGFILE_TYPE *Logfile, BLOCK_TYPE *Data) { return RAReadBlk(&Logfile->File, Data); }

int Logfile_WriteBlk(LOGFILE_TYPE *Logfile, const BLOCK_TYPE *Data) {
  return RAWriteBlk(&Logfile->File, Data);
}

int Logfile_Close(LOGFILE_TYPE *Logfile) { return RAClose(&Logfile->File); }
