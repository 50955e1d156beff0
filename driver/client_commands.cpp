// The client's command table (vkc): the only file of the driver that
// includes client/client.h, so that only vkc links the client's commands.

#include <array>
#include <cstdio>

#include "client/client.h"
#include "driver/driver.h"

namespace driver_table {
namespace {

// The exit status of a run from a handler's status: 0 done, 2 usage, 1 any
// other failure (a refusal, a file missing, nothing stored).
int ClientExit(int status) { return status == kClientOk ? 0 : status == kClientUsage ? 2 : 1; }

int PrintBanner() {
  std::printf("%s\n", kBanner);
  return 0;
}

// Client command set, searched in this order.
constexpr std::array<Command, 23> kClientCommands = {{
    {"INSTALL", "", [] { return ClientExit(InstallClient()); }, "", "create the record files and scripts here"},
    {"UNINSTALL", "", [] { return ClientExit(UnInstallClient()); }, "", "remove them and the state files"},
    {"VERBOSE", "", [] { return ClientExit(SetVerboseLevel()); }, "[level]", "set the verbose level, 0 to 2"},
    {"VERSION", "V", PrintBanner, "", "print the version"},
    {"SET", "S", [] { return ClientExit(SetClientRec(2)); }, "[rec] KEY=value ...", "change a client record"},
    {"CREATE", "C", [] { return ClientExit(SetClientRec(1)); }, "[rec] TYPE=type KEY=value ...",
     "create a client record"},
    {"DELETE", "", [] { return ClientExit(SetClientRec(3)); }, "[rec]", "make a client record inactive"},
    {"LIST", "L", [] { return ClientExit(ListClientFile(0, 0, 0, UNKNOWN)); }, "first [last] [TYPE=type]",
     "list client records"},
    {"REPORT", "RP", [] { return ClientExit(ReportClientFile()); }, "[rec]", "print every setting of a record"},
    {"RESET", "RS", [] { return ClientExit(ClientReset()); }, "first [last]", "forget the last item taken"},
    {"COMPARE", "CO", [] { return ClientExit(ClientCompare()); }, "[version]", "compare COMPARE2 with the records"},
    {"DATA", "DA", [] { return ClientExit(ListData()); }, "[rec]", "list a record's remote dataset"},
    {"LOOP", "LP", [] { return ClientExit(ClientLoop()); }, "[rec]", "loop a record's frames"},
    {"STOP", "ST", [] { return ClientExit(ClientStopLoop()); }, "[rec]", "stop a record's frame loop"},
    {"PRINTLOG", "PL", [] { return ClientExit(PrintLogfile()); }, "", "copy the log to a text file"},
    {"LOAD", "LD", [] { return ClientExit(ClientLoad()); }, "[rec] [FRAME=n] [TIME=hh:mm|ALL]",
     "display an image into a frame"},
    {"TRANSFER", "T", [] { return ClientExit(Transfer()); }, "[entry]", "fetch a server's table into COMPARE2"},
    {"CYCLE", "CY", [] { return ClientExit(Cycle()); }, "", "one pass: fetch, compare, copy and display"},
    {"LISTSERVERS", "LS", [] { return ClientExit(ListServerListFile()); }, "first [last]", "list the server list"},
    {"CREATESERVER", "CS", [] { return ClientExit(CreateServerListRec()); }, "[entry] GROUP=group ...",
     "create a server-list entry"},
    {"SETSERVER", "SS", [] { return ClientExit(SetServerListRec()); }, "[entry] KEY=value ...",
     "change a server-list entry"},
    {"BACKGROUND", "BG", [] { return ClientExit(ClientBGJob()); }, "[minutes]", "cycle again and again"},
    {"OFF", "O", [] { return ClientExit(ClientBGOff()); }, "", "stop the background job"},
}};

// The client's verbose level, read (or its file created) only for a
// command that runs.
int LoadVerbose() { return LoadVerboseLevel() == kClientOk ? 0 : 1; }

}  // namespace

std::span<const Command> ClientCommands() { return kClientCommands; }

int RunClient() { return Dispatch(kClientMode, kClientCommands, LoadVerbose); }

}  // namespace driver_table
