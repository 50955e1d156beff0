// Fuzz target for both command-line parsers and the fetchers behind them.
//
// The first byte chooses the parser: even, the argv rules (the rest is split
// at NUL bytes into elements); odd, the one-string rules of a host start.
// Every fetcher is then run over the store that came out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/internal.h"

namespace {

void Silence() {
  for (auto &stream : tv::Session().streams) stream.line_mode = 0;
}

void Exercise() {
  static const char *const kKeywords[] = {" ", "TYPE", "DEV.ICE", "MAG", "\"", "QUOTE", "S*", "X.YZ", ""};
  for (const char *keyword : kKeywords) {
    (void)Tvcmdnum(keyword);
    for (int position = 0; position < 4; ++position) {
      const char *s = nullptr;
      (void)Tvcmdstr(keyword, position, "NONE", &s);
      int i = 0;
      (void)Tvcmdint(keyword, position, "Integer Value", 1, 0, 2, &i);
      (void)Tvcmdint(keyword, position, "", 1, 1, 0, &i);
      double d = 0;
      (void)Tvcmddll(keyword, position, "Floating Point Value", &d, 40.0, 1, 0);
      (void)Tvcmddll(keyword, position, "", &d, 40.0, -90, 90);
    }
  }
  static const char *const kList[] = {"RANGE", "MACH", "NAME", "SOURCE", "SATE", "RES",
                                      "SCAN",  "EOF",  "STATUS", "FNAME", "FPATH", "GROUP"};
  (void)Tvcmdkey(12, kList);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Silence();
  tv::SetProgramName("vks");
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::vector<std::string> elements;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
      if (i == rest.size() || rest[i] == '\0') {
        elements.push_back(rest.substr(start, i - start));
        start = i + 1;
      }
    }
    std::vector<const char *> argv;
    for (const auto &e : elements) argv.push_back(e.c_str());
    tv::SetCommandArgv(static_cast<int>(argv.size()), argv.data());
  } else {
    if (rest.find('\0') != std::string::npos) rest.resize(rest.find('\0'));
    if (tv::SetCommandString(nullptr, rest.c_str()) != 0) return 0;
    // What a batch request would rebuild must parse back the same way.
    tv::ArgStore again;
    std::string joined = tv::JoinCommand(*tv::CurrentStore(), "RUN", "FILE=X");
    if (tv::ParseString(joined, again) != 0) __builtin_trap();
  }
  Exercise();
  return 0;
}
