// Internals of the host runtime shared by its translation units: the
// argument store, the number converters, the diagnostics and the process
// helpers.  Not for use outside host/ (tests and fuzz targets excepted).

#ifndef VARNEK_HOST_INTERNAL_H
#define VARNEK_HOST_INTERNAL_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// ---------------------------------------------------------------------------
// Argument store.
//
// entries[0] is the positional entry: values[0] the program's name as
// invoked, values[1] the command word, ...  Every further entry is a keyword
// entry: values[0] the keyword as typed (without "="), values[1..] its
// words.  The quote field is the keyword entry named kQuoteName.  A value
// typed as X or x (outside the quote field) is stored as kPlaceholder.

inline constexpr std::string_view kPlaceholder = "x";
inline constexpr std::string_view kQuoteName = "\"";

struct ArgEntry {
  std::vector<std::string> values;
};

struct ArgStore {
  std::vector<ArgEntry> entries;
};

// Builds a store by the argv rules.  Never fails.
void ParseArgv(int argc, const char *const *argv, ArgStore &store);

// Builds a store from one command string by the host's one-string rules
// (keyword names in capitals, 'quoted values', "quote field, ";" ends the
// command).  Returns 0, or kTvInitParseFailed after printing
// "Mismatched quotes: %s\n" on the error stream.
int ParseString(std::string_view line, ArgStore &store);

// Writes a store back as one command string that ParseString reads to the
// same store (values quoted where needed), starting with `first_word`.
std::string JoinCommand(const ArgStore &store, std::string_view first_word,
                        std::string_view extra_keyword);

void SetCurrentStore(std::unique_ptr<ArgStore> store);
const ArgStore *CurrentStore();

// ---------------------------------------------------------------------------
// Keyword patterns: "MAG", "DEV.ICE" (abbreviations from DEV), "ABC*"
// (any keyword beginning with ABC).  Matching ignores case.

struct KeyPattern {
  std::string min_part;  // shortest accepted spelling, in capitals
  std::string full;      // whole word, in capitals, without dot or asterisk
  bool prefix_any = false;
};

bool IsBlankKeyword(const char *keyword);
// Parses a keyword pattern; false when it is not letters and digits with at
// most one dot (and optionally a final asterisk).
bool ParseKeyPattern(std::string_view pattern, KeyPattern &out);
bool KeyPatternMatches(const KeyPattern &pattern, std::string_view typed);
bool KeyPatternsCollide(const KeyPattern &a, const KeyPattern &b);

// Looks up the entry for a keyword pattern (blank: positional).
// Returns null when absent.
const ArgEntry *FindEntry(const char *keyword);

// ---------------------------------------------------------------------------
// Conversions.  Each returns 0 on success or a kind (kTvKind*), with `form`
// 1 for the hexadecimal form.

struct Converted {
  int kind = 0;
  int form = 0;
};

Converted ConvertInteger(std::string_view text, int &value);
Converted ConvertLatLon(std::string_view text, double &value);

// ---------------------------------------------------------------------------
// Diagnostics of a failed fetch.

struct FetchProblem {
  const char *keyword;      // the caller's keyword pattern (blank: positional)
  int position;
  const char *description;  // may be blank
  int type;                 // kTvType*
  Converted converted;
  std::string text;         // offending text (the default's text for a default)
  bool range_checked;
  std::string minimum, maximum;  // bounds as text when range_checked
};

void PrintFetchProblem(const FetchProblem &problem);

// Raises what TvArgumentStatus reports to at least `status`.
void NoteArgumentStatus(int status);
std::string Ordinal(int n);
// Wraps `text` after `lead` at `width` with a three-blank indent; a word
// too long for a line is cut and marked with "...".
std::string WrapWords(std::string_view lead, const std::vector<std::string> &words,
                      int width);
int LineWidth();

// ---------------------------------------------------------------------------
// Processes and files.

// Calls `visit` with each directory of a colon-separated list (an empty
// entry is the current directory) until it returns true; returns whether it
// did.
template <typename Visit>
bool EachDirectory(std::string_view list, Visit visit) {
  while (true) {
    std::size_t colon = list.find(':');
    std::string_view entry = list.substr(0, colon);
    const std::string dir(entry.empty() ? std::string_view(".") : entry);
    if (visit(dir)) return true;
    if (colon == std::string_view::npos) return false;
    list.remove_prefix(colon + 1);
  }
}

// Whether `path` names an existing regular file.
bool IsExistingFile(const std::string &path);


// Path of a data or batch file through the host's file search path, or "".
std::string FindHostFile(std::string_view name);

// Starts `path` with argv {" ", text} and waits; see Tvskeyin.
int RunHostProgram(const std::string &path, const std::string &text);

// Session bookkeeping used by Tvinit.
int StartSession();
void SetProgramName(std::string name);

}  // namespace tv

#endif  // VARNEK_HOST_INTERNAL_H
