// `tvkit <what> ...`: sample data files, written whole, for a server machine.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/kit.h"
#include "tvkit/tvkit.h"

namespace tvkit {

int Sample(int argc, char **argv) {
  std::string what = argc > 0 ? argv[0] : "";
  // Every number whole, with nothing after it; a bad one makes the usage.
  bool numbers = true;
  auto n = [&](int i) {
    char *end = nullptr;
    long v = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end || v < -99999999 || v > 99999999) numbers = false;
    return static_cast<int>(v);
  };
  auto d = [&](int i) {
    char *end = nullptr;
    double v = std::strtod(argv[i], &end);
    if (end == argv[i] || *end) numbers = false;
    return v;
  };
  std::string error;
  bool ok = false;
  const int counts[] = {what == "AREA" ? 8 : what == "MD" ? 5 : what == "GRID" ? 6 : what == "TEXT" ? 5 : -1};
  if (counts[0] == argc) {
    for (int i = 2; i < argc; ++i) {
      if (what == "AREA" && i == 4) (void)d(i);
      else if (!(what == "GRID" && i == 2) && !(what == "TEXT" && i == 2)) (void)n(i);
    }
  }
  if (!numbers) argc = -1;
  if (what == "AREA" && argc == 8)
    ok = kit::WriteAreaFile(argv[1], n(2), n(3), d(4), n(5), n(6), n(7), error);
  else if (what == "MD" && argc == 5)
    ok = kit::WriteMdFile(argv[1], n(2), n(3), n(4), error);
  else if (what == "GRID" && argc == 6)
    ok = kit::WriteGridFile(argv[1], argv[2], n(3), n(4), n(5), error);
  else if (what == "TEXT" && argc == 5)
    ok = kit::WriteTextProduct(argv[1], argv[2], n(3), n(4), error);
  else
    error = "usage: tvkit AREA path date time sub-longitude lines elements resolution | MD path date rows columns | "
            "GRID path source run-hour forecast-hour date | TEXT path title date time";
  if (!ok) std::fprintf(stderr, "tvkit: %s\n", error.c_str());
  return ok ? 0 : 1;
}

}  // namespace tvkit
