// PRINTLOG: the operations log copied to a text file named as the command
// was typed (PRINTLOG or PL).

#include <cstdio>

#include "Logfile/Logfile.h"
#include "client/client.h"
#include "host/host.h"

int PrintLogfile() {
  const char *textfile = "";
  (void)Tvcmdstr(" ", 1, "", &textfile);
  LOGFILE_TYPE log;
  if (Open_Logfile(&log, kClientLogFile) != 0) {
    if (verbose) std::printf("Unable to open log file ...\n");
    return kClientOk;
  }
  int rc = Copy_Logfile_to_Textfile(log, textfile);
  (void)Logfile_Close(&log);
  return rc == 0 ? kClientOk : kClientFailed;
}
