// The command runner: the one way the client runs a host command.

#include <cstdio>
#include <string>

#include "Logfile/Logfile.h"
#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"

int Exec(const char *Cmd) {
  // A terminating signal has arrived: the run is ending, and nothing
  // further runs (nor is logged as run).
  if (posix::TerminationSignal() != 0) return kTvKeyinFailed;
  // A control character would change the command's shape (a line feed
  // ends it for the host's command processor): such a line never runs.
  if (Cmd && HasControlCharacter(Cmd)) {
    Tveprintf("Exec: command not run, it holds a control character: %s\n", Visible(Cmd).c_str());
    return kTvKeyinFailed;
  }
  int rc = Tvskeyin(Cmd);
  if (verbose > 1) std::printf("%s\n", Cmd);
  LogCommandLine(Cmd ? Cmd : "");
  return rc;
}

void LogCommandLine(std::string_view command) {
  // Every command is logged, whatever its result.  A command longer than a
  // log comment holds is logged cut, with "..." marking the cut.
  std::string comment(command);
  constexpr std::size_t kRoom = sizeof(RECORD_TYPE::Comment) - 1;
  if (comment.size() > kRoom) comment = comment.substr(0, kRoom - 3) + "...";
  LogEntry("Exec", comment.c_str());
}

void LogEntry(const char *Function, const char *Comment) {
  static bool reported = false;  // a failing log is reported once per run
  LogWriteNote note;
  if (AppendLogEntry(kClientLogFile, kClientProgramName, Function, kLogStatusInfo, Comment, note) != 0 &&
      !reported) {
    reported = true;
    Tveprintf("%s: log entry not written: %s\n", kClientLogFile, posix::ErrorText(note.error).c_str());
  }
  if (!note.damage.empty())
    Tveprintf("%s was damaged (%s); it is kept as %s and a new log is started.\n", kClientLogFile,
              note.damage.c_str(), note.set_aside_as.c_str());
}
