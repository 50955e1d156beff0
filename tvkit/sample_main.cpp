// `tvkit <what> ...`: sample data files, written whole, for a server machine.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "tvkit/tvkit.h"

namespace tvkit {

int Sample(int argc, char **argv) {
  std::string what = argc > 0 ? argv[0] : "";
  // The words of each kind: t text, i whole number, d decimal number; a
  // number with anything after it makes the usage.
  const std::string kinds = what == "AREA" ? "ttiidiii" : what == "MD" ? "ttiii" : what == "GRID" ? "tttiii"
                            : what == "TEXT" ? "tttii" : "";
  std::vector<long> whole(static_cast<std::size_t>(argc > 0 ? argc : 0));
  double decimal = 0;
  bool good = argc > 0 && static_cast<std::size_t>(argc) == kinds.size();
  for (int i = 1; good && i < argc; ++i) {
    char *end = nullptr;
    if (kinds[i] == 'i') whole[i] = std::strtol(argv[i], &end, 10);
    else if (kinds[i] == 'd') decimal = std::strtod(argv[i], &end);
    else continue;
    good = end != argv[i] && *end == '\0' && whole[i] >= -99999999 && whole[i] <= 99999999;
  }
  if (!good) argc = -1;
  auto n = [&](int i) { return static_cast<int>(whole[i]); };
  auto d = [&](int) { return decimal; };
  std::string error;
  bool ok = false;
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
