// Command entry and dispatch, shared by both programs.
//
// Each run performs one command: main makes standard output line-buffered,
// calls Tvinit, (client only) loads the verbose level, and calls driver with
// its mode, 1 for the client `vkc`, 2 for the server `vks`.  driver fetches
// the command word (positional argument 1) and calls one handler, which
// fetches its own arguments from the host runtime.
//
// To add a command:
//   1. declare its handler in client/client.h or server/server.h and build it
//      in that module (handlers take no arguments and return nothing the
//      driver looks at);
//   2. add a row {word, short form, handler} to kClientCommands or
//      kServerCommands in driver/commands.cpp (the tables are searched in
//      order; the short form "" means none);
//   3. the table test walks both tables, so add the word to its expectations.
//
// This header also holds the types that both programs share: the status and
// data-type codes with their word tables, Boolean, and the client's verbose
// level.

#ifndef VARNEK_DRIVER_DRIVER_H
#define VARNEK_DRIVER_DRIVER_H

#include <cstdint>
#include <span>
#include <string_view>

// Record status, stored as a 32-bit integer in every record file.
enum StatusTypes : std::int32_t { Inactive = 0, Active = 1, Suspend = 2 };

// Data type of a record, stored as a 32-bit integer.
enum FileTypes : std::int32_t { UNKNOWN = 0, AREA = 1, MD = 2, GRID = 3, TEXT = 4 };

// Boolean of the records, a 32-bit integer: False = 0, True = 1.
enum Boolean : std::int32_t { False = 0, True = 1 };

// Word tables indexed by the codes above, each closed by "XENDX".
extern const char *const StatusTypesText[4];
extern const char *const FileTypesText[6];

// The client's verbosity, 0 to 2, initially 1: ordinary messages print
// while it is above 0, extra diagnostics and host commands above 1.
extern int verbose;

inline constexpr int kClientMode = 1;
inline constexpr int kServerMode = 2;

// Parameter type of driver: a mode passed by address.
using Integer = int *;

// Fetches the command word and calls its handler.  A word that is not in
// the mode's table prints "Invalid VKC command: %s\n" (client) or
// "Invalid VKS command: %s\n" (server).  Any mode but 1 or 2 does nothing.
void driver(Integer Mode);

// The client command VERBOSE [level].
void SetVerboseLevel();

// The client's start-up step for the verbose-level file "VKCVerboseLevel":
// reads the level when the file exists, creates it holding the current
// level otherwise.  Returns 0, or 1 after printing
// "Can't open file %s for read\n" / "Can't open file %s for write\n".
[[nodiscard]] int LoadVerboseLevel();

inline constexpr const char *kVerboseFile = "VKCVerboseLevel";
inline constexpr const char *kBanner = "VARNEK-II - Workstation (Version 1.1) ...";

namespace driver_table {

struct Command {
  std::string_view word;        // full word, upper case, matched exactly
  std::string_view short_form;  // the one short form, "" for none
  void (*handler)();
};

// The command table of a mode (empty for an unknown mode).
std::span<const Command> CommandsFor(int mode);

// The row whose word or short form equals `word` exactly, or null.
const Command *FindCommand(std::span<const Command> table, std::string_view word);

}  // namespace driver_table

#endif  // VARNEK_DRIVER_DRIVER_H
