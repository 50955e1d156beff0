// The client command set of `vkc`: record commands, server list, listings,
// installation, availability fetch and cycle, background job, frame loading
// and looping, and the command runner.
//
// Every handler below is called by the driver without arguments (except
// where a mode is passed), fetches its own arguments from the host runtime,
// prints its results on standard output and returns nothing the driver
// looks at.

#ifndef VARNEK_CLIENT_CLIENT_H
#define VARNEK_CLIENT_CLIENT_H

#include "driver/driver.h"

// INSTALL and UNINSTALL of the client's working directory.
void InstallClient();
void UnInstallClient();

// CREATE (1), SET (2) and DELETE (3) of one client record.
void SetClientRec(int Mode);

// LIST: mode 0 takes range and type mask from the command line; mode 1
// lists brec..erec of type dtype.
void ListClientFile(int mode, int brec, int erec, int dtype);
void ReportClientFile();
void ClientReset();
void ListData();

// Availability comparison and the cycle.
void ClientCompare();
void Cycle();
void Transfer();

// Frame loading and looping.
void ClientLoop();
void ClientStopLoop();
void ClientLoad();

// The operations log printed to a text file (PRINTLOG).
void PrintLogfile();

// Runs a host command line (Tvskeyin), prints it after its own output when
// `verbose` is above 1, and appends an "Exec" entry to the operations log
// whatever the result.  Returns the command program's exit status, -1 when
// it could not be started or was killed, -2 when no such command exists.
int Exec(const char *Cmd);

// The server list.
void ListServerListFile();
void CreateServerListRec();
void SetServerListRec();

// The background job.
void ClientBGJob();
void ClientBGOff();

#endif  // VARNEK_CLIENT_CLIENT_H
