// Building the argument store from a command line: the argv rules for an
// ordinary start and the one-string rules for a start by the host's command
// processor (Tvskeyin hands the whole command text over as argv[1]).

#include <cctype>
#include <cstring>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

std::unique_ptr<ArgStore> g_current;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string StoredValue(std::string_view typed, bool quote_field) {
  if (!quote_field && (typed == "X" || typed == "x")) return std::string(kPlaceholder);
  return std::string(typed);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Adds a value to the entry that takes values now: the positional entry until
// the first keyword, the latest keyword after that.
void AddValue(ArgStore &store, std::string_view typed, bool literal) {
  ArgEntry &entry = store.entries.back();
  bool quote_field = store.entries.size() > 1 && entry.values[0] == kQuoteName;
  entry.values.push_back(literal ? std::string(typed) : StoredValue(typed, quote_field));
}

void AddKeyword(ArgStore &store, std::string name) {
  if (name == "QUOTE") name = std::string(kQuoteName);
  store.entries.push_back(ArgEntry{{std::move(name)}});
}

void AddQuoteField(ArgStore &store, std::string text) {
  store.entries.push_back(ArgEntry{{std::string(kQuoteName), std::move(text)}});
}

bool NeedsQuotes(std::string_view v) {
  if (v.empty()) return true;
  for (char c : v)
    if (IsBlank(c) || c == '=' || c == ',' || c == ';' || c == '\'' || c == '"') return true;
  return v == "X" || v == "x";
}

// Appends a value, after a blank when `blank` (the first value of a
// keyword follows its "=" directly).
void AppendValue(std::string &out, std::string_view v, bool blank = true) {
  if (blank) out += ' ';
  if (v == kPlaceholder) {
    out += 'X';
    return;
  }
  if (!NeedsQuotes(v)) {
    out += v;
    return;
  }
  out += '\'';
  for (char c : v) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

}  // namespace

void ParseArgv(int argc, const char *const *argv, ArgStore &store) {
  store.entries.assign(1, ArgEntry{});
  store.entries[0].values.emplace_back(argc > 0 && argv[0] ? argv[0] : "");
  for (int i = 1; i < argc; ++i) {
    const char *element = argv[i] ? argv[i] : "";
    if (element[0] == '"' && element[1] != '=') {
      std::string text = element + 1;
      for (int j = i + 1; j < argc; ++j) {
        text += ' ';
        text += argv[j] ? argv[j] : "";
      }
      AddQuoteField(store, std::move(text));
      return;
    }
    if (const char *eq = std::strchr(element, '=')) {
      AddKeyword(store, std::string(element, eq));
      if (eq[1] != '\0') AddValue(store, eq + 1, false);
      continue;
    }
    AddValue(store, element, false);
  }
}

int ParseString(std::string_view line, ArgStore &store) {
  store.entries.assign(1, ArgEntry{});
  bool have_first = false;  // positional value 0 (the command's own name) seen
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto ensure_first = [&] {
    if (!have_first) {
      store.entries[0].values.emplace_back();
      have_first = true;
    }
  };
  // The first word is the command's own name (positional value 0), stored
  // as typed; every later word is a value.
  auto add_word = [&](std::string_view text, bool literal) {
    if (!have_first) {
      store.entries[0].values.emplace_back(text);
      have_first = true;
      return;
    }
    AddValue(store, text, literal);
  };
  while (i < n) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n || line[i] == ';') break;
    char c = line[i];
    if (c == '"') {
      ensure_first();
      AddQuoteField(store, std::string(line.substr(i + 1)));
      break;
    }
    if (c == '\'') {
      std::string text;
      std::size_t j = i + 1;
      bool closed = false;
      while (j < n) {
        if (line[j] == '\'') {
          if (j + 1 < n && line[j + 1] == '\'') {
            text += '\'';
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        text += line[j++];
      }
      if (!closed) {
        Tveprintf("Mismatched quotes: %.*s\n", static_cast<int>(line.size()), line.data());
        return kTvInitParseFailed;
      }
      add_word(text, true);
      i = j;
      continue;
    }
    std::size_t start = i;
    while (i < n && !IsBlank(line[i]) && line[i] != '=' && line[i] != ',' && line[i] != ';') ++i;
    std::string_view token = line.substr(start, i - start);
    std::size_t k = i;
    while (k < n && IsBlank(line[k])) ++k;
    if (k < n && (line[k] == '=' || line[k] == ',')) {
      ensure_first();
      AddKeyword(store, Upper(token));
      i = k + 1;
      continue;
    }
    add_word(token, false);
  }
  ensure_first();
  return 0;
}

std::string JoinCommand(const ArgStore &store, std::string_view first_word,
                        std::string_view extra_keyword) {
  std::string out(first_word);
  const ArgEntry *quote = nullptr;
  const auto &positional = store.entries[0].values;
  for (std::size_t v = 1; v < positional.size(); ++v) AppendValue(out, positional[v]);
  for (std::size_t e = 1; e < store.entries.size(); ++e) {
    const ArgEntry &entry = store.entries[e];
    if (entry.values[0] == kQuoteName) {
      quote = &entry;
      continue;
    }
    out += ' ';
    out += entry.values[0];
    out += '=';
    for (std::size_t v = 1; v < entry.values.size(); ++v) AppendValue(out, entry.values[v], v > 1);
  }
  if (!extra_keyword.empty()) {
    out += ' ';
    out += extra_keyword;
  }
  if (quote) {
    out += " \"";
    for (std::size_t v = 1; v < quote->values.size(); ++v) {
      if (v > 1) out += ' ';
      out += quote->values[v];
    }
  }
  return out;
}

void SetCurrentStore(std::unique_ptr<ArgStore> store) { g_current = std::move(store); }

const ArgStore *CurrentStore() { return g_current.get(); }

void SetCommandArgv(int argc, const char *const *argv) {
  auto store = std::make_unique<ArgStore>();
  ParseArgv(argc, argv, *store);
  SetCurrentStore(std::move(store));
}

int SetCommandString(const char *program, const char *line) {
  if (program) SetProgramName(program);
  auto store = std::make_unique<ArgStore>();
  int rc = ParseString(line ? line : "", *store);
  if (rc != 0) return rc;
  SetCurrentStore(std::move(store));
  return 0;
}

}  // namespace tv
