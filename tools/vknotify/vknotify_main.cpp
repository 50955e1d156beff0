// Entry point of vknotify: the command word, then its arguments.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "posix/posix.h"
#include "tools/vknotify/vknotify.h"

int main(int argc, char **argv) {
  if (posix::EnsureStandardDescriptors() != 0) return 1;
  const char *usage = "usage: vknotify announce ITEM... | vknotify listen [-v] DATASET...\n";
  if (argc < 2) return std::fputs(usage, stderr), 2;
  std::vector<std::string> args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "announce") == 0 && !args.empty()) return vknotify::Announce(args);
  if (std::strcmp(argv[1], "listen") == 0) {
    bool verbose = !args.empty() && args[0] == "-v";
    if (verbose) args.erase(args.begin());
    return vknotify::Listen(args, verbose);
  }
  std::fputs(usage, stderr);
  return 2;
}
