// The shared word tables, the verbose level and the field copy.

#include "vocab/vocab.h"

#include <cstdio>
#include <cstring>

const char *const StatusTypesText[4] = {"INACTIVE", "ACTIVE", "SUSPEND", "XENDX"};
const char *const FileTypesText[6] = {"UNKNOWN", "AREA", "MD", "GRID", "TEXT", "XENDX"};

int verbose = 1;

int WordIndex(const char *const *list, std::string_view word) {
  for (int i = 0; list[i] && kWordListEnd != list[i]; ++i)
    if (word == list[i]) return i;
  return -1;
}

bool DataTypeFromWord(std::string_view word, FileTypes &type) {
  int index = WordIndex(FileTypesText, word);
  if (index < AREA || index > TEXT) return false;
  type = static_cast<FileTypes>(index);
  return true;
}

const char *StatusWord(std::int32_t status) {
  return status >= Inactive && status <= Suspend ? StatusTypesText[status] : "?";
}

const char *TypeWord(std::int32_t type) { return type >= UNKNOWN && type <= TEXT ? FileTypesText[type] : "?"; }

bool CopyField(char *field, std::size_t size, std::string_view value) {
  if (size == 0 || value.size() >= size) return false;
  // memmove: the value may be the field's own text.
  if (!value.empty()) std::memmove(field, value.data(), value.size());
  std::memset(field + value.size(), 0, size - value.size());
  return true;
}

namespace {

bool IsControl(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

}  // namespace

bool HasControlCharacter(std::string_view text) {
  for (char c : text)
    if (IsControl(c)) return true;
  return false;
}

void MaskControlCharacters(char *text) {
  for (; *text; ++text)
    if (IsControl(*text)) *text = '?';
}

std::string Visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (!IsControl(c)) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += hex;
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char c = byte(i);
    std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool good = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; good && k < length; ++k) good = (byte(i + k) & 0xC0) == 0x80;
    // Overlong forms, surrogates and values past U+10FFFF.
    if (good && length == 3) {
      const unsigned char d = byte(i + 1);
      good = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
    } else if (good && length == 4) {
      const unsigned char d = byte(i + 1);
      good = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
    }
    if (good) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}
