// `tvkit <what> ...`: sample data files, written whole, for a server machine.
// Exit status kDone, kUsage for a line that is not one of the four forms,
// kCouldNot for a value the kind refuses or a file that cannot be written.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "tvkit/tvkit.h"
#include "vocab/field_reader.h"

namespace tvkit {

int Sample(int argc, char **argv) {
  std::string what = argc > 0 ? argv[0] : "";
  // An AREA image is visible unless its last word says IR (VIS says so
  // too); any other last word is no line of the command.
  kit::AreaBand band = kit::AreaBand::kVisible;
  bool band_ok = true;
  if (what == "AREA" && argc == 9) {
    const std::string word = argv[8];
    band_ok = word == "VIS" || word == "IR";
    band = word == "IR" ? kit::AreaBand::kInfrared : kit::AreaBand::kVisible;
    argc = band_ok ? 8 : -1;
  }
  // The words of each kind: t text, i whole number, d decimal number; a
  // number with anything after it makes the usage.
  const std::string kinds = what == "AREA" ? "ttiidiii" : what == "MD" ? "ttiii" : what == "GRID" ? "tttiii"
                            : what == "TEXT" ? "tttii" : "";
  std::vector<long> whole(static_cast<std::size_t>(argc > 0 ? argc : 0));
  double decimal = 0;
  // A word that is no number is a usage error; a number past eight digits
  // is a value no file takes.
  int status = band_ok && argc > 0 && static_cast<std::size_t>(argc) == kinds.size() ? kDone : kUsage;
  constexpr field::NumberForm kWhole{true, field::Sign::kEither, 0, 0};  // as strtol reads it
  for (int i = 1; status == kDone && i < argc; ++i) {
    field::Read read = field::Read::kOk;
    if (kinds[i] == 'i') read = field::WholeNumber(argv[i], kWhole, -99999999L, 99999999L, whole[i]);
    else if (kinds[i] == 'd') read = field::WholeDecimal(argv[i], decimal);
    else continue;
    if (read == field::Read::kNoNumber || read == field::Read::kTrailing) status = kUsage;
    else if (read == field::Read::kRange) status = kCouldNot;
  }
  if (status != kDone) argc = -1;
  auto n = [&](int i) { return static_cast<int>(whole[i]); };
  auto d = [&](int) { return decimal; };
  std::string error;
  bool ok = false;
  if (what == "AREA" && argc == 8)
    ok = kit::WriteAreaFile(argv[1], n(2), n(3), d(4), n(5), n(6), n(7), error, band);
  else if (what == "MD" && argc == 5)
    ok = kit::WriteMdFile(argv[1], n(2), n(3), n(4), error);
  else if (what == "GRID" && argc == 6)
    ok = kit::WriteGridFile(argv[1], argv[2], n(3), n(4), n(5), error);
  else if (what == "TEXT" && argc == 5)
    ok = kit::WriteTextProduct(argv[1], argv[2], n(3), n(4), error);
  else
    error = "usage: tvkit AREA path date time sub-longitude lines elements resolution [VIS|IR] | MD path date rows columns | "
            "GRID path source run-hour forecast-hour date | TEXT path title date time";
  if (ok) return kDone;
  std::fprintf(stderr, "tvkit: %s\n", error.c_str());
  return status != kDone ? status : kCouldNot;  // the kind's writer refused a value, or the file
}

}  // namespace tvkit
