// Fuzz target: the kit's tables as an operator or another machine may have
// written them — a machine's dataset registry, the route table and the
// address map.  Whatever they hold, a dataset found lies inside its
// machine's data directory: its item files never climb out of it.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "tvkit/tvkit.h"

namespace {

std::string g_home;

void Put(const std::string &path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
}

// The next part of the input, up to a zero byte.
std::string_view Part(std::string_view &rest) {
  std::size_t end = rest.find('\0');
  std::string_view part = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return part;
}

bool Climbs(const std::string &path) {
  return !path.empty() && (path.front() == '/' || path == ".." || path.rfind("../", 0) == 0 ||
                           path.find("/../") != std::string::npos ||
                           (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char dir[] = "/tmp/kit-tables-fuzz-XXXXXX";
  if (!mkdtemp(dir)) std::abort();
  g_home = dir;
  setenv("HOME", dir, 1);
  ::mkdir((g_home + "/tavrin").c_str(), 0755);
  ::mkdir((g_home + "/tavrin/data").c_str(), 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char *>(data), size);
  std::string_view group = Part(rest), name = Part(rest);
  Put(g_home + "/tavrin/data/TVTABLE.TXT", Part(rest));
  // The address map names this home as the only machine there is.
  std::string machines(Part(rest));
  Put(g_home + "/tavrin/data/MACHINES.TXT", machines.substr(0, machines.find('=') + 1) + g_home + "\n");
  Put(g_home + "/tavrin/data/DATASETS.TXT", rest);

  tvkit::Machine machine;
  tvkit::Dataset dataset;
  std::string why;
  if (group.find('\0') != std::string_view::npos || !tvkit::MachineOf(group, machine, why)) return 0;
  if (!machine.ftp_url.empty()) std::abort();
  if (!tvkit::FindDataset(machine, name, dataset, why)) return 0;
  if (!tvkit::SafeName(dataset.name) || Climbs(dataset.where)) std::abort();
  for (int position : {-1, 0, 1, 2, 9999, 10000})
    if (Climbs(tvkit::ItemFile(dataset, position))) std::abort();
  return 0;
}
