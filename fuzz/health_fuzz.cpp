// Fuzz target: the health file as the tool reads it.  Whatever it holds,
// the reader either refuses it with a reason or accepts it; a file it
// accepts is written back by the writer to a text the reader accepts again
// and that reads back to the same text (nothing is lost or changed on the
// way through).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/health.h"

using namespace health;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  HealthFile file;
  std::string why;
  if (ParseHealth(text, file, why) != kHealthOk) {
    if (why.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  std::string again = FormatHealth(file);
  HealthFile second;
  if (ParseHealth(again, second, why) != kHealthOk) std::abort();
  if (FormatHealth(second) != again) std::abort();
  return 0;
}
