// Both command tables by mode, and driver(): for what looks at both
// programs' commands (the tests, the manual pages' check).  The programs
// link only their own table (RunClient, RunServer).

#include "driver/driver.h"

namespace driver_table {

std::span<const Command> CommandsFor(int mode) {
  if (mode == kClientMode) return ClientCommands();
  if (mode == kServerMode) return ServerCommands();
  return {};
}

}  // namespace driver_table

int driver(Integer Mode) {
  if (!Mode) return 0;
  if (*Mode == kClientMode) return driver_table::RunClient();
  if (*Mode == kServerMode) return driver_table::RunServer();
  return 0;
}
