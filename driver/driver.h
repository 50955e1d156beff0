// Command entry and dispatch, shared by both programs.
//
// Each run performs one command: main makes standard output line-buffered,
// calls Tvinit, (client only) loads the verbose level, and calls driver with
// its mode, 1 for the client `vkc`, 2 for the server `vks`.  driver fetches
// the command word (positional argument 1) and calls one handler, which
// fetches its own arguments from the host runtime; what the handler returns
// becomes the program's exit status.
//
// To add a command:
//   1. declare its handler in client/client.h or server/server.h and build it
//      in that module (handlers take no arguments and return their module's
//      status codes);
//   2. add a row {word, short form, handler, arguments, summary} to
//      kClientCommands or kServerCommands in driver/commands.cpp (the tables
//      are searched in order; the short form "" means none), wrapping the
//      handler so that it returns the exit status (ClientExit / ServerExit);
//      the arguments and the one-line summary are what --help shows;
//   3. the table test checks the documented word list of each program, so
//      add the word to its expectations; the other table tests walk the
//      tables themselves.
//
// This is the only place that includes both client/client.h and
// server/server.h.

#ifndef VARNEK_DRIVER_DRIVER_H
#define VARNEK_DRIVER_DRIVER_H

#include <span>
#include <string_view>

inline constexpr int kClientMode = 1;
inline constexpr int kServerMode = 2;

inline constexpr const char *kBanner = "VARNEK-II - Workstation (Version 1.1) ...";

// Parameter type of driver: a mode passed by address.
using Integer = int *;

// Fetches the command word and calls its handler (the client's verbose
// level is loaded first); returns the exit status of the run: 0 the command
// did what was asked, 1 it could not, 2 a usage error, 128 + a signal that
// stopped it.  "--help" or "-h" prints the command summary and gives 0.  A
// word that is not in the mode's table prints "Invalid VKC command: %s\n"
// (client) or "Invalid VKS command: %s\n" (server), then "Try 'vkc
// --help'." on the error stream, and gives 2.  Any mode but 1 or 2 does
// nothing and gives 0.
[[nodiscard]] int driver(Integer Mode);

namespace driver_table {

struct Command {
  std::string_view word;        // full word, upper case, matched exactly
  std::string_view short_form;  // the one short form, "" for none
  int (*run)();                 // the handler; returns the exit status
  std::string_view arguments;   // its arguments, for --help
  std::string_view summary;     // what it does, one line, for --help
};

// The command table of a mode (empty for an unknown mode).
std::span<const Command> CommandsFor(int mode);

// The row whose word or short form equals `word` exactly, or null.
const Command *FindCommand(std::span<const Command> table, std::string_view word);

}  // namespace driver_table

#endif  // VARNEK_DRIVER_DRIVER_H
