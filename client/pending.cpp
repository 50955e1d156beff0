// Client commands whose work is not built yet: each is dispatched by the
// driver and returns without doing anything.

#include "client/client.h"

void ClientCompare() {}
void Cycle() {}
void ClientLoop() {}
void ClientStopLoop() {}
void ClientLoad() {}
void ClientBGJob() {}
void ClientBGOff() {}
