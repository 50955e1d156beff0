// `tvkit <what> ...`: sample data files, written whole, for a server machine.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/kit.h"
#include "tvkit/tvkit.h"

namespace tvkit {

int Sample(int argc, char **argv) {
  std::string what = argc > 0 ? argv[0] : "";
  auto n = [&](int i) { return std::atoi(argv[i]); };
  std::string error;
  bool ok = false;
  if (what == "AREA" && argc == 8)
    ok = kit::WriteAreaFile(argv[1], n(2), n(3), std::strtod(argv[4], nullptr), n(5), n(6), n(7), error);
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
