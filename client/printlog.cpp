// PRINTLOG: the operations log copied to a text file named as the command
// was typed (PRINTLOG or PL).

#include <cstdio>
#include <string>

#include "Logfile/Logfile.h"
#include "client/client.h"
#include "host/host.h"

int PrintLogfile() {
  const char *textfile = "";
  (void)Tvcmdstr(" ", 1, "", &textfile);
  LOGFILE_TYPE log;
  std::string why;
  if (Open_Logfile_Explained(&log, kClientLogFile, why) != 0) {
    if (verbose) std::printf("Unable to open log file ...\n");
    Tveprintf("%s: %s\n", kClientLogFile, why.c_str());
    return kClientFailed;
  }
  int rc = Copy_Logfile_to_New_Textfile(log, textfile);
  (void)Logfile_Close(&log);
  return rc == 0 ? kClientOk : kClientFailed;
}
