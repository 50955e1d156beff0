// The server command set of `vks`: VKS INSTALL, the record commands and
// the update from arrived data files, all on the availability file
// "VKServerFile" of the working directory (its format and reader and writer
// are the module AvailFile/, which the client's comparison shares).
//
// The driver calls each command handler without arguments (SetCreateServerRec
// with its mode); handlers fetch their own arguments from the host runtime
// and print their results on standard output.

#ifndef VARNEK_SERVER_SERVER_H
#define VARNEK_SERVER_SERVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "AvailFile/AvailFile.h"
#include "vocab/vocab.h"

// ---------------------------------------------------------------------------
// VKS INSTALL.

// VKS INSTALL: writes `VKServerFile` as 200 empty slots with its
// set-group-ID bit on, under a temporary name renamed into place (a failed
// INSTALL leaves the old file, or none), and prints
// "Varnek II Server Installed Successfully.".  When the file cannot be
// created or written it prints "Fail to init Varnek II server file, will
// exit." and returns kServerNotStored: the run ends with status 1.
[[nodiscard]] int initServerFile();

// ---------------------------------------------------------------------------
// Record commands (VKS CREATE, SET, DELETE, SUSPEND, RELEASE, LIST).
// Handlers return 0 on success, -1 on a usage or data error, 1 when the
// availability file cannot be opened; the driver ignores the result.

[[nodiscard]] int SetCreateServerRec(int mode);  // 0 SET, 1 CREATE
[[nodiscard]] int DELETEServer();
[[nodiscard]] int SUSPENDServer();
[[nodiscard]] int RELEASEServer();
[[nodiscard]] int LISTServer();

// Writes `rec` as record `recNum` (1..200) of VKServerFile.  0; 1 after
// "Cannot open server file."; -1 when the writer refused the record;
// kServerNotStored when the write failed.
[[nodiscard]] int setServerRec(int recNum, const ServerRec &rec);

// Sets the Status of record `recNum` (1..200) of VKServerFile, whatever it
// was.  0; 1 after "Cannot open server file."; -1 when the record cannot be
// read or written back (printed by the reader or writer); kServerNotStored
// when the write failed.
[[nodiscard]] int changeServerRecStatus(int recNum, StatusTypes status);

// The table listing of records bRecNum..eRecNum (eRecNum clamped to 200) for
// the types in `dataTypeMask`.  0; -1 after "listServerRecs: Invalid
// arguments." when eRecNum < bRecNum; 1 after "Cannot open server file.".
[[nodiscard]] int listServerRecs(int bRecNum, int eRecNum, int dataTypeMask);

// The detail listing of record `recNum`; prints nothing for a record that is
// Inactive, of a type outside 1..4 or not in the mask.  0, or 1 after
// "Cannot open server file.".
[[nodiscard]] int listServerRecDetail(int recNum, int dataTypeMask);

// The letter of a status in the table listing ("?" outside the word table)
// and its name in the detail listing (the number outside the table).
std::string statusLetter(std::int32_t status);
std::string statusName(std::int32_t status);

// ---------------------------------------------------------------------------
// Update from arrived data files (VKS INVOKE).

// VKS INVOKE file... [TYPE=] [MACH=] [FPATH=] [SCAN=] [EOF=] [MULTI=].
// 0 after "DONE: INVOKE.", -1 on any error, kServerNotStored when a record
// could not be written back.
[[nodiscard]] int INVOKEServer();

// Applies one command record to VKServerFile: every Active record that
// matches it (only the first when `multiinvoke` is 0) takes the command's
// values, the data file's header values and its modification time, and is
// written back.  0 (also when nothing matched); 1 after
// "Cannot open server file."; -1 when the writer refused a record;
// kServerNotStored when a write failed.
// The records written are added to `written` when it is given (for the
// announcement that follows the table write).
[[nodiscard]] int invokeServerRec(ServerRec rcmd, int multiinvoke, std::vector<ServerRec> *written = nullptr);

// Announces records INVOKE has written, one message each, when VKNotify in
// the working directory names a broker (docs/notify.md): best effort and
// bounded (a broker that refuses adds no wait, one that does not answer at
// most a second), and only ever one warning line on the error stream; the
// table, the output and the status of INVOKE do not depend on it.
void announceServerRecs(const std::vector<ServerRec> &written);

// Whether INVOKE's writes are to be announced: VKNotify is in the working
// directory.  INVOKE collects the records it writes only then.
[[nodiscard]] bool serverAnnounces();

// 0 when the file record `raf` matches the command record `rcmd` (same type
// and machine name; for AREA, MD and GRID the command's number equals the
// record's current number or lies in its range; for TEXT the same file name
// and path), -1 otherwise; a type outside 1..4 prints
// "fitInServerAFRec: Invalid data type." and does not match.
[[nodiscard]] int fitInServerAFRec(const ServerRec &raf, const ServerRec &rcmd);

// Copies every value of `rcmd` that is given (non-zero, non-empty) into
// `*rec`.  0, or -1 after "updateServerRec: Undefined data type" for a type
// outside 1..4 (the common fields are merged by then).
[[nodiscard]] int updateServerRec(ServerRec *rec, const ServerRec &rcmd);

// Brings record `rec` up to date from its data file: the header values by
// type and the file's modification time (UTC), with the warnings of INVOKE.
// The data file's full name is the record's filePath followed by the
// standard name of rec->...currentNum (AREA, MD, GRID) or by fileName (TEXT).
void readServerDataFile(ServerRec *rec);

#endif  // VARNEK_SERVER_SERVER_H
