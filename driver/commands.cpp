// The two command tables and the driver that dispatches the command word.

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "client/client.h"
#include "driver/driver.h"
#include "host/host.h"
#include "posix/posix.h"
#include "server/server.h"

namespace driver_table {
namespace {

// The exit status of a run from a handler's status: 0 done, 2 usage, 1 any
// other failure (a refusal, a file missing, nothing stored).
int ClientExit(int status) { return status == kClientOk ? 0 : status == kClientUsage ? 2 : 1; }
int ServerExit(int status) { return status == kServerOk ? 0 : status == kServerUsage ? 2 : 1; }

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

// Server command set: full words only.
constexpr std::array<Command, 8> kServerCommands = {{
    {"INSTALL", "", [] { return ServerExit(initServerFile()); }, "", "create an empty availability file"},
    {"LIST", "", [] { return ServerExit(LISTServer()); }, "first [last] [TYPE=type] [DETAIL=ON]",
     "list availability records"},
    {"SET", "", [] { return ServerExit(SetCreateServerRec(0)); }, "rec KEY=value ...", "change a record"},
    {"CREATE", "", [] { return ServerExit(SetCreateServerRec(1)); }, "rec type KEY=value ...", "create a record"},
    {"INVOKE", "", [] { return ServerExit(INVOKEServer()); }, "file ... [TYPE=type] [KEY=value ...]",
     "update the records from arrived data files"},
    {"SUSPEND", "", [] { return ServerExit(SUSPENDServer()); }, "rec", "suspend a record"},
    {"RELEASE", "", [] { return ServerExit(RELEASEServer()); }, "rec", "make a record active again"},
    {"DELETE", "", [] { return ServerExit(DELETEServer()); }, "rec", "make a record inactive"},
}};

// The one-screen summary of `--help`.
void PrintHelp(int mode) {
  const char *program = mode == kClientMode ? "vkc" : "vks";
  std::printf("usage: %s COMMAND [argument ...] [KEY=value ...]\n\n", program);
  for (const Command &c : CommandsFor(mode)) {
    std::string spelling(c.word);
    if (!c.short_form.empty()) spelling += " | " + std::string(c.short_form);
    std::string with_arguments = spelling + (c.arguments.empty() ? "" : " " + std::string(c.arguments));
    std::printf("  %-44s %.*s\n", with_arguments.c_str(), static_cast<int>(c.summary.size()), c.summary.data());
  }
  std::printf("\n%s --help (or -h) prints this; see %s(1).\n", program, program);
}

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
  const std::string_view typed = word;
  if (typed == "--help" || typed == "-h") {
    driver_table::PrintHelp(*Mode);
    return 0;
  }
  const driver_table::Command *command =
      driver_table::FindCommand(driver_table::CommandsFor(*Mode), word);
  if (!command) {
    std::printf(*Mode == kClientMode ? "Invalid VKC command: %s\n" : "Invalid VKS command: %s\n", word);
    std::fflush(stdout);
    std::fputs(*Mode == kClientMode ? "Try 'vkc --help'.\n" : "Try 'vks --help'.\n", stderr);
    return 2;
  }
  // The client's verbose level, read (or its file created) only for a
  // command that runs.
  if (*Mode == kClientMode && LoadVerboseLevel() != kClientOk) return 1;
  int status = command->run();
  // A terminating signal that stopped a host command ends the run as the
  // signal would have: 128 + its number.
  if (int sig = posix::TerminationSignal(); sig != 0) return 128 + sig;
  // An argument that was not a number (usage) or a value out of its range
  // (refused) has been diagnosed by the runtime: the run ends no better.
  return std::max(status, TvArgumentStatus());
}
