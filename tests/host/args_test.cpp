// Argument store, fetchers and their diagnostics.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "host/internal.h"
#include "tests/support/support.h"

using testing_support::CaptureStream;

namespace {

void Use(std::vector<const char *> argv) {
  tv::SetProgramName("vkc");
  tv::SetCommandArgv(static_cast<int>(argv.size()), argv.data());
}

std::string Str(const char *keyword, int position, const char *def = "DEF") {
  const char *value = nullptr;
  (void)Tvcmdstr(keyword, position, def, &value);
  return value;
}

int Int(const char *keyword, int position, int def, int min, int max, int *value,
        std::string *diagnostic = nullptr) {
  int rc = 0;
  std::string text = CaptureStream(tv::kErrorStream, [&] {
    rc = Tvcmdint(keyword, position, "Integer Value", def, min, max, value);
  });
  if (diagnostic) *diagnostic = text;
  return rc;
}

TEST(ArgvRules, PositionalsKeywordsAndValues) {
  Use({"/usr/bin/vkc", "SET", "7", "TYPE=AREA", "GRID", "NAME=", "x"});
  EXPECT_EQ(Str(" ", 0), "/usr/bin/vkc");
  EXPECT_EQ(Str(" ", 1), "SET");
  EXPECT_EQ(Str("", 2), "7");
  EXPECT_EQ(Tvcmdnum(" "), 2);
  EXPECT_EQ(Str("TYPE", 1), "AREA");
  EXPECT_EQ(Str("TYPE", 2), "GRID");
  EXPECT_EQ(Tvcmdnum("TYPE"), 2);
  // "NAME=" gets no value from the empty text; "x" is its placeholder value.
  EXPECT_EQ(Tvcmdnum("NAME"), 1);
  EXPECT_EQ(Str("NAME", 1), "DEF");
  EXPECT_EQ(Tvcmdnum("ABSENT"), 0);
}

TEST(ArgvRules, PlaceholderSkipsAPositional) {
  Use({"vkc", "X"});
  const char *value = nullptr;
  EXPECT_EQ(Tvcmdstr(" ", 1, "NONE", &value), 0);
  EXPECT_STREQ(value, "NONE");
  Use({"vkc", "VERBOSE", "2"});
  EXPECT_EQ(Tvcmdstr(" ", 2, "", &value), 1000);
  EXPECT_STREQ(value, "2");
  EXPECT_EQ(Tvcmdstr(" ", -1, "", &value), kTvBadCall);
  EXPECT_EQ(Tvcmdstr(" ", 1, "", nullptr), kTvBadCall);
}

TEST(ArgvRules, QuoteFieldTakesTheRest) {
  Use({"vkc", "A", "\"hello", "X", "B=C"});
  EXPECT_EQ(Str("\"", 1), "hello X B=C");
  EXPECT_EQ(Tvcmdnum(" "), 1);
  Use({"vkc", "QUOTE=some", "text"});
  EXPECT_EQ(Str("\"", 1), "some");
  EXPECT_EQ(Str("QUOTE", 2), "text");
}

TEST(ArgvRules, FirstOccurrenceOfARepeatedKeywordWins) {
  Use({"vkc", "LIST", "TYPE=AREA", "TYPE=GRID"});
  EXPECT_EQ(Str("TYPE", 1), "AREA");
}

TEST(OneStringRules, HostStartSyntax) {
  ASSERT_EQ(tv::SetCommandString("vks", "VKS  INVOKE 4 type = area grid, 'a b' ;x=1"), 0);
  EXPECT_EQ(Str(" ", 0), "VKS");
  EXPECT_EQ(Str(" ", 1), "INVOKE");
  EXPECT_EQ(Str(" ", 2), "4");
  EXPECT_EQ(Tvcmdnum(" "), 2);
  // Keyword names are capitals; values keep their case; a token before ","
  // is a keyword too; the semicolon ends the command.
  const tv::ArgStore *store = tv::CurrentStore();
  ASSERT_EQ(store->entries.size(), 3u);
  EXPECT_EQ(store->entries[1].values[0], "TYPE");
  EXPECT_EQ(Str("TYPE", 1), "area");
  EXPECT_EQ(store->entries[2].values[0], "GRID");
  EXPECT_EQ(Str("GRID", 1), "a b");
  EXPECT_EQ(Tvcmdnum("X"), 0);
}

TEST(OneStringRules, QuotesPlaceholderAndQuoteField) {
  ASSERT_EQ(tv::SetCommandString("p", "CMD 'it''s' X REF='ZRNG AUTO' \"free text; 'here"), 0);
  EXPECT_EQ(Str(" ", 1), "it's");
  EXPECT_EQ(Str(" ", 2), "DEF");  // X is the placeholder
  EXPECT_EQ(Str("REF", 1), "ZRNG AUTO");
  EXPECT_EQ(Str("\"", 1), "free text; 'here");
}

TEST(OneStringRules, MismatchedQuoteFails) {
  int rc = 0;
  std::string err = CaptureStream(tv::kErrorStream, [&] { rc = tv::SetCommandString("vkc", "A 'open"); });
  EXPECT_EQ(rc, kTvInitParseFailed);
  EXPECT_EQ(err, "vkc: Mismatched quotes: A 'open\n");
}

TEST(OneStringRules, JoinCommandRoundTrips) {
  tv::ArgStore store, again;
  ASSERT_EQ(tv::ParseString("W a 'b c' X K='it''s' L= \"q x", store), 0);
  std::string joined = tv::JoinCommand(store, "RUN", "FILE=W");
  EXPECT_EQ(joined, "RUN a 'b c' X K='it''s' L= FILE=W \"q x");
  ASSERT_EQ(tv::ParseString(joined, again), 0);
  EXPECT_EQ(again.entries[0].values[2], "b c");
  EXPECT_EQ(again.entries[1].values[1], "it's");
}

// Keyword patterns: abbreviations from the dot, prefixes with an asterisk.
TEST(KeywordPatterns, AbbreviationsAndPrefixes) {
  Use({"vkc", "dev=X", "mag=2", "MA=1", "SEQBGX=3"});
  EXPECT_EQ(Str("DEV.ICE", 1), "DEF");  // matched, but the placeholder
  EXPECT_EQ(Tvcmdnum("DEV.ICE"), 1);
  EXPECT_EQ(Str("MAG", 1), "2");
  EXPECT_EQ(Str("MAGNIFY", 1), "DEF");  // MAG is shorter than the whole word
  EXPECT_EQ(Str("SEQ*", 1), "3");
  EXPECT_EQ(Str("SEQBG", 1), "DEF");
  tv::KeyPattern a, b;
  ASSERT_TRUE(tv::ParseKeyPattern("DEV.ICE", a));
  ASSERT_TRUE(tv::ParseKeyPattern("DEVI.LS", b));
  EXPECT_TRUE(tv::KeyPatternsCollide(a, b));
  ASSERT_TRUE(tv::ParseKeyPattern("DEVIL.S", b));
  EXPECT_FALSE(tv::KeyPatternsCollide(a, b));
  EXPECT_FALSE(tv::ParseKeyPattern("A.B.C", a));
  EXPECT_FALSE(tv::ParseKeyPattern("NAME-1", a));
}

TEST(Tvcmdint, ConversionsAndResultCodes) {
  struct Row {
    const char *text;
    int min, max, rc, value;
  } rows[] = {
      {"5", 0, 2, -1105, 5},        {"-1", 0, 2, -1104, -1},      {"2", 0, 2, 1100, 2},
      {"2.5", 1, 0, -1102, 3},      {"-2.5", 1, 0, -1102, -3},    {"2.0", 1, 0, 1100, 2},
      {"$10", 1, 0, 1100, 16},      {"$1G", 1, 0, -1111, 0},      {"3000000000", 1, 0, -1103, 0},
      {"1.5D3", 1, 0, 1100, 1500},  {"2147483647", 1, 0, 1100, 2147483647},
      {"abc", 1, 0, -1101, 0},      {"$80000000", 1, 0, -1113, 0}, {"1e400", 1, 0, -1103, 0},
      {"  12 ", 1, 0, 1100, 12},    {"-2147483648", 1, 0, 1100, -2147483647 - 1},
  };
  for (const Row &row : rows) {
    Use({"vkc", "VERBOSE", row.text});
    int value = 12345;
    EXPECT_EQ(Int(" ", 2, 1, row.min, row.max, &value), row.rc) << row.text;
    EXPECT_EQ(value, row.value) << row.text;
  }
}

TEST(Tvcmdint, DefaultIsUsedAndChecked) {
  Use({"vkc", "SET"});
  int value = 0;
  EXPECT_EQ(Int(" ", 2, 7, 1, 0, &value), 100);
  EXPECT_EQ(value, 7);
  std::string err;
  EXPECT_EQ(Int(" ", 2, 9, 0, 2, &value, &err), -105);
  EXPECT_NE(err.find("2nd positional argument is too big --> 9"), std::string::npos) << err;
}

TEST(Diagnostics, RangeErrorText) {
  Use({"vkc", "VERBOSE", "5"});
  int value = 0;
  std::string err = CaptureStream(tv::kErrorStream, [&] {
    EXPECT_EQ(Tvcmdint("", 2, "Invalid 2nd Positional Argument", 1, 0, 2, &value), -1105);
  });
  EXPECT_EQ(err,
            "vkc:\n"
            "vkc: Invalid Invalid 2nd Positional Argument.\n"
            "vkc: 2nd positional argument is too big --> 5\n"
            "vkc: Must be valid integer value within range 0 thru 2.\n"
            "vkc:\n");
  EXPECT_EQ(value, 5);
}

TEST(Diagnostics, KeywordFormAndHelpLines) {
  Use({"vkc", "SET", "MAG=2", "x2"});
  int value = 0;
  std::string err;
  EXPECT_EQ(Int("MAG", 2, 0, 1, 0, &value, &err), -1101);
  EXPECT_EQ(err,
            "vkc:\n"
            "vkc: Invalid Integer Value.\n"
            "vkc: 2nd MAG= argument has invalid integer form --> x2\n"
            "vkc: For more help, keyin:  OPTAID INTEGER\n"
            "vkc:\n");
  Use({"vkc", "SET", "INC=$ZZ"});
  EXPECT_EQ(Int("INC", 1, 0, 1, 0, &value, &err), -1111);
  EXPECT_NE(err.find("first INC= argument has invalid hexadecimal --> $ZZ"), std::string::npos) << err;
  Use({"vkc", "SET", "INC=99999999999"});
  EXPECT_EQ(Int("INC", 1, 0, -5, 5, &value, &err), -1103);
  EXPECT_NE(err.find("Must be valid 'Integer Value' integer value within range +/- 2147483647."),
            std::string::npos)
      << err;
}

TEST(Diagnostics, Ordinals) {
  const std::pair<int, const char *> cases[] = {{1, "first"}, {2, "2nd"},   {3, "3rd"},   {4, "4th"},
                                                {11, "11th"}, {12, "12th"}, {13, "13th"}, {21, "21st"},
                                                {22, "22nd"}, {111, "111th"}, {101, "101st"}};
  for (auto [n, text] : cases) EXPECT_EQ(tv::Ordinal(n), text);
}

TEST(Tvcmddll, DegreesAndMinutes) {
  Use({"vkc", "SET", "LAT=43:30:00", "LON=-90:15", "BAD=1:75", "D=1.5d1"});
  double v = 0;
  EXPECT_EQ(Tvcmddll("LAT", 1, "Floating Point Value", &v, 40.0, 1, 0), 1500);
  EXPECT_DOUBLE_EQ(v, 43.5);
  EXPECT_EQ(Tvcmddll("LON", 1, "", &v, 90.0, 1, 0), 1500);
  EXPECT_DOUBLE_EQ(v, -90.25);
  EXPECT_EQ(Tvcmddll("D", 1, "", &v, 0, 1, 0), 1500);
  EXPECT_DOUBLE_EQ(v, 15.0);
  EXPECT_EQ(Tvcmddll("NONE", 1, "", &v, 40.0, 1, 0), 500);
  EXPECT_DOUBLE_EQ(v, 40.0);
  std::string err = CaptureStream(tv::kErrorStream, [&] {
    EXPECT_EQ(Tvcmddll("BAD", 1, "", &v, 0, 1, 0), -1501);
    EXPECT_EQ(Tvcmddll("LAT", 1, "", &v, 0, -10, 10), -1505);
  });
  EXPECT_NE(err.find("first BAD= argument has invalid lat/lon form --> 1:75"), std::string::npos) << err;
}

TEST(Tvcmdkey, InvalidAndRepeatedKeywords) {
  const char *list[] = {"TYPE", "NAME", "MUL.TI"};
  Use({"vks", "LIST", "TYPE=AREA", "multi=ON", "dev=T"});
  EXPECT_EQ(Tvcmdkey(3, list), 0);

  Use({"vks", "LIST", "TYPE=AREA", "FOO=1", "2", "TYPE=GRID", "BAR=x"});
  int rc = 0;
  std::string err = CaptureStream(tv::kErrorStream, [&] { rc = Tvcmdkey(3, list); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err,
            "vkc:\n"
            "vkc: Invalid command keywords: FOO=1 2 BAR=X\n"
            "vkc:\n"
            "vkc:\n"
            "vkc: Multiple occurrences of TYPE keyword: TYPE=AREA TYPE=GRID\n"
            "vkc:\n");

  const char *bad[] = {"TY-PE"};
  EXPECT_EQ(Tvcmdkey(1, bad), kTvKeyPatternInvalid);
  const char *colliding[] = {"DEVI.CES"};  // collides with the global DEV.ICE
  EXPECT_EQ(Tvcmdkey(1, colliding), kTvKeyPatternCollision);
}

TEST(Tvcmdkey, LongKeywordListWraps) {
  std::vector<std::string> words;
  for (int i = 0; i < 12; ++i) words.push_back("KEYWORD" + std::to_string(i) + "=VALUE");
  words.push_back("K=" + std::string(100, 'v'));
  std::string wrapped = tv::WrapWords("Invalid command keywords:", words, 40);
  std::size_t start = 0;
  for (std::size_t nl; (nl = wrapped.find('\n', start)) != std::string::npos; start = nl + 1) {
    EXPECT_LE(nl - start, 40u);
    if (start > 0) {
      EXPECT_EQ(wrapped.substr(start, 3), "   ");
    }
  }
  EXPECT_EQ(wrapped.substr(wrapped.size() - 3), "...");
  EXPECT_LE(wrapped.size() - start, 40u);
}

TEST(Tvcmdkey, SessionSettingSwitchesTheCheckOff) {
  Use({"vks", "LIST", "FOO=1"});
  tv::Session().keyword_check = 0;
  EXPECT_EQ(Tvcmdkey(0, nullptr), 0);
  tv::Session().keyword_check = 1;
  std::string err = CaptureStream(tv::kErrorStream, [] { EXPECT_EQ(Tvcmdkey(0, nullptr), -1); });
  EXPECT_FALSE(err.empty());
}

}  // namespace
