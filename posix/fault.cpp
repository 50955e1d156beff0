// The fault seam: injected failures for the next calls of a kind of
// operation.  Compiled in only when VARNEK_FAULT_SEAM is defined.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "posix/posix.h"

namespace posix {

#ifdef VARNEK_FAULT_SEAM
namespace {

struct Fault {
  int skip = 0;   // calls that still pass before the failures
  int count = 0;  // failures still to come
  int error = EIO;
};

Fault g_faults[static_cast<int>(Op::kCount)];
bool g_environment_read = false;

constexpr const char *kOpNames[] = {"create", "open", "read", "write", "sync", "lock", "rename", "fork", "openw"};
static_assert(sizeof kOpNames / sizeof kOpNames[0] == static_cast<int>(Op::kCount));

struct ErrorName {
  const char *name;
  int value;
};
constexpr ErrorName kErrorNames[] = {{"EIO", EIO},         {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
                                     {"EPERM", EPERM},     {"EAGAIN", EAGAIN}, {"ENOLCK", ENOLCK},
                                     {"EDEADLK", EDEADLK}, {"EROFS", EROFS},   {"EMFILE", EMFILE},
                                     {"EDQUOT", EDQUOT},   {"ENOMEM", ENOMEM}, {"ENOENT", ENOENT}};

int DefaultError(Op op) { return op == Op::kLock ? ENOLCK : EIO; }

bool ParseNumber(std::string_view text, int &value) {
  if (text.empty() || text.size() > 6) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// One entry "<kind>[/<skip>]:<count>[:<errno name>]"; malformed entries
// are ignored.
void ParseEntry(std::string_view entry) {
  std::size_t colon = entry.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view head = entry.substr(0, colon), rest = entry.substr(colon + 1);
  int skip = 0;
  if (std::size_t slash = head.find('/'); slash != std::string_view::npos) {
    if (!ParseNumber(head.substr(slash + 1), skip)) return;
    head = head.substr(0, slash);
  }
  std::string_view count_text = rest, error_text;
  if (std::size_t c2 = rest.find(':'); c2 != std::string_view::npos) {
    count_text = rest.substr(0, c2);
    error_text = rest.substr(c2 + 1);
  }
  int count = 0;
  if (!ParseNumber(count_text, count)) return;
  for (int op = 0; op < static_cast<int>(Op::kCount); ++op) {
    if (head != kOpNames[op]) continue;
    int error = DefaultError(static_cast<Op>(op));
    if (!error_text.empty()) {
      bool known = false;
      for (const ErrorName &e : kErrorNames)
        if (error_text == e.name) error = e.value, known = true;
      if (!known) return;
    }
    g_faults[op] = {skip, count, error};
  }
}

void ReadEnvironment() {
  g_environment_read = true;
  const char *text = std::getenv("VARNEK_FAULTS");
  if (!text) return;
  std::string_view list(text);
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    ParseEntry(list.substr(0, comma));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

void InjectFault(Op op, int count, int error, int skip) {
  if (!g_environment_read) ReadEnvironment();
  g_faults[static_cast<int>(op)] = {skip, count, error};
}

void ClearFaults() {
  g_environment_read = true;
  for (Fault &f : g_faults) f = Fault{};
}

bool Fails(Op op) {
  if (!g_environment_read) ReadEnvironment();
  Fault &f = g_faults[static_cast<int>(op)];
  if (f.count <= 0) return false;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  --f.count;
  errno = f.error;
  return true;
}

int WaitLimitMs(int normal) {
  const char *text = std::getenv("VARNEK_WAIT_MS");
  int limit = 0;
  return text && ParseNumber(text, limit) && limit < normal ? limit : normal;
}

#else

int WaitLimitMs(int normal) { return normal; }
void InjectFault(Op, int, int, int) {}
void ClearFaults() {}
bool Fails(Op) { return false; }

#endif

}  // namespace posix
