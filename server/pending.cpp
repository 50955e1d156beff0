// Server commands whose work is not built yet: each is dispatched by the
// driver and returns without doing anything.

#include "server/server.h"

void initServerFile() {}
int LISTServer() { return 0; }
int SetCreateServerRec(int) { return 0; }
int INVOKEServer() { return 0; }
int SUSPENDServer() { return 0; }
int RELEASEServer() { return 0; }
int DELETEServer() { return 0; }
