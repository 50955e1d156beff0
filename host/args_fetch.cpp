// The fetchers: keyword lookup, Tvcmdstr, Tvcmdint, Tvcmdnum, Tvcmddll and
// the keyword check Tvcmdkey.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

char UpperChar(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

// The value `position` of an entry, or null when absent or the placeholder.
const std::string *ValueAt(const ArgEntry *entry, int position) {
  if (!entry || position < 0) return nullptr;
  auto index = static_cast<std::size_t>(position);
  if (index >= entry->values.size()) return nullptr;
  const std::string &v = entry->values[index];
  bool quote_field = entry->values[0] == kQuoteName;
  if (index > 0 && !quote_field && v == kPlaceholder) return nullptr;
  return &v;
}

constexpr const char *kGlobalKeywords[] = {"DEV.ICE", "FON.T",       "TCO.LOR", "TWI.NDOW",
                                           "VIR.TUAL", "PAN.EL", "TVC.OMPRESS", "TVS.TRETCH"};

std::string EntryText(const ArgEntry &entry) {
  std::string text = entry.values[0] + "=";
  for (std::size_t v = 1; v < entry.values.size(); ++v) {
    if (v > 1) text += ' ';
    text += entry.values[v] == kPlaceholder ? std::string("X") : entry.values[v];
  }
  return text;
}

std::string FormatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

}  // namespace

bool IsBlankKeyword(const char *keyword) {
  return keyword == nullptr || keyword[0] == '\0' || keyword[0] == ' ';
}

bool ParseKeyPattern(std::string_view pattern, KeyPattern &out) {
  out = KeyPattern{};
  if (pattern == kQuoteName) {
    out.min_part = out.full = std::string(kQuoteName);
    return true;
  }
  if (!pattern.empty() && pattern.back() == '*') {
    out.prefix_any = true;
    pattern.remove_suffix(1);
  }
  bool dot_seen = false;
  for (char c : pattern) {
    if (c == '.') {
      if (dot_seen || out.prefix_any) return false;
      dot_seen = true;
      continue;
    }
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    out.full += UpperChar(c);
    if (!dot_seen) out.min_part += UpperChar(c);
  }
  return !out.min_part.empty();
}

bool KeyPatternMatches(const KeyPattern &pattern, std::string_view typed) {
  if (pattern.prefix_any) return StartsWithNoCase(typed, pattern.min_part);
  return typed.size() >= pattern.min_part.size() && typed.size() <= pattern.full.size() &&
         StartsWithNoCase(pattern.full, typed);
}

bool KeyPatternsCollide(const KeyPattern &a, const KeyPattern &b) {
  if (a.prefix_any && b.prefix_any)
    return StartsWithNoCase(a.min_part, b.min_part) || StartsWithNoCase(b.min_part, a.min_part);
  if (a.prefix_any || b.prefix_any) {
    const KeyPattern &star = a.prefix_any ? a : b;
    const KeyPattern &word = a.prefix_any ? b : a;
    // Some accepted spelling of `word` begins with the star's prefix.
    std::size_t need = std::max(word.min_part.size(), star.min_part.size());
    return need <= word.full.size() && StartsWithNoCase(word.full, star.min_part);
  }
  std::size_t common = 0;
  while (common < a.full.size() && common < b.full.size() && a.full[common] == b.full[common])
    ++common;
  std::size_t need = std::max(a.min_part.size(), b.min_part.size());
  return common >= need && need <= std::min(a.full.size(), b.full.size());
}

const ArgEntry *FindEntry(const char *keyword) {
  const ArgStore *store = CurrentStore();
  if (!store || store->entries.empty()) return nullptr;
  if (IsBlankKeyword(keyword)) return &store->entries[0];
  if (std::string_view(keyword) == "QUOTE") keyword = "\"";  // the quote field
  KeyPattern pattern;
  if (!ParseKeyPattern(keyword, pattern)) return nullptr;
  for (std::size_t e = 1; e < store->entries.size(); ++e)
    if (KeyPatternMatches(pattern, store->entries[e].values[0])) return &store->entries[e];
  return nullptr;
}

}  // namespace tv

using tv::FetchProblem;

int Tvcmdstr(const char *keyword, int position, const char *def, const char **value) {
  if (!value || position < 0) return kTvBadCall;
  const std::string *found = tv::ValueAt(tv::FindEntry(keyword), position);
  if (!found) {
    *value = def;
    return 0;
  }
  *value = found->c_str();
  return kTvFromCommandLine;
}

int Tvcmdnum(const char *keyword) {
  const tv::ArgEntry *entry = tv::FindEntry(keyword);
  if (!entry || entry->values.empty()) return 0;
  return static_cast<int>(entry->values.size() - 1);
}

int Tvcmdint(const char *keyword, int position, const char *description, int def,
             int minimum, int maximum, int *value) {
  if (!value || position < 0) return kTvBadCall;
  const std::string *found = tv::ValueAt(tv::FindEntry(keyword), position);
  int source = found ? 1 : 0;
  std::string text = found ? *found : std::to_string(def);
  int converted = 0;
  tv::Converted c = tv::ConvertInteger(text, converted);
  bool range_checked = maximum >= minimum;
  if (c.kind == 0 && range_checked) {
    if (converted > maximum) c.kind = kTvKindTooBig;
    else if (converted < minimum) c.kind = kTvKindTooSmall;
  }
  *value = converted;
  int base = source * 1000 + kTvTypeInteger * 100;
  if (c.kind == 0) return base;
  FetchProblem problem{keyword, position, description, kTvTypeInteger, c, text, range_checked,
                       std::to_string(minimum), std::to_string(maximum)};
  tv::PrintFetchProblem(problem);
  return -(base + c.form * 10 + c.kind);
}

int Tvcmddll(const char *keyword, int position, const char *description, double *value,
             double def, double minimum, double maximum) {
  if (!value || position < 0) return kTvBadCall;
  const std::string *found = tv::ValueAt(tv::FindEntry(keyword), position);
  int source = found ? 1 : 0;
  std::string text = found ? *found : tv::FormatDouble(def);
  double converted = 0.0;
  tv::Converted c = tv::ConvertLatLon(text, converted);
  bool range_checked = maximum >= minimum;
  if (c.kind == 0 && range_checked) {
    if (converted > maximum) c.kind = kTvKindTooBig;
    else if (converted < minimum) c.kind = kTvKindTooSmall;
  }
  *value = converted;
  int base = source * 1000 + kTvTypeLatLon * 100;
  if (c.kind == 0) return base;
  FetchProblem problem{keyword, position, description, kTvTypeLatLon, c, text, range_checked,
                       tv::FormatDouble(minimum), tv::FormatDouble(maximum)};
  tv::PrintFetchProblem(problem);
  return -(base + c.form * 10 + c.kind);
}

int Tvcmdkey(int count, const char *const *list) {
  if (count < 0 || (count > 0 && !list)) return kTvBadCall;
  struct Known {
    tv::KeyPattern pattern;
    std::string dotless;
    std::vector<const tv::ArgEntry *> uses;
  };
  std::vector<Known> known;
  for (int i = 0; i < count; ++i) {
    Known k;
    if (!list[i] || !tv::ParseKeyPattern(list[i], k.pattern) || k.pattern.full == tv::kQuoteName)
      return kTvKeyPatternInvalid;
    k.dotless = k.pattern.full;
    known.push_back(std::move(k));
  }
  for (const char *g : tv::kGlobalKeywords) {
    Known k;
    (void)tv::ParseKeyPattern(g, k.pattern);
    k.dotless = k.pattern.full;
    known.push_back(std::move(k));
  }
  for (std::size_t a = 0; a < known.size(); ++a)
    for (std::size_t b = a + 1; b < known.size(); ++b)
      if (tv::KeyPatternsCollide(known[a].pattern, known[b].pattern)) return kTvKeyPatternCollision;

  if (tv::Session().keyword_check == 0) return 0;
  const tv::ArgStore *store = tv::CurrentStore();
  if (!store) return 0;

  std::vector<std::string> invalid;
  for (std::size_t e = 1; e < store->entries.size(); ++e) {
    const tv::ArgEntry &entry = store->entries[e];
    if (entry.values[0] == tv::kQuoteName) continue;
    Known *match = nullptr;
    for (Known &k : known)
      if (tv::KeyPatternMatches(k.pattern, entry.values[0])) {
        match = &k;
        break;
      }
    if (match) match->uses.push_back(&entry);
    else invalid.push_back(tv::EntryText(entry));
  }

  int width = tv::LineWidth();
  bool problems = false;
  if (!invalid.empty()) {
    problems = true;
    Tveprintf("\n%s\n\n", tv::WrapWords("Invalid command keywords:", invalid, width).c_str());
  }
  std::sort(known.begin(), known.end(),
            [](const Known &x, const Known &y) { return x.dotless < y.dotless; });
  for (const Known &k : known) {
    if (k.uses.size() < 2) continue;
    problems = true;
    std::vector<std::string> texts;
    for (const tv::ArgEntry *use : k.uses) texts.push_back(tv::EntryText(*use));
    std::string lead = "Multiple occurrences of " + k.dotless + " keyword:";
    Tveprintf("\n%s\n\n", tv::WrapWords(lead, texts, width).c_str());
  }
  if (problems) tv::NoteArgumentStatus(2);
  return problems ? -1 : 0;
}
