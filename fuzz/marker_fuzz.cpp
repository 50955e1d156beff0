// Fuzz target: the text of a marker file (VKCPid, VKBackGround), which any
// process that may write the working directory can fill.  The reader
// accepts only whole digits in its exact shape, so an accepted text holds
// nothing but digits, single blanks and one final line feed, and every
// value it gives is a number of at least 0.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  for (int count = 1; count <= 2; ++count) {
    std::int64_t values[2] = {-1, -1};
    if (!client_internal::ParseMarker(text, values, count)) continue;
    for (int i = 0; i < count; ++i)
      if (values[i] < 0) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      bool digit = c >= '0' && c <= '9';
      if (!digit && c != ' ' && !(c == '\n' && i + 1 == text.size())) std::abort();
    }
  }
  if (client_internal::PidOf(text) < 0) std::abort();
  return 0;
}
