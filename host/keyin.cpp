// Tvskeyin: running a host command line.  The command's first word names
// the program file (lower case, ".k" appended, found on PATH); batch
// requests (a leading single quote, or a word with no program but a
// "<word>.TVB" batch file) run through the host program RUN.

#include <cctype>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Runs a batch request: `text` is parsed by the one-string rules and run as
// "RUN <values> <keywords> FILE=<first word>".
int RunBatch(std::string_view text) {
  tv::ArgStore store;
  if (tv::ParseString(text, store) != 0) return kTvKeyinNotFound;
  const std::string &first = store.entries[0].values[0];
  std::string command = first.empty() ? tv::JoinCommand(store, "RUN", "")
                                      : tv::JoinCommand(store, "RUN", "FILE=" + first);
  std::string run = tv::FindOnPath("run.k");
  if (run.empty()) return kTvKeyinNotFound;
  return tv::RunHostProgram(run, command);
}

}  // namespace

int Tvskeyin(const char *command) {
  if (!command) return kTvKeyinNotFound;
  std::string text = command;

  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  std::size_t end = start;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  if (end - start == 1 && text[start] == '/') {
    text.replace(start, 1, "KILL");
    end = start + 4;
  }

  if (!text.empty() && text[0] == '\'') return RunBatch(std::string_view(text).substr(1));

  std::string program = text.substr(start, end - start);
  for (char &c : program) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!program.empty()) {
    std::string path = tv::FindOnPath(program + ".k");
    if (!path.empty()) return tv::RunHostProgram(path, text);
  }

  // No program: a batch file of that name may stand in for it.
  tv::ArgStore store;
  if (tv::ParseString(text, store) != 0) return kTvKeyinNotFound;
  const std::string &first = store.entries[0].values[0];
  if (!first.empty() && tv::FindHostFile(first + ".TVB").empty()) return kTvKeyinNotFound;
  return RunBatch(text);
}
