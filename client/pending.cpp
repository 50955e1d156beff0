// Client commands whose work is not built yet: each is dispatched by the
// driver and returns without doing anything.

#include "client/client.h"

int ClientLoop() { return kClientOk; }
int ClientStopLoop() { return kClientOk; }
int ClientLoad() { return kClientOk; }
int ClientBGJob() { return kClientOk; }
int ClientBGOff() { return kClientOk; }
