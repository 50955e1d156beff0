// The standard diagnostic of a failed fetch, printed on the error stream:
//
//   (empty line)
//   Invalid <description>.
//   <2nd positional argument | first MAG= argument | Quote field> <problem> --> <text>
//   For more help, keyin:  OPTAID INTEGER          (invalid form, fraction)
//   Must be valid integer value within range 0 thru 2.   (other problems)
//   (empty line)
//
// Lines are kept within 78 characters less the program name, which the
// error stream puts in front of each line.

#include <cstring>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

struct TypeWords {
  const char *word;        // in "has invalid <word> form"
  const char *optaid;      // OPTAID topic
  const char *range_name;  // in "Must be valid <name> within range"
  const char *lower_limit;
  const char *upper_limit;
};

TypeWords WordsFor(int type) {
  switch (type) {
    case kTvTypeInteger: return {"integer", "INTEGER", "integer value", "-2147483647", "2147483647"};
    case kTvTypeDecimal: return {"decimal", "DECIMAL", "decimal value", "-1e+38", "1e+38"};
    case kTvTypeDate: return {"date", "DATE", "date", "1900001", "9999365"};
    case kTvTypeTime: return {"time", "TIME", "time", "0", "235959"};
    case kTvTypeLatLon: return {"lat/lon", "LAT/LON", "lat/lon", "-360", "360"};
    default: return {"keyword", "KEYWORD", "keyword", "", ""};
  }
}

std::string KindPhrase(int kind, int form, const TypeWords &words) {
  switch (kind) {
    case kTvKindInvalidForm:
      return form == 1 ? "has invalid hexadecimal" : std::string("has invalid ") + words.word + " form";
    case kTvKindFraction: return "can't have a fraction";
    case kTvKindLimits: return "exceeds system limits";
    case kTvKindTooSmall: return "is too small";
    case kTvKindTooBig: return "is too big";
    default: return "has nothing to convert";
  }
}

std::string Dotless(const char *keyword) {
  std::string out;
  for (const char *p = keyword; *p; ++p)
    if (*p != '.' && *p != '*') out += *p;
  return out;
}

int g_argument_status = 0;

}  // namespace

void NoteArgumentStatus(int status) {
  if (status > g_argument_status) g_argument_status = status;
}

int LineWidth() {
  int width = 78 - static_cast<int>(std::strlen(ProgramName()));
  return width < 20 ? 20 : width;
}

std::string Ordinal(int n) {
  if (n == 1) return "first";
  const char *suffix = "th";
  int last_two = n % 100;
  if (last_two < 11 || last_two > 13) {
    switch (n % 10) {
      case 1: suffix = "st"; break;
      case 2: suffix = "nd"; break;
      case 3: suffix = "rd"; break;
      default: break;
    }
  }
  return std::to_string(n) + suffix;
}

std::string WrapWords(std::string_view lead, const std::vector<std::string> &words, int width) {
  const auto w = static_cast<std::size_t>(width);
  std::string out;
  std::string line(lead);
  for (const std::string &word : words) {
    if (line.size() + 1 + word.size() <= w) {
      line += ' ';
      line += word;
      continue;
    }
    std::string piece = word;
    if (3 + piece.size() > w) piece = piece.substr(0, w > 9 ? w - 6 : 0) + "...";
    if (line.size() + 1 + piece.size() <= w) {
      line += ' ';
      line += piece;
      continue;
    }
    out += line;
    out += '\n';
    line = "   " + piece;
  }
  return out + line;
}

void PrintFetchProblem(const FetchProblem &p) {
  // A keyword value outside its range is a value refused; anything else
  // (not a number, a positional argument out of range) is a usage error.
  const bool out_of_range = p.converted.kind == kTvKindTooSmall || p.converted.kind == kTvKindTooBig;
  NoteArgumentStatus(out_of_range && !IsBlankKeyword(p.keyword) ? 1 : 2);
  const int width = LineWidth();
  const TypeWords words = WordsFor(p.type);
  const bool has_description = !IsBlankKeyword(p.description);
  std::string out = "\n";

  if (has_description) {
    int room = width - 9;
    out += "Invalid ";
    out.append(p.description, std::min(std::strlen(p.description), static_cast<std::size_t>(room > 0 ? room : 0)));
    out += ".\n";
  }

  std::string name;
  std::string noun = "argument";
  if (IsBlankKeyword(p.keyword)) {
    name = Ordinal(p.position) + " positional ";
  } else if (std::strcmp(p.keyword, "\"") == 0 || std::strcmp(p.keyword, "QUOTE") == 0) {
    name = "Quote field";
    noun.clear();
  } else {
    std::string key = Dotless(p.keyword);
    if (key.size() > static_cast<std::size_t>(width / 2)) key.resize(static_cast<std::size_t>(width / 2));
    name = Ordinal(p.position) + " " + key + "= ";
  }
  std::string rest = " " + KindPhrase(p.converted.kind, p.converted.form, words) + " --> " + p.text;
  if (!noun.empty() && name.size() + noun.size() + rest.size() > static_cast<std::size_t>(width))
    noun = "arg";
  out += name + noun + rest + "\n";

  const int kind = p.converted.kind;
  if (kind == kTvKindInvalidForm || kind == kTvKindFraction) {
    out += std::string("For more help, keyin:  OPTAID ") + words.optaid + "\n\n";
  } else {
    bool limits = kind == kTvKindLimits || (kind == kTvKindEmpty && !p.range_checked);
    std::string lo = limits ? words.lower_limit : p.minimum;
    std::string hi = limits ? words.upper_limit : p.maximum;
    std::string range = (lo == "-" + hi) ? "+/- " + hi : lo + " thru " + hi;
    std::string line = std::string("Must be valid ") + words.range_name + " within range " + range + ".";
    if (has_description) {
      std::string with = std::string("Must be valid '") + p.description + "' " + words.range_name +
                         " within range " + range + ".";
      if (with.size() <= static_cast<std::size_t>(width)) line = with;
    }
    out += line + "\n\n";
  }
  Tveprintf("%s", out.c_str());
}

}  // namespace tv

int TvArgumentStatus() { return tv::g_argument_status; }

void TvNoteRefusedValue() { tv::NoteArgumentStatus(1); }
