// The server command set of `vks`: the availability file "VKServerFile",
// the record commands and the update from arrived data files.
//
// The driver calls each handler without arguments (SetCreateServerRec with
// its mode); handlers fetch their own arguments from the host runtime.

#ifndef VARNEK_SERVER_SERVER_H
#define VARNEK_SERVER_SERVER_H

#include "driver/driver.h"

// VKS INSTALL: a new availability file of 200 empty records.
void initServerFile();

// VKS LIST, SET (0) / CREATE (1), INVOKE, SUSPEND, RELEASE, DELETE.
int LISTServer();
int SetCreateServerRec(int mode);
int INVOKEServer();
int SUSPENDServer();
int RELEASEServer();
int DELETEServer();

#endif  // VARNEK_SERVER_SERVER_H
