// Command entry and dispatch, shared by both programs.
//
// Each run performs one command: main makes standard output line-buffered,
// calls Tvinit and then its program's entry, RunClient for the client `vkc`
// (mode 1), RunServer for the server `vks` (mode 2).  The entry fetches the
// command word (positional argument 1) and calls one handler, which fetches
// its own arguments from the host runtime; what the handler returns becomes
// the program's exit status.
//
// Each table lives in a library of its own (client_driver with
// client_commands.cpp, server_driver with server_commands.cpp, both over the
// dispatch), so `vks` never links the client's commands nor `vkc` the
// server's.  The library `driver` adds CommandsFor and driver(), which
// reach both tables, for what looks at both programs' commands.
//
// To add a command:
//   1. declare its handler in client/client.h or server/server.h and build it
//      in that module (handlers take no arguments and return their module's
//      status codes);
//   2. add a row {word, short form, handler, arguments, summary} to
//      kClientCommands in driver/client_commands.cpp or kServerCommands in
//      driver/server_commands.cpp (the tables
//      are searched in order; the short form "" means none), wrapping the
//      handler so that it returns the exit status (ClientExit / ServerExit);
//      the arguments and the one-line summary are what --help shows;
//   3. the table test checks the documented word list of each program, so
//      add the word to its expectations; the other table tests walk the
//      tables themselves.
//
// The driver is the only place that includes client/client.h and
// server/server.h (each in its own table's file).

#ifndef VARNEK_DRIVER_DRIVER_H
#define VARNEK_DRIVER_DRIVER_H

#include <span>
#include <string_view>

inline constexpr int kClientMode = 1;
inline constexpr int kServerMode = 2;

inline constexpr const char *kBanner = "VARNEK-II - Workstation (Version 1.1) ...";

// Parameter type of driver: a mode passed by address.
using Integer = int *;

// RunClient for mode 1, RunServer for mode 2; any other mode does nothing
// and gives 0.  (Library `driver`, which links both tables.)
[[nodiscard]] int driver(Integer Mode);

namespace driver_table {

struct Command {
  std::string_view word;        // full word, upper case, matched exactly
  std::string_view short_form;  // the one short form, "" for none
  int (*run)();                 // the handler; returns the exit status
  std::string_view arguments;   // its arguments, for --help
  std::string_view summary;     // what it does, one line, for --help
};

// The command table of a mode (empty for an unknown mode).  (Library
// `driver`.)
std::span<const Command> CommandsFor(int mode);

// Each program's table alone (libraries client_driver, server_driver).
std::span<const Command> ClientCommands();
std::span<const Command> ServerCommands();

// The row whose word or short form equals `word` exactly, or null.
const Command *FindCommand(std::span<const Command> table, std::string_view word);

// Fetches the command word and calls its handler from `table`, after
// `prepare` (when given; a non-zero result ends the run with it, the
// handler not called); returns the exit status of the run: 0 the command
// did what was asked, 1 it could not, 2 a usage error, 128 + a signal that
// stopped it.  "--help" or "-h" prints the command summary and gives 0.  A
// word that is not in the table prints "Invalid VKC command: %s\n" (mode 1)
// or "Invalid VKS command: %s\n" (mode 2), then "Try 'vkc --help'." (or
// 'vks --help') on the error stream, and gives 2.
[[nodiscard]] int Dispatch(int mode, std::span<const Command> table, int (*prepare)());

// The entries of the two programs: Dispatch through the client's table
// (the verbose level loaded, or its file created, only for a command that
// runs) and through the server's.
[[nodiscard]] int RunClient();
[[nodiscard]] int RunServer();

}  // namespace driver_table

#endif  // VARNEK_DRIVER_DRIVER_H
