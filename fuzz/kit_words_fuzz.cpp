// Fuzz target: the kit's readers of command-line words, whole numbers and
// dataset items, as an operator or a script may type them.  Whatever a word
// holds, each reader ends with one of the three statuses, leaves its
// outputs alone unless it takes the word, and a word taken reads back as
// what was typed.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tvkit/tvkit.h"

namespace {

bool OneOfTheStatuses(int rc) { return rc == tvkit::kDone || rc == tvkit::kCouldNot || rc == tvkit::kUsage; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view word(reinterpret_cast<const char *>(data), size);

  int value = -7;
  int rc = tvkit::ReadWhole(word, 1, 9999, value);
  if (!OneOfTheStatuses(rc) || (rc != tvkit::kDone && value != -7)) std::abort();
  if (rc == tvkit::kDone) {
    int typed = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), typed);
    if (ec != std::errc() || end != word.data() + word.size() || typed != value || value < 1 || value > 9999)
      std::abort();
  }

  std::string name = "untouched";
  int position = -7;
  rc = tvkit::ReadItem(word, true, name, position);
  if (!OneOfTheStatuses(rc)) std::abort();
  if (rc == tvkit::kDone) {
    // GROUP/DESCRIPTOR, then nothing, ".ALL" or "." and the position.
    const std::string tail = position == 0 ? "" : position == -1 ? ".ALL" : "." + std::to_string(position);
    if (name.find('/') == std::string::npos || name.front() == '/' || position < -1 ||
        word.substr(0, name.size()) != name || (position <= 0 && word.substr(name.size()) != tail))
      std::abort();
  }
  return 0;
}
