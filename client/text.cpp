// Plain words, transfer names and shell quoting (client/text.h).

#include "client/text.h"

namespace client_internal {

bool IsPlainWord(std::string_view text, std::size_t room) {
  if (text.empty() || text.size() > room) return false;
  for (char c : text) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
              c == '.';
    if (!ok) return false;
  }
  return true;
}

bool IsSafeTransferName(std::string_view name) { return name.empty() || (name[0] != '|' && name[0] != '!'); }

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace client_internal
