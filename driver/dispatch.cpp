// Dispatch of the command word through a program's command table.

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "host/host.h"
#include "posix/posix.h"

namespace driver_table {
namespace {

// The one-screen summary of `--help`.
void PrintHelp(int mode, std::span<const Command> table) {
  const char *program = mode == kClientMode ? "vkc" : "vks";
  std::printf("usage: %s COMMAND [argument ...] [KEY=value ...]\n\n", program);
  for (const Command &c : table) {
    std::string spelling(c.word);
    if (!c.short_form.empty()) spelling += " | " + std::string(c.short_form);
    std::string with_arguments = spelling + (c.arguments.empty() ? "" : " " + std::string(c.arguments));
    std::printf("  %-44s %.*s\n", with_arguments.c_str(), static_cast<int>(c.summary.size()), c.summary.data());
  }
  std::printf("\n%s --help (or -h) prints this; see %s(1).\n", program, program);
}

}  // namespace

const Command *FindCommand(std::span<const Command> table, std::string_view word) {
  for (const Command &c : table)
    if (c.word == word || (!c.short_form.empty() && c.short_form == word)) return &c;
  return nullptr;
}

int Dispatch(int mode, std::span<const Command> table, int (*prepare)()) {
  const char *word = "NONE";
  (void)Tvcmdstr(" ", 1, "NONE", &word);
  const std::string_view typed = word;
  if (typed == "--help" || typed == "-h") {
    PrintHelp(mode, table);
    return 0;
  }
  const Command *command = FindCommand(table, word);
  if (!command) {
    std::printf(mode == kClientMode ? "Invalid VKC command: %s\n" : "Invalid VKS command: %s\n", word);
    std::fflush(stdout);
    std::fputs(mode == kClientMode ? "Try 'vkc --help'.\n" : "Try 'vks --help'.\n", stderr);
    return 2;
  }
  if (prepare)
    if (int status = prepare(); status != 0) return status;
  int status = command->run();
  // A terminating signal that stopped a host command ends the run as the
  // signal would have: 128 + its number.
  if (int sig = posix::TerminationSignal(); sig != 0) return 128 + sig;
  // An argument that was not a number (usage) or a value out of its range
  // (refused) has been diagnosed by the runtime: the run ends no better.
  return std::max(status, TvArgumentStatus());
}

}  // namespace driver_table
