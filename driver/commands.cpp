// The two command tables and the driver that dispatches the command word.

#include <array>
#include <cstdio>

#include "client/client.h"
#include "driver/driver.h"
#include "host/host.h"
#include "server/server.h"

namespace driver_table {
namespace {

void PrintBanner() { std::printf("%s\n", kBanner); }

// Client command set, searched in this order.
constexpr std::array<Command, 23> kClientCommands = {{
    {"INSTALL", "", InstallClient},
    {"UNINSTALL", "", UnInstallClient},
    {"VERBOSE", "", SetVerboseLevel},
    {"VERSION", "V", PrintBanner},
    {"SET", "S", [] { SetClientRec(2); }},
    {"CREATE", "C", [] { SetClientRec(1); }},
    {"DELETE", "", [] { SetClientRec(3); }},
    {"LIST", "L", [] { ListClientFile(0, 0, 0, UNKNOWN); }},
    {"REPORT", "RP", ReportClientFile},
    {"RESET", "RS", ClientReset},
    {"COMPARE", "CO", ClientCompare},
    {"DATA", "DA", ListData},
    {"LOOP", "LP", ClientLoop},
    {"STOP", "ST", ClientStopLoop},
    {"PRINTLOG", "PL", PrintLogfile},
    {"LOAD", "LD", ClientLoad},
    {"TRANSFER", "T", Transfer},
    {"CYCLE", "CY", Cycle},
    {"LISTSERVERS", "LS", ListServerListFile},
    {"CREATESERVER", "CS", CreateServerListRec},
    {"SETSERVER", "SS", SetServerListRec},
    {"BACKGROUND", "BG", ClientBGJob},
    {"OFF", "O", ClientBGOff},
}};

// Server command set: full words only.  Handler results are not used.
constexpr std::array<Command, 8> kServerCommands = {{
    {"INSTALL", "", initServerFile},
    {"LIST", "", [] { (void)LISTServer(); }},
    {"SET", "", [] { (void)SetCreateServerRec(0); }},
    {"CREATE", "", [] { (void)SetCreateServerRec(1); }},
    {"INVOKE", "", [] { (void)INVOKEServer(); }},
    {"SUSPEND", "", [] { (void)SUSPENDServer(); }},
    {"RELEASE", "", [] { (void)RELEASEServer(); }},
    {"DELETE", "", [] { (void)DELETEServer(); }},
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

void driver(Integer Mode) {
  if (!Mode || (*Mode != kClientMode && *Mode != kServerMode)) return;
  const char *word = "NONE";
  (void)Tvcmdstr(" ", 1, "NONE", &word);
  const driver_table::Command *command =
      driver_table::FindCommand(driver_table::CommandsFor(*Mode), word);
  if (command) {
    command->handler();
    return;
  }
  std::printf(*Mode == kClientMode ? "Invalid VKC command: %s\n" : "Invalid VKS command: %s\n", word);
}
