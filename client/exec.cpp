// The command runner: the one way the client runs a host command.

#include <cstdio>
#include <string>

#include "Logfile/Logfile.h"
#include "client/client.h"
#include "host/host.h"

int Exec(const char *Cmd) {
  int rc = Tvskeyin(Cmd);
  if (verbose > 1) std::printf("%s\n", Cmd);
  // Every command is logged, whatever its result.  A command longer than a
  // log comment holds is logged cut, with "..." marking the cut.
  std::string comment = Cmd ? Cmd : "";
  constexpr std::size_t kRoom = sizeof(RECORD_TYPE::Comment) - 1;
  if (comment.size() > kRoom) comment = comment.substr(0, kRoom - 3) + "...";
  (void)logwriter_(kClientLogFile, kClientProgramName, "Exec", kLogStatusInfo, comment.c_str());
  return rc;
}
