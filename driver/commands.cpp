// The two command tables and the driver that dispatches the command word.

#include <array>
#include <cstdio>

#include "client/client.h"
#include "driver/driver.h"
#include "host/host.h"
#include "posix/posix.h"
#include "server/server.h"

namespace driver_table {
namespace {

// The exit status of a run from a handler's status.
int ClientExit(int status) { return status == kClientFailed ? 1 : 0; }
int ServerExit(int status) { return status == kServerNotStored ? 1 : 0; }

int PrintBanner() {
  std::printf("%s\n", kBanner);
  return 0;
}

// Client command set, searched in this order.
constexpr std::array<Command, 23> kClientCommands = {{
    {"INSTALL", "", [] { return ClientExit(InstallClient()); }},
    {"UNINSTALL", "", [] { return ClientExit(UnInstallClient()); }},
    {"VERBOSE", "", [] { return ClientExit(SetVerboseLevel()); }},
    {"VERSION", "V", PrintBanner},
    {"SET", "S", [] { return ClientExit(SetClientRec(2)); }},
    {"CREATE", "C", [] { return ClientExit(SetClientRec(1)); }},
    {"DELETE", "", [] { return ClientExit(SetClientRec(3)); }},
    {"LIST", "L", [] { return ClientExit(ListClientFile(0, 0, 0, UNKNOWN)); }},
    {"REPORT", "RP", [] { return ClientExit(ReportClientFile()); }},
    {"RESET", "RS", [] { return ClientExit(ClientReset()); }},
    {"COMPARE", "CO", [] { return ClientExit(ClientCompare()); }},
    {"DATA", "DA", [] { return ClientExit(ListData()); }},
    {"LOOP", "LP", [] { return ClientExit(ClientLoop()); }},
    {"STOP", "ST", [] { return ClientExit(ClientStopLoop()); }},
    {"PRINTLOG", "PL", [] { return ClientExit(PrintLogfile()); }},
    {"LOAD", "LD", [] { return ClientExit(ClientLoad()); }},
    {"TRANSFER", "T", [] { return ClientExit(Transfer()); }},
    {"CYCLE", "CY", [] { return ClientExit(Cycle()); }},
    {"LISTSERVERS", "LS", [] { return ClientExit(ListServerListFile()); }},
    {"CREATESERVER", "CS", [] { return ClientExit(CreateServerListRec()); }},
    {"SETSERVER", "SS", [] { return ClientExit(SetServerListRec()); }},
    {"BACKGROUND", "BG", [] { return ClientExit(ClientBGJob()); }},
    {"OFF", "O", [] { return ClientExit(ClientBGOff()); }},
}};

// Server command set: full words only.
constexpr std::array<Command, 8> kServerCommands = {{
    {"INSTALL", "", [] { return ServerExit(initServerFile()); }},
    {"LIST", "", [] { return ServerExit(LISTServer()); }},
    {"SET", "", [] { return ServerExit(SetCreateServerRec(0)); }},
    {"CREATE", "", [] { return ServerExit(SetCreateServerRec(1)); }},
    {"INVOKE", "", [] { return ServerExit(INVOKEServer()); }},
    {"SUSPEND", "", [] { return ServerExit(SUSPENDServer()); }},
    {"RELEASE", "", [] { return ServerExit(RELEASEServer()); }},
    {"DELETE", "", [] { return ServerExit(DELETEServer()); }},
}};

}  // namespace

std::span<const Command> CommandsFor(int mode) {
  if (mode == kClientMode) return kClientCommands;
  if (mode == kServerMode) return kServerCommands;
  return {};
}

const Command *FindCommand(std::span<const Command> table, std::string_view word) {
  for (const Command &c : table)
    if (c.word == word || (!c.short_form.empty() && c.short_form == word)) return &c;
  return nullptr;
}

}  // namespace driver_table

int driver(Integer Mode) {
  if (!Mode || (*Mode != kClientMode && *Mode != kServerMode)) return 0;
  const char *word = "NONE";
  (void)Tvcmdstr(" ", 1, "NONE", &word);
  const driver_table::Command *command =
      driver_table::FindCommand(driver_table::CommandsFor(*Mode), word);
  if (command) {
    int status = command->run();
    // A terminating signal that stopped a host command ends the run as the
    // signal would have: 128 + its number.
    if (int sig = posix::TerminationSignal(); sig != 0) return 128 + sig;
    return status;
  }
  std::printf(*Mode == kClientMode ? "Invalid VKC command: %s\n" : "Invalid VKS command: %s\n", word);
  return 0;
}
