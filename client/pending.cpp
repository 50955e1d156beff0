// Client commands whose work is not built yet: each is dispatched by the
// driver and returns without doing anything.

#include "client/client.h"

void InstallClient() {}
void UnInstallClient() {}
void SetClientRec(int) {}
void ListClientFile(int, int, int, int) {}
void ReportClientFile() {}
void ClientReset() {}
void ListData() {}
void ClientCompare() {}
void Cycle() {}
void Transfer() {}
void ClientLoop() {}
void ClientStopLoop() {}
void ClientLoad() {}
void ListServerListFile() {}
void CreateServerListRec() {}
void SetServerListRec() {}
void ClientBGJob() {}
void ClientBGOff() {}
