// Fuzz target: an ftp server's name listing (NLST), as any
// server may send it.  Whatever it holds, every file read from it has a
// name of one line and a modification time of 14 digits or none.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tvkit/tvkit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  std::vector<tvkit::ListedFile> files;
  tvkit::ParseListing(text, files);
  for (const tvkit::ListedFile &f : files) {
    if (f.name.empty() || f.name.find('\n') != std::string::npos) std::abort();
    if (!f.modified.empty() && (f.modified.size() != 14 || f.modified.find_first_not_of("0123456789") != std::string::npos))
      std::abort();
  }
  return 0;
}
