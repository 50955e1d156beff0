// Fuzz target: what a server or the host hands the cycle as text — a
// version-1 availability text and the host's route table.  Every image
// read must hold only plain words that fit their fields; every route a
// group and an address of at most 19 characters.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "client/client.h"
#include "client/internal.h"

namespace {

bool Plain(const char *text, std::size_t size) {
  std::size_t length = strnlen(text, size);
  return length < size && client_internal::IsPlainWord(std::string_view(text, length), size - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  verbose = 0;
  std::string_view text(reinterpret_cast<const char *>(data), size);
  client_internal::ReadV1Images(text, [](const CompareRec &image) {
    if (!Plain(image.Group, sizeof image.Group) || !Plain(image.Descriptor, sizeof image.Descriptor) ||
        !Plain(image.Satellite, sizeof image.Satellite))
      std::abort();
  });
  RouteTable routes;
  ParseRouteTable(text, routes);
  for (const auto &[group, address] : routes.routes) {
    if (address.size() > 19 || address.find('\n') != std::string::npos || group.find('=') != std::string::npos)
      std::abort();
    if (routes.Lookup(group) != routes.routes.front().second && routes.Lookup(group).size() > 19) std::abort();
  }
  return 0;
}
